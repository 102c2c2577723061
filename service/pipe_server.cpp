#include "service/pipe_server.h"

#include <chrono>
#include <thread>

namespace service {
namespace {

constexpr auto kCreateRetryPause = std::chrono::milliseconds(500);

}  // namespace

void runPipeServer(const std::string& runtimeDirectory, PipeListener& listener, RequestContext& context) {
    setCurrentDirectory(runtimeDirectory);
    while (!context.stopRequested) {
        std::unique_ptr<ByteStream> connection;
        const PipeListener::Result result = listener.accept(connection);
        if (result == PipeListener::Result::pause) {
            if (!context.stopRequested) std::this_thread::sleep_for(kCreateRetryPause);
            continue;
        }
        // A stop request's own wake-up connection arrives with the flag already set.
        if (result == PipeListener::Result::connected && !context.stopRequested)
            handleRequest(*connection, context);
    }
    context.engine.stop();
}

}  // namespace service
