#include "service/tunnel_supervisor.h"

#include <chrono>

namespace service {

std::string recoveringText(const std::string& tool) { return tool + " 意外退出，正在重新连接"; }

std::string gaveUpText(const std::string& tool, const std::string& error) {
    return tool + " 意外退出，重新连接未成功：" + error;
}

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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        exits_.push_back(tool);
    }
    wake_.notify_all();
}

void TunnelSupervisor::run() {
    for (;;) {
        std::string tool;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return ending_ || !exits_.empty(); });
            if (ending_) return;
            tool = exits_.front();
            exits_.pop_front();
        }
        // A report about a session that is over, or one already started again, is old news.
        const uint64_t session = engine_.session();
        if (engine_.wanted(session) && !engine_.running()) recover(session, tool);
    }
}

void TunnelSupervisor::recover(uint64_t session, const std::string& tool) {
    log_("tunnel: " + tool + " exited, recovering");
    std::string error;
    for (const int ms : backoffMs_) {
        engine_.setState(session, {"recovering", recoveringText(tool)});
        if (!pause(ms) || !engine_.wanted(session)) return;
        if (engine_.restart(session, error)) {
            log_("tunnel: recovered");
            return;
        }
        log_("tunnel: recovery failed: " + error);
    }
    log_("tunnel: given up");
    engine_.giveUp(session, gaveUpText(tool, error));
}

bool TunnelSupervisor::pause(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return ending_; });
}

}  // namespace service
