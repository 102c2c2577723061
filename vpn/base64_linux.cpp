// A decoder that follows CryptStringToBinaryA(CRYPT_STRING_BASE64) byte for byte (see the
// header), so that a subscription body decodes the same way on both platforms.
#include "vpn/base64.h"

namespace vpn {
namespace {

constexpr int kPadding = -1;
constexpr int kSkip = -2;
constexpr int kInvalid = -3;

constexpr int classifySlow(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return kPadding;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return kSkip;
    return kInvalid;
}

struct ClassTable {
    signed char value[256];
    constexpr ClassTable() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = static_cast<signed char>(classifySlow(static_cast<unsigned char>(c)));
    }
};

constexpr ClassTable kClasses;

int classify(unsigned char c) { return kClasses.value[c]; }

// Stores the bits of the `index`-th character (0..3) of a block; `out` is the next free byte.
char* putSextet(char* out, unsigned index, unsigned previous, unsigned value) {
    switch (index) {
    case 0:
        *out++ = static_cast<char>(value << 2);
        break;
    case 1:
        out[-1] = static_cast<char>((previous << 2) | (value >> 4));
        break;
    case 2:
        *out++ = static_cast<char>((previous << 4) | (value >> 2));
        break;
    default:
        *out++ = static_cast<char>((previous << 6) | value);
        break;
    }
    return out;
}

}  // namespace

bool base64Decode(const std::string& text, std::string& bytes) {
    bytes.assign(text.size() / 4 * 3 + 3, '\0');  // room for every character, padding or not
    char* out = bytes.data();
    unsigned count = 0;  // characters of the alphabet and padding taken so far
    unsigned previous = 0;
    bool padded = false;
    for (char ch : text) {
        const int value = classify(static_cast<unsigned char>(ch));
        if (value == kInvalid || (padded && value != kPadding && value != kSkip)) {
            bytes.clear();
            return false;
        }
        if (value == kSkip) continue;
        if (value == kPadding) {
            if (count % 4 == 0) break;  // '=' where a block would start: the end
            padded = true;
            if (++count % 4 == 0) break;
            continue;
        }
        out = putSextet(out, count % 4, previous, static_cast<unsigned>(value));
        previous = static_cast<unsigned>(value);
        ++count;
    }
    if (padded && count % 4 != 0) {
        bytes.clear();
        return false;
    }
    bytes.resize(static_cast<size_t>(out - bytes.data()));
    return true;
}

}  // namespace vpn
