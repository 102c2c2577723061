// STUB: to be written
#include "vpn/http.h"

namespace vpn {

bool httpRequest(const std::string&, const std::string&, const std::string&, const std::string&, const std::string&, std::string& r, std::string& e, const std::string&) { r.clear(); e = "stub"; return false; }

}  // namespace vpn
