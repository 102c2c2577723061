// Standard input is the NUL device. Only the three standard handles are inherited
// (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), so pipes and files of the test stay out of the child.
// A process group of its own takes Ctrl+Break.
#include <windows.h>

#include "tests/support/service_process.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace orvik_test {
namespace {

HANDLE openInherited(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(vpn::widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
HANDLE createOutputFile(const std::string& path) { return openInherited(path, GENERIC_WRITE, CREATE_ALWAYS); }

void closeHandle(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

struct ServiceProcess::Impl {
    PROCESS_INFORMATION process{};
    std::optional<int> exitCode;
};

ServiceProcess::ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& outputPath)
    : impl_(std::make_unique<Impl>()), separateOutput_(outputPath.empty()) {
    HANDLE childInput = openInherited("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = createOutputFile(separateOutput_ ? files_.file("out") : outputPath);
    HANDLE err = separateOutput_ ? createOutputFile(files_.file("err")) : out;
    HANDLE handles[3] = {childInput, out, err};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributeBuffer(size, '\0');
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    const bool listed = InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
                        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                                  (separateOutput_ ? 3 : 2) * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childInput;
    startup.StartupInfo.hStdOutput = out;
    startup.StartupInfo.hStdError = err;
    startup.lpAttributeList = listed ? attributes : nullptr;
    std::wstring commandLine = vpn::widen(vpn::quotedArgument(program) + " " + vpn::joinCommandLine(arguments));
    const DWORD flags = CREATE_NEW_PROCESS_GROUP | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
    if (!CreateProcessW(vpn::widen(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        nullptr, &startup.StartupInfo, &impl_->process))
        impl_->process = {};
    if (listed) DeleteProcThreadAttributeList(attributes);
    closeHandle(childInput);
    if (separateOutput_) closeHandle(err);
    closeHandle(out);
}

ServiceProcess::~ServiceProcess() {
    kill();
    closeHandle(impl_->process.hThread);
    closeHandle(impl_->process.hProcess);
}

bool ServiceProcess::started() const { return impl_->process.hProcess != nullptr; }
long ServiceProcess::pid() const { return static_cast<long>(impl_->process.dwProcessId); }

std::optional<int> ServiceProcess::wait(int timeoutMs) {
    if (impl_->exitCode || !started()) return impl_->exitCode;
    if (WaitForSingleObject(impl_->process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(impl_->process.hProcess, &code);
    impl_->exitCode = static_cast<int>(code);
    return impl_->exitCode;
}

bool ServiceProcess::interrupt(int) {
    return started() && !impl_->exitCode && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, impl_->process.dwProcessId);
}

void ServiceProcess::kill() {
    if (!started() || impl_->exitCode) return;
    TerminateProcess(impl_->process.hProcess, 1);
    wait(5000);
}

std::string currentExecutablePath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return vpn::narrow(path);
}

bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace orvik_test
