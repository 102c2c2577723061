#pragma once
// One request on one connection: read the frame, carry out the op, write the reply.

#include <atomic>
#include <string>

#include "vpn/ipc_frame.h"
#include "service/service_log.h"

namespace service {

using vpn::ByteStream;
using vpn::readFrame;
using vpn::writeFrame;

// How long a client may take to send its request, and again to take the reply. A client
// that connects and stays silent would otherwise block the service for everyone.
inline constexpr int kClientTimeoutMs = 5000;

// What the ops act on: the tunnel and the way to it.
class Engine {
public:
    virtual ~Engine() = default;
    // Prepares and starts the tunnel for the named node (empty: the first node); on failure
    // the first failing step's text.
    virtual bool connect(const std::string& node, std::string& error) = 0;
    // Stops the tunnel; safe in any state.
    virtual void stop() = 0;
    // True while the tunnel's processes run.
    virtual bool running() = 0;
};

struct RequestContext {
    ServiceLog& log;
    Engine& engine;
    std::atomic<bool>& stopRequested;
    // Set in console and daemon modes: "shutdown" also ends the process.
    const std::atomic<bool>& shutdownEndsProcess;
};

// Carries out one op; true for ok, with the error text otherwise.
bool performOp(const std::string& op, const std::string& node, RequestContext& context, std::string& error);

// Reads one request from `stream`, carries it out and writes the reply. Nothing is replied
// to a request that cannot be read.
void handleRequest(ByteStream& stream, RequestContext& context);

}  // namespace service
