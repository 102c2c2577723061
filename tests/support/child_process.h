#pragma once
// Running a program to completion from a test, and finding the running test program, so a
// test can copy itself into a prepared directory and run there.

#include <string>
#include <vector>

namespace orvik_test {

// Full path of the running executable.
std::string currentExecutablePath();

// Runs `program` with `arguments` (the environment is inherited), waits up to a minute and
// returns its exit code; -1 when it cannot be started or does not finish.
int runChildProcess(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace orvik_test
