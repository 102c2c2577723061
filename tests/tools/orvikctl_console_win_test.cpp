// orvikctl and the console it runs in: the output code page it switches to UTF-8 belongs to
// the whole console, so the console has its own back once orvikctl has ended. The check runs
// in a second instance of this program inside a pseudo console (ctest gives tests none).
#include <windows.h>

#include <string>

#include "tests/support/pseudo_console_win.h"
#include "tests/tools/orvikctl_fixture.h"
#include "vpn/system.h"

namespace {

using orvik_test::OrvikctlTest;

constexpr UINT kChineseCodePage = 936;
constexpr const char* kInsideConsole = "ORVIK_TEST_INSIDE_CONSOLE";

TEST_F(OrvikctlTest, ConsoleHasItsCodePageBackAfterARun) {
    if (vpn::environmentVariable(kInsideConsole)) {
        ASSERT_TRUE(SetConsoleOutputCP(kChineseCodePage)) << "no console";
        run({"status"});  // ends early: no service answers
        EXPECT_EQ(GetConsoleOutputCP(), kChineseCodePage);
        return;
    }
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(test.test_suite_name()) + "." + test.name();
    EXPECT_EQ(orvik_test::runSelfInPseudoConsole({"--gtest_filter=" + filter}, kInsideConsole), 0);
}

}  // namespace
