// STUB: to be written
#include "vpn/url_coding.h"

namespace vpn {

std::string urlEncode(const std::string& b) { return b; }
std::string urlDecode(const std::string& t) { return t; }

}  // namespace vpn
