#pragma once
// orvikctl: the service and the account from a terminal or a script. The entry points only
// collect the arguments and the standard streams; everything else runs here, so that the
// tests drive the same code.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace orvikctl {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the service or the account back end said no
inline constexpr int kExitUsage = 2;   // wrong command line or missing input; nothing changed

struct Io {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    // Standard input is a terminal: answers are asked for with prompts.
    bool interactive = false;
    // Asks on the terminal (prompt on standard error); `echo` false hides what is typed.
    // False at the end of input. Used only when `interactive` is set.
    std::function<bool(const std::string& prompt, bool echo, std::string& line)> ask;
};

// Runs one command line (without the program name) and returns the exit code.
int runOrvikctl(const std::vector<std::string>& args, Io& io);

}  // namespace orvikctl
