// status, connect, disconnect and shutdown: requests to the connection service over its
// pipe, with the attempt counts of the client's engine worker.
#include <chrono>
#include <ostream>
#include <thread>

#include "tools/orvikctl/commands.h"
#include "tools/orvikctl/output.h"
#include "tools/orvikctl/service_start.h"
#include "vpn/system.h"

namespace orvikctl {
namespace {

constexpr int kConnectAttempts = 20;
constexpr int kConnectAttemptsAfterLaunch = 40;
constexpr int kDisconnectAttempts = 20;
constexpr int kShutdownAttempts = 5;
constexpr int kShutdownProbes = 40;  // 50 ms apart: 2 s for the service to go
constexpr int kShutdownProbeMs = 50;

std::string failureText(const engine::RequestResult& result, const char* fallback) {
    return result.error.empty() ? fallback : result.error;
}

// `mine` false: the tunnel belongs to another user of this computer.
int printState(Context& context, bool serviceRunning, bool tunnelUp, const std::string& headline, bool mine = true) {
    if (context.json()) {
        Json result = Json::object();
        result["serviceRunning"] = serviceRunning;
        result["tunnelUp"] = tunnelUp;
        if (!mine) result["tunnelMine"] = false;
        context.printJson(result);
    } else {
        if (!headline.empty()) context.io().out << headline << "\n";
        printFields(context.io().out, {{"Service", serviceRunning ? "running" : "not running"},
                                       {"Tunnel", !tunnelUp ? "down" : mine ? "up" : "up (another user's)"}});
    }
    return kExitOk;
}

// The client's device check before a connection: this computer takes a slot of the plan.
bool claimThisDevice(Context& context, std::string& error) {
    int32_t used = 0;
    int32_t limit = 0;
    if (context.controlPlane().claimDevice(vpn::machineDeviceId(), used, limit, error)) return true;
    if (error.empty()) error = "设备登记失败";
    std::string lower = error;
    for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower.find("login expired") != std::string::npos || error.find("登录已过期") != std::string::npos)
        error = "登录已过期，请退出后重新登录";
    return false;
}

}  // namespace

int statusCommand(Context& context, const Invocation&) {
    const engine::RequestResult result = context.engine().sendRequest("status", 1);
    if (result.serviceUnavailable) return printState(context, false, false, "");
    if (!result.ok) return context.fail(failureText(result, "Velora服务未运行"));
    return printState(context, true, result.running, "", result.mine);
}

int connectCommand(Context& context, const Invocation& invocation) {
    const std::string node = invocation.arguments.empty() ? std::string() : invocation.arguments[0];
    std::string error;
    if (!claimThisDevice(context, error)) return context.fail(error);
    const engine::EngineClient& engine = context.engine();
    engine::RequestResult result = engine.sendRequest("connect", kConnectAttempts, node);
    if (!result.ok && result.serviceUnavailable) {
        context.note("Starting the connection service...");
        if (!startService(engine, context.runtimeDirectory(), error)) return context.fail(error);
        result = engine.sendRequest("connect", kConnectAttemptsAfterLaunch, node);
    }
    if (!result.ok) return context.fail(failureText(result, "连接失败"));
    if (context.json()) {
        Json reply = Json::object();
        reply["serviceRunning"] = true;
        reply["tunnelUp"] = result.running;
        reply["node"] = node;
        context.printJson(reply);
        return kExitOk;
    }
    context.io().out << (node.empty() ? std::string("Connected.") : "Connected to " + node + ".") << "\n";
    return kExitOk;
}

int disconnectCommand(Context& context, const Invocation&) {
    const engine::RequestResult result = context.engine().sendRequest("disconnect", kDisconnectAttempts);
    if (result.serviceUnavailable) return printState(context, false, false, "The service is not running.");
    if (!result.ok) return context.fail(failureText(result, "断开失败"));
    return printState(context, true, result.running, result.running ? "" : "Disconnected.");
}

int shutdownCommand(Context& context, const Invocation&) {
    const engine::EngineClient& engine = context.engine();
    const engine::RequestResult result = engine.sendRequest("shutdown", kShutdownAttempts);
    if (result.serviceUnavailable) return printState(context, false, false, "The service is not running.");
    if (!result.ok) return context.fail(failureText(result, "停止服务失败"));
    bool present = true;
    for (int probe = 0; probe < kShutdownProbes && present; ++probe) {
        present = engine.pipeExists();
        if (present) std::this_thread::sleep_for(std::chrono::milliseconds(kShutdownProbeMs));
    }
    return printState(context, present, false, present ? "Tunnel stopped; the service keeps running." : "Service stopped.");
}

}  // namespace orvikctl
