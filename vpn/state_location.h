#pragma once
// Where the signed-in session lives. On Windows it is the runtime directory's session.json.
// On Linux the runtime directory belongs to root (the service runs its tools from there), so
// each user keeps the session in a folder of their own, found from the user id alone:
// <runtime>/state/<uid>/session.json, below a "state" folder of mode 1733 in which every user
// may add a folder but nobody can rename or remove another's.

#include <cstdint>
#include <string>

namespace vpn {

// The session file of the user running this process.
std::string sessionFilePath(const std::string& runtimeDirectory);

// Writes the session file. When it is this user's file in the per-user layout, the missing
// folders are made first: the user's own with mode 0700, "state" (1733) when this process may.
bool writeSessionFile(const std::string& path, const std::string& bytes);

// Makes the runtime directory's "state" folder (mode 1733) when it is missing; the
// privileged service does this at start, so that users can add their folders. Windows: nothing.
void createStateFolder(const std::string& runtimeDirectory);

// The privileged service, for each user who talks to it: makes <runtime>/state/<uid> that
// user's own (mode 0700) when it is missing, and first takes away whatever another user put
// there in its place, so that nobody can keep another from signing in. Never follows a link.
// Acts only as root on a "state" folder of root's. Returns what it took away, for the log
// (empty when nothing). Windows: nothing.
std::string claimUserFolder(const std::string& runtimeDirectory, uint32_t userId, uint32_t groupId);

// The state of one user, held open while the privileged service reads it. Linux: the folder
// <runtime>/state/<uid> is opened without following a link and must be a directory owned by
// that user or by root; the session path then goes through the open folder, so renaming
// folders meanwhile changes nothing. Windows: the runtime directory's own session file.
class UserState {
public:
    enum class Result { opened, missing, refused };

    UserState() = default;
    ~UserState();
    UserState(const UserState&) = delete;
    UserState& operator=(const UserState&) = delete;

    // `missing`: the user has no state (not signed in). `refused`: `error` says why.
    Result open(const std::string& runtimeDirectory, uint32_t userId, std::string& error);
    // The session file inside the opened state; valid until destruction.
    const std::string& sessionPath() const { return sessionPath_; }

private:
    int folder_ = -1;
    std::string sessionPath_;
};

}  // namespace vpn
