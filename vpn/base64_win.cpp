// STUB: to be written
#include "vpn/base64.h"

namespace vpn {

bool base64Decode(const std::string&, std::string&) { return false; }

}  // namespace vpn
