#pragma once
// Starting the service with administrator rights: ShellExecuteExW with "runas" on Windows;
// pkexec on Linux, or a direct start when the client already runs as root.

#include <memory>
#include <string>
#include <vector>

namespace engine {

struct LaunchCommand {
    std::string executable;              // full path
    std::vector<std::string> arguments;  // argument vector (the Windows launcher quotes it itself)
    std::string workingDirectory;
};

class ServiceLauncher {
public:
    enum class Outcome {
        started,   // the elevated process runs (or its prompt is still open)
        declined,  // the user declined the elevation prompt
        failed,    // anything else; `errorCode` holds the system's code
    };

    virtual ~ServiceLauncher() = default;
    // Starts the command elevated and returns without waiting for the service.
    virtual Outcome launch(const LaunchCommand& command, unsigned long& errorCode) = 0;
    // While the client waits for the pipe: the outcome of an elevation that ended meanwhile
    // without a service (Linux: pkexec exited 126 declined, 127 failed); `started` while
    // nothing is known. Windows knows everything at launch and always says `started`.
    virtual Outcome poll(unsigned long& errorCode) = 0;
};

std::shared_ptr<ServiceLauncher> makePlatformServiceLauncher();

// The service executable's file name on this platform ("orvik_service.exe" / "orvik_service").
const char* serviceExecutableName();

// The text shown when the service executable is not beside the client, naming its file.
std::string serviceMissingText();

// This process's id, for the service's --owner-pid.
unsigned long currentProcessId();

}  // namespace engine
