#include "vpn/text_win.h"

#include <windows.h>

#include <cstdio>

namespace vpn {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), length);
    return out;
}

std::string narrow(const wchar_t* utf16, int length) {
    if (!utf16 || length <= 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, utf16, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16, length, out.data(), size, nullptr, nullptr);
    return out;
}

std::string narrow(const std::wstring& utf16) {
    return narrow(utf16.data(), static_cast<int>(utf16.size()));
}

std::string win32ErrorText(unsigned long code) {
    std::string number = std::to_string(code);
    if (code & 0x80000000UL) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", code);
        number = hex;
    }
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = length > 0 ? narrow(message, static_cast<int>(length)) : "";
    if (message) LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? number : number + " (" + text + ")";
}

}  // namespace vpn
