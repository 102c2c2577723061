// Per-user state folders below the runtime directory on Linux.
#include "vpn/state_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

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
