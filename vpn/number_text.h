#pragma once
// Integers read from text the way strtoll and atoi read them (leading white space, an
// optional sign, digits up to the first other character), but saturating instead of
// overflowing, without errno or locale.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

namespace vpn {

inline int64_t leadingInt64(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate towards the sign so that INT64_MIN is reachable.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            value = value < (kMin + digit) / 10 ? kMin : value * 10 - digit;
        } else {
            value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
        }
    }
    return value;
}

inline int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// atoi, saturating at the limits of int32.
inline int32_t leadingInt32(std::string_view text) { return clampToInt32(leadingInt64(text)); }

}  // namespace vpn
