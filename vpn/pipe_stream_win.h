#pragma once
// A byte stream over an overlapped named-pipe handle, shared by both ends of the service pipe:
// every transfer ends at the deadline the caller set, so that neither end can be held for ever
// by the other.
#include <windows.h>

#include <chrono>

#include "vpn/ipc_frame.h"

namespace vpn {

class OverlappedPipeStream : public ByteStream {
public:
    // Takes `pipe` (opened or created with FILE_FLAG_OVERLAPPED) and closes it at the end.
    explicit OverlappedPipeStream(HANDLE pipe);
    ~OverlappedPipeStream() override;
    OverlappedPipeStream(const OverlappedPipeStream&) = delete;
    OverlappedPipeStream& operator=(const OverlappedPipeStream&) = delete;

    // Until the first deadline is set, a transfer waits as long as it takes.
    void setDeadline(int milliseconds) override;
    size_t read(char* buffer, size_t size) override;
    size_t write(const char* data, size_t size) override;
    unsigned long lastError() const override { return lastError_; }

protected:
    HANDLE pipe() const { return pipe_; }
    HANDLE event() const { return event_; }
    std::chrono::steady_clock::time_point deadline() const { return deadline_; }
    // Cancels the operation and waits for it to end; true when it had completed after all.
    bool cancel(OVERLAPPED& overlapped, DWORD* count = nullptr);
    void setLastError(DWORD error) { lastError_ = error; }

private:
    template <class Start>
    size_t transfer(DWORD zeroBytesError, Start start);
    DWORD millisecondsLeft() const;
    size_t fail(DWORD error);

    HANDLE pipe_;
    HANDLE event_;
    bool hasDeadline_ = false;
    std::chrono::steady_clock::time_point deadline_;
    unsigned long lastError_ = 0;
};

}  // namespace vpn
