#pragma once
// A console for a test (Windows only): ctest gives tests none, nor does wine without a
// terminal. Runs this program again with `arguments` (e.g. a --gtest_filter naming the
// current test) in a pseudo console of its own, with the variable `marker` set to "1" so the
// second instance knows where it runs. Its exit code; -1 when it did not run or end in a minute.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vpn/system.h"

namespace orvik_test {

int runSelfInPseudoConsole(const std::vector<std::string>& arguments, const std::string& marker);

// The console's output code page belongs to the whole console: checks that `run` (which
// starts a program) leaves it as it was, in a second instance of the current test inside a
// pseudo console.
inline void expectConsoleCodePageKept(const std::function<void()>& run) {
    constexpr UINT kChineseCodePage = 936;
    const char* marker = "ORVIK_TEST_INSIDE_CONSOLE";
    if (vpn::environmentVariable(marker)) {
        ASSERT_TRUE(SetConsoleOutputCP(kChineseCodePage)) << "no console";
        run();
        EXPECT_EQ(GetConsoleOutputCP(), kChineseCodePage);
        return;
    }
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    EXPECT_EQ(runSelfInPseudoConsole({"--gtest_filter=" + std::string(test.test_suite_name()) + "." + test.name()}, marker), 0);
}

}  // namespace orvik_test
