// Entry point of orvikctl on Linux.
#include <iostream>
#include <string>
#include <vector>

#include "tools/orvikctl/orvikctl.h"
#include "tools/orvikctl/terminal.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    orvikctl::Io io{std::cin, std::cout, std::cerr, orvikctl::standardInputIsTerminal(), orvikctl::askOnTerminal};
    return orvikctl::runOrvikctl(arguments, io);
}
