// What stops a running service on Windows: the console's control events in console mode and
// the owner process ending in daemon mode.
#include "service/stop_watch_win.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/service_context.h"
#include "service/service_host_win.h"

namespace service {
namespace {

// What console mode shares with the system's console-control thread (the handler has no
// argument of its own). Never destroyed: a handler may still be returning as the process ends.
struct ConsoleWatch {
    std::mutex mutex;
    std::condition_variable changed;
    ServiceContext* context = nullptr;  // set while console mode runs
    bool served = false;                // the pipe server has returned: the tunnel is stopped
    bool stopping = false;              // a direct stop of the tunnel is under way
};

ConsoleWatch& consoleWatch() {
    static ConsoleWatch* const watch = new ConsoleWatch;
    return *watch;
}

bool endsTheProcess(unsigned long type) {
    return type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
}

// The pipe server stops the tunnel only after its last client; this stops it at once (after a
// connect under way), on a thread of its own so that the handler's wait stays bounded. Called
// with the watch's mutex held.
void stopTunnelNow(ConsoleWatch& watch) {
    Engine* engine = watch.context->engine;
    if (watch.stopping || !engine) return;
    watch.stopping = true;
    std::thread([&watch, engine] {
        engine->stop();
        std::lock_guard<std::mutex> lock(watch.mutex);
        watch.stopping = false;
        watch.changed.notify_all();
    }).detach();
}

BOOL WINAPI onConsoleControl(DWORD type) { return handleConsoleControl(type) ? TRUE : FALSE; }

class ConsoleStop : public StopWatch {
public:
    explicit ConsoleStop(ServiceContext& context) {
        ConsoleWatch& watch = consoleWatch();
        {
            std::lock_guard<std::mutex> lock(watch.mutex);
            watch.context = &context;
            watch.served = false;
        }
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
    // Console mode has served, so the tunnel is down; the engine goes next, so a direct stop
    // still under way is waited for.
    ~ConsoleStop() override {
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        ConsoleWatch& watch = consoleWatch();
        std::unique_lock<std::mutex> lock(watch.mutex);
        watch.context = nullptr;
        watch.served = true;
        watch.changed.notify_all();
        watch.changed.wait(lock, [&] { return !watch.stopping; });
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

void prepareRunningProcess() {}

bool handleConsoleControl(unsigned long type) {
    const bool ending = endsTheProcess(type);
    if (!ending && type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return false;
    ConsoleWatch& watch = consoleWatch();
    std::unique_lock<std::mutex> lock(watch.mutex);
    if (!watch.context) return false;
    requestStop(*watch.context);
    if (!ending) return true;
    // Windows ends the process when this returns: not before the tunnel is down.
    stopTunnelNow(watch);
    watch.changed.wait_for(lock, std::chrono::milliseconds(kConsoleCloseWaitMs), [&] { return watch.served; });
    return true;
}

std::unique_ptr<StopWatch> watchConsoleStop(ServiceContext& context) {
    return std::make_unique<ConsoleStop>(context);
}

std::unique_ptr<StopWatch> detachFromConsole(ServiceContext&) {
    restoreConsoleCodePage();  // the console stays with the programs that started us
    FreeConsole();
    return nullptr;
}

std::unique_ptr<StopWatch> watchOwner(ServiceContext& context) { return std::make_unique<OwnerWatch>(context); }

}  // namespace service
