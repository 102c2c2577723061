// STUB: to be written
#include "vpn/xboard_control_plane.h"

namespace vpn {

bool XboardControlPlane::login(const std::string&, const std::string&, std::string&) { return false; }
bool XboardControlPlane::fetchRegisterOptions(RegisterOptions&, std::string&) { return false; }
bool XboardControlPlane::sendRegisterEmail(const std::string&, std::string&) { return false; }
bool XboardControlPlane::registerAccount(const std::string&, const std::string&, const std::string&, const std::string&, std::string&) { return false; }

}  // namespace vpn
