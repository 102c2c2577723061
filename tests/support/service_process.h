#pragma once
// The one way tests run a program (the service, orvikctl, a copy of the test itself): the
// test's environment, an empty standard input, standard output and error captured in files,
// Ctrl+Break / SIGINT the way a console user stops it, killed when the object goes away.

#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace orvik_test {

struct CapturedRun {
    int exitCode = -1;  // -1: not started, or killed after the time-out
    std::string out;    // standard output, "\r\n" turned into "\n"
    std::string err;    // standard error, likewise
};

class ServiceProcess {
public:
    // Output and error go to `outputPath` together, or, when it is empty, to files of their
    // own that finish() returns.
    ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& outputPath = {});
    ~ServiceProcess();  // kills the process when it still runs
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool started() const;
    long pid() const;
    // The exit code once the process ended within `timeoutMs`.
    std::optional<int> wait(int timeoutMs);
    // Ctrl+Break to its process group (Windows) / `signal` (Linux); false when not delivered.
    bool interrupt(int signal = SIGINT);
    void kill();
    // Waits up to `timeoutMs` for the exit (killing the program after it), collects the output.
    CapturedRun finish(int timeoutMs = 60000);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    TempDir files_;
    bool separateOutput_;
};

CapturedRun runCaptured(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs = 60000);
// Full path of the running executable.
std::string currentExecutablePath();
// True inside wine, which lacks a few things tests would otherwise check.
bool underWine();

}  // namespace orvik_test
