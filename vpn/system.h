#pragma once
// Facts about the running program and the machine, one implementation per platform.

#include <optional>
#include <string>

namespace vpn {

// The variable's value as UTF-8, or nothing when it is not set.
std::optional<std::string> environmentVariable(const char* name);

// Sets the variable for this process and the programs it starts; call before other threads
// read the environment. False when the system refuses.
bool setEnvironmentVariable(const char* name, const std::string& value);

// The variable that names a panel address without a panel.json.
inline constexpr const char* kPanelUrlVariable = "ORVIK_XBOARD_URL";

// Directory of the running executable, without a trailing separator; "." when unknown.
std::string executableDirectory();

// Absolute, lexically normalised form of `path` ("." and ".." resolved, no symlinks
// followed); nothing when the path cannot be made absolute.
std::optional<std::string> fullPathName(const std::string& path);

// `directory` and `name` joined with the platform's separator.
std::string joinPath(const std::string& directory, const std::string& name);

// File name of the Xray executable on this platform ("xray.exe" / "xray").
const char* xrayExecutableName();

// A stable id of this computer (MachineGuid / machine-id); "unknown-device" when unreadable.
std::string machineDeviceId();

inline constexpr const char* kUnknownDevice = "unknown-device";

}  // namespace vpn
