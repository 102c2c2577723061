// STUB: to be written
#include "vpn/runtime_directory.h"

namespace vpn {

std::string resolveRuntimeDirectory() { return {}; }
bool hasXray(const std::string&) { return false; }
bool hasRemotePanel(const std::string&) { return false; }
std::unique_ptr<ControlPlane> createControlPlane(const std::string&) { return nullptr; }

}  // namespace vpn
