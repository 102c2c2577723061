#pragma once
// Node sources of the panel: subscription bodies of vless:// links and server-list items.

#include <cstdint>
#include <string>
#include <vector>

#include "vpn/control_plane.h"

namespace vpn {

// Appends the server nodes of a subscription body: plain vless:// lines, or Base64 of them.
// Informational entries (remaining traffic, expiry, reset, filtered count) are skipped.
void parseSubscription(const std::string& body, std::vector<NodeRecord>& nodes);

// Fills `node` from one vless://UUID@HOST:PORT?QUERY#NAME link with a REALITY public key;
// false (node untouched) when the link is not usable. The port is read as atoi reads it,
// saturating at the limits of int32; any port from 1 up is accepted.
bool parseVlessLink(const std::string& line, NodeRecord& node);

// The decoded value of the first `key=value` pair of a query string; empty when absent.
std::string queryValue(const std::string& query, const std::string& key);

// A node from one item of the panel's server list, with the account's VLESS id `uuid`.
NodeRecord parseServerItem(const std::string& item, const std::string& uuid);

// The plan's end from getSubscribe's data object ("expired_at"), in seconds since 1970; 0
// when it never ends. Numbers above 100 000 000 000 are milliseconds, numbers from 1 to
// 999 999 999 mean "never", also when quoted; a quoted date "Y-M-D" from 1971 on ends at
// 23:59:59 UTC of that day.
int64_t parseExpiry(const std::string& data);

}  // namespace vpn
