// Who can change a tool on Windows: the owner and the DACL of the file and of every directory
// above it, read with GetNamedSecurityInfoW. Links are not followed: a reparse point anywhere
// on the way is refused, since the path it leads to is not the one checked.
#include "service/tunnel/tool_trust_win.h"

#include <aclapi.h>
#include <sddl.h>

#include "service/tunnel/tool_trust.h"
#include "vpn/system.h"
#include "vpn/text_win.h"

namespace tunnel {
namespace {

constexpr const wchar_t* kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool isTrustedInstaller(PSID sid) {
    static const PSID trustedInstaller = [] {
        PSID converted = nullptr;
        return ConvertStringSidToSidW(kTrustedInstaller, &converted) ? converted : nullptr;
    }();
    return trustedInstaller && EqualSid(sid, trustedInstaller);
}

bool isAdministration(PSID sid) {
    return sid && IsValidSid(sid) &&
           (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
            isTrustedInstaller(sid));
}

// Length of the root of `path` ("C:\", "\\server\share\", behind an optional "\\?\"); 0 when none.
size_t rootLength(const std::string& path) {
    size_t start = 0;
    bool unc = false;
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        start = 8;
        unc = true;
    } else if (path.rfind("\\\\?\\", 0) == 0) {
        start = 4;
    } else if (path.rfind("\\\\", 0) == 0) {
        start = 2;
        unc = true;
    }
    if (!unc) return path.size() >= start + 3 && path[start + 1] == ':' && path[start + 2] == '\\' ? start + 3 : 0;
    const size_t server = path.find('\\', start);
    if (server == start || server == std::string::npos) return 0;
    const size_t share = path.find('\\', server + 1);
    if (share == server + 1) return 0;
    return share == std::string::npos ? 0 : share + 1;
}

// True when `path` exists, is no link, and only the administration holds `rights` on it.
bool checkOne(const std::string& path, ACCESS_MASK rights) {
    const std::wstring wide = vpn::widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool trusted = onlyAdministratorsHold(owner, dacl, rights);
    LocalFree(descriptor);
    return trusted;
}

}  // namespace

std::vector<std::string> pathAndDirectoriesAbove(const std::string& fullPath) {
    const size_t root = rootLength(fullPath);
    if (root == 0) return {};
    std::string path = fullPath;
    while (path.size() > root && path.back() == '\\') path.pop_back();
    std::vector<std::string> chain{path};
    while (path.size() > root) {
        const size_t separator = path.find_last_of('\\');
        path.resize(separator < root ? root : separator);
        chain.push_back(path);
    }
    return chain;
}

ACCESS_MASK changingRights(bool furtherUp) {
    const ACCESS_MASK any = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                            FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    return furtherUp ? any & ~(FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY) : any;
}

bool onlyAdministratorsHold(PSID owner, PACL dacl, ACCESS_MASK rights) {
    if (!isAdministration(owner) || !dacl) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE) continue;
        // Allow entries of other layouts (object entries) do not belong on files: refused.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            return false;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & rights) != 0 && !isAdministration(sid)) return false;
    }
    return true;
}

bool onlyAdministratorsCanChange(const std::string& path, std::string& error) {
    const std::optional<std::string> full = vpn::fullPathName(path);
    const std::vector<std::string> chain = full ? pathAndDirectoriesAbove(*full) : std::vector<std::string>{};
    if (chain.empty()) {
        error = path + " can be changed by users other than the administrators";
        return false;
    }
    for (size_t level = 0; level < chain.size(); ++level) {
        if (checkOne(chain[level], changingRights(level >= 2))) continue;
        error = chain[level] + " can be changed by users other than the administrators";
        return false;
    }
    return true;
}

}  // namespace tunnel
