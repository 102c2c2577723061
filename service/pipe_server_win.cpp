// The service pipe on Windows: "\\.\pipe\OrvikService", byte mode, one instance per client,
// open for reading and writing data to every authenticated local user at low integrity and
// above, never to remote ones. Only Administrators and SYSTEM may add instances or change the
// pipe's security, and the pipe belongs to Administrators, which clients check. The first
// instance claims the name; from then on an instance of ours always listens, so the name is
// never free for another process to take. Transfers are overlapped so that a silent client
// can be given up after its time-out.
#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/pipe_caller_win.h"
#include "service/pipe_server.h"
#include "vpn/pipe_stream_win.h"
#include "vpn/text_win.h"

namespace service {
namespace {

// Authenticated users: generic read, FILE_WRITE_DATA and FILE_WRITE_ATTRIBUTES (0x12018B);
// never FILE_CREATE_PIPE_INSTANCE, WRITE_DAC or WRITE_OWNER.
constexpr const wchar_t* kPipeSddl = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12018B;;;AU)S:(ML;;NW;;;LW)";
// The clients being served and the instance listening for the next one.
constexpr DWORD kMaxInstances = kMaxConcurrentClients + 1;
constexpr DWORD kBufferSize = 4096;

// Counts the instances of ours that exist, listening or connected: while one does, the name
// is ours.
using InstanceCount = std::shared_ptr<std::atomic<int>>;

class PipeConnection : public vpn::OverlappedPipeStream {
public:
    enum class Wait { connected, woken, failed };

    PipeConnection(HANDLE pipe, InstanceCount instances) : OverlappedPipeStream(pipe), instances_(std::move(instances)) {
        ++*instances_;
    }
    ~PipeConnection() override {
        DisconnectNamedPipe(pipe());
        --*instances_;
    }
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    // Waits for a client to open this instance, or for `wake` to be set. After a failure the
    // instance is ready to wait again.
    Wait waitForClient(HANDLE wake) {
        if (!event()) return Wait::failed;
        OVERLAPPED overlapped{};
        overlapped.hEvent = event();
        if (ConnectNamedPipe(pipe(), &overlapped)) return Wait::connected;
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) return Wait::connected;
        if (error != ERROR_IO_PENDING) return reset();  // e.g. a client that came and went
        HANDLE events[2] = {event(), wake};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            // A client may have arrived as the wait ended.
            return cancel(overlapped) ? Wait::connected : Wait::woken;
        }
        DWORD ignored = 0;
        return GetOverlappedResult(pipe(), &overlapped, &ignored, FALSE) ? Wait::connected : reset();
    }

    // The user of the client that opened this instance.
    Caller caller() const { return pipeCaller(pipe()); }

    // FlushFileBuffers waits until the client has read everything; one that never reads is
    // cut off at the deadline, which ends the wait.
    bool flush() override {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!changed.wait_until(lock, deadline(), [&] { return done; })) DisconnectNamedPipe(pipe());
        });
        const BOOL flushed = FlushFileBuffers(pipe());
        const DWORD error = GetLastError();
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        changed.notify_all();
        watchdog.join();
        if (!flushed) setLastError(error);
        return flushed != 0;
    }

private:
    Wait reset() {
        DisconnectNamedPipe(pipe());
        return Wait::failed;
    }

    InstanceCount instances_;
};

class NamedPipeListener : public PipeListener {
public:
    explicit NamedPipeListener(const std::string& name)
        : name_(vpn::widen(name)),
          wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          instances_(std::make_shared<std::atomic<int>>(0)) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSddl, SDDL_REVISION_1, &descriptor_, nullptr))
            descriptor_ = nullptr;
    }
    ~NamedPipeListener() override {
        listening_.reset();
        if (descriptor_) LocalFree(descriptor_);
        if (wake_) CloseHandle(wake_);
    }
    NamedPipeListener(const NamedPipeListener&) = delete;
    NamedPipeListener& operator=(const NamedPipeListener&) = delete;

    Result accept(std::unique_ptr<ByteStream>& connection, Caller& caller) override {
        if (!wake_ || !descriptor_) return Result::pause;
        if (!listening_) {
            listening_ = createInstance(FILE_FLAG_FIRST_PIPE_INSTANCE);
            if (!listening_) return firstInstanceFailed(GetLastError());
        }
        switch (listening_->waitForClient(wake_)) {
            case PipeConnection::Wait::woken:
            case PipeConnection::Wait::failed:
                return Result::retry;
            case PipeConnection::Wait::connected:
                break;
        }
        // The next instance listens before this one is handed out, created while this one
        // still holds the name. When that fails, the next accept claims the name anew.
        std::unique_ptr<PipeConnection> next = createInstance(0);
        caller = listening_->caller();
        connection = std::move(listening_);
        listening_ = std::move(next);
        return Result::connected;
    }

    // Only the event: connecting to the pipe could reach another process's instance.
    void wake() override {
        if (wake_) SetEvent(wake_);
    }

private:
    std::unique_ptr<PipeConnection> createInstance(DWORD firstFlag) {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor_, FALSE};
        HANDLE pipe = CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | firstFlag,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                       kMaxInstances, kBufferSize, kBufferSize, 0, &attributes);
        if (pipe == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<PipeConnection>(pipe, instances_);
    }

    // With no instance of ours alive, a pipe that exists belongs to another process.
    Result firstInstanceFailed(DWORD error) const {
        const bool exists = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
        return exists && *instances_ == 0 ? Result::nameTaken : Result::pause;
    }

    std::wstring name_;
    HANDLE wake_;
    InstanceCount instances_;
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    std::unique_ptr<PipeConnection> listening_;  // touched only by accept() and the destructor
};

}  // namespace

std::unique_ptr<PipeListener> makePipeListener(const std::string& name) {
    return std::make_unique<NamedPipeListener>(name);
}

bool setCurrentDirectory(const std::string& directory) {
    return SetCurrentDirectoryW(vpn::widen(directory).c_str()) != 0;
}

}  // namespace service
