// Entry point of orvikctl.exe on Windows: the arguments as UTF-8, console output as UTF-8 for
// as long as the program runs.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/orvikctl/orvikctl.h"
#include "tools/orvikctl/terminal.h"
#include "vpn/text_win.h"

namespace {

// The code page the console had before; 0 when there was nothing to put back.
std::atomic<UINT> savedOutputCodePage{0};

void restoreOutputCodePage() {
    const UINT saved = savedOutputCodePage.exchange(0);
    if (saved != 0) SetConsoleOutputCP(saved);
}

// Ctrl+C and closing the window end the process without unwinding: put the code page back
// first, then let the default handling end the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    restoreOutputCodePage();
    return FALSE;
}

// The output code page belongs to the whole console, shared with the shell and every program
// after this one: switched to UTF-8 for orvikctl's lifetime, then put back as it was.
class Utf8ConsoleOutput {
public:
    Utf8ConsoleOutput() {
        const UINT previous = GetConsoleOutputCP();
        if (previous == 0 || previous == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
        savedOutputCodePage = previous;
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    }
    ~Utf8ConsoleOutput() {
        // What is still buffered was written as UTF-8 and must reach the console as such.
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        restoreOutputCodePage();
        SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    }
    Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
    Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Utf8ConsoleOutput utf8;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(vpn::narrow(argv[i]));
    orvikctl::Io io{std::cin, std::cout, std::cerr, orvikctl::standardInputIsTerminal(), orvikctl::askOnTerminal};
    return orvikctl::runOrvikctl(arguments, io);
}
