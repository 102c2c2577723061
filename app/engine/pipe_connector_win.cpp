// The service pipe from the client side: "\\.\pipe\OrvikService" opened for reading and
// writing in byte mode, with blocking transfers (the service answers once the op is done).
#include <windows.h>

#include "app/engine/pipe_connector.h"
#include "vpn/text_win.h"

namespace engine {
namespace {

constexpr DWORD kWriteFault = ERROR_WRITE_FAULT;  // a transfer of 0 bytes

class PipeStream : public vpn::ByteStream {
public:
    explicit PipeStream(HANDLE pipe) : pipe_(pipe) {}
    ~PipeStream() override { CloseHandle(pipe_); }
    PipeStream(const PipeStream&) = delete;
    PipeStream& operator=(const PipeStream&) = delete;

    // Blocking handle: a transfer waits as long as the service takes.
    void setDeadline(int) override {}

    size_t read(char* buffer, size_t size) override {
        DWORD count = 0;
        if (!ReadFile(pipe_, buffer, static_cast<DWORD>(size), &count, nullptr)) return fail(GetLastError());
        return count > 0 ? count : fail(ERROR_HANDLE_EOF);
    }

    size_t write(const char* data, size_t size) override {
        DWORD count = 0;
        if (!WriteFile(pipe_, data, static_cast<DWORD>(size), &count, nullptr)) return fail(GetLastError());
        return count > 0 ? count : fail(kWriteFault);
    }

    bool flush() override {
        if (FlushFileBuffers(pipe_)) return true;
        lastError_ = GetLastError();
        return false;
    }

    unsigned long lastError() const override { return lastError_; }

private:
    size_t fail(DWORD error) {
        lastError_ = error;
        return 0;
    }

    HANDLE pipe_;
    unsigned long lastError_ = 0;
};

class NamedPipeConnector : public PipeConnector {
public:
    Status open(const std::string& name, std::unique_ptr<vpn::ByteStream>& connection,
                unsigned long& errorCode) override {
        HANDLE pipe = CreateFileW(vpn::widen(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_BUSY) return Status::busy;
            if (error == ERROR_FILE_NOT_FOUND) return Status::notFound;
            errorCode = error;
            return Status::failed;
        }
        DWORD mode = PIPE_READMODE_BYTE;
        SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
        connection = std::make_unique<PipeStream>(pipe);
        return Status::opened;
    }

    void waitWhileBusy(const std::string& name, int milliseconds) override {
        WaitNamedPipeW(vpn::widen(name).c_str(), static_cast<DWORD>(milliseconds));
    }

    unsigned long currentErrorCode() const override { return GetLastError(); }
};

}  // namespace

std::shared_ptr<PipeConnector> makePlatformPipeConnector() { return std::make_shared<NamedPipeConnector>(); }

}  // namespace engine
