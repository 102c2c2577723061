#include "service/tunnel/tunnel.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "service/tunnel/scope_guard.h"
#include "service/tunnel/xray_config.h"
#include "vpn/system.h"

namespace tunnel {
namespace {

constexpr const char* kDefaultTunAddress = "192.168.123.1";
// The default upstream server, used only for a node without an address of its own. The
// address lies in a documentation range (TEST-NET-3), so the host route never points at a
// stranger's machine until the product's own server is assigned here.
constexpr const char* kDefaultUpstreamAddress = "203.0.113.10";
// A physical adapter whose only DNS server is this one still carries our tunnel's setting.
constexpr const char* kTunDnsServer = "1.1.1.1";
constexpr const char* kSocksProxy = "socks5://127.0.0.1:10808";

constexpr int kXrayStartupWaitMs = 800;    // at most, for Xray's inbound to accept
constexpr int kReadinessPollMs = 10;
constexpr int kTerminateWaitMs = 800;
constexpr int kTunAdapterTimeoutMs = 15000;
constexpr int kTunAddressTimeoutMs = 4000;

constexpr uint32_t kHostRouteMetric = 1;
constexpr uint32_t kSplitRouteMetric = 5;

bool fail(std::string& error, const char* text) {
    error = text;
    return false;
}

std::string orDefault(const std::string& value, const char* fallback) {
    return value.empty() ? std::string(fallback) : value;
}

}  // namespace

// One session's processes, adapter and the routes it added. Absent when stopped.
struct Tunnel::Session {
    std::unique_ptr<Job> job;
    std::unique_ptr<ChildProcess> xray;
    std::unique_ptr<ChildProcess> tun2socks;
    PhysicalGateway physical;
    std::string tunAlias;
    std::string tunAddress;
    std::string upstreamAddress;
    std::vector<RouteSpec> addedRoutes;  // exactly what stop must delete, in the order added
    bool dnsSet = false;
    std::vector<std::unique_ptr<ExitWatch>> watches;  // end before the processes do
};

Tunnel::Tunnel(TunnelSystem system) : system_(std::move(system)) {}

Tunnel::~Tunnel() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop();
}

bool Tunnel::start(const StartParams& params, std::string& error) {
    stop();  // a connect while connected replaces the session
    if (params.xrayDirectory.empty() || params.tun2socksDirectory.empty() || params.configPath.empty())
        return fail(error, "xray dir, tun2socks dir and config are required");
    TunnelTools tools;
    if (!system_.tools.locate(params.xrayDirectory, params.tun2socksDirectory, params.configPath, tools, error))
        return false;
    removeLeftovers(tools);
    auto session = std::make_unique<Session>();
    if (!system_.network.findPhysicalGateway(session->physical, error)) return false;
    session->tunAddress = orDefault(params.tunAddress, kDefaultTunAddress);
    session->upstreamAddress = orDefault(params.upstreamAddress, kDefaultUpstreamAddress);
    repairPhysicalDns(session->physical.interfaceAlias);
    session->job = system_.processes.createJob(error);
    if (!session->job) return false;

    session_ = std::move(session);
    ScopeGuard rollback([this] { stop(); });
    if (!launchXray(tools, params, error)) return false;
    if (!launchTun2socks(tools, params, error)) return false;
    if (!configureTunAdapter(error)) return false;
    if (!installRoutes(error)) return false;
    rollback.dismiss();
    watch(*session_->xray, "xray");
    watch(*session_->tun2socks, "tun2socks");
    return true;
}

void Tunnel::watch(ChildProcess& process, const char* tool) {
    if (!toolExited_) return;
    session_->watches.push_back(process.watchExit([this, tool] { toolExited_(tool); }));
}

void Tunnel::stop() {
    if (!session_) return;
    Session& s = *session_;
    s.watches.clear();  // what follows ends the tools on purpose
    for (ChildProcess* process : {s.tun2socks.get(), s.xray.get()}) {
        if (process && process->isRunning()) process->terminate(kTerminateWaitMs);
    }
    s.tun2socks.reset();
    s.xray.reset();
    s.job->close();  // ends whatever is still in the job
    s.job.reset();
    for (const RouteSpec& route : s.addedRoutes) system_.network.deleteRoute(route);
    if (s.dnsSet) system_.network.restoreDns();
    session_.reset();
}

PhysicalGateway Tunnel::gateway() const { return session_ ? session_->physical : PhysicalGateway{}; }

void Tunnel::removeEarlierRunsChanges() {
    system_.network.removeStaleRoutes();
    system_.network.restoreDns();
}

bool Tunnel::isRunning() {
    return session_ && session_->tun2socks && session_->xray && session_->tun2socks->isRunning() &&
           session_->xray->isRunning();
}

// Stray tunnel processes of any earlier run (ours: the trusted tools, run by us), and routes
// a crashed service left behind.
void Tunnel::removeLeftovers(const TunnelTools& tools) {
    system_.processes.terminateStrays({tools.xrayExecutable, tools.tun2socksExecutable});
    system_.network.removeStaleRoutes();
}

// An adapter left with only our tunnel's DNS server goes back to DHCP.
void Tunnel::repairPhysicalDns(const std::string& alias) {
    const std::vector<std::string> servers = system_.network.adapterDnsServers(alias);
    if (servers.size() == 1 && servers.front() == kTunDnsServer) system_.network.resetAdapterDns(alias);
}

bool Tunnel::launchXray(const TunnelTools& tools, const StartParams& params, std::string& error) {
    const CommandArgs args{word("run"), word("-c"), quotedArg(params.configPath)};
    session_->xray = session_->job->launch(tools.xrayExecutable, args, params.xrayDirectory, error);
    if (!session_->xray) return false;
    // Ready once its SOCKS inbound accepts; one that rejects its configuration ends first. One
    // still running but not listening after the wait is given its chance, as before.
    for (int waited = 0;; waited += kReadinessPollMs) {
        if (!session_->xray->isRunning()) return fail(error, "xray exited immediately");
        if (system_.network.localPortAccepts(kSocksPort) || waited >= kXrayStartupWaitMs) return true;
        system_.sleep(kReadinessPollMs);
    }
}

bool Tunnel::launchTun2socks(const TunnelTools& tools, const StartParams& params, std::string& error) {
    CommandArgs args{word("--loglevel"), word("info"),  word("--device"),
                     word(kTunInterfaceName), word("--proxy"), word(kSocksProxy)};
    if (tools.tun2socksTakesInterface) {
        args.push_back(word("--interface"));
        args.push_back(quotedArg(session_->physical.interfaceAlias));
    }
    session_->tun2socks = session_->job->launch(tools.tun2socksExecutable, args, params.tun2socksDirectory, error);
    return session_->tun2socks != nullptr;
}

bool Tunnel::configureTunAdapter(std::string& error) {
    Session& s = *session_;
    if (!system_.network.waitForTunAdapter(kTunInterfaceName, s.tunAlias, kTunAdapterTimeoutMs))
        return fail(error, "wintun adapter not created");
    if (!s.tun2socks->isRunning()) return fail(error, "tun2socks exited early");
    // The network operation words the failure itself: "failed to assign TUN address: ...".
    if (!system_.network.setTunAddress(s.tunAlias, s.tunAddress, error)) return false;
    system_.network.setTunDns(s.tunAlias);
    s.dnsSet = true;
    if (!system_.network.waitForIpv4Address(s.tunAlias, kTunAddressTimeoutMs))
        return fail(error, "TUN adapter has no IPv4 address");
    return true;
}

bool Tunnel::installRoutes(std::string& error) {
    Session& s = *session_;
    const RouteSpec host{s.physical.interfaceAlias, s.upstreamAddress, 32, s.physical.nextHop, kHostRouteMetric};
    system_.network.deleteRoute(host);
    if (!addRoute(host, error)) return false;
    if (!addRoute({s.tunAlias, "0.0.0.0", 1, s.tunAddress, kSplitRouteMetric}, error)) return false;
    if (!addRoute({s.tunAlias, "128.0.0.0", 1, s.tunAddress, kSplitRouteMetric}, error)) return false;
    if (!system_.network.routeExists(s.tunAlias, "0.0.0.0", 1) ||
        !system_.network.routeExists(s.tunAlias, "128.0.0.0", 1))
        return fail(error, "split default routes were not installed on TUN");
    return true;
}

bool Tunnel::addRoute(const RouteSpec& route, std::string& error) {
    if (!system_.network.addRoute(route, error)) return false;
    session_->addedRoutes.push_back(route);
    return true;
}

}  // namespace tunnel
