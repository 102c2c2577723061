#include "tests/support/command_line_split.h"

namespace orvik_test {

std::optional<std::vector<std::string>> systemCommandLineArguments(const std::string&) { return std::nullopt; }

}  // namespace orvik_test
