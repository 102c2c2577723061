#define NTDDI_VERSION 0x0A000006  // CreatePseudoConsole (Windows 10 1809)
#include "tests/support/pseudo_console_win.h"

#include <windows.h>

#include <thread>
#include <vector>

#include "tests/support/environment.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace orvik_test {
namespace {

constexpr DWORD kRunLimitMs = 60000;

// Starts `commandLine` with `console` as its console; its exit code, or -1.
int runAttached(HPCON console, std::wstring commandLine) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> list(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return -1;
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console, sizeof console, nullptr,
                              nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION process{};
    int code = -1;
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, EXTENDED_STARTUPINFO_PRESENT, nullptr,
                       nullptr, &startup.StartupInfo, &process)) {
        DWORD exitCode = 0;
        if (WaitForSingleObject(process.hProcess, kRunLimitMs) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &exitCode))
            code = static_cast<int>(exitCode);
        else
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteProcThreadAttributeList(attributes);
    return code;
}

}  // namespace

int runSelfInPseudoConsole(const std::vector<std::string>& arguments, const std::string& marker) {
    wchar_t self[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return -1;
    const std::string line = vpn::quotedArgument(vpn::narrow(self)) + " " + vpn::joinCommandLine(arguments);

    HANDLE inputRead = nullptr, inputWrite = nullptr, outputRead = nullptr, outputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, nullptr, 0)) return -1;
    if (!CreatePipe(&outputRead, &outputWrite, nullptr, 0)) {
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        return -1;
    }
    HPCON console = nullptr;
    int code = -1;
    if (SUCCEEDED(CreatePseudoConsole({80, 25}, inputRead, outputWrite, 0, &console))) {
        std::thread drain([outputRead] {  // the console blocks its clients once its output is full
            char buffer[4096];
            DWORD read = 0;
            while (ReadFile(outputRead, buffer, sizeof buffer, &read, nullptr) && read > 0) {
            }
        });
        {
            const ScopedEnvironment inside(marker, "1");
            code = runAttached(console, vpn::widen(line));
        }
        ClosePseudoConsole(console);
        CloseHandle(outputWrite);
        outputWrite = nullptr;
        drain.join();
    }
    for (const HANDLE handle : {inputRead, inputWrite, outputRead, outputWrite})
        if (handle) CloseHandle(handle);
    return code;
}

}  // namespace orvik_test
