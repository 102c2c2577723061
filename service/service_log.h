#pragma once
// The service log: bare message lines (no time stamp, no level) appended to
// <runtime directory>/orvik-service.log as UTF-8, echoed to standard output in console mode.

#include <atomic>
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

private:
    std::mutex mutex_;
    std::string path_;
    std::atomic<bool> echo_{false};
};

// Text from outside (a client's op, a panel's message) made safe for one log line: control
// characters become '?', so nobody can forge further lines.
std::string logSafe(const std::string& text);

// Appends `line` and a line feed to the file at `path`, creating it when missing; false when
// the file cannot be opened or written. Never follows a symbolic link on Linux, since the
// service runs as root in a directory that users may write.
bool appendLogLine(const std::string& path, const std::string& line);

}  // namespace service
