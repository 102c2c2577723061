#pragma once
// The engine of a running service: the user's connects and disconnects, and the recoveries
// the supervisor asks for, one at a time over one tunnel and its firewall.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "service/connect_node.h"

namespace service {

// The refusal of a disconnect, connect or shutdown by a user whose tunnel it is not.
inline constexpr const char* kHeldByAnotherUserText =
    "这台电脑上的另一位用户正在使用隧道，只有该用户或管理员可以断开或更换它";
// A connect whose node fetch a disconnect or the service's end stopped.
inline constexpr const char* kConnectCancelledText = "连接已取消";
// How long a connect may wait for the node list, however slowly the panel answers.
inline constexpr int kNodeFetchLimitMs = 15000;

// The tunnel belongs to the user who connected it (and a kill switch's block to the user who
// set it): only they, or a privileged caller, may end or replace it. The node list is fetched
// outside the lock that the other requests need, so a slow panel holds up no one else.
class TunnelEngine : public Engine {
public:
    explicit TunnelEngine(ConnectSystem system, int fetchLimitMs = kNodeFetchLimitMs)
        : system_(std::move(system)), fetchLimitMs_(fetchLimitMs) {}

    bool connect(const std::string& node, const ConnectOptions& options, const Caller& caller,
                 std::string& error) override;
    bool disconnect(const Caller& caller, std::string& error) override;
    // Also ends every node fetch in progress.
    void stop() override;
    bool running() override;
    bool blocked() override;
    TunnelState state() override;
    bool heldByOther(const Caller& caller) override;

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
    void newSession(std::optional<vpn::NodeRecord> node, const ConnectOptions& options, const std::string& owner = {});
    // Who holds the tunnel: the owner of the session wanted up, else of a kill switch's block.
    std::optional<std::string> holder();
    bool mayEnd(const Caller& caller) { return caller.privileged || holder().value_or(caller.user) == caller.user; }
    // A node fetch in progress, as the cancel flag a disconnect of its user sets.
    using Fetch = std::shared_ptr<std::atomic<bool>>;
    Fetch beginFetch(const std::string& user);
    void endFetch(const Fetch& fetch);
    void cancelFetches(const std::optional<std::string>& user);  // none: every user's
    // The configuration holds the user's credentials: it lives only as long as the tunnel.
    void removeXrayConfig();

    ConnectSystem system_;
    const int fetchLimitMs_;
    std::once_flag takenOver_;
    std::mutex operation_;  // one connect, stop or restart at a time: they share the configuration file
    std::mutex state_;      // the fields below
    uint64_t session_ = 0;
    std::optional<vpn::NodeRecord> node_;  // of the session the user wants up
    ConnectOptions options_;
    std::string owner_;  // of that session
    TunnelState shown_;
    std::list<std::pair<std::string, Fetch>> fetches_;
};

}  // namespace service
