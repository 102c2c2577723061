#pragma once
// Base64 decoding that tolerates line breaks (CryptStringToBinaryA on Windows).

#include <string>

namespace vpn {

// Decodes standard Base64 with optional padding; CR, LF, space and tab are skipped.
// False when any other character outside the alphabet appears or the length is impossible.
bool base64Decode(const std::string& text, std::string& bytes);

}  // namespace vpn
