#pragma once
// A command-line program run by a test: its standard input fed by the test (all at once or
// line by line while it runs), its standard output and error captured, its exit code. The
// environment is the test's own.

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

class CapturedProcess {
public:
    CapturedProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~CapturedProcess();  // kills the process when it still runs
    CapturedProcess(const CapturedProcess&) = delete;
    CapturedProcess& operator=(const CapturedProcess&) = delete;

    bool started() const;
    // Writes to the program's standard input; false when it is closed or the program ended.
    bool write(const std::string& bytes);
    // Ends the program's standard input.
    void closeInput();
    // Closes the input, waits up to `timeoutMs` for the exit (killing the program after it)
    // and collects the output.
    CapturedRun finish(int timeoutMs = 60000);

private:
    struct Impl;
    Impl* impl_;
    TempDir files_;
};

// Runs `program` with `input` as its whole standard input.
CapturedRun runCaptured(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& input = {}, int timeoutMs = 60000);

// The text with every "\r\n" turned into "\n".
std::string withoutCarriageReturns(const std::string& text);

}  // namespace orvik_test
