#pragma once
// Pieces every panel request shares: content types, JSON request bodies and the panel's own
// "message" of a refused request. Private to the panel client's source files.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "vpn/json_read.h"

namespace vpn::xboard {

inline constexpr const char* kJsonType = "application/json";
inline constexpr const char* kFormType = "application/x-www-form-urlencoded";

// Compact JSON in the members' insertion order; text that is not valid UTF-8 is replaced
// rather than thrown on.
inline std::string jsonBody(const nlohmann::ordered_json& body) {
    return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The panel's explanation of a refused request; empty when the reply has none.
inline std::string panelMessage(const std::string& reply) { return jsonString(reply, "message"); }

// Counts from the panel are 64-bit; the records hold 32-bit ones.
inline int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace vpn::xboard
