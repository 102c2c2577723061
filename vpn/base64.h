#pragma once
// Base64 decoding as the product does it on Windows (CryptStringToBinaryA with
// CRYPT_STRING_BASE64); the Linux decoder follows the same rules, measured under wine 8:
// - the standard alphabet only ('-' and '_' of the URL-safe one are invalid);
// - space, tab, CR and LF are skipped anywhere; any other byte outside the alphabet (also
//   vertical tab, form feed, NUL, bytes above 0x7F) makes the decoding fail;
// - padding is optional; a '=' that completes a four-character block, or that comes where a
//   new block would start, ends the decoding and whatever follows is ignored;
// - padding that leaves its block incomplete ("Zg=") or data after a '=' inside a block
//   fails;
// - a final block of one character still yields one byte (its six bits, shifted left).
// The empty text decodes to nothing, successfully.

#include <string>

namespace vpn {

// True and `bytes` set to the decoded bytes; false (bytes emptied) when the text is not Base64.
bool base64Decode(const std::string& text, std::string& bytes);

}  // namespace vpn
