// STUB: to be written
#include "vpn/system.h"

namespace vpn {

std::optional<std::string> environmentVariable(const char*) { return std::nullopt; }
std::string executableDirectory() { return "."; }
std::optional<std::string> fullPathName(const std::string& p) { return p; }
std::string joinPath(const std::string& d, const std::string& n) { return d + "/" + n; }
const char* xrayExecutableName() { return "xray"; }
std::string machineDeviceId() { return kUnknownDevice; }

}  // namespace vpn
