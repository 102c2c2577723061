#include "service/request_handler.h"

#include "service/ipc_message.h"

namespace service {

bool performOp(const std::string& op, const std::string& node, RequestContext& context, std::string& error) {
    if (op == "connect") return context.engine.connect(node, error);
    if (op == "disconnect" || op == "status") {
        if (op == "disconnect") context.engine.stop();
        return true;
    }
    if (op == "shutdown") {
        context.engine.stop();
        if (context.shutdownEndsProcess) context.stopRequested = true;
        return true;
    }
    error = "op not allowed";
    return false;
}

void handleRequest(ByteStream& stream, RequestContext& context) {
    stream.setDeadline(kClientTimeoutMs);
    std::string payload;
    unsigned long errorCode = 0;
    if (!readFrame(stream, payload, errorCode)) {
        context.log.write("ipc read failed err=" + std::to_string(errorCode));
        return;
    }
    const Request request = parseRequest(payload);
    context.log.write("ipc op=" + logSafe(request.op));
    std::string error;
    const bool ok = performOp(request.op, request.node, context, error);
    if (!error.empty()) context.log.write("ipc error=" + logSafe(error));
    const bool running = context.engine.running();

    stream.setDeadline(kClientTimeoutMs);
    if (!writeFrame(stream, buildReply(ok, running, error), errorCode))
        context.log.write("ipc write reply failed err=" + std::to_string(errorCode));
}

}  // namespace service
