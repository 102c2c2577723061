// Windows: while the service serves one client, one more instance waits for the next; with
// that one taken as well, every other open fails with ERROR_PIPE_BUSY and waits on
// WaitNamedPipeW.
#include <memory>

#include "tests/engine/busy_pipe_test.h"

namespace {

TEST(BusyPipe, AServiceBusyWithAnotherClientIsBusyThroughEveryAttempt) {
    engine_test::withBusyService(
        [](const std::string& pipe) {
            auto waiting = std::make_shared<orvik_test::ServiceClient>(pipe);
            EXPECT_TRUE(waiting->connected());
            return [waiting] { waiting->close(); };
        },
        engine_test::expectBusyThroughEveryAttempt);
}

}  // namespace
