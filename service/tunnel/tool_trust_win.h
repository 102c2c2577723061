#pragma once
// The pieces of the Windows trust check (Windows only): which paths are checked, and what a
// security descriptor must say.

#include <windows.h>

#include <string>
#include <vector>

namespace tunnel {

// `fullPath` (absolute: "C:\...", "\\server\share\...", or either behind "\\?\") and each
// directory above it, ending with the root ("C:\", "\\server\share\"); empty when the path
// has no root of these forms.
std::vector<std::string> pathAndDirectoriesAbove(const std::string& fullPath);

// The rights with which someone could change what the path leads to. The tool and the
// directory that holds it: any write (an added file there could be loaded by the tool).
// Directories further up: everything but adding entries (users may create folders in C:\,
// which changes no existing path).
ACCESS_MASK changingRights(bool furtherUp);

// True when `owner` is Administrators, SYSTEM or TrustedInstaller and no allow entry of
// `dacl` that applies to the object itself gives another account any of `rights`. A null
// DACL (everyone may do anything) is never trusted.
bool onlyAdministratorsHold(PSID owner, PACL dacl, ACCESS_MASK rights);

}  // namespace tunnel
