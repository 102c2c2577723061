#pragma once
// The user of an access token, as the bytes of its SID.

#include <windows.h>

#include <vector>

namespace tunnel {

// The SID of `token`'s user (a token opened with TOKEN_QUERY); empty when it cannot be read.
// The bytes are a SID: `reinterpret_cast<PSID>(sid.data())`.
std::vector<BYTE> tokenUserSid(HANDLE token);

}  // namespace tunnel
