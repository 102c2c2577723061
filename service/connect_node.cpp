#include "service/connect_node.h"

#include <mutex>

#include "service/tunnel/xray_config.h"
#include "vpn/route_id.h"
#include "vpn/state_location.h"
#include "vpn/system.h"

namespace service {
namespace {

bool fail(std::string& error, const std::string& text) {
    error = text;
    return false;
}

bool fetchNodes(ConnectSystem& system, const Caller& caller, std::vector<vpn::NodeRecord>& nodes,
                std::string& error) {
    // The folder stays open (and so the same folder) until the control plane is done with it.
    vpn::UserState state;
    std::string sessionPath = vpn::sessionFilePath(system.runtimeDirectory);
    if (caller.known) {
        const vpn::UserState::Result found = state.open(system.runtimeDirectory, caller.userId, error);
        if (found == vpn::UserState::Result::missing) return fail(error, "请先在Velora登录");
        if (found == vpn::UserState::Result::refused) return false;
        sessionPath = state.sessionPath();
    }
    const std::unique_ptr<vpn::ControlPlane> plane = system.controlPlane(system.runtimeDirectory, sessionPath);
    vpn::AccountRecord account;
    std::string planeError;
    if (!plane->fetchAccount(account, planeError))
        return fail(error, planeError.empty() ? "请先在Velora登录" : planeError);
    if (account.nodes.empty()) return fail(error, "没有可用节点");
    nodes = std::move(account.nodes);
    return true;
}

const vpn::NodeRecord* lastNamed(const std::vector<vpn::NodeRecord>& nodes, const std::string& name,
                                 bool byRouteId) {
    const vpn::NodeRecord* found = nullptr;
    for (const vpn::NodeRecord& node : nodes) {
        if ((byRouteId ? vpn::routeIdOf(node.name) : node.name) == name) found = &node;
    }
    return found;
}

}  // namespace

const vpn::NodeRecord* chooseNode(const std::vector<vpn::NodeRecord>& nodes, const std::string& name) {
    if (name.empty()) return nodes.empty() ? nullptr : &nodes.front();
    if (const vpn::NodeRecord* exact = lastNamed(nodes, name, false)) return exact;
    // The client names a node by its route id.
    return lastNamed(nodes, name, true);
}

bool isIpv4Literal(const std::string& text) {
    size_t i = 0;
    for (int part = 1;; ++part) {
        const size_t first = i;
        int value = 0;
        while (i < text.size() && i - first < 4 && text[i] >= '0' && text[i] <= '9') value = value * 10 + (text[i++] - '0');
        const size_t digits = i - first;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[first] == '0')) return false;
        if (part == 4) return i == text.size();
        if (i >= text.size() || text[i] != '.') return false;
        ++i;
    }
}

bool upstreamIpv4(const std::string& address, const Ipv4Resolver& resolve, std::string& ipv4, std::string& error) {
    if (address.empty() || isIpv4Literal(address)) {
        ipv4 = address;
        return true;
    }
    if (address.find(':') != std::string::npos) return fail(error, "node address is not IPv4: " + address);
    std::string resolveError;
    if (!resolve(address, ipv4, resolveError) || !isIpv4Literal(ipv4))
        return fail(error, "cannot resolve node address " + address +
                               (resolveError.empty() ? std::string() : ": " + resolveError));
    return true;
}

// The firewall's view of this connect: the TUN, Xray, and the LAN of the physical adapter.
tunnel::FirewallPolicy firewallPolicy(ConnectSystem& system, const tunnel::PhysicalGateway& gateway,
                                      const ConnectOptions& options) {
    tunnel::FirewallPolicy policy;
    policy.tunInterface = tunnel::kTunInterfaceName;
    policy.tunAddress = kTunAddress;
    policy.xrayExecutable =
        vpn::joinPath(vpn::joinPath(system.runtimeDirectory, "xray"), vpn::xrayExecutableName());
    policy.localNetworks = system.network.onLinkNetworks(gateway.interfaceAlias);
    policy.allowLan = options.allowLan;
    policy.killSwitch = options.killSwitch;
    return policy;
}

bool prepareNode(ConnectSystem& system, const std::string& nodeName, const Caller& caller, vpn::NodeRecord& node,
                 std::string& error) {
    std::vector<vpn::NodeRecord> nodes;
    if (!fetchNodes(system, caller, nodes, error)) return false;
    const vpn::NodeRecord* chosen = chooseNode(nodes, nodeName);
    // Another node than the one the user picked would be worse than none.
    if (!chosen) return fail(error, "所选节点已不在节点列表中：" + nodeName);
    node = *chosen;
    std::string upstream;
    if (!upstreamIpv4(node.address, system.resolveIpv4, upstream, error)) return false;
    node.address = upstream;
    return true;
}

bool startOnNode(ConnectSystem& system, const vpn::NodeRecord& node, const ConnectOptions& options,
                 std::string& error) {
    tunnel::PhysicalGateway gateway;
    if (!system.network.findPhysicalGateway(gateway, error)) return false;
    const std::string configPath = vpn::joinPath(system.runtimeDirectory, kXrayConfigName);
    if (!tunnel::writeXrayConfig(node, gateway, tunnel::xraySocketMark(), configPath, error)) return false;

    const tunnel::StartParams params{vpn::joinPath(system.runtimeDirectory, "xray"),
                                     vpn::joinPath(system.runtimeDirectory, "tun2socks"), configPath, node.address,
                                     kTunAddress};
    std::lock_guard<std::mutex> lock(system.tunnel.mutex());
    // In place before the old session ends: a switch never leaves a gap.
    if (!system.guard.engage(firewallPolicy(system, gateway, options), error)) return false;
    return system.tunnel.start(params, error);
}

bool connectNode(ConnectSystem& system, const std::string& nodeName, const ConnectOptions& options,
                 const Caller& caller, std::string& error) {
    vpn::NodeRecord node;
    if (!prepareNode(system, nodeName, caller, node, error)) return false;
    if (startOnNode(system, node, options, error)) return true;
    system.guard.tunnelLost();
    return false;
}

}  // namespace service
