#include "vpn/command_line_quote.h"

namespace vpn {

std::string quotedArgument(const std::string& argument) {
    std::string out = "\"";
    size_t backslashes = 0;  // pending, written once we know what follows them
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

std::string commandLineArgument(const std::string& argument) {
    const bool plain = !argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos;
    return plain ? argument : quotedArgument(argument);
}

std::string joinCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (&argument != &arguments.front()) line += ' ';
        line += commandLineArgument(argument);
    }
    return line;
}

}  // namespace vpn
