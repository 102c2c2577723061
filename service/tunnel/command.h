#pragma once
// Arguments of a child process. Each platform renders them its own way: Windows joins them
// into one command line (a quoted argument stands between two double quotes, nothing escaped
// inside), Linux passes them as an argument vector. Never through a shell.
//
// One CommandArg is always one argument on both platforms. A word such as name="ALIAS"
// (netsh) is quotedArg("name=", alias): the prefix, then the quoted text, with no space in
// between; Linux passes it as name=ALIAS.

#include <string>
#include <vector>

namespace tunnel {

struct CommandArg {
    std::string text;
    bool quoted = false;  // paths and adapter names: quoted on a Windows command line
    std::string prefix;   // written before the quoted text, outside the quotes
};

using CommandArgs = std::vector<CommandArg>;

inline CommandArg word(std::string text) { return {std::move(text), false, {}}; }
inline CommandArg quotedArg(std::string text) { return {std::move(text), true, {}}; }
inline CommandArg quotedArg(std::string prefix, std::string text) {
    return {std::move(text), true, std::move(prefix)};
}

// The argument as one element of an argument vector (prefix and text, no quotes).
std::string plainArgument(const CommandArg& arg);

// The command line as Windows receives it and as error texts show it on both platforms:
// `program`, then each argument after one space. A quoted argument is its prefix followed by
// the text between double quotes. `quoteProgram` puts the program itself between quotes (a
// launched executable's path); otherwise it stands as given (a command found on the search
// path), and is quoted only when it holds white space.
std::string commandLine(const std::string& program, const CommandArgs& args, bool quoteProgram);

// Since nothing is escaped, an argument cannot be passed the same way on both platforms when it
// holds a double quote or NUL, or, unquoted, is empty or holds white space (Windows would split
// or drop it). False with a text naming the argument in that case; the caller starts nothing.
bool checkCommand(const std::string& program, const CommandArgs& args, std::string& error);

}  // namespace tunnel
