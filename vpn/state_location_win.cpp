// Windows keeps the session in the runtime directory: the client and the daemon it starts
// run as the same user, and the service's own directory rules cover the rest.
#include "vpn/state_location.h"

#include "vpn/files.h"
#include "vpn/system.h"

namespace vpn {

std::string sessionFilePath(const std::string& runtimeDirectory) { return joinPath(runtimeDirectory, "session.json"); }

bool writeSessionFile(const std::string& path, const std::string& bytes) { return writeFileAtomically(path, bytes); }

void createStateFolder(const std::string&) {}

std::string claimUserFolder(const std::string&, uint32_t, uint32_t) { return {}; }

UserState::~UserState() = default;

UserState::Result UserState::open(const std::string& runtimeDirectory, uint32_t, std::string&) {
    sessionPath_ = sessionFilePath(runtimeDirectory);
    return Result::opened;
}

}  // namespace vpn
