#pragma once
// Opening the service pipe from the client side: a named pipe on Windows, a Unix socket on
// Linux. One implementation per platform.

#include <memory>
#include <string>

#include "vpn/ipc_frame.h"

namespace engine {

class PipeConnector {
public:
    enum class Status {
        opened,    // `connection` holds the open pipe
        notFound,  // no pipe (Linux: no socket file, or nobody accepts on it)
        busy,      // every instance is taken (Linux: the listen queue is full)
        failed,    // any other error; `errorCode` holds the system's code
    };

    virtual ~PipeConnector() = default;
    // Opens `name` once, without waiting for a missing pipe.
    virtual Status open(const std::string& name, std::unique_ptr<vpn::ByteStream>& connection,
                        unsigned long& errorCode) = 0;
    // Waits up to `milliseconds` for an instance of a busy pipe to come free
    // (WaitNamedPipeW; on Linux open() already waited and this returns at once).
    virtual void waitWhileBusy(const std::string& name, int milliseconds) = 0;
    // The system's current error code (GetLastError() / errno), for texts that want it.
    virtual unsigned long currentErrorCode() const = 0;
};

std::shared_ptr<PipeConnector> makePlatformPipeConnector();

}  // namespace engine
