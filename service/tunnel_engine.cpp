#include "service/tunnel_engine.h"

#include "service/tunnel_supervisor.h"
#include "vpn/files.h"
#include "vpn/http.h"
#include "vpn/system.h"

namespace service {

void TunnelEngine::takeOver() {
    std::call_once(takenOver_, [this] {
        std::lock_guard<std::mutex> lock(system_.tunnel.mutex());
        system_.tunnel.removeEarlierRunsChanges();
        system_.guard.reconcile(true);
        removeXrayConfig();  // a killed service's, with its user's credentials
    });
}

void TunnelEngine::newSession(std::optional<vpn::NodeRecord> node, const ConnectOptions& options,
                              const std::string& owner) {
    std::lock_guard<std::mutex> lock(state_);
    ++session_;
    node_ = std::move(node);
    options_ = options;
    owner_ = owner;
    shown_ = {};
}

std::optional<std::string> TunnelEngine::holder() {
    {
        std::lock_guard<std::mutex> lock(state_);
        if (node_) return owner_;
    }
    return system_.guard.blockOwner();
}

bool TunnelEngine::heldByOther(const Caller& caller) {
    const std::optional<std::string> user = holder();
    return user && *user != caller.user;
}

TunnelEngine::Fetch TunnelEngine::beginFetch(const std::string& user) {
    std::lock_guard<std::mutex> lock(state_);
    fetches_.emplace_back(user, std::make_shared<std::atomic<bool>>(false));
    return fetches_.back().second;
}

void TunnelEngine::endFetch(const Fetch& fetch) {
    std::lock_guard<std::mutex> lock(state_);
    fetches_.remove_if([&](const auto& entry) { return entry.second == fetch; });
}

void TunnelEngine::cancelFetches(const std::optional<std::string>& user) {
    std::lock_guard<std::mutex> lock(state_);
    for (const auto& [owner, cancelled] : fetches_)
        if (!user || owner == *user) *cancelled = true;
}

void TunnelEngine::removeXrayConfig() {
    vpn::removeFile(vpn::joinPath(system_.runtimeDirectory, kXrayConfigName));
}

bool TunnelEngine::connect(const std::string& node, const ConnectOptions& options, const Caller& caller,
                           std::string& error) {
    takeOver();
    if (!mayEnd(caller)) {
        error = kHeldByAnotherUserText;
        return false;
    }
    // The panel may be slow: the fetch has its own time limit and runs outside the lock, and
    // a disconnect of this user (or the service's end) stops it.
    const Fetch cancelled = beginFetch(caller.user);
    vpn::NodeRecord chosen;
    bool prepared = false;
    {
        const vpn::HttpLimit limit(vpn::HttpLimit::Clock::now() + std::chrono::milliseconds(fetchLimitMs_),
                                   [&] { return cancelled->load(); });
        prepared = prepareNode(system_, node, caller, chosen, error);
    }
    std::lock_guard<std::mutex> operation(operation_);
    endFetch(cancelled);
    if (*cancelled) {
        error = kConnectCancelledText;
        return false;
    }
    // A node that cannot be had leaves the tunnel as it was.
    if (!prepared) return false;
    if (!mayEnd(caller)) {  // another user connected meanwhile
        error = kHeldByAnotherUserText;
        return false;
    }
    system_.guard.setOwner(caller.user);
    if (!startOnNode(system_, chosen, options, error)) {
        newSession(std::nullopt, options);
        system_.guard.tunnelLost();
        removeXrayConfig();
        return false;
    }
    newSession(chosen, options, caller.user);
    error.clear();
    return true;
}

bool TunnelEngine::disconnect(const Caller& caller, std::string& error) {
    takeOver();
    cancelFetches(caller.privileged ? std::nullopt : std::optional(caller.user));
    std::lock_guard<std::mutex> operation(operation_);
    if (!mayEnd(caller)) {
        error = kHeldByAnotherUserText;
        return false;
    }
    newSession(std::nullopt, {});
    std::lock_guard<std::mutex> lock(system_.tunnel.mutex());
    system_.tunnel.stop();
    system_.guard.release();
    removeXrayConfig();
    return true;
}

void TunnelEngine::stop() {
    cancelFetches(std::nullopt);
    std::lock_guard<std::mutex> operation(operation_);
    newSession(std::nullopt, {});
    std::lock_guard<std::mutex> lock(system_.tunnel.mutex());
    system_.tunnel.stop();
    system_.guard.tunnelLost();
    removeXrayConfig();
}

bool TunnelEngine::running() {
    takeOver();
    std::lock_guard<std::mutex> lock(system_.tunnel.mutex());
    return system_.tunnel.isRunning();
}

bool TunnelEngine::blocked() { return system_.guard.blocking(); }

TunnelState TunnelEngine::state() {
    std::lock_guard<std::mutex> lock(state_);
    return shown_;
}

uint64_t TunnelEngine::session() {
    std::lock_guard<std::mutex> lock(state_);
    return session_;
}

bool TunnelEngine::wanted(uint64_t id) {
    std::lock_guard<std::mutex> lock(state_);
    return id == session_ && node_.has_value();
}

void TunnelEngine::setState(uint64_t id, const TunnelState& state) {
    std::lock_guard<std::mutex> lock(state_);
    if (id == session_ && node_) shown_ = state;
}

bool TunnelEngine::restart(uint64_t id, std::string& error) {
    std::lock_guard<std::mutex> operation(operation_);
    vpn::NodeRecord node;
    ConnectOptions options;
    {
        std::lock_guard<std::mutex> lock(state_);
        if (id != session_ || !node_) {
            error = "the session has ended";
            return false;
        }
        node = *node_;
        options = options_;
    }
    if (!startOnNode(system_, node, options, error)) return false;
    setState(id, {});
    return true;
}

TunnelEngine::NetworkVerdict TunnelEngine::checkNetwork(uint64_t id) {
    std::lock_guard<std::mutex> operation(operation_);
    if (!wanted(id)) return NetworkVerdict::unchanged;
    tunnel::PhysicalGateway best;
    std::string ignored;
    std::lock_guard<std::mutex> lock(system_.tunnel.mutex());
    if (!system_.network.findPhysicalGateway(best, ignored)) {
        system_.tunnel.stop();  // its outbounds are bound to an interface that is gone
        setState(id, {"waiting", waitingForNetworkText()});
        return NetworkVerdict::lost;
    }
    const tunnel::PhysicalGateway current = system_.tunnel.gateway();
    const bool same = current.interfaceAlias == best.interfaceAlias && current.nextHop == best.nextHop;
    return same && system_.tunnel.isRunning() ? NetworkVerdict::unchanged : NetworkVerdict::moved;
}

void TunnelEngine::giveUp(uint64_t id, const std::string& reason) {
    std::lock_guard<std::mutex> operation(operation_);
    {
        std::lock_guard<std::mutex> lock(state_);
        if (id != session_ || !node_) return;
        node_.reset();
    }
    {
        std::lock_guard<std::mutex> lock(system_.tunnel.mutex());
        system_.tunnel.stop();
        system_.guard.tunnelLost();
        removeXrayConfig();
    }
    std::lock_guard<std::mutex> lock(state_);
    if (id == session_) shown_ = {"failed", reason};
}

}  // namespace service
