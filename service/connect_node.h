#pragma once
// The "connect" op: the node list from the account back end, the node by name, the physical
// gateway, the Xray configuration in the runtime directory and the tunnel start.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/request_handler.h"
#include "service/tunnel/leak_guard.h"
#include "service/tunnel/network.h"
#include "service/tunnel/tunnel.h"
#include "vpn/control_plane.h"

namespace service {

inline constexpr const char* kTunAddress = "192.168.123.1";
inline constexpr const char* kXrayConfigName = "session.json.xray.json";

// A host name's first IPv4 address as dotted decimal; false with a text when there is none.
using Ipv4Resolver = std::function<bool(const std::string& host, std::string& address, std::string& error)>;

struct ConnectSystem {
    std::string runtimeDirectory;
    // A fresh control plane for every connect (the files or the panel may have changed),
    // with the session file of the user who asks.
    std::function<std::unique_ptr<vpn::ControlPlane>(const std::string& runtimeDirectory, const std::string& sessionPath)>
        controlPlane;
    Ipv4Resolver resolveIpv4;
    tunnel::NetworkOps& network;
    tunnel::Tunnel& tunnel;
    tunnel::LeakGuard& guard;
};

// The first node when `name` is empty; else the node named exactly `name` (the last of
// several), else the one whose route id is `name` (the client's id, vpn::routeIdOf); null
// when the list holds no such node (a node removed since the client last synchronised).
const vpn::NodeRecord* chooseNode(const std::vector<vpn::NodeRecord>& nodes, const std::string& name);

// True for four dotted decimal numbers 0 to 255, nothing else.
bool isIpv4Literal(const std::string& text);

// The routes need an IPv4 literal: a host name is resolved once here, and the address found
// is used for both the host route and Xray, so they cannot disagree. Empty stays empty (the
// tunnel's default); an IPv6 literal is refused.
bool upstreamIpv4(const std::string& address, const Ipv4Resolver& resolve, std::string& ipv4, std::string& error);

// Prepares and starts the tunnel for the node with the account of `caller` (a known caller's
// own state folder, else this process's session file); the first failing step's text otherwise.
// The firewall is engaged before the tunnel starts; a failed start leaves it as the kill
// switch says.
bool connectNode(ConnectSystem& system, const std::string& nodeName, const ConnectOptions& options,
                 const Caller& caller, std::string& error);

// The engine of a running service: connect as above, stop and running on the tunnel, each
// under the tunnel's mutex. Connects and stops from concurrent clients run one at a time.
class TunnelEngine : public Engine {
public:
    explicit TunnelEngine(ConnectSystem system) : system_(std::move(system)) {}
    bool connect(const std::string& node, const ConnectOptions& options, const Caller& caller,
                 std::string& error) override;
    void disconnect() override;
    void stop() override;
    bool running() override;
    bool blocked() override;

private:
    // Once, before the first request: routes, DNS and firewall rules a killed service left go
    // (a standing kill switch stays). Only the service that serves the pipe gets here.
    void takeOver();

    ConnectSystem system_;
    std::once_flag takenOver_;
    std::mutex operation_;  // one connect or stop at a time: they share the configuration file
};

// The system's resolver (getaddrinfo / GetAddrInfoW), IPv4 only.
bool resolveHostIpv4(const std::string& host, std::string& address, std::string& error);

}  // namespace service
