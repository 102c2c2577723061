#pragma once
// The service log: bare message lines (no time stamp, no level) appended to
// <runtime directory>/orvik-service.log as UTF-8, echoed to standard output in console mode.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace service {

// The log file grows to at most this many bytes; then it becomes <log>.1, replacing the one
// before, and a new file begins.
inline constexpr size_t kMaxLogBytes = 1024 * 1024;

// What one user's requests may write: this many lines at once, then one a second.
inline constexpr int kUserLineBurst = 20;
inline constexpr std::chrono::seconds kUserLineInterval{1};

class ServiceLog {
public:
    using Clock = std::chrono::steady_clock;
    explicit ServiceLog(std::function<Clock::time_point()> now = &Clock::now) : now_(std::move(now)) {}

    // Where lines go from now on; empty: nowhere (only the echo).
    void setPath(const std::string& path);
    void setEcho(bool echo) { echo_ = echo; }

    // Writes one line. A file that cannot be opened loses this line only.
    void write(const std::string& message);
    // For lines any client can cause again and again (failed reads and writes): at most a
    // few per minute; the next line written after a quiet spell says how many were dropped.
    void writeRateLimited(const std::string& message);
    // For a line a request of user `userId` causes: within that user's allowance
    // (kUserLineBurst, kUserLineInterval), so that no user fills the log or rotates other
    // users' lines away. Lines beyond it are counted, and the count goes with the user's next line.
    void writeFor(uint32_t userId, const std::string& message);

private:
    // A user's allowance: lines may be written while `next` is at most a burst ahead of now.
    struct Allowance {
        Clock::time_point next{};
        int dropped = 0;
    };

    void writeLocked(const std::string& message);
    Allowance& allowanceOf(uint32_t userId, Clock::time_point now);

    std::mutex mutex_;
    std::function<Clock::time_point()> now_;
    std::string path_;
    std::atomic<bool> echo_{false};
    Clock::time_point windowStart_{};
    int windowLines_ = 0;
    int dropped_ = 0;
    std::map<uint32_t, Allowance> users_;
};

// `text` cut to at most `maxBytes` bytes at a character boundary (no partial UTF-8 sequence).
std::string utf8Prefix(const std::string& text, size_t maxBytes);

// Text from outside (a client's op, a panel's message) made safe for one log line: control
// characters become '?', so nobody can forge further lines, and at most `maxBytes` bytes are
// kept ("..." marks a cut).
std::string logSafe(const std::string& text, size_t maxBytes = 400);

// Appends `line` and a line feed to the regular file at `path`, creating it when missing.
// When the file would grow past `maxBytes`, it is renamed to `path` + ".1" first (replacing
// that one) and a new file begins; when it cannot be renamed, the line is dropped. False when
// the line was not written. Never follows a symbolic link (Linux) or reparse point (Windows)
// and never blocks on a FIFO or device put in its place.
bool appendLogLine(const std::string& path, const std::string& line, size_t maxBytes = kMaxLogBytes);

}  // namespace service
