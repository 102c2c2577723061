#pragma once
// Percent-encoding for form bodies and query strings.

#include <string>

namespace vpn {

// Keeps a-z, A-Z, 0-9, '-', '.', '_' and '@'; every other byte becomes "%XX" (upper case).
std::string urlEncode(const std::string& bytes);

// "%XX" with two hex digits becomes that byte, '+' a space; anything else is copied,
// including a '%' that does not start a valid escape.
std::string urlDecode(const std::string& text);

}  // namespace vpn
