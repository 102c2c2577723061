#pragma once
// The state the service reports to the service manager (Windows only).

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace service {

// Reports every state through `sink` (SetServiceStatus), one report at a time from any
// thread. While a stop is pending, a thread of its own repeats STOP_PENDING with the next
// checkpoint every `interval` until another state is reported: the stop waits for the running
// operation (a connect can take half a minute), and a checkpoint that stands still past the
// wait hint makes the service manager call the service hung (error 1053).
class ServiceStatusReporter {
public:
    using Sink = std::function<void(const SERVICE_STATUS&)>;

    ServiceStatusReporter(Sink sink, std::chrono::milliseconds interval);
    ~ServiceStatusReporter();
    ServiceStatusReporter(const ServiceStatusReporter&) = delete;
    ServiceStatusReporter& operator=(const ServiceStatusReporter&) = delete;

    // Any state but STOP_PENDING, checkpoint 0; ends the repeating.
    void report(DWORD state, DWORD controlsAccepted, DWORD waitHint, DWORD exitCode = NO_ERROR);
    // STOP_PENDING with the next checkpoint (1 for the first); starts the repeating once.
    void stopPending(DWORD controlsAccepted, DWORD waitHint);

private:
    void repeatWhileStopping();

    Sink sink_;
    std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable changed_;
    SERVICE_STATUS status_{};
    bool ending_ = false;
    std::thread repeater_;
};

}  // namespace service
