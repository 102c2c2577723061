#pragma once
// A console for a test (Windows only): ctest gives tests none, nor does wine without a
// terminal, so a test that needs one runs again in a pseudo console of its own.

#include <string>
#include <vector>

namespace orvik_test {

// Runs this program again with `arguments` (for example a --gtest_filter naming the current
// test) inside a new pseudo console, with the environment variable `marker` set to "1" so that
// the second instance knows where it runs. Its exit code; -1 when it could not be started or
// did not end within a minute.
int runSelfInPseudoConsole(const std::vector<std::string>& arguments, const std::string& marker);

}  // namespace orvik_test
