#include "tools/orvikctl/orvikctl.h"

#include <filesystem>
#include <map>
#include <ostream>
#include <system_error>

#include "tools/orvikctl/commands.h"
#include "vpn/runtime_directory.h"

namespace orvikctl {
namespace {

using Handler = int (*)(Context&, const Invocation&);

const std::map<std::string, Handler> kHandlers = {
    {"status", statusCommand},   {"connect", connectCommand}, {"disconnect", disconnectCommand},
    {"shutdown", shutdownCommand}, {"login", loginCommand},   {"logout", logoutCommand},
    {"account", accountCommand}, {"register", registerCommand}, {"plans", plansCommand},
    {"buy", buyCommand},         {"order", orderCommand},
};

bool isDirectory(const std::string& path) {
    std::error_code error;
    const std::u8string utf8(path.begin(), path.end());
    return std::filesystem::is_directory(std::filesystem::path(utf8), error);
}

// "dir/" and "dir\" as "dir" (a trailing backslash would escape the closing quote of the
// service's command line); a root such as "/" or "C:\" stays as it is.
std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') && path[path.size() - 2] != ':')
        path.pop_back();
    return path;
}

int usageError(Io& io, const std::string& text, const Invocation& invocation) {
    io.err << "orvikctl: " << text << "\n";
    io.err << (invocation.command != nullptr ? synopsis(*invocation.command)
                                             : std::string("usage: orvikctl [--runtime DIR] [--json] COMMAND [ARGUMENTS]"))
           << "\nTry 'orvikctl --help'.\n"
           << std::flush;
    return kExitUsage;
}

// "help [COMMAND]", "--help" and "COMMAND --help".
int showHelp(Io& io, const Invocation& invocation) {
    const CommandInfo* topic = invocation.command;
    if (topic != nullptr && std::string(topic->name) == "help") {
        topic = nullptr;
        if (!invocation.arguments.empty()) {
            topic = findCommand(invocation.arguments[0]);
            if (topic == nullptr) return usageError(io, "unknown command " + invocation.arguments[0], invocation);
        }
    }
    io.out << (topic != nullptr ? commandHelpText(*topic) : overviewText()) << std::flush;
    return kExitOk;
}

}  // namespace

int runOrvikctl(const std::vector<std::string>& args, Io& io) {
    Invocation invocation;
    std::string error;
    if (!parseCommandLine(args, invocation, error)) return usageError(io, error, invocation);
    if (invocation.help || invocation.command == nullptr || std::string(invocation.command->name) == "help")
        return showHelp(io, invocation);
    std::string runtime = withoutTrailingSeparators(invocation.runtimeDirectory);
    if (runtime.empty()) {
        runtime = vpn::resolveRuntimeDirectory();
    } else if (!isDirectory(runtime)) {
        return usageError(io, "runtime directory " + runtime + " does not exist", invocation);
    }
    Context context(io, runtime, invocation.json);
    return kHandlers.at(invocation.command->name)(context, invocation);
}

}  // namespace orvikctl
