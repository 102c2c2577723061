#include <windows.h>
#include <shellapi.h>

#include "tests/support/command_line_split.h"
#include "vpn/text_win.h"

namespace orvik_test {

std::optional<std::vector<std::string>> systemCommandLineArguments(const std::string& line) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(vpn::widen(line).c_str(), &count);
    if (!arguments) return std::nullopt;
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(vpn::narrow(arguments[i]));
    LocalFree(arguments);
    return out;
}

}  // namespace orvik_test
