// The user's own folder on Linux. Each candidate is taken only when it is a real folder (no
// link) of this user's that no other user can enter, in a folder where nobody else can
// replace it.
#include "app/shell/user_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStringList>

namespace {

constexpr mode_t kOwnMode = 0700;

QByteArray variable(const char* name) {
    const QByteArray value = qgetenv(name);
    return value.startsWith('/') ? value : QByteArray();
}

QByteArray homeDirectory() {
    const QByteArray home = variable("HOME");
    if (!home.isEmpty()) return home;
    const passwd* entry = ::getpwuid(::getuid());  // on the GUI thread at start, before any other
    return entry && entry->pw_dir && entry->pw_dir[0] == '/' ? QByteArray(entry->pw_dir) : QByteArray();
}

QByteArray parentOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// Nobody but this user (or root) may rename entries in `folder`: theirs or root's, and
// writable by others only when sticky.
bool keepsEntries(const QByteArray& folder) {
    struct stat info {};
    if (::stat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    const bool owner = info.st_uid == ::getuid() || info.st_uid == 0;
    return owner && ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0);
}

// True when `path` is (or, with `make`, has been made) a folder of this user's, mode 0700.
bool ownFolder(const QByteArray& path, bool make) {
    if (path.isEmpty() || !keepsEntries(parentOf(path))) return false;
    if (make) ::mkdir(path.constData(), kOwnMode);  // an existing one is checked below
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool own = ::fstat(fd, &info) == 0 && info.st_uid == ::getuid();
    // A folder of the user's own that others may enter is closed (the user's runtime
    // directory is left as the session made it: it must be closed already).
    if (own && (info.st_mode & 077) != 0) own = make && ::fchmod(fd, kOwnMode) == 0;
    ::close(fd);
    return own;
}

}  // namespace

QString userOnlyFolder(QString& error) {
    const QByteArray runtime = variable("XDG_RUNTIME_DIR");
    if (ownFolder(runtime, false)) return QString::fromLocal8Bit(runtime);
    const QByteArray home = homeDirectory();
    QByteArray cache = variable("XDG_CACHE_HOME");
    if (cache.isEmpty() && !home.isEmpty()) {
        cache = home + "/.cache";
        ::mkdir(cache.constData(), kOwnMode);  // as the XDG rules make it, when missing
    }
    const QByteArray candidates[] = {cache.isEmpty() ? cache : cache + "/orvik-tessel",
                                     home.isEmpty() ? home : home + "/.orvik-tessel"};
    QStringList tried;
    for (const QByteArray& candidate : candidates) {
        if (ownFolder(candidate, true)) return QString::fromLocal8Bit(candidate);
        if (!candidate.isEmpty()) tried << QString::fromLocal8Bit(candidate);
    }
    error = QStringLiteral("Velora无法启动：没有只属于当前用户的文件夹存放单实例锁（XDG_RUNTIME_DIR不可用；已试过：%1）")
                .arg(tried.isEmpty() ? QStringLiteral("没有主目录") : tried.join(QStringLiteral("、")));
    return {};
}
