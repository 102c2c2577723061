// Starting the service elevated on Windows: ShellExecuteExW with the verb "runas", which
// shows the elevation prompt. The client neither waits for nor keeps the process.
#include <windows.h>
#include <shellapi.h>

#include "app/engine/service_launcher.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace engine {
namespace {

class RunAsLauncher : public ServiceLauncher {
public:
    Outcome launch(const LaunchCommand& command, unsigned long& errorCode) override {
        const std::wstring file = vpn::widen(command.executable);
        // Quoted here from the argument vector, so that no caller's hand-made line can let a
        // directory ending in a backslash swallow the arguments after it.
        const std::wstring parameters = vpn::widen(vpn::joinCommandLine(command.arguments));
        const std::wstring directory = vpn::widen(command.workingDirectory);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"runas";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.c_str();
        info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
        info.nShow = SW_HIDE;
        if (!ShellExecuteExW(&info)) {
            const DWORD error = GetLastError();
            if (error == ERROR_CANCELLED) return Outcome::declined;
            errorCode = error;
            return Outcome::failed;
        }
        if (info.hProcess) CloseHandle(info.hProcess);
        return Outcome::started;
    }

    // Everything is known at launch.
    Outcome poll(unsigned long&) override { return Outcome::started; }
};

}  // namespace

std::shared_ptr<ServiceLauncher> makePlatformServiceLauncher() { return std::make_shared<RunAsLauncher>(); }

const char* serviceExecutableName() { return "orvik_service.exe"; }

unsigned long currentProcessId() { return GetCurrentProcessId(); }

}  // namespace engine
