#pragma once
// A service that pkexec started runs as root on the word of whoever typed an administrator's
// password into a prompt that any process of the user can raise. So it takes only what the
// client's own start gives it: daemon mode, the owner's pid and the installation's runtime
// directory. Its pipe is the installed one and its panel the one the root-owned panel.json
// names, never a development override.

#include <string>
#include <vector>

namespace service {

// pkexec names the user it runs a program for in this variable.
inline constexpr const char* kPkexecUserVariable = "PKEXEC_UID";

// The runtime directory of this installation: "runtime" beside the executable.
std::string installedRuntimeDirectory();

// Empty when `arguments` (without the program name) hold "--daemon" and otherwise only
// "--owner-pid" with a value and "--runtime" with `installedRuntime` (compared as full
// paths); else a text naming the first argument refused.
std::string pkexecRefusal(const std::vector<std::string>& arguments, const std::string& installedRuntime);

}  // namespace service
