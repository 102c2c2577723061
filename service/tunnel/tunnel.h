#pragma once
// The tunnel: Xray and tun2socks in one job, the TUN adapter's address and DNS, the host
// route to the node through the physical gateway and the two split default routes.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "service/tunnel/network.h"
#include "service/tunnel/process_runner.h"
#include "service/tunnel/tunnel_tools.h"

namespace tunnel {

// The TUN adapter's name (tun2socks --device): on Linux the interface's whole name, on Windows
// a part of the Wintun adapter's name or description.
inline constexpr const char* kTunInterfaceName = "wintun";

struct StartParams {
    std::string xrayDirectory;
    std::string tun2socksDirectory;
    std::string configPath;
    std::string upstreamAddress;  // the node's address; a built-in default when empty
    std::string tunAddress;       // "192.168.123.1" when empty
};

// What the tunnel needs from the machine; the real ones come from the platform files, tests
// pass their own.
struct TunnelSystem {
    ProcessRunner& processes;
    NetworkOps& network;
    ToolLocator& tools;
    std::function<void(int milliseconds)> sleep;
};

// Start, stop and isRunning must be called with mutex() held.
class Tunnel {
public:
    explicit Tunnel(TunnelSystem system);
    ~Tunnel();  // stops
    Tunnel(const Tunnel&) = delete;
    Tunnel& operator=(const Tunnel&) = delete;

    // Replaces any running session. On failure nothing of the attempt is left behind.
    bool start(const StartParams& params, std::string& error);
    // Safe in any state and repeatedly.
    void stop();
    // At the service's start: routes and DNS settings a killed service left are undone.
    void removeEarlierRunsChanges();
    // True while both Xray and tun2socks run.
    bool isRunning();
    // True from a start's first step until stop, also when a tool has died since.
    bool hasSession() const { return session_ != nullptr; }
    // The physical gateway the session was started over; empty fields without a session.
    PhysicalGateway gateway() const;

    std::mutex& mutex() { return mutex_; }

    // Told, on a thread of the watch's, when Xray or tun2socks of a running session ends on
    // its own ("xray" or "tun2socks"); not when stop() ends them. Set before the first start;
    // it must not wait for the tunnel's mutex.
    void onToolExit(std::function<void(const std::string& tool)> handler) { toolExited_ = std::move(handler); }

private:
    struct Session;
    // Steps of start; each fills `error` when it fails.
    void removeLeftovers(const TunnelTools& tools);
    void repairPhysicalDns(const std::string& alias);
    bool launchXray(const TunnelTools& tools, const StartParams& params, std::string& error);
    bool launchTun2socks(const TunnelTools& tools, const StartParams& params, std::string& error);
    bool configureTunAdapter(std::string& error);
    bool installRoutes(std::string& error);
    bool addRoute(const RouteSpec& route, std::string& error);

    void watch(ChildProcess& process, const char* tool);

    TunnelSystem system_;
    std::function<void(const std::string&)> toolExited_;
    std::unique_ptr<Session> session_;
    std::mutex mutex_;
};

}  // namespace tunnel
