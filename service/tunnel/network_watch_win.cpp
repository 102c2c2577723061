#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <algorithm>
#include <thread>

#include "service/tunnel/network_watch.h"

namespace tunnel {
namespace {

// The three IP Helper notifications signal one event; a thread of ours turns the storm into
// one call. Cancelling the notifications waits for callbacks in progress.
class WinNetworkWatch final : public NetworkWatch {
public:
    explicit WinNetworkWatch(std::function<void()> changed)
        : changed_(std::move(changed)), event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          cancel_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        NotifyRouteChange2(AF_UNSPEC, &WinNetworkWatch::routeChanged, this, FALSE, &route_);
        NotifyIpInterfaceChange(AF_UNSPEC, &WinNetworkWatch::interfaceChanged, this, FALSE, &interface_);
        NotifyUnicastIpAddressChange(AF_UNSPEC, &WinNetworkWatch::addressChanged, this, FALSE, &address_);
        thread_ = std::thread([this] { run(); });
    }
    ~WinNetworkWatch() override {
        for (HANDLE notification : {route_, interface_, address_})
            if (notification) CancelMibChangeNotify2(notification);
        SetEvent(cancel_);
        thread_.join();
        CloseHandle(event_);
        CloseHandle(cancel_);
    }
    WinNetworkWatch(const WinNetworkWatch&) = delete;
    WinNetworkWatch& operator=(const WinNetworkWatch&) = delete;

private:
    static void WINAPI routeChanged(void* self, MIB_IPFORWARD_ROW2*, MIB_NOTIFICATION_TYPE) { signal(self); }
    static void WINAPI interfaceChanged(void* self, MIB_IPINTERFACE_ROW*, MIB_NOTIFICATION_TYPE) { signal(self); }
    static void WINAPI addressChanged(void* self, MIB_UNICASTIPADDRESS_ROW*, MIB_NOTIFICATION_TYPE) { signal(self); }
    static void signal(void* self) { SetEvent(static_cast<WinNetworkWatch*>(self)->event_); }

    void run() {
        const HANDLE handles[2] = {cancel_, event_};
        bool pending = false;
        ULONGLONG first = 0, last = 0;
        for (;;) {
            DWORD timeout = INFINITE;
            if (pending) {
                const ULONGLONG now = GetTickCount64();
                const ULONGLONG due = std::min(last + kNetworkQuietMs, first + kNetworkStormMs);
                timeout = due > now ? static_cast<DWORD>(due - now) : 0;
            }
            const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, timeout);
            if (woke == WAIT_OBJECT_0) return;
            const ULONGLONG now = GetTickCount64();
            if (woke == WAIT_OBJECT_0 + 1) {
                if (!pending) first = now;
                pending = true;
                last = now;
            }
            if (pending && (now - last >= kNetworkQuietMs || now - first >= kNetworkStormMs)) {
                pending = false;
                changed_();
            }
        }
    }

    std::function<void()> changed_;
    HANDLE event_;
    HANDLE cancel_;
    HANDLE route_ = nullptr;
    HANDLE interface_ = nullptr;
    HANDLE address_ = nullptr;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<NetworkWatch> watchNetwork(std::function<void()> changed) {
    return std::make_unique<WinNetworkWatch>(std::move(changed));
}

}  // namespace tunnel
