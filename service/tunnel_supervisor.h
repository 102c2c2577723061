#pragma once
// Keeps the user's tunnel up: a tool that ends on its own is started again on the same node,
// after 0.5 s, 1 s and 2 s, behind the firewall; after the last failed attempt the tunnel is
// given up and the firewall follows the kill switch. A network change that moves the best
// default route starts it again over the new one at once; with no route left it waits, and a
// route's return brings it back. One thread of its own decides; the watches only report.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/tunnel_engine.h"

namespace service {

class TunnelSupervisor {
public:
    using Log = std::function<void(const std::string&)>;
    TunnelSupervisor(TunnelEngine& engine, Log log, std::vector<int> backoffMs = {500, 1000, 2000});
    ~TunnelSupervisor();  // ends a recovery in progress between its steps
    TunnelSupervisor(const TunnelSupervisor&) = delete;
    TunnelSupervisor& operator=(const TunnelSupervisor&) = delete;

    // "xray" or "tun2socks" ended on its own. Any thread; returns at once.
    void toolExited(const std::string& tool);
    // The machine's links, addresses or routes changed, or it woke up. Any thread.
    void networkChanged();

private:
    void post(const std::string& event);
    void run();
    void handle(const std::string& event);
    // Tries `delaysMs.size()` times; gives up with `gaveUp` unless the network went away.
    void recover(uint64_t session, const std::string& reason, const std::vector<int>& delaysMs,
                 const std::function<std::string(const std::string& error)>& gaveUp);
    // Waits `ms`; false when the supervisor ends meanwhile.
    bool pause(int ms);

    TunnelEngine& engine_;
    Log log_;
    std::vector<int> backoffMs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> events_;  // a tool's name, or "" for a network change
    bool ending_ = false;
    std::thread thread_;
};

// The text the window shows while `tool` is being started again, and after it was given up.
std::string recoveringText(const std::string& tool);
std::string gaveUpText(const std::string& tool, const std::string& error);
std::string networkChangedText();
std::string waitingForNetworkText();

}  // namespace service
