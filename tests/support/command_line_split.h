#pragma once
// The system's own reading of a Windows command line, to check what the product writes.

#include <optional>
#include <string>
#include <vector>

namespace orvik_test {

// The arguments CommandLineToArgvW finds in `line` (UTF-8), the program name included;
// nothing where the system has no such reader (Linux).
std::optional<std::vector<std::string>> systemCommandLineArguments(const std::string& line);

}  // namespace orvik_test
