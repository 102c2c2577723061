// Prints the systemd unit of the installed service, the same text that "orvik_service
// --install" writes, so that the package ships exactly that unit.
//   orvik_unit_file --name                  the unit's file name
//   orvik_unit_file EXECUTABLE RUNTIME_DIR  the unit's text
#include <cstdio>
#include <string>

#include "service/systemd_unit_linux.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--name") {
        std::printf("%s\n", service::kUnitName);
        return 0;
    }
    if (argc != 3) {
        std::fputs("usage: orvik_unit_file --name | EXECUTABLE RUNTIME_DIR\n", stderr);
        return 2;
    }
    std::string line, error;
    if (!service::unitCommandLine(argv[1], argv[2], line, error)) {
        std::fprintf(stderr, "orvik_unit_file: %s\n", error.c_str());
        return 1;
    }
    std::fputs(service::unitText(line).c_str(), stdout);
    return 0;
}
