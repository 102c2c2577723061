// The process runner on Windows: CreateProcessW, a job object with kill-on-close, and the
// toolhelp snapshot for stray processes.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <functional>
#include <iterator>
#include <mutex>
#include <vector>

#include "service/tunnel/process_runner.h"
#include "service/tunnel/token_user_win.h"
#include "vpn/text_win.h"

namespace tunnel {
namespace {

static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == 144, "the limit block the job is given");

// How long a command killed at its time-out gets to be gone.
constexpr DWORD kKilledCommandWaitMs = 1000;

DWORD waitTime(int milliseconds) { return milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds); }

void closeHandles(const PROCESS_INFORMATION& info) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

// A wait on a process handle in the system's thread pool.
class HandleWatch final : public ExitWatch {
public:
    HandleWatch(HANDLE process, std::function<void()> exited) : exited_(std::move(exited)) {
        if (!RegisterWaitForSingleObject(&wait_, process, &HandleWatch::fired, this, INFINITE, WT_EXECUTEONLYONCE))
            wait_ = nullptr;
    }
    ~HandleWatch() override {
        if (wait_) UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);  // waits for a callback in progress
    }
    HandleWatch(const HandleWatch&) = delete;
    HandleWatch& operator=(const HandleWatch&) = delete;

private:
    static void CALLBACK fired(void* self, BOOLEAN) { static_cast<HandleWatch*>(self)->exited_(); }

    std::function<void()> exited_;
    HANDLE wait_ = nullptr;
};

// Process and thread handle of a launched process; released with the object.
class WinChild final : public ChildProcess {
public:
    explicit WinChild(const PROCESS_INFORMATION& info) : info_(info) {}
    ~WinChild() override { closeHandles(info_); }
    WinChild(const WinChild&) = delete;
    WinChild& operator=(const WinChild&) = delete;

    bool isRunning() override { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

    std::unique_ptr<ExitWatch> watchExit(std::function<void()> exited) override {
        return std::make_unique<HandleWatch>(info_.hProcess, std::move(exited));
    }

    void terminate(int waitMs) override {
        if (!isRunning()) return;
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, waitTime(waitMs));
    }

private:
    PROCESS_INFORMATION info_;
};

class WinJob final : public Job {
public:
    explicit WinJob(HANDLE job) : job_(job) {}
    ~WinJob() override { close(); }
    WinJob(const WinJob&) = delete;
    WinJob& operator=(const WinJob&) = delete;

    // Created suspended and resumed only once inside the job, so it cannot start a child of
    // its own outside the job.
    std::unique_ptr<ChildProcess> launch(const std::string& executable, const CommandArgs& args,
                                         const std::string& workingDirectory, std::string& error) override {
        if (!checkCommand(executable, args, error)) return nullptr;
        std::lock_guard lock(mutex_);
        if (job_ == nullptr) {
            error = "job is closed";
            return nullptr;
        }
        const std::wstring application = vpn::widen(executable);
        std::wstring line = vpn::widen(commandLine(executable, args, true));
        const std::wstring directory = vpn::widen(workingDirectory);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE,
                            CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                            directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
            error = "CreateProcess failed for " + executable + " err=" + std::to_string(GetLastError());
            return nullptr;
        }
        if (!AssignProcessToJobObject(job_, info.hProcess)) return abandon(info, "AssignProcessToJobObject failed", error);
        if (ResumeThread(info.hThread) == static_cast<DWORD>(-1)) return abandon(info, "ResumeThread failed", error);
        return std::make_unique<WinChild>(info);
    }

    // Closing the last handle ends every process in the job.
    void close() override {
        std::lock_guard lock(mutex_);
        if (job_ == nullptr) return;
        CloseHandle(job_);
        job_ = nullptr;
    }

private:
    static std::unique_ptr<ChildProcess> abandon(const PROCESS_INFORMATION& info, const char* text,
                                                 std::string& error) {
        TerminateProcess(info.hProcess, 1);
        closeHandles(info);
        error = text;
        return nullptr;
    }

    std::mutex mutex_;
    HANDLE job_;
};

std::wstring lowered(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The user of a process's token, as a copy; empty when it cannot be read.
std::vector<BYTE> tokenUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    std::vector<BYTE> user = tokenUserSid(token);
    CloseHandle(token);
    return user;
}

std::wstring imagePath(HANDLE process) {
    wchar_t path[MAX_PATH * 4];
    DWORD size = static_cast<DWORD>(std::size(path));
    return QueryFullProcessImageNameW(process, 0, path, &size) ? lowered(std::wstring(path, size)) : std::wstring();
}

// Terminates every other process that runs one of `files` (lower case, full paths) as the
// user this process runs as, with exit code 0, and waits for them to be gone (they hold the
// adapter until then). Processes that cannot be opened or read are skipped.
void terminateWhere(const std::vector<std::wstring>& files) {
    const std::vector<BYTE> self = tokenUser(GetCurrentProcess());
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (self.empty() || snapshot == INVALID_HANDLE_VALUE) return;
    const DWORD selfId = GetCurrentProcessId();
    std::vector<HANDLE> killed;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == selfId) continue;
        const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                           entry.th32ProcessID);
        if (process == nullptr) continue;
        // Checked on the open handle: the process cannot change into another meanwhile.
        const bool ours = std::find(files.begin(), files.end(), imagePath(process)) != files.end() &&
                          tokenUser(process) == self;
        if (ours && TerminateProcess(process, 0))
            killed.push_back(process);
        else
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    const ULONGLONG deadline = GetTickCount64() + kStrayExitWaitMs;
    for (const HANDLE process : killed) {
        const ULONGLONG now = GetTickCount64();
        WaitForSingleObject(process, now < deadline ? static_cast<DWORD>(deadline - now) : 0);
        CloseHandle(process);
    }
}

class WinProcessRunner final : public ProcessRunner {
public:
    bool runCommand(const std::string& program, const CommandArgs& args, int timeoutMs,
                    std::string& error) override {
        if (!checkCommand(program, args, error)) return false;
        const std::string line = commandLine(program, args, false);
        std::wstring wideLine = vpn::widen(line);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, wideLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &info)) {
            error = "CreateProcess failed for: " + line + " err=" + std::to_string(GetLastError());
            return false;
        }
        if (WaitForSingleObject(info.hProcess, waitTime(timeoutMs)) != WAIT_OBJECT_0) {
            TerminateProcess(info.hProcess, 1);
            WaitForSingleObject(info.hProcess, kKilledCommandWaitMs);
            closeHandles(info);
            error = "command timed out: " + line;
            return false;
        }
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        closeHandles(info);
        if (code == 0) return true;
        error = "command exit " + std::to_string(code) + ": " + line;
        return false;
    }

    std::unique_ptr<Job> createJob(std::string& error) override {
        const HANDLE job = CreateJobObjectW(nullptr, nullptr);
        if (job == nullptr) {
            error = "CreateJobObject failed";
            return nullptr;
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(job);
            error = "SetInformationJobObject failed";
            return nullptr;
        }
        return std::make_unique<WinJob>(job);
    }

    void terminateStrays(const std::vector<std::string>& executables) override {
        std::vector<std::wstring> files;
        for (const std::string& executable : executables) {
            wchar_t full[MAX_PATH * 4];
            const DWORD length = GetFullPathNameW(vpn::widen(executable).c_str(), static_cast<DWORD>(std::size(full)),
                                                  full, nullptr);
            if (length > 0 && length < std::size(full)) files.push_back(lowered(std::wstring(full, length)));
        }
        if (!files.empty()) terminateWhere(files);
    }
};

}  // namespace

std::unique_ptr<ProcessRunner> makeProcessRunner() { return std::make_unique<WinProcessRunner>(); }

}  // namespace tunnel
