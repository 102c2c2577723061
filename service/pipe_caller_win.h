#pragma once
// Who opened an instance of the service pipe: the user of the client process's token.

#include <windows.h>

#include "service/request_handler.h"

namespace service {

// The caller on the other end of `pipe`: the SID of the client process's user as "S-1-…",
// privileged for SYSTEM and for a token with the Administrators group enabled (an elevated
// administrator); unknown when the client or its token cannot be read.
Caller pipeCaller(HANDLE pipe);

}  // namespace service
