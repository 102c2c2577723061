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

// The node named `nodeName` from the account of `caller` (a known caller's own state folder,
// else this process's session file), its address resolved to IPv4; the failing step's text
// otherwise.
bool prepareNode(ConnectSystem& system, const std::string& nodeName, const Caller& caller, vpn::NodeRecord& node,
                 std::string& error);

// Gateway, Xray configuration, firewall and tunnel start for `node`: what a connect and every
// recovery do. A failed start leaves the firewall in place: the caller decides (a connect lets
// the kill switch say, a recovery tries again behind it).
bool startOnNode(ConnectSystem& system, const vpn::NodeRecord& node, const ConnectOptions& options,
                 std::string& error);

// prepareNode, then startOnNode; a failed start leaves the firewall as the kill switch says.
// The firewall is engaged before the tunnel starts; a failed start leaves it as the kill
// switch says.
bool connectNode(ConnectSystem& system, const std::string& nodeName, const ConnectOptions& options,
                 const Caller& caller, std::string& error);

// The system's resolver (getaddrinfo / GetAddrInfoW), IPv4 only.
bool resolveHostIpv4(const std::string& host, std::string& address, std::string& error);

}  // namespace service
