// Appending one log line on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "service/service_log.h"

namespace service {
namespace {

// No link is followed, and a FIFO put in the file's place neither blocks the open
// (O_NONBLOCK) nor takes the line (only a regular file does). -1 when it is no such file.
int openLogFile(const std::string& path, struct stat& info) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
    ::close(fd);
    return -1;
}

}  // namespace

bool appendLogLine(const std::string& path, const std::string& line, size_t maxBytes) {
    const std::string bytes = line + "\n";
    struct stat info {};
    int fd = openLogFile(path, info);
    if (fd >= 0 && info.st_size > 0 && static_cast<size_t>(info.st_size) + bytes.size() > maxBytes) {
        ::close(fd);
        fd = ::rename(path.c_str(), (path + ".1").c_str()) == 0 ? openLogFile(path, info) : -1;
    }
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += static_cast<size_t>(written);
    }
    ::close(fd);
    return done == bytes.size();
}

}  // namespace service
