#pragma once
// One request on one connection: read the frame, carry out the op, write the reply.

#include <atomic>
#include <cstdint>
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

// Who is on the other end of a connection, as far as the platform can tell.
struct Caller {
    bool known = false;       // Linux: the socket's peer credentials; Windows: the client's token
    uint32_t userId = 0;      // Linux: the uid; Windows: a number drawn from the SID (allowances only)
    uint32_t groupId = 0;     // Linux: the gid
    std::string user;         // who owns what they start: "uid N", or the SID; empty when unknown
    bool privileged = false;  // root, SYSTEM or an enabled Administrators member: may end any tunnel
};

// How the user wants the tunnel's leak protection (the client's preferences).
struct ConnectOptions {
    bool killSwitch = false;  // a failed tunnel keeps the network blocked
    bool allowLan = true;     // the on-link networks stay reachable
};

// A tunnel being recovered ("recovering"), waiting for a network ("waiting") or given up
// ("failed"), with a text for the user; an empty phase when it is up or off as "running" says.
struct TunnelState {
    std::string phase;
    std::string reason;
};

// What the ops act on: the tunnel and the way to it.
class Engine {
public:
    virtual ~Engine() = default;
    // Prepares and starts the tunnel for the named node (empty: the first node) with the
    // account of `caller`; on failure the first failing step's text.
    virtual bool connect(const std::string& node, const ConnectOptions& options, const Caller& caller,
                         std::string& error) = 0;
    // The user's disconnect or quit: the tunnel and every firewall rule go, and a node fetch of
    // the caller's stops. Safe in any state. False with the text when another user holds the
    // tunnel (or its block) and the caller may not end it: then nothing changes.
    virtual bool disconnect(const Caller& caller, std::string& error) = 0;
    // The service ends without the user's word: the tunnel goes, a kill switch's block stays.
    virtual void stop() = 0;
    // True while the tunnel's processes run.
    virtual bool running() = 0;
    // True while a kill switch keeps the network blocked after the tunnel was lost.
    virtual bool blocked() = 0;
    // What the tunnel is doing when it is neither plainly up nor off.
    virtual TunnelState state() = 0;
    // True while a tunnel, or a kill switch's block, belongs to a user other than `caller`.
    virtual bool heldByOther(const Caller& caller) = 0;
};

struct RequestContext {
    ServiceLog& log;
    Engine& engine;
    std::atomic<bool>& stopRequested;
    // Set in console and daemon modes: "shutdown" also ends the process.
    const std::atomic<bool>& shutdownEndsProcess;
};

// Reads one request from `stream`, carries it out for `caller` and writes the reply. Nothing
// is replied to a request that cannot be read. A failure inside the op, exceptions included,
// is answered as an error reply: nothing a client sends ends the service.
void handleRequest(ByteStream& stream, const Caller& caller, RequestContext& context);

}  // namespace service
