#pragma once
// A program (the service) running in the background of a test: started with arguments and
// the test's current environment, its standard output and error captured in a file, stopped
// the way a console user would (Ctrl+Break / SIGINT), killed when the object goes away.

#include <optional>
#include <string>
#include <vector>

namespace orvik_test {

class ServiceProcess {
public:
    // `outputPath`: file that receives standard output and error.
    ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& outputPath);
    ~ServiceProcess();  // kills the process when it still runs
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool started() const;
    long pid() const;
    // The exit code once the process ended within `timeoutMs`.
    std::optional<int> wait(int timeoutMs);
    // Ctrl+Break to its console process group (Windows) / SIGINT (Linux); false when it
    // could not be delivered.
    bool interrupt();
    void kill();

private:
    struct Impl;
    Impl* impl_;
};

// True inside wine, which lacks a few things tests would otherwise check.
bool underWine();

}  // namespace orvik_test
