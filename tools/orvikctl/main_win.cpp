// Entry point of orvikctl.exe on Windows: the arguments as UTF-8, console output as UTF-8.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/orvikctl/orvikctl.h"
#include "tools/orvikctl/terminal.h"
#include "vpn/text_win.h"

int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(vpn::narrow(argv[i]));
    orvikctl::Io io{std::cin, std::cout, std::cerr, orvikctl::standardInputIsTerminal(), orvikctl::askOnTerminal};
    return orvikctl::runOrvikctl(arguments, io);
}
