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
    };

    virtual ~PipeListener() = default;
    // Waits for the next client. Closing the returned stream ends the connection.
    virtual Result accept(std::unique_ptr<ByteStream>& connection) = 0;
    // Makes a waiting accept() return soon; any thread. Callers set the stop flag first.
    virtual void wake() = 0;
};

using vpn::servicePipeName;

// A listener on `name` (see servicePipeName). Nothing is created before the first accept.
std::unique_ptr<PipeListener> makePipeListener(const std::string& name);

// Serves clients until the stop flag is set, then stops the tunnel. The current directory
// becomes `runtimeDirectory` first.
void runPipeServer(const std::string& runtimeDirectory, PipeListener& listener, RequestContext& context);

// Makes `directory` the process's current directory; false when it cannot.
bool setCurrentDirectory(const std::string& directory);

}  // namespace service
