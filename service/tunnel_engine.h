#pragma once
// The engine of a running service: the user's connects and disconnects, and the recoveries
// the supervisor asks for, one at a time over one tunnel and its firewall.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "service/connect_node.h"

namespace service {

class TunnelEngine : public Engine {
public:
    explicit TunnelEngine(ConnectSystem system) : system_(std::move(system)) {}

    bool connect(const std::string& node, const ConnectOptions& options, const Caller& caller,
                 std::string& error) override;
    void disconnect() override;
    void stop() override;
    bool running() override;
    bool blocked() override;
    TunnelState state() override;

    // For the supervisor. Every connect, disconnect and stop begins a new session number, so a
    // recovery begun for one session never touches the next.
    uint64_t session();
    // True while session `id` is the latest and the user wants it up.
    bool wanted(uint64_t id);
    // The phase shown for session `id` while it is being recovered or waits for a network.
    void setState(uint64_t id, const TunnelState& state);
    // Starts session `id` again on its node over the machine's current gateway, behind the
    // firewall; false with the failing step's text (also when `id` is no longer wanted).
    bool restart(uint64_t id, std::string& error);
    // What a change of the machine's network means for session `id`: nothing (the tunnel runs
    // over the best gateway still), a move to another gateway, or no gateway at all (then the
    // tools stop, the firewall stays, and the phase says "waiting").
    enum class NetworkVerdict { unchanged, moved, lost };
    NetworkVerdict checkNetwork(uint64_t id);
    // Gives session `id` up: the tunnel stops, the firewall follows the kill switch and the
    // phase says "failed" with `reason`.
    void giveUp(uint64_t id, const std::string& reason);

private:
    // Once, before the first request: routes, DNS and firewall rules a killed service left go
    // (a standing kill switch stays). Only the service that serves the pipe gets here.
    void takeOver();
    void newSession(std::optional<vpn::NodeRecord> node, const ConnectOptions& options, const TunnelState& state);
    // The configuration holds the user's credentials: it lives only as long as the tunnel.
    void removeXrayConfig();

    ConnectSystem system_;
    std::once_flag takenOver_;
    std::mutex operation_;  // one connect, stop or restart at a time: they share the configuration file
    std::mutex state_;      // the fields below
    uint64_t session_ = 0;
    std::optional<vpn::NodeRecord> node_;  // of the session the user wants up
    ConnectOptions options_;
    TunnelState shown_;
};

}  // namespace service
