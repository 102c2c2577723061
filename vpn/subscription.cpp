// STUB: to be written
#include "vpn/subscription.h"

namespace vpn {

void parseSubscription(const std::string&, std::vector<NodeRecord>&) {}
bool parseVlessLink(const std::string&, NodeRecord&) { return false; }
std::string queryValue(const std::string&, const std::string&) { return {}; }
NodeRecord parseServerItem(const std::string&, const std::string&) { return {}; }
int64_t parseExpiry(const std::string&) { return 0; }

}  // namespace vpn
