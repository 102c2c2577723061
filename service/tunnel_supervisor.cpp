#include "service/tunnel_supervisor.h"

#include <chrono>

namespace service {
namespace {

// After a network change the new route is there already: the first try is at once.
const std::vector<int> kAfterNetworkChangeMs{0, 1000, 2000};
constexpr const char* kNoGateway = "no physical default gateway";

}  // namespace

std::string recoveringText(const std::string& tool) { return tool + " 意外退出，正在重新连接"; }

std::string gaveUpText(const std::string& tool, const std::string& error) {
    return tool + " 意外退出，重新连接未成功：" + error;
}

std::string networkChangedText() { return "网络已变化，正在重新连接"; }

std::string waitingForNetworkText() { return "网络已断开，恢复后将自动重新连接"; }

TunnelSupervisor::TunnelSupervisor(TunnelEngine& engine, Log log, std::vector<int> backoffMs)
    : engine_(engine), log_(std::move(log)), backoffMs_(std::move(backoffMs)), thread_([this] { run(); }) {}

TunnelSupervisor::~TunnelSupervisor() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TunnelSupervisor::toolExited(const std::string& tool) {
    // Said at once, before the recovery's thread gets to it: a status asked in between must
    // not read as a tunnel that is simply gone.
    const uint64_t session = engine_.session();
    if (!tool.empty()) engine_.setState(session, {"recovering", recoveringText(tool)});
    post(tool);
}

void TunnelSupervisor::networkChanged() { post({}); }

void TunnelSupervisor::post(const std::string& event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }
    wake_.notify_all();
}

void TunnelSupervisor::run() {
    for (;;) {
        std::string event;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return ending_ || !events_.empty(); });
            if (ending_) return;
            event = events_.front();
            events_.pop_front();
        }
        handle(event);
    }
}

void TunnelSupervisor::handle(const std::string& event) {
    const uint64_t session = engine_.session();
    if (!engine_.wanted(session)) return;
    if (event.empty()) {
        switch (engine_.checkNetwork(session)) {
        case TunnelEngine::NetworkVerdict::unchanged: return;
        case TunnelEngine::NetworkVerdict::lost: log_("tunnel: no network, waiting"); return;
        case TunnelEngine::NetworkVerdict::moved:
            log_("tunnel: the network changed, reconnecting");
            recover(session, networkChangedText(), kAfterNetworkChangeMs,
                    [](const std::string& error) { return "网络已变化，重新连接未成功：" + error; });
            return;
        }
    }
    // A report about a tool of a session already started again is old news.
    if (engine_.running()) {
        engine_.setState(session, {});
        return;
    }
    log_("tunnel: " + event + " exited, recovering");
    recover(session, recoveringText(event), backoffMs_,
            [&event](const std::string& error) { return gaveUpText(event, error); });
}

void TunnelSupervisor::recover(uint64_t session, const std::string& reason, const std::vector<int>& delaysMs,
                               const std::function<std::string(const std::string&)>& gaveUp) {
    std::string error;
    for (const int ms : delaysMs) {
        engine_.setState(session, {"recovering", reason});
        if (!pause(ms) || !engine_.wanted(session)) return;
        if (engine_.restart(session, error)) {
            log_("tunnel: recovered");
            return;
        }
        log_("tunnel: recovery failed: " + error);
        if (error == kNoGateway) {  // the network's return will bring it back
            engine_.checkNetwork(session);
            return;
        }
    }
    log_("tunnel: given up");
    engine_.giveUp(session, gaveUp(error));
}

bool TunnelSupervisor::pause(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return ending_; });
}

}  // namespace service
