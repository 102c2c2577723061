#pragma once
// UTF-8 <-> UTF-16 at the Win32 boundary (Windows only).

#include <string>

namespace vpn {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);
std::string narrow(const wchar_t* utf16, int length);

}  // namespace vpn
