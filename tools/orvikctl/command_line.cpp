#include "tools/orvikctl/command_line.h"

#include <algorithm>
#include <string_view>

namespace orvikctl {
namespace {

const std::vector<CommandInfo> kCommands = {
    {"status", "", "show whether the service runs and the tunnel is up",
     "Asks the connection service once; a service that is not running is reported, not an error.", 0, 0,
     false},
    {"connect", "[NODE]", "start the tunnel (starts the service when it is not running)",
     "Registers this computer for the account's device limit, then asks the service to connect to\n"
     "NODE (a node name as 'account' lists it; without NODE the service takes the first node).\n"
     "When the service is not running it is started with administrator rights; it then keeps\n"
     "running after orvikctl ends, until 'shutdown'.",
     0, 1, false},
    {"disconnect", "", "stop the tunnel", "Asks the service to stop the tunnel; the service keeps running.", 0, 0,
     false},
    {"shutdown", "", "stop the tunnel and end the service",
     "Asks the service to stop the tunnel and end, and waits up to 2 s for it to go.", 0, 0, false},
    {"login", "EMAIL", "sign in",
     "The password is read from standard input when it is not a terminal (one line), otherwise\n"
     "asked for without echo. It is never taken from the command line.",
     1, 1, false},
    {"logout", "", "sign out", "Forgets the session of this runtime directory.", 0, 0, false},
    {"account", "", "show membership, expiry, devices and nodes",
     "Reads the signed-in account from the panel (or the local account file).", 0, 0, false},
    {"register", "[EMAIL] [--invite CODE]", "create an account and sign in",
     "Asks for what the panel's registration needs: the e-mail address (unless given), the password\n"
     "(twice at a terminal), an invite code when the panel requires one (unless given with\n"
     "--invite), and the code the panel e-mails when it verifies addresses. Without a terminal the\n"
     "answers are read from standard input, one per line, in that order.",
     0, 1, true},
    {"plans", "", "list the plans on sale",
     "Each row is one period of one plan; PLAN and PERIOD are what 'buy' takes.", 0, 0, false},
    {"buy", "PLAN_ID PERIOD", "order a plan and print the payment link",
     "PERIOD is the period key of 'plans' (for example month_price). Prints the order number and\n"
     "the payment page to open; a free plan is activated at once.",
     2, 2, false},
    {"order", "TRADE_NO", "show whether an order is paid", "TRADE_NO is the order number that 'buy' printed.", 1,
     1, false},
    {"help", "[COMMAND]", "show this overview or a command's help", "", 0, 1, false},
};

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// "--name VALUE" or "--name=VALUE"; advances `i` past a separate value.
bool optionValue(const std::vector<std::string>& args, size_t& i, std::string_view name, std::string& value,
                 std::string& error) {
    const std::string& word = args[i];
    if (word.size() > name.size() && word[name.size()] == '=') {
        value = word.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        error = "option " + std::string(name) + " needs a value";
        return false;
    }
    if (value.empty()) {
        error = "option " + std::string(name) + " needs a value";
        return false;
    }
    return true;
}

bool isOption(const std::string& word, std::string_view name) {
    return word == name || startsWith(word, std::string(name) + "=");
}

// Sorts the words into options and positional words; the first positional word is the command.
bool splitWords(const std::vector<std::string>& args, Invocation& invocation, std::vector<std::string>& words,
                bool& inviteSeen, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
            words.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--json") {
            invocation.json = true;
        } else if (word == "--help" || word == "-h") {
            invocation.help = true;
        } else if (isOption(word, "--runtime")) {
            if (!optionValue(args, i, "--runtime", invocation.runtimeDirectory, error)) return false;
        } else if (isOption(word, "--invite")) {
            if (!optionValue(args, i, "--invite", invocation.invite, error)) return false;
            inviteSeen = true;
        } else {
            error = "unknown option " + word;
            return false;
        }
    }
    return true;
}

}  // namespace

const std::vector<CommandInfo>& allCommands() { return kCommands; }

const CommandInfo* findCommand(const std::string& name) {
    for (const CommandInfo& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

bool parseCommandLine(const std::vector<std::string>& args, Invocation& invocation, std::string& error) {
    std::vector<std::string> words;
    bool inviteSeen = false;
    if (!splitWords(args, invocation, words, inviteSeen, error)) return false;
    if (words.empty()) {
        if (invocation.help) return true;
        error = "missing command";
        return false;
    }
    invocation.command = findCommand(words[0]);
    if (invocation.command == nullptr) {
        error = "unknown command " + words[0];
        return false;
    }
    invocation.arguments.assign(words.begin() + 1, words.end());
    if (inviteSeen && !invocation.command->takesInvite) {
        error = "option --invite is only for register";
        return false;
    }
    if (invocation.help) return true;  // help needs none of the arguments
    const int count = static_cast<int>(invocation.arguments.size());
    if (count > invocation.command->maxArguments) {
        error = "unexpected argument " + invocation.arguments[static_cast<size_t>(invocation.command->maxArguments)];
        return false;
    }
    if (count < invocation.command->minArguments) {
        const std::string wanted = invocation.command->arguments;
        error = "missing argument (" + wanted + ")";
        return false;
    }
    return true;
}

std::string synopsis(const CommandInfo& command) {
    std::string line = std::string("usage: orvikctl [--runtime DIR] [--json] ") + command.name;
    if (command.arguments[0] != '\0') line += std::string(" ") + command.arguments;
    return line;
}

std::string overviewText() {
    std::string text =
        "usage: orvikctl [--runtime DIR] [--json] COMMAND [ARGUMENTS]\n"
        "\n"
        "Velora from a terminal or a script: the connection service and the account.\n"
        "\n"
        "Options:\n"
        "  --runtime DIR  runtime directory (default: found like the client's)\n"
        "  --json         machine-readable JSON on standard output\n"
        "  --help         this overview; COMMAND --help for one command\n"
        "\n"
        "Commands:\n";
    for (const CommandInfo& command : kCommands) {
        std::string left = std::string(command.name);
        if (command.arguments[0] != '\0') left += std::string(" ") + command.arguments;
        left.resize(std::max<size_t>(left.size() + 2, 34), ' ');
        text += "  " + left + command.summary + "\n";
    }
    text += "\nExit status: 0 success, 1 failure, 2 wrong usage.\n";
    return text;
}

std::string commandHelpText(const CommandInfo& command) {
    std::string summary = command.summary;
    if (!summary.empty() && summary[0] >= 'a' && summary[0] <= 'z') summary[0] = static_cast<char>(summary[0] - 'a' + 'A');
    std::string text = synopsis(command) + "\n\n" + summary + ".\n";
    if (command.details[0] != '\0') text += "\n" + std::string(command.details) + "\n";
    return text;
}

}  // namespace orvikctl
