#pragma once
// Standard Base64 with padding, optionally wrapped into CR LF lines, for building
// subscription bodies in tests, benchmarks and fuzz corpora (header-only: the benchmark and
// the fuzz target do not link the test support library).

#include <cstddef>
#include <string>

namespace orvik_test {

// `lineLength` characters per line followed by CR LF (0: one line).
inline std::string base64Encode(const std::string& bytes, std::size_t lineLength = 0) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned block = 0;
        for (std::size_t k = i; k < i + 3; ++k) block = block << 8 | (k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) {
            out += i + k <= bytes.size() ? kAlphabet[block >> (18 - 6 * k) & 63] : '=';
            if (lineLength != 0 && out.size() % (lineLength + 2) == lineLength) out += "\r\n";
        }
    }
    return out;
}

}  // namespace orvik_test
