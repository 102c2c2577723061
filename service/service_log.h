#pragma once
// The service log: bare message lines (no time stamp, no level) appended to
// <runtime directory>/orvik-service.log as UTF-8, echoed to standard output in console mode.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace service {

class ServiceLog {
public:
    // Where lines go from now on; empty: nowhere (only the echo).
    void setPath(const std::string& path);
    void setEcho(bool echo) { echo_ = echo; }

    // Writes one line. A file that cannot be opened loses this line only.
    void write(const std::string& message);
    // For lines any client can cause again and again (failed reads and writes): at most a
    // few per minute; the next line written after a quiet spell says how many were dropped.
    void writeRateLimited(const std::string& message);

private:
    void writeLocked(const std::string& message);

    std::mutex mutex_;
    std::string path_;
    std::atomic<bool> echo_{false};
    std::chrono::steady_clock::time_point windowStart_{};
    int windowLines_ = 0;
    int dropped_ = 0;
};

// `text` cut to at most `maxBytes` bytes at a character boundary (no partial UTF-8 sequence).
std::string utf8Prefix(const std::string& text, size_t maxBytes);

// Text from outside (a client's op, a panel's message) made safe for one log line: control
// characters become '?', so nobody can forge further lines, and at most `maxBytes` bytes are
// kept ("..." marks a cut).
std::string logSafe(const std::string& text, size_t maxBytes = 400);

// Appends `line` and a line feed to the regular file at `path`, creating it when missing;
// false when the file cannot be opened or written. Never follows a symbolic link (Linux) or
// reparse point (Windows) and never blocks on a FIFO or device put in its place.
bool appendLogLine(const std::string& path, const std::string& line);

}  // namespace service
