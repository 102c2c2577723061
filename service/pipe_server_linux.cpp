// The service pipe on Linux: a Unix stream socket, 0666 in a 0755 directory, so that any
// local user can reach it (like the Windows pipe's security descriptor). The directory is the
// service's own: made by it, or one of its user that nobody else may write, opened without
// following a link; what the service removes or looks at in it goes through that descriptor,
// and the socket's mode is set on the socket itself, never on a path. A socket file that is
// already there is replaced only when nobody answers on it; any other file is left alone and
// the service waits for it to go.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "service/pipe_server.h"

namespace service {
namespace {

constexpr int kBacklog = 8;
// A second service finds the socket taken; it asks again only this often (every question
// is a connection, and a log line, at the running service) unless the file changes.
constexpr auto kLiveProbeInterval = std::chrono::seconds(5);

using Clock = std::chrono::steady_clock;

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// True when a server answers on `path`.
bool someoneListens(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answered;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string nameIn(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The socket's directory, opened without following a link in its place: made 0755 when it is
// missing; an existing one must be this user's and closed to other users' writes. -1 otherwise.
int openSocketDirectory(const std::string& socketPath) {
    const std::string directory = parentOf(socketPath);
    if (directory == "/") return ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int above = ::open(parentOf(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (above < 0) return -1;
    const std::string name = nameIn(directory);
    const bool made = ::mkdirat(above, name.c_str(), 0755) == 0;
    const int fd = ::openat(above, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(above);
    if (fd < 0) return -1;
    struct stat info {};
    bool ours = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    if (ours && made) ours = ::fchmod(fd, 0755) == 0;  // mkdir applied the umask
    if (ours) return fd;
    ::close(fd);
    return -1;
}

// bind() gives the socket file the socket's mode less the umask. The umask belongs to the
// whole process, and other threads may create files meanwhile: the bind runs on a thread
// with a file-system context (and umask) of its own.
bool bindOpenToAll(int fd, const sockaddr_un& address) {
    if (::fchmod(fd, 0666) != 0) return false;
    bool bound = false;
    std::thread([&] {
        if (::unshare(CLONE_FS) != 0) return;
        ::umask(0);
        bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }).join();
    return bound;
}

class SocketConnection : public ByteStream {
public:
    explicit SocketConnection(int fd) : fd_(fd) {}
    ~SocketConnection() override { ::close(fd_); }
    SocketConnection(const SocketConnection&) = delete;
    SocketConnection& operator=(const SocketConnection&) = delete;

    void setDeadline(int milliseconds) override { deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds); }

    size_t read(char* buffer, size_t size) override {
        if (!waitFor(POLLIN)) return 0;
        const ssize_t got = ::recv(fd_, buffer, size, 0);
        return finish(got, EPIPE);  // the client closed: the Linux word for a broken pipe
    }

    size_t write(const char* data, size_t size) override {
        if (!waitFor(POLLOUT)) return 0;
        const ssize_t put = ::send(fd_, data, size, MSG_NOSIGNAL);
        return finish(put, 0);
    }

    // What was sent stays readable for the client after we close.
    bool flush() override { return true; }
    unsigned long lastError() const override { return lastError_; }

private:
    bool waitFor(short events) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
            if (left.count() <= 0) return timedOut();
            pollfd entry{fd_, events, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
            if (ready > 0) return true;
            if (ready == 0) return timedOut();
            if (errno != EINTR) {
                lastError_ = static_cast<unsigned long>(errno);
                return false;
            }
        }
    }

    bool timedOut() {
        lastError_ = ETIMEDOUT;
        return false;
    }

    size_t finish(ssize_t count, int endOfStreamError) {
        if (count > 0) return static_cast<size_t>(count);
        lastError_ = static_cast<unsigned long>(count == 0 ? endOfStreamError : errno);
        return 0;
    }

    int fd_;
    Clock::time_point deadline_ = Clock::now();
    unsigned long lastError_ = 0;
};

class SocketListener : public PipeListener {
public:
    explicit SocketListener(std::string path)
        : path_(std::move(path)), name_(nameIn(path_)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~SocketListener() override {
        if (listening_ >= 0) {
            ::close(listening_);
            removeOurSocketFile();
        }
        if (directory_ >= 0) ::close(directory_);
        if (wake_ >= 0) ::close(wake_);
    }
    SocketListener(const SocketListener&) = delete;
    SocketListener& operator=(const SocketListener&) = delete;

    Result accept(std::unique_ptr<ByteStream>& connection, Caller& caller) override {
        if (listening_ < 0 && !listen()) return directory_ < 0 ? Result::nameTaken : Result::pause;
        pollfd entries[2] = {{listening_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(entries, wake_ >= 0 ? 2 : 1, -1) < 0) return Result::retry;
        if (entries[1].revents != 0) return Result::retry;  // stays readable: every later wait returns too
        const int fd = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? Result::pause : Result::retry;
        // The kernel's word on who connected; a client whose user is unknown is not served,
        // since the service would otherwise fall back to state that is not theirs.
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
            ::close(fd);
            return Result::retry;
        }
        caller = {true, static_cast<uint32_t>(credentials.uid), static_cast<uint32_t>(credentials.gid),
                  "uid " + std::to_string(credentials.uid), credentials.uid == 0};
        connection = std::make_unique<SocketConnection>(fd);
        return Result::connected;
    }

    void wake() override {
        if (wake_ < 0) return;
        const uint64_t one = 1;
        while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

private:
    // False with directory_ still -1 when the socket's directory is not the service's own.
    bool listen() {
        sockaddr_un address;
        if (!fillAddress(path_, address)) return false;
        if (directory_ < 0 && (directory_ = openSocketDirectory(path_)) < 0) return false;
        struct stat existing;
        if (::fstatat(directory_, name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            if (existing.st_ino == liveInode_ && Clock::now() - liveSeen_ < kLiveProbeInterval) return false;
            if (!S_ISSOCK(existing.st_mode)) return false;  // not ours to remove
            if (someoneListens(path_)) {  // another service serves it
                liveInode_ = existing.st_ino;
                liveSeen_ = Clock::now();
                return false;
            }
            ::unlinkat(directory_, name_.c_str(), 0);
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        // bind() follows no link in the socket's own place; the path's folders are the
        // administrator's (the socket's own was checked above), and the socket file must be
        // found in the folder opened then.
        struct stat bound, atPath;
        if (!bindOpenToAll(fd, address) || ::listen(fd, kBacklog) != 0 ||
            ::fstatat(directory_, name_.c_str(), &bound, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::lstat(path_.c_str(), &atPath) != 0 || atPath.st_ino != bound.st_ino || atPath.st_dev != bound.st_dev) {
            ::close(fd);
            return false;
        }
        listening_ = fd;
        inode_ = bound.st_ino;
        return true;
    }

    // Removes the socket file unless somebody has replaced it since.
    void removeOurSocketFile() {
        struct stat now;
        if (::fstatat(directory_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == inode_)
            ::unlinkat(directory_, name_.c_str(), 0);
    }

    std::string path_;
    std::string name_;
    int wake_;
    int directory_ = -1;
    int listening_ = -1;
    ino_t inode_ = 0;
    ino_t liveInode_ = 0;
    Clock::time_point liveSeen_{};
};

}  // namespace

std::unique_ptr<PipeListener> makePipeListener(const std::string& name) {
    return std::make_unique<SocketListener>(name);
}

bool setCurrentDirectory(const std::string& directory) { return ::chdir(directory.c_str()) == 0; }

}  // namespace service
