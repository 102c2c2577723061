#pragma once
// The service pipe's server: one listener per platform (a named pipe on Windows, a Unix
// socket on Linux) and the loop that serves one connection at a time.

#include <atomic>
#include <memory>
#include <string>

#include "vpn/ipc_frame.h"
#include "vpn/service_pipe.h"
#include "service/request_handler.h"

namespace service {

class PipeListener {
public:
    enum class Result {
        connected,  // `connection` holds the next client
        retry,      // this attempt failed or was woken: check the stop flag and try again
        pause,      // the pipe cannot be created now: check the stop flag, wait 500 ms, retry
        nameTaken,  // another process holds the pipe's name, or (Linux) the socket's folder is
                    // not the service's own: serving is impossible, give up
    };

    virtual ~PipeListener() = default;
    // Waits for the next client and tells who it is. Closing the returned stream ends the
    // connection. Connections handed out earlier may still be in use on other threads: the
    // listener keeps accepting while they are served.
    virtual Result accept(std::unique_ptr<ByteStream>& connection, Caller& caller) = 0;
    // Makes a waiting accept() return soon; any thread. Callers set the stop flag first.
    virtual void wake() = 0;
};

using vpn::servicePipeName;

// A listener on `name` (see servicePipeName). Nothing is created before the first accept.
std::unique_ptr<PipeListener> makePipeListener(const std::string& name);

// At most this many connections are served at once; each has the client deadline of the
// request handler, so a slot held by a silent client frees within seconds.
inline constexpr int kMaxConcurrentClients = 16;
// At most this many of them from one user (where the platform knows the caller's user): a
// connection beyond it is closed at once, so one user cannot keep the others out.
inline constexpr int kMaxClientsPerUser = 4;

// Serves clients, each connection on a thread of its own, until the stop flag is set; then
// waits for the connections in progress and stops the tunnel. The current directory becomes
// `runtimeDirectory` first. Each known caller's state folder there is made theirs before the
// request (vpn::claimUserFolder). False when the listener found its name held by another process.
bool runPipeServer(const std::string& runtimeDirectory, PipeListener& listener, RequestContext& context);

// Makes `directory` the process's current directory; false when it cannot.
bool setCurrentDirectory(const std::string& directory);

}  // namespace service
