// STUB: to be written
#include "vpn/xboard_control_plane.h"

namespace vpn {

XboardControlPlane::XboardControlPlane(std::string a, std::string s, std::string d) : apiBase_(std::move(a)), sessionPath_(std::move(s)), deviceApi_(std::move(d)) {}
void XboardControlPlane::logout() {}
bool XboardControlPlane::extractAuthToken(const std::string&) { return false; }
bool XboardControlPlane::saveSession(std::string&) { return false; }
std::string stripTrailingSeparators(std::string t) { return t; }

}  // namespace vpn
