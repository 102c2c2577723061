#include <windows.h>

#include "tests/support/service_process.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace orvik_test {
struct ServiceProcess::Impl {
    PROCESS_INFORMATION process{};
    std::optional<int> exitCode;
};

ServiceProcess::ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& outputPath)
    : impl_(new Impl) {
    const std::wstring application = vpn::widen(program);
    std::string line = vpn::quotedArgument(program);
    for (const std::string& argument : arguments) line += " " + vpn::quotedArgument(argument);
    std::wstring commandLine = vpn::widen(line);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(vpn::widen(outputPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                        nullptr, nullptr, &startup, &impl_->process)) {
        impl_->process = {};
    }
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
}

ServiceProcess::~ServiceProcess() {
    kill();
    if (impl_->process.hThread) CloseHandle(impl_->process.hThread);
    if (impl_->process.hProcess) CloseHandle(impl_->process.hProcess);
    delete impl_;
}

bool ServiceProcess::started() const { return impl_->process.hProcess != nullptr; }
long ServiceProcess::pid() const { return static_cast<long>(impl_->process.dwProcessId); }

std::optional<int> ServiceProcess::wait(int timeoutMs) {
    if (impl_->exitCode || !started()) return impl_->exitCode;
    if (WaitForSingleObject(impl_->process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(impl_->process.hProcess, &code);
    impl_->exitCode = static_cast<int>(code);
    return impl_->exitCode;
}

bool ServiceProcess::interrupt() {
    return started() && !impl_->exitCode && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, impl_->process.dwProcessId);
}

void ServiceProcess::kill() {
    if (!started() || impl_->exitCode) return;
    TerminateProcess(impl_->process.hProcess, 1);
    wait(5000);
}

bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace orvik_test
