#include "vpn/route_id.h"

#include <cstdint>

namespace vpn {
namespace {

bool isSpace(uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The code point of the valid UTF-8 sequence of `width` bytes at `at`; false when there is none.
bool decodeAt(const std::string& text, size_t at, size_t width, uint32_t& code) {
    if (at + width > text.size()) return false;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if (width == 1) {
        code = byte(0);
        return code < 0x80;
    }
    const unsigned char lead = byte(0);
    if ((width == 2 && (lead & 0xE0) != 0xC0) || (width == 3 && (lead & 0xF0) != 0xE0)) return false;
    code = lead & (width == 2 ? 0x1Fu : 0x0Fu);
    for (size_t i = 1; i < width; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return false;
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    return code >= (width == 2 ? 0x80u : 0x800u);  // no overlong forms
}

// Bytes of the white space character that starts at `at`, 0 when none does. Every white
// space character is one to three bytes long.
size_t spaceStartingAt(const std::string& text, size_t at) {
    for (size_t width = 1; width <= 3; ++width) {
        uint32_t code = 0;
        if (decodeAt(text, at, width, code)) return isSpace(code) ? width : 0;
    }
    return 0;
}

// Bytes of the white space character that ends just before `end`, 0 when none does.
size_t spaceEndingAt(const std::string& text, size_t begin, size_t end) {
    for (size_t width = 1; width <= 3 && width <= end - begin; ++width) {
        uint32_t code = 0;
        if (decodeAt(text, end - width, width, code)) return isSpace(code) ? width : 0;
    }
    return 0;
}

}  // namespace

std::string routeIdOf(const std::string& name) {
    size_t begin = 0;
    while (size_t width = spaceStartingAt(name, begin)) begin += width;
    size_t end = name.size();
    while (end > begin) {
        const size_t width = spaceEndingAt(name, begin, end);
        if (width == 0) break;
        end -= width;
    }
    return name.substr(begin, end - begin);
}

}  // namespace vpn
