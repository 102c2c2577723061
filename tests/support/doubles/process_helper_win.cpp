// Windows parts of the process helper.
#include <windows.h>

#include "tests/support/doubles/process_helper.h"
#include "vpn/text_win.h"

namespace orvik_helper {

void crash() { ExitProcess(0xC0000005u); }

long startSleeper(const std::string&) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" sleep 600000";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info))
        return -1;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<long>(info.dwProcessId);
}

std::string openDescriptors() { return {}; }
std::string rawCommandLine(int, char**) { return vpn::narrow(GetCommandLineW()); }
long currentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

}  // namespace orvik_helper
