#pragma once
// Arguments of a child process. Each platform renders them its own way: Windows joins them
// into one command line (a quoted argument stands between two double quotes, nothing escaped
// inside), Linux passes them as an argument vector. Never through a shell.

#include <string>
#include <vector>

namespace tunnel {

struct CommandArg {
    std::string text;
    bool quoted = false;  // paths and adapter names: quoted on a Windows command line
};

using CommandArgs = std::vector<CommandArg>;

inline CommandArg word(std::string text) { return {std::move(text), false}; }
inline CommandArg quotedArg(std::string text) { return {std::move(text), true}; }

}  // namespace tunnel
