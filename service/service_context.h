#pragma once
// The process-wide state of a running service and what every run mode does with it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "service/command_line.h"
#include "service/pipe_server.h"
#include "service/request_handler.h"
#include "service/service_log.h"

namespace service {

struct ServiceContext {
    std::string runtimeDirectory;
    int32_t ownerPid = 0;  // 0: no owner
    std::string pipeName;
    std::atomic<bool> stopRequested{false};
    // Console and daemon modes: the op "shutdown" also ends the process.
    std::atomic<bool> shutdownEndsProcess{false};
    ServiceLog log;
    PipeListener* listener = nullptr;  // set before any stop path can run
    Engine* engine = nullptr;
    // The machine woke from sleep (the service manager's power event); set while serving.
    std::function<void()> resumed;
};

// Every stop path: sets the flag, then wakes the pipe server so that it sees it. Any thread.
void requestStop(ServiceContext& context);

// Uses `directory` from now on (also for the log); an empty value changes nothing.
void setRuntimeDirectory(ServiceContext& context, const std::string& directory);

// Runs the pipe server until a stop is requested; the tunnel is stopped when it returns.
// False, logged, when another process holds the pipe's name: the service cannot serve.
bool serve(ServiceContext& context);

// Console mode: the log echoed, Ctrl+C / signals and "shutdown" stop. Returns the exit code.
int runConsoleMode(ServiceContext& context);
// Daemon mode: detached, ends with the owner process or "shutdown".
int runDaemonMode(ServiceContext& context);

// A watcher running beside the pipe server; destroying it ends the watch.
class StopWatch {
public:
    virtual ~StopWatch() = default;
};

// ---- Per platform (service_host_*.cpp, stop_watch_*.cpp) ----

// UTF-8 console output (Windows).
void prepareConsole();
// Before any thread exists in a running mode (Linux: stop signals go to one thread only).
void prepareRunningProcess();
// Ctrl+C, Ctrl+Break and closing the console (Windows); SIGINT, SIGTERM, SIGHUP (Linux).
std::unique_ptr<StopWatch> watchConsoleStop(ServiceContext& context);
// Leaves the console (Windows: FreeConsole); on Linux a new session, standard streams to
// /dev/null, and SIGTERM / SIGINT / SIGHUP still stop the daemon cleanly.
std::unique_ptr<StopWatch> detachFromConsole(ServiceContext& context);
// Stops the service when process `context.ownerPid` ends.
std::unique_ptr<StopWatch> watchOwner(ServiceContext& context);
// Runs as the system's service (SCM / systemd); console mode when not started by it.
int runServiceMode(ServiceContext& context);
int installService(const std::string& runtimeDirectory);
int uninstallService();
// Whether the tunnel's programs must be ones only the administrators can change: always on
// Linux, where every mode runs as root; for the service manager's service on Windows (the
// daemon runs elevated as the user who started the client, from that user's directory).
bool toolsMustBeTrusted(Mode mode);
// The runtime directory before anything sets it.
std::string builtInRuntimeDirectory();

}  // namespace service
