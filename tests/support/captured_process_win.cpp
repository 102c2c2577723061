// The program's standard input is an anonymous pipe; its output goes to files. Only the
// three standard handles are inherited (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), so sockets and
// files of the test stay out of the child.
#include <windows.h>

#include <optional>

#include "tests/support/captured_process.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace orvik_test {
namespace {

HANDLE createOutputFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(vpn::widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void closeHandle(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

struct CapturedProcess::Impl {
    HANDLE process = nullptr;
    HANDLE input = nullptr;
    std::optional<int> exitCode;
};

CapturedProcess::CapturedProcess(const std::string& program, const std::vector<std::string>& arguments)
    : impl_(new Impl) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr;
    if (!CreatePipe(&childInput, &impl_->input, &inherit, 0)) return;
    SetHandleInformation(impl_->input, HANDLE_FLAG_INHERIT, 0);
    HANDLE out = createOutputFile(files_.file("out"));
    HANDLE err = createOutputFile(files_.file("err"));
    HANDLE handles[3] = {childInput, out, err};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributeBuffer(size, '\0');
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    const bool listed = InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
                        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                                  sizeof handles, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childInput;
    startup.StartupInfo.hStdOutput = out;
    startup.StartupInfo.hStdError = err;
    startup.lpAttributeList = listed ? attributes : nullptr;
    const std::wstring application = vpn::widen(program);
    std::string line = vpn::quotedArgument(program);
    for (const std::string& argument : arguments) line += " " + vpn::quotedArgument(argument);
    std::wstring commandLine = vpn::widen(line);
    PROCESS_INFORMATION process{};
    const DWORD flags = listed ? EXTENDED_STARTUPINFO_PRESENT : 0;
    if (CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                       &startup.StartupInfo, &process)) {
        CloseHandle(process.hThread);
        impl_->process = process.hProcess;
    }
    if (listed) DeleteProcThreadAttributeList(attributes);
    closeHandle(childInput);
    closeHandle(out);
    closeHandle(err);
}

CapturedProcess::~CapturedProcess() {
    if (impl_->process != nullptr && !impl_->exitCode) {
        TerminateProcess(impl_->process, 1);
        WaitForSingleObject(impl_->process, 5000);
    }
    closeHandle(impl_->process);
    closeInput();
    delete impl_;
}

bool CapturedProcess::started() const { return impl_->process != nullptr; }

bool CapturedProcess::write(const std::string& bytes) {
    size_t done = 0;
    while (impl_->input != nullptr && done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(impl_->input, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return impl_->input != nullptr;
}

void CapturedProcess::closeInput() { closeHandle(impl_->input); }

CapturedRun CapturedProcess::finish(int timeoutMs) {
    closeInput();
    CapturedRun run;
    if (impl_->process == nullptr) return run;
    if (!impl_->exitCode) {
        DWORD code = 0;
        if (WaitForSingleObject(impl_->process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
            TerminateProcess(impl_->process, 1);
            WaitForSingleObject(impl_->process, 5000);
            impl_->exitCode = -1;
        } else {
            impl_->exitCode = GetExitCodeProcess(impl_->process, &code) ? static_cast<int>(code) : -1;
        }
    }
    run.exitCode = *impl_->exitCode;
    run.out = withoutCarriageReturns(files_.read("out"));
    run.err = withoutCarriageReturns(files_.read("err"));
    return run;
}

}  // namespace orvik_test
