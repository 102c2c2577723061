#pragma once
// Tells when the machine's network may have changed: a link, an address or a route, or a
// resume from sleep. Changes come in storms (a new DHCP lease is a dozen events), so they are
// told once after 200 ms of quiet, and at the latest 2 s after the first of them. What changed
// is not said: the receiver looks at the best default route itself, so changes of our own
// TUN and routes, or of an interface nobody uses, come to nothing.

#include <functional>
#include <memory>

namespace tunnel {

inline constexpr int kNetworkQuietMs = 200;
inline constexpr int kNetworkStormMs = 2000;

// Destroying it ends the watch; a call in progress finishes first.
class NetworkWatch {
public:
    virtual ~NetworkWatch() = default;
};

// Linux: rtnetlink's link, address and route groups of the calling thread's namespace, and a
// jump between CLOCK_BOOTTIME and CLOCK_MONOTONIC (a suspend). Windows: NotifyRouteChange2,
// NotifyIpInterfaceChange and NotifyUnicastIpAddressChange. `changed` runs on the watch's
// own thread.
std::unique_ptr<NetworkWatch> watchNetwork(std::function<void()> changed);

}  // namespace tunnel
