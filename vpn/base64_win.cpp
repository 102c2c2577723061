// Base64 through CryptStringToBinaryA(CRYPT_STRING_BASE64), as the product has always decoded
// subscription bodies.
#include "vpn/base64.h"

#include <windows.h>
#include <wincrypt.h>

#include <limits>

namespace vpn {

bool base64Decode(const std::string& text, std::string& bytes) {
    bytes.clear();
    if (text.empty()) return true;  // a length of 0 would mean "up to the NUL" to the API
    if (text.size() > std::numeric_limits<DWORD>::max()) return false;
    const auto length = static_cast<DWORD>(text.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                              nullptr)) {
        return false;
    }
    if (size == 0) return true;
    bytes.resize(size);
    if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr)) {
        bytes.clear();
        return false;
    }
    bytes.resize(size);
    return true;
}

}  // namespace vpn
