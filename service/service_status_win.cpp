#include "service/service_status_win.h"

namespace service {

ServiceStatusReporter::ServiceStatusReporter(Sink sink, std::chrono::milliseconds interval)
    : sink_(std::move(sink)), interval_(interval) {
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
}

ServiceStatusReporter::~ServiceStatusReporter() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (repeater_.joinable()) repeater_.join();
}

void ServiceStatusReporter::report(DWORD state, DWORD controlsAccepted, DWORD waitHint, DWORD exitCode) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        status_.dwCurrentState = state;
        status_.dwControlsAccepted = controlsAccepted;
        status_.dwWaitHint = waitHint;
        status_.dwCheckPoint = 0;
        status_.dwWin32ExitCode = exitCode;
        sink_(status_);
    }
    changed_.notify_all();
}

void ServiceStatusReporter::stopPending(DWORD controlsAccepted, DWORD waitHint) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (status_.dwCurrentState == SERVICE_STOPPED) return;
    if (status_.dwCurrentState != SERVICE_STOP_PENDING) status_.dwCheckPoint = 0;
    status_.dwCurrentState = SERVICE_STOP_PENDING;
    status_.dwControlsAccepted = controlsAccepted;
    status_.dwWaitHint = waitHint;
    ++status_.dwCheckPoint;
    status_.dwWin32ExitCode = NO_ERROR;
    sink_(status_);
    if (!repeater_.joinable()) repeater_ = std::thread([this] { repeatWhileStopping(); });
}

void ServiceStatusReporter::repeatWhileStopping() {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto stopOver = [this] { return ending_ || status_.dwCurrentState != SERVICE_STOP_PENDING; };
    while (!changed_.wait_for(lock, interval_, stopOver)) {
        ++status_.dwCheckPoint;
        sink_(status_);
    }
}

}  // namespace service
