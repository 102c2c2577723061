#include "service/tunnel_engine.h"

#include "service/tunnel_supervisor.h"
#include "vpn/files.h"
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
                              const TunnelState& state) {
    std::lock_guard<std::mutex> lock(state_);
    ++session_;
    node_ = std::move(node);
    options_ = options;
    shown_ = state;
}

void TunnelEngine::removeXrayConfig() {
    vpn::removeFile(vpn::joinPath(system_.runtimeDirectory, kXrayConfigName));
}

bool TunnelEngine::connect(const std::string& node, const ConnectOptions& options, const Caller& caller,
                           std::string& error) {
    takeOver();
    std::lock_guard<std::mutex> operation(operation_);
    vpn::NodeRecord chosen;
    // A node that cannot be had leaves the tunnel as it was.
    if (!prepareNode(system_, node, caller, chosen, error)) return false;
    if (!startOnNode(system_, chosen, options, error)) {
        newSession(std::nullopt, options, {});
        system_.guard.tunnelLost();
        removeXrayConfig();
        return false;
    }
    newSession(chosen, options, {});
    error.clear();
    return true;
}

void TunnelEngine::disconnect() {
    takeOver();
    std::lock_guard<std::mutex> operation(operation_);
    newSession(std::nullopt, {}, {});
    std::lock_guard<std::mutex> lock(system_.tunnel.mutex());
    system_.tunnel.stop();
    system_.guard.release();
    removeXrayConfig();
}

void TunnelEngine::stop() {
    std::lock_guard<std::mutex> operation(operation_);
    newSession(std::nullopt, {}, {});
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
