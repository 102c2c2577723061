#pragma once
// A node's route id: its name trimmed of surrounding white space. The client shows and sends
// route ids, the service finds the node by one, so both ends must trim alike.

#include <string>

namespace vpn {

// `name` without leading and trailing white space: ASCII tab to carriage return and space,
// U+0085, and the Unicode space, line and paragraph separators (U+00A0, U+1680, U+2000 to
// U+200A, U+2028, U+2029, U+202F, U+205F, U+3000) — the set Qt's QString::trimmed uses.
// Bytes that are not valid UTF-8 are never trimmed.
std::string routeIdOf(const std::string& name);

}  // namespace vpn
