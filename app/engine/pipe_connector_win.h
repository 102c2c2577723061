#pragma once
// The Windows connector's check of who serves the pipe (Windows only). A user who creates
// the pipe's name before the service would otherwise receive the client's requests and
// answer them as it likes.

#include <functional>
#include <memory>
#include <optional>

#include "app/engine/pipe_connector.h"

namespace engine {

// Whether process `processId` runs elevated or as LocalSystem; nullopt when its token cannot
// be read (the SYSTEM service, or another user's process, seen from a client that is not
// elevated).
using ServerProcessCheck = std::function<std::optional<bool>(unsigned long processId)>;
std::optional<bool> processElevatedOrSystem(unsigned long processId);

// A connector that opens the pipe for identification only and talks to a server only when
// Administrators or SYSTEM own the pipe (which no one else can arrange) and `check` does not
// find its process unelevated. A refused server is closed at once and reported as `failed`
// with ERROR_ACCESS_DENIED. makePlatformPipeConnector() uses processElevatedOrSystem.
std::shared_ptr<PipeConnector> makeNamedPipeConnector(ServerProcessCheck check);

}  // namespace engine
