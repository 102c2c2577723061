// The terminal on Linux: echo is switched off with termios for hidden answers.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "tools/orvikctl/terminal.h"

namespace orvikctl {
namespace {

// Turns echo off for its lifetime (and back on, also when reading fails).
class EchoOff {
public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace

bool standardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool askOnTerminal(const std::string& prompt, bool echo, std::string& line) {
    std::cerr << prompt << std::flush;
    line.clear();
    if (echo) return static_cast<bool>(std::getline(std::cin, line));
    EchoOff quiet;
    return static_cast<bool>(std::getline(std::cin, line));
}

}  // namespace orvikctl
