#pragma once
// Keeps the user's tunnel up: a tool that ends on its own is started again on the same node,
// after 0.5 s, 1 s and 2 s, behind the firewall; after the last failed attempt the tunnel is
// given up and the firewall follows the kill switch. One thread of its own decides; the
// watches only report to it.

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

private:
    void run();
    void recover(uint64_t session, const std::string& tool);
    // Waits `ms`; false when the supervisor ends meanwhile.
    bool pause(int ms);

    TunnelEngine& engine_;
    Log log_;
    std::vector<int> backoffMs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> exits_;
    bool ending_ = false;
    std::thread thread_;
};

// The text the window shows while `tool` is being started again, and after it was given up.
std::string recoveringText(const std::string& tool);
std::string gaveUpText(const std::string& tool, const std::string& error);

}  // namespace service
