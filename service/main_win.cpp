// Entry point of orvik_service.exe on Windows: the arguments as UTF-8.
#include <windows.h>

#include <string>
#include <vector>

#include "service/service_main.h"
#include "vpn/text_win.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(vpn::narrow(argv[i]));
    return service::runService(arguments);
}
