#define NTDDI_VERSION 0x0A000006  // CreatePseudoConsole (Windows 10 1809)
#include <string>
#include <vector>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <thread>

#include "tests/support/environment.h"
#include "tests/support/service_process.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace orvik_test {
namespace {

// The conhost.exe processes this process started.
std::vector<DWORD> ownConsoleHosts() {
    std::vector<DWORD> found;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const bool ours = entry.th32ParentProcessID == GetCurrentProcessId();
        if (ours && lstrcmpiW(entry.szExeFile, L"conhost.exe") == 0) found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

// wine's host of a pseudo console can outlive ClosePseudoConsole, holding the handles it
// inherited (ctest's output pipe among them, so ctest waits for it): the hosts started since
// `before` get a moment to end, then are ended.
void endConsoleHosts(const std::vector<DWORD>& before) {
    for (const DWORD pid : ownConsoleHosts()) {
        if (std::find(before.begin(), before.end(), pid) != before.end()) continue;
        const HANDLE host = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        if (host == nullptr) continue;
        if (WaitForSingleObject(host, 2000) == WAIT_TIMEOUT) TerminateProcess(host, 1);
        CloseHandle(host);
    }
}

}  // namespace

int runSelfInPseudoConsole(const std::vector<std::string>& arguments, const std::string& marker) {
    std::wstring line = vpn::widen(vpn::quotedArgument(currentExecutablePath()) + " " + vpn::joinCommandLine(arguments));
    HANDLE inputRead = nullptr, inputWrite = nullptr, outputRead = nullptr, outputWrite = nullptr;
    HPCON console = nullptr;
    const std::vector<DWORD> hosts = ownConsoleHosts();
    CreatePipe(&inputRead, &inputWrite, nullptr, 0);
    CreatePipe(&outputRead, &outputWrite, nullptr, 0);
    if (FAILED(CreatePseudoConsole({80, 25}, inputRead, outputWrite, 0, &console))) return -1;
    std::thread drain([outputRead] {  // the console blocks its clients once its output is full
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(outputRead, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        }
    });
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string list(size, '\0');
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console, sizeof console, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION process{};
    DWORD code = static_cast<DWORD>(-1);
    const ScopedEnvironment inside(marker, "1");
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                       &startup.StartupInfo, &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, code);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteProcThreadAttributeList(attributes);
    ClosePseudoConsole(console);
    endConsoleHosts(hosts);
    CloseHandle(outputWrite);
    drain.join();
    for (const HANDLE handle : {inputRead, inputWrite, outputRead}) CloseHandle(handle);
    return static_cast<int>(code);
}

}  // namespace orvik_test
