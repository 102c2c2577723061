// orvikctl switches the console's output code page to UTF-8 and gives it back when it ends.
#include "tests/support/environment.h"
#include "tests/support/pseudo_console_win.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"

namespace {

TEST(OrvikctlConsole, HasItsCodePageBackAfterARun) {
    orvik_test::TempDir runtime;
    const orvik_test::ScopedEnvironment pipe("ORVIK_PIPE", orvik_test::uniquePipeName(runtime.path()));
    orvik_test::expectConsoleCodePageKept([&] {
        orvik_test::runCaptured(ORVIKCTL_EXE, {"--runtime", runtime.path(), "status"});  // no service answers
    });
}

}  // namespace
