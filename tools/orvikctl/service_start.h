#pragma once
// Starting the connection service for `connect` when its pipe is missing. Unlike the
// client's launch, the service gets no owner process: orvikctl ends right after the reply,
// and the tunnel has to stay up until `disconnect` or `shutdown`.

#include <string>

#include "app/engine/engine_client.h"

namespace orvikctl {

// True when the pipe exists, or the service was started (elevated) and its pipe appeared
// within 20 s; false with the client's texts otherwise.
bool startService(const engine::EngineClient& engine, const std::string& runtimeDirectory, std::string& error);

// While it lives, standard input, output and error point to the null device, so that a
// program started meanwhile does not hold orvikctl's pipes open (Linux; a no-op on Windows,
// where the elevated start inherits no handles).
class DetachedStandardStreams {
public:
    DetachedStandardStreams();
    ~DetachedStandardStreams();
    DetachedStandardStreams(const DetachedStandardStreams&) = delete;
    DetachedStandardStreams& operator=(const DetachedStandardStreams&) = delete;

private:
    int saved_[3] = {-1, -1, -1};
};

}  // namespace orvikctl
