#include <windows.h>

#include "tests/support/child_process.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace orvik_test {
std::string currentExecutablePath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    return vpn::narrow(path);
}

int runChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    const std::wstring application = vpn::widen(program);
    std::string line = vpn::quotedArgument(program);
    for (const std::string& argument : arguments) line += " " + vpn::quotedArgument(argument);
    std::wstring commandLine = vpn::widen(line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        code = static_cast<DWORD>(-1);
    } else if (!GetExitCodeProcess(process.hProcess, &code)) {
        code = static_cast<DWORD>(-1);
    }
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace orvik_test
