#include "vpn/pipe_stream_win.h"

namespace vpn {

using Clock = std::chrono::steady_clock;

OverlappedPipeStream::OverlappedPipeStream(HANDLE pipe)
    : pipe_(pipe), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

OverlappedPipeStream::~OverlappedPipeStream() {
    CloseHandle(pipe_);
    if (event_) CloseHandle(event_);
}

void OverlappedPipeStream::setDeadline(int milliseconds) {
    deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds);
    hasDeadline_ = true;
}

size_t OverlappedPipeStream::read(char* buffer, size_t size) {
    return transfer(ERROR_HANDLE_EOF, [&](OVERLAPPED* overlapped, DWORD* count) {
        return ReadFile(pipe_, buffer, static_cast<DWORD>(size), count, overlapped);
    });
}

size_t OverlappedPipeStream::write(const char* data, size_t size) {
    return transfer(ERROR_WRITE_FAULT, [&](OVERLAPPED* overlapped, DWORD* count) {
        return WriteFile(pipe_, data, static_cast<DWORD>(size), count, overlapped);
    });
}

bool OverlappedPipeStream::cancel(OVERLAPPED& overlapped, DWORD* count) {
    DWORD ignored = 0;
    CancelIoEx(pipe_, &overlapped);
    return GetOverlappedResult(pipe_, &overlapped, count ? count : &ignored, TRUE) != 0;
}

template <class Start>
size_t OverlappedPipeStream::transfer(DWORD zeroBytesError, Start start) {
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
    return count > 0 ? count : fail(zeroBytesError);
}

DWORD OverlappedPipeStream::millisecondsLeft() const {
    if (!hasDeadline_) return INFINITE;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
}

size_t OverlappedPipeStream::fail(DWORD error) {
    lastError_ = error;
    return 0;
}

}  // namespace vpn
