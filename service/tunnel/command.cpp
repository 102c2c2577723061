// Rendering and checking of child process arguments, shared by both platforms.
#include "service/tunnel/command.h"

namespace tunnel {
namespace {

bool hasWhiteSpace(const std::string& text) {
    return text.find_first_of(" \t\r\n\v\f") != std::string::npos;
}

bool hasQuoteOrNul(const std::string& text) {
    return text.find('"') != std::string::npos || text.find('\0') != std::string::npos;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string rendered(const CommandArg& arg) {
    return arg.quoted ? arg.prefix + quoted(arg.text) : arg.prefix + arg.text;
}

// The text shown in a rejection: a NUL would cut the message short.
std::string printable(std::string text) {
    for (char& c : text) {
        if (c == '\0') c = '?';
    }
    return text;
}

}  // namespace

std::string plainArgument(const CommandArg& arg) { return arg.prefix + arg.text; }

std::string commandLine(const std::string& program, const CommandArgs& args, bool quoteProgram) {
    std::string line = quoteProgram || hasWhiteSpace(program) ? quoted(program) : program;
    for (const CommandArg& arg : args) line += " " + rendered(arg);
    return line;
}

bool checkCommand(const std::string& program, const CommandArgs& args, std::string& error) {
    if (program.empty() || hasQuoteOrNul(program)) {
        error = "command rejected (empty program, double quote or NUL): " + printable(program);
        return false;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const CommandArg& arg = args[i];
        const bool unsafe = hasQuoteOrNul(arg.prefix) || hasQuoteOrNul(arg.text) || hasWhiteSpace(arg.prefix) ||
                            (!arg.quoted && (plainArgument(arg).empty() || hasWhiteSpace(arg.text)));
        if (unsafe) {
            error = "command argument rejected (double quote, NUL or unquoted white space): " + printable(program) +
                    " argument " + std::to_string(i + 1) + ": " + printable(rendered(arg));
            return false;
        }
    }
    return true;
}

}  // namespace tunnel
