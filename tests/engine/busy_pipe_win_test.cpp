// Windows: the service creates one pipe instance at a time, so while it serves one client
// every other open fails with ERROR_PIPE_BUSY and waits on WaitNamedPipeW.
#include "tests/engine/busy_pipe_test.h"

namespace {

TEST(BusyPipe, AServiceBusyWithAnotherClientIsBusyThroughEveryAttempt) {
    engine_test::withBusyService([](const std::string&) { return [] {}; },
                                 engine_test::expectBusyThroughEveryAttempt);
}

}  // namespace
