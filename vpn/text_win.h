#pragma once
// UTF-8 <-> UTF-16 at the Win32 boundary, and Win32 error codes as text (Windows only).

#include <string>

namespace vpn {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);
std::string narrow(const wchar_t* utf16, int length);

// "5 (Access is denied)": a Win32 error code, or an HRESULT in hexadecimal ("0x80320009"),
// followed by the system's text for it when it has one.
std::string win32ErrorText(unsigned long code);

}  // namespace vpn
