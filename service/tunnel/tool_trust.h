#pragma once
// Whether the privileged service may run a program: only when nobody but the machine's
// administrators can change the program or any directory it is reached through.

#include <string>

namespace tunnel {

// True when the file at `path` and every directory above it, up to the root of its file
// system, can be changed only by root (Linux; a sticky directory such as /tmp counts for the
// entries root owns) or only by Administrators, SYSTEM and TrustedInstaller (Windows).
// Otherwise false, with `error` naming the first path that others can change (or that cannot
// be checked): "<path> can be changed by users other than the administrators".
bool onlyAdministratorsCanChange(const std::string& path, std::string& error);

}  // namespace tunnel
