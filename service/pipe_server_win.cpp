// The service pipe on Windows: "\\.\pipe\OrvikService", byte mode, one instance per client,
// open to every authenticated local user at low integrity and above, never to remote ones.
// Transfers are overlapped so that a silent client can be given up after its time-out.
#include <windows.h>

#include <sddl.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/pipe_server.h"
#include "vpn/text_win.h"

namespace service {
namespace {

constexpr const wchar_t* kPipeSddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;AU)S:(ML;;NW;;;LW)";
constexpr DWORD kMaxInstances = 8;
constexpr DWORD kBufferSize = 4096;

using Clock = std::chrono::steady_clock;

class PipeConnection : public ByteStream {
public:
    explicit PipeConnection(HANDLE pipe) : pipe_(pipe), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~PipeConnection() override {
        DisconnectNamedPipe(pipe_);
        CloseHandle(pipe_);
        if (event_) CloseHandle(event_);
    }
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    // Waits for a client to open this instance, or for `wake` to be set.
    bool waitForClient(HANDLE wake) {
        if (!event_) return false;
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_;
        if (ConnectNamedPipe(pipe_, &overlapped)) return true;
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) return true;
        if (error != ERROR_IO_PENDING) return false;
        HANDLE events[2] = {event_, wake};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            cancel(overlapped);
            return false;
        }
        DWORD ignored = 0;
        return GetOverlappedResult(pipe_, &overlapped, &ignored, FALSE) != 0;
    }

    void setDeadline(int milliseconds) override { deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds); }

    size_t read(char* buffer, size_t size) override {
        return transfer(ERROR_HANDLE_EOF, [&](OVERLAPPED* overlapped, DWORD* count) {
            return ReadFile(pipe_, buffer, static_cast<DWORD>(size), count, overlapped);
        });
    }

    size_t write(const char* data, size_t size) override {
        return transfer(ERROR_WRITE_FAULT, [&](OVERLAPPED* overlapped, DWORD* count) {
            return WriteFile(pipe_, data, static_cast<DWORD>(size), count, overlapped);
        });
    }

    // FlushFileBuffers waits until the client has read everything; one that never reads is
    // cut off at the deadline, which ends the wait.
    bool flush() override {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!changed.wait_until(lock, deadline_, [&] { return done; })) DisconnectNamedPipe(pipe_);
        });
        const BOOL flushed = FlushFileBuffers(pipe_);
        const DWORD error = GetLastError();
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        changed.notify_all();
        watchdog.join();
        if (!flushed) lastError_ = error;
        return flushed != 0;
    }

    unsigned long lastError() const override { return lastError_; }

private:
    template <class Start>
    size_t transfer(DWORD zeroBytesError, Start start) {
        if (!event_) return fail(ERROR_INVALID_HANDLE);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_;
        DWORD count = 0;
        if (!start(&overlapped, &count)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) return fail(error);
            if (WaitForSingleObject(event_, millisecondsLeft()) != WAIT_OBJECT_0) {
                // Finished just in time after all, or cancelled.
                if (cancel(overlapped, &count) && count > 0) return count;
                return fail(ERROR_TIMEOUT);
            }
            if (!GetOverlappedResult(pipe_, &overlapped, &count, FALSE)) return fail(GetLastError());
        }
        if (count == 0) return fail(zeroBytesError);
        return count;
    }

    bool cancel(OVERLAPPED& overlapped, DWORD* count = nullptr) {
        DWORD ignored = 0;
        CancelIoEx(pipe_, &overlapped);
        return GetOverlappedResult(pipe_, &overlapped, count ? count : &ignored, TRUE) != 0;
    }

    DWORD millisecondsLeft() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    }

    size_t fail(DWORD error) {
        lastError_ = error;
        return 0;
    }

    HANDLE pipe_;
    HANDLE event_;
    Clock::time_point deadline_ = Clock::now();
    unsigned long lastError_ = 0;
};

class NamedPipeListener : public PipeListener {
public:
    explicit NamedPipeListener(const std::string& name)
        : name_(vpn::widen(name)), wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~NamedPipeListener() override {
        if (wake_) CloseHandle(wake_);
    }
    NamedPipeListener(const NamedPipeListener&) = delete;
    NamedPipeListener& operator=(const NamedPipeListener&) = delete;

    Result accept(std::unique_ptr<ByteStream>& connection) override {
        if (!wake_) return Result::pause;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSddl, SDDL_REVISION_1, &descriptor, nullptr))
            return Result::pause;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        HANDLE pipe = CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                       kMaxInstances, kBufferSize, kBufferSize, 0, &attributes);
        LocalFree(descriptor);
        if (pipe == INVALID_HANDLE_VALUE) return Result::pause;
        auto instance = std::make_unique<PipeConnection>(pipe);
        if (!instance->waitForClient(wake_)) return Result::retry;
        connection = std::move(instance);
        return Result::connected;
    }

    // The event ends a wait at once; the throw-away connection is the classic way to wake
    // a server blocked in ConnectNamedPipe.
    void wake() override {
        if (wake_) SetEvent(wake_);
        HANDLE client = CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
    }

private:
    std::wstring name_;
    HANDLE wake_;
};


}  // namespace

std::unique_ptr<PipeListener> makePipeListener(const std::string& name) {
    return std::make_unique<NamedPipeListener>(name);
}

bool setCurrentDirectory(const std::string& directory) {
    return SetCurrentDirectoryW(vpn::widen(directory).c_str()) != 0;
}

}  // namespace service
