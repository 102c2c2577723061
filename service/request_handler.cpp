#include "service/request_handler.h"

#include <exception>

#include "service/ipc_message.h"

namespace service {
namespace {

// Values from clients and back ends are cut before they reach the log, so that no client
// can make the log grow faster than by one short line per request.
constexpr size_t kLoggedOpBytes = 64;
constexpr size_t kLoggedErrorBytes = 400;

bool performOp(const Request& request, const Caller& caller, RequestContext& context, std::string& error) {
    const std::string& op = request.op;
    if (op == "connect") return context.engine.connect(request.node, request.options, caller, error);
    if (op == "status") return true;
    if (op == "disconnect") return context.engine.disconnect(caller, error);
    if (op == "shutdown") {
        // Another user's tunnel keeps the service: it would go with it.
        if (!context.engine.disconnect(caller, error)) return false;
        if (context.shutdownEndsProcess) context.stopRequested = true;
        return true;
    }
    error = "op not allowed";
    return false;
}

// The op carried out with every exception turned into its error text.
bool performGuarded(const Request& request, const Caller& caller, RequestContext& context, std::string& error) {
    try {
        return performOp(request, caller, context, error);
    } catch (const std::exception& failure) {
        error = std::string("internal error: ") + failure.what();
    } catch (...) {
        error = "internal error";
    }
    return false;
}

bool flagGuarded(Engine& engine, bool (Engine::*flag)()) {
    try {
        return (engine.*flag)();
    } catch (...) {
        return false;
    }
}

}  // namespace

void handleRequest(ByteStream& stream, const Caller& caller, RequestContext& context) {
    stream.setDeadline(kClientTimeoutMs);
    std::string payload;
    unsigned long errorCode = 0;
    if (!readFrame(stream, payload, errorCode)) {
        context.log.writeRateLimited("ipc read failed err=" + std::to_string(errorCode));
        return;
    }
    const Request request = parseRequest(payload);
    // Within the caller's allowance: where the platform does not know the user, all share one.
    // A status changes nothing and a connected window asks for one every second: no line, so
    // it neither fills the log nor spends the allowance the user's connects need.
    if (request.op != "status") context.log.writeFor(caller.userId, "ipc op=" + logSafe(request.op, kLoggedOpBytes));
    std::string error;
    const bool ok = performGuarded(request, caller, context, error);
    if (!error.empty()) context.log.writeFor(caller.userId, "ipc error=" + logSafe(error, kLoggedErrorBytes));
    const bool running = flagGuarded(context.engine, &Engine::running);
    const bool blocked = flagGuarded(context.engine, &Engine::blocked);
    TunnelState state;
    bool others = false;
    try {
        state = context.engine.state();
        others = context.engine.heldByOther(caller);
    } catch (...) {
    }
    // Another user's reason may name their node or account.
    if (others && !caller.privileged) state.reason.clear();

    stream.setDeadline(kClientTimeoutMs);
    if (!writeFrame(stream, buildReply(ok, running, error, blocked, state, others), errorCode))
        context.log.writeRateLimited("ipc write reply failed err=" + std::to_string(errorCode));
}

}  // namespace service
