#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/service_client.h"
#include "vpn/text_win.h"

namespace orvik_test {
namespace {

using Clock = std::chrono::steady_clock;

DWORD millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// One overlapped transfer: bytes moved, 0 when the pipe closed, -1 on failure or time-out.
template <class Start>
long transfer(HANDLE pipe, Clock::time_point deadline, Start start) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    long result = -1;
    if (start(&overlapped, &count)) {
        result = static_cast<long>(count);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, millisecondsLeft(deadline)) != WAIT_OBJECT_0) CancelIoEx(pipe, &overlapped);
        if (GetOverlappedResult(pipe, &overlapped, &count, TRUE)) result = static_cast<long>(count);
        else if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_PIPE_NOT_CONNECTED) result = 0;
    } else if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_PIPE_NOT_CONNECTED) {
        result = 0;
    }
    CloseHandle(overlapped.hEvent);
    return result;
}

}  // namespace

struct ServiceClient::Impl {
    HANDLE pipe = INVALID_HANDLE_VALUE;
};

std::string uniquePipeName(const std::string&) {
    static std::atomic<int> counter{0};
    return "\\\\.\\pipe\\orvik-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

ServiceClient::ServiceClient(const std::string& pipe, int timeoutMs) : impl_(new Impl) {
    const std::wstring name = vpn::widen(pipe);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        impl_->pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (impl_->pipe != INVALID_HANDLE_VALUE || Clock::now() >= deadline) return;
        if (GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeW(name.c_str(), 500);
        else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

ServiceClient::~ServiceClient() {
    close();
    delete impl_;
}

bool ServiceClient::connected() const { return impl_->pipe != INVALID_HANDLE_VALUE; }

bool ServiceClient::send(const std::string& bytes) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    size_t done = 0;
    while (connected() && done < bytes.size()) {
        const long sent = transfer(impl_->pipe, deadline, [&](OVERLAPPED* overlapped, DWORD* count) {
            return WriteFile(impl_->pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), count,
                             overlapped);
        });
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return connected();
}

std::optional<std::string> ServiceClient::receiveUntilClosed(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    char buffer[4096];
    while (connected()) {
        const long got = transfer(impl_->pipe, deadline, [&](OVERLAPPED* overlapped, DWORD* count) {
            return ReadFile(impl_->pipe, buffer, sizeof buffer, count, overlapped);
        });
        if (got == 0) return received;
        if (got < 0) return std::nullopt;
        received.append(buffer, static_cast<size_t>(got));
    }
    return std::nullopt;
}

void ServiceClient::close() {
    if (connected()) CloseHandle(impl_->pipe);
    impl_->pipe = INVALID_HANDLE_VALUE;
}

bool waitForPipe(const std::string& pipe, int timeoutMs) {
    const std::wstring name = vpn::widen(pipe);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!WaitNamedPipeW(name.c_str(), 200)) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace orvik_test
