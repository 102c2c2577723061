// STUB: to be written
#include "vpn/xboard_control_plane.h"

namespace vpn {

bool XboardControlPlane::fetchAccount(AccountRecord&, std::string&) { return false; }

}  // namespace vpn
