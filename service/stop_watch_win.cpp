// What stops a running service on Windows: the console's control events in console mode and
// the owner process ending in daemon mode.
#include <windows.h>

#include <atomic>
#include <thread>

#include "service/service_context.h"

namespace service {
namespace {

// The console control handler has no argument of its own.
std::atomic<ServiceContext*> consoleContext{nullptr};

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    if (ServiceContext* context = consoleContext.load()) requestStop(*context);
    return TRUE;
}

class ConsoleStop : public StopWatch {
public:
    explicit ConsoleStop(ServiceContext& context) {
        consoleContext = &context;
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    ~ConsoleStop() override {
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        consoleContext = nullptr;
    }
    ConsoleStop(const ConsoleStop&) = delete;
    ConsoleStop& operator=(const ConsoleStop&) = delete;
};

// Waits for the owner process on a thread of its own; ending the watch ends the wait.
class OwnerWatch : public StopWatch {
public:
    explicit OwnerWatch(ServiceContext& context)
        : end_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this, &context] { watch(context); }) {}
    ~OwnerWatch() override {
        if (end_) SetEvent(end_);
        thread_.join();
        if (end_) CloseHandle(end_);
    }
    OwnerWatch(const OwnerWatch&) = delete;
    OwnerWatch& operator=(const OwnerWatch&) = delete;

private:
    void watch(ServiceContext& context) {
        HANDLE owner = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(context.ownerPid));
        if (!owner) {
            context.log.write("owner pid open failed err=" + std::to_string(GetLastError()));
            return;
        }
        HANDLE events[2] = {owner, end_};
        const DWORD woken = WaitForMultipleObjects(end_ ? 2 : 1, events, FALSE, INFINITE);
        CloseHandle(owner);
        if (woken != WAIT_OBJECT_0) return;
        context.log.write("ui process exited; stopping helper");
        requestStop(context);
    }

    HANDLE end_;
    std::thread thread_;
};

}  // namespace

void prepareConsole() { SetConsoleOutputCP(CP_UTF8); }

void prepareRunningProcess() {}

std::unique_ptr<StopWatch> watchConsoleStop(ServiceContext& context) {
    return std::make_unique<ConsoleStop>(context);
}

std::unique_ptr<StopWatch> detachFromConsole(ServiceContext&) {
    FreeConsole();
    return nullptr;
}

std::unique_ptr<StopWatch> watchOwner(ServiceContext& context) { return std::make_unique<OwnerWatch>(context); }

}  // namespace service
