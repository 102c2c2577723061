// Entry point of orvik_service on Linux.
#include <string>
#include <vector>

#include "service/service_main.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return service::runService(arguments);
}
