// Per-user state folders below the runtime directory on Linux.
#include "vpn/state_location.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "vpn/files.h"
#include "vpn/system.h"

namespace vpn {
namespace {

constexpr const char* kStateFolder = "state";
constexpr const char* kSessionFile = "session.json";
// Everyone may add an entry, nobody may rename or remove another's (sticky), nobody lists it.
constexpr mode_t kStateFolderMode = 01733;
constexpr mode_t kUserFolderMode = 0700;

std::string userFolder(const std::string& runtimeDirectory, uint32_t userId) {
    return joinPath(joinPath(runtimeDirectory, kStateFolder), std::to_string(userId));
}

// mkdir applies the umask; the mode is set again on a folder this call made.
bool makeFolder(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) != 0) return errno == EEXIST;
    return ::chmod(path.c_str(), mode) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Any user may make a folder under another's id before that user does (and put a link
// there): the session, a credential, goes only into a real folder that this user owns.
bool ownFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// What another user put in a user's place is removed in at most this many steps; the rest
// stays under a hidden name.
constexpr int kRemovalSteps = 1000;
constexpr int kRemovalDepth = 8;
constexpr int kClaimAttempts = 3;

// Removes the folder `name` in `parent` with its content, following no link, within `steps`.
bool removeTree(int parent, const std::string& name, int& steps, int depth) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return false;
    }
    bool emptied = true;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string child = entry->d_name;
        if (child == "." || child == "..") continue;
        if (--steps < 0) {
            emptied = false;
            break;
        }
        if (::unlinkat(fd, child.c_str(), 0) == 0) continue;
        if (errno == EISDIR && depth < kRemovalDepth && removeTree(fd, child, steps, depth + 1)) continue;
        emptied = false;
    }
    ::closedir(listing);
    return emptied && ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

// Takes `name` out of `state`: a file or link is removed, a folder first renamed out of the
// way (its owner may keep adding to it), then removed.
bool takeAway(int state, const std::string& name, const struct stat& info) {
    if (!S_ISDIR(info.st_mode)) return ::unlinkat(state, name.c_str(), 0) == 0;
    const std::string hidden = ".taken-" + name + "-" + std::to_string(info.st_ino);
    if (::renameat2(state, name.c_str(), state, hidden.c_str(), RENAME_NOREPLACE) != 0) return false;
    int steps = kRemovalSteps;
    removeTree(state, hidden, steps, 0);
    return true;
}

// Makes `name` in `state` a folder of the user's; root makes it, so in the sticky "state"
// nobody else can replace it before it is handed over.
bool makeUserFolder(int state, const std::string& name, uint32_t userId, uint32_t groupId) {
    if (::mkdirat(state, name.c_str(), kUserFolderMode) != 0) return false;
    const int folder = ::openat(state, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool handed = folder >= 0 && ::fchown(folder, userId, groupId) == 0 && ::fchmod(folder, kUserFolderMode) == 0;
    if (folder >= 0) ::close(folder);
    return handed;
}

}  // namespace

std::string claimUserFolder(const std::string& runtimeDirectory, uint32_t userId, uint32_t groupId) {
    if (::geteuid() != 0) return {};
    const std::string statePath = joinPath(runtimeDirectory, kStateFolder);
    const int state = ::open(statePath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (state < 0) return {};
    static std::mutex oneAtATime;  // two connections of one user must not take each other's folder away
    const std::lock_guard<std::mutex> lock(oneAtATime);
    const std::string name = std::to_string(userId);
    std::string taken;
    struct stat info {};
    const bool roots = ::fstat(state, &info) == 0 && info.st_uid == 0;
    for (int attempt = 0; roots && attempt < kClaimAttempts; ++attempt) {
        if (::fstatat(state, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || makeUserFolder(state, name, userId, groupId)) break;
            if (errno == EEXIST) continue;  // somebody made it meanwhile: look again
            break;
        }
        if (S_ISDIR(info.st_mode) && info.st_uid == userId) break;
        if (!takeAway(state, name, info)) {
            taken = "cannot take away " + joinPath(statePath, name) + " of user " + std::to_string(info.st_uid);
            break;
        }
        taken = "took away " + joinPath(statePath, name) + ", made by user " + std::to_string(info.st_uid);
    }
    ::close(state);
    return taken;
}

std::string sessionFilePath(const std::string& runtimeDirectory) {
    return joinPath(userFolder(runtimeDirectory, ::getuid()), kSessionFile);
}

bool writeSessionFile(const std::string& path, const std::string& bytes) {
    const std::string own = std::string("/") + kStateFolder + "/" + std::to_string(::getuid()) + "/" + kSessionFile;
    if (endsWith(path, own)) {
        const std::string runtime = path.substr(0, path.size() - own.size());
        makeFolder(joinPath(runtime, kStateFolder), kStateFolderMode);  // fails unless ours to make
        const std::string folder = userFolder(runtime, ::getuid());
        if (!makeFolder(folder, kUserFolderMode) || !ownFolder(folder)) return false;
    }
    return writeFileAtomically(path, bytes);
}

void createStateFolder(const std::string& runtimeDirectory) {
    makeFolder(joinPath(runtimeDirectory, kStateFolder), kStateFolderMode);
}

UserState::~UserState() {
    if (folder_ >= 0) ::close(folder_);
}

UserState::Result UserState::open(const std::string& runtimeDirectory, uint32_t userId, std::string& error) {
    const std::string path = userFolder(runtimeDirectory, userId);
    // O_NOFOLLOW: a link in place of the folder is refused (ELOOP), never followed.
    folder_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder_ < 0) {
        if (errno == ENOENT) return Result::missing;
        error = "cannot open the state folder " + path;
        return Result::refused;
    }
    struct stat info {};
    if (::fstat(folder_, &info) != 0 || !S_ISDIR(info.st_mode) || (info.st_uid != userId && info.st_uid != 0)) {
        error = "the state folder " + path + " does not belong to user " + std::to_string(userId);
        return Result::refused;
    }
    sessionPath_ = "/proc/self/fd/" + std::to_string(folder_) + "/" + kSessionFile;
    return Result::opened;
}

}  // namespace vpn
