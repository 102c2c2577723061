// orvikctl switches the console's output code page to UTF-8: the console has its own back
// once orvikctl has ended.
#include "tests/support/pseudo_console_win.h"
#include "tests/tools/orvikctl_fixture.h"

namespace {

using orvik_test::OrvikctlTest;

TEST_F(OrvikctlTest, ConsoleHasItsCodePageBackAfterARun) {
    orvik_test::expectConsoleCodePageKept([&] {
        orvik_test::runCaptured(ORVIKCTL_EXE, {"--runtime", runtime.path(), "status"});  // no service answers
    });
}

}  // namespace
