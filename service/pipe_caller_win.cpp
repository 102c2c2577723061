#include "service/pipe_caller_win.h"

#include <sddl.h>

#include <vector>

#include "service/tunnel/token_user_win.h"
#include "vpn/text_win.h"

namespace service {
namespace {

struct HandleCloser {
    HANDLE handle = nullptr;
    ~HandleCloser() {
        if (handle != nullptr) CloseHandle(handle);
    }
};

// FNV-1a: the SID as the number the log allowances and connection counts are kept by.
uint32_t numberOf(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (const unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

bool isAdministrator(HANDLE token) {
    HandleCloser impersonation;
    if (!DuplicateToken(token, SecurityIdentification, &impersonation.handle)) return false;
    BYTE group[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof group;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, group, &size) &&
           CheckTokenMembership(impersonation.handle, group, &member) && member;
}

}  // namespace

Caller pipeCaller(HANDLE pipe) {
    ULONG clientId = 0;
    if (!GetNamedPipeClientProcessId(pipe, &clientId)) return {};
    HandleCloser process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, clientId)};
    HandleCloser token;
    if (process.handle == nullptr || !OpenProcessToken(process.handle, TOKEN_QUERY | TOKEN_DUPLICATE, &token.handle))
        return {};
    std::vector<BYTE> user = tunnel::tokenUserSid(token.handle);
    const PSID sid = reinterpret_cast<PSID>(user.data());
    wchar_t* text = nullptr;
    if (user.empty() || !ConvertSidToStringSidW(sid, &text)) return {};
    Caller caller;
    caller.known = true;
    caller.user = vpn::narrow(std::wstring(text));
    LocalFree(text);
    caller.userId = numberOf(caller.user);
    caller.privileged = IsWellKnownSid(sid, WinLocalSystemSid) || isAdministrator(token.handle);
    return caller;
}

}  // namespace service
