#pragma once
// orvikctl's command line: the commands it knows, their help texts, and the parse of one
// invocation into a command, its arguments and the options.

#include <string>
#include <vector>

namespace orvikctl {

struct CommandInfo {
    const char* name;
    const char* arguments;  // synopsis of the positional arguments and options ("EMAIL")
    const char* summary;    // one line for the overview
    const char* details;    // what --help adds below the synopsis
    int minArguments;
    int maxArguments;
    bool takesInvite;  // accepts --invite CODE
};

// Every command, in the order of the overview.
const std::vector<CommandInfo>& allCommands();
// The command called `name`, or null.
const CommandInfo* findCommand(const std::string& name);

struct Invocation {
    const CommandInfo* command = nullptr;  // null with `help`: the overview
    std::vector<std::string> arguments;
    std::string runtimeDirectory;  // --runtime; empty: resolved like the client's
    std::string invite;            // --invite
    bool json = false;
    bool help = false;
};

// False with a usage error text (the invocation is then incomplete). Options may stand
// before or after the command; "--" ends them.
bool parseCommandLine(const std::vector<std::string>& args, Invocation& invocation, std::string& error);

// The overview: synopsis, global options and every command with its summary.
std::string overviewText();
// One command's synopsis and details.
std::string commandHelpText(const CommandInfo& command);
// The one-line synopsis "usage: orvikctl [OPTIONS] NAME ARGS".
std::string synopsis(const CommandInfo& command);

}  // namespace orvikctl
