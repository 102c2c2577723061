// Windows: while the service serves one client, one more instance waits for the next; with
// that one taken as well, every other open fails with ERROR_PIPE_BUSY.
#include "tests/engine/engine_test_doubles.h"
#include "tests/support/service_client.h"

std::function<void()> engine_test::occupyRemainingRoom(const std::string& pipe) {
    auto waiting = std::make_shared<orvik_test::ServiceClient>(pipe);
    return [waiting] { waiting->close(); };
}
