// The console on Windows: read as UTF-16 with ReadConsoleW (so any script survives), echo
// switched off with SetConsoleMode for hidden answers.
#include <windows.h>

#include <iostream>

#include "tools/orvikctl/terminal.h"
#include "vpn/text_win.h"

namespace orvikctl {
namespace {

// Clears ENABLE_ECHO_INPUT for its lifetime when `hide` is set.
class ConsoleEcho {
public:
    ConsoleEcho(HANDLE input, bool hide) : input_(input) {
        if (!hide || !GetConsoleMode(input_, &saved_)) return;
        active_ = SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    }
    ~ConsoleEcho() {
        if (active_) SetConsoleMode(input_, saved_);
    }
    ConsoleEcho(const ConsoleEcho&) = delete;
    ConsoleEcho& operator=(const ConsoleEcho&) = delete;
    bool active() const { return active_; }

private:
    HANDLE input_;
    DWORD saved_ = 0;
    bool active_ = false;
};

// One line from the console, without its line end; false at end of input (Ctrl+Z, Ctrl+C).
bool readConsoleLine(HANDLE input, std::wstring& line) {
    line.clear();
    for (;;) {
        wchar_t c = 0;
        DWORD read = 0;
        if (!ReadConsoleW(input, &c, 1, &read, nullptr) || read == 0) return false;
        if (c == L'\n') return true;
        if (c == L'\r') continue;
        if (c == 0x1A && line.empty()) return false;  // Ctrl+Z
        line += c;
    }
}

}  // namespace

bool standardInputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool askOnTerminal(const std::string& prompt, bool echo, std::string& line) {
    std::cerr << prompt << std::flush;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring wide;
    bool ok = false;
    {
        ConsoleEcho quiet(input, !echo);
        ok = readConsoleLine(input, wide);
    }
    if (!echo) std::cerr << "\n" << std::flush;  // the Enter key was not echoed either
    line = vpn::narrow(wide);
    return ok;
}

}  // namespace orvikctl
