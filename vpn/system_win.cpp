// Facts about the running program and the machine, from Win32 and the registry.
#include "vpn/system.h"

#include <windows.h>

#include "vpn/text_win.h"

namespace vpn {

bool setEnvironmentVariable(const char* name, const std::string& value) {
    return SetEnvironmentVariableW(widen(name).c_str(), widen(value).c_str()) != 0;
}

std::optional<std::string> environmentVariable(const char* name) {
    const std::wstring wideName = widen(name);
    std::wstring value(64, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();  // set, but empty
        }
        if (length < value.size()) {
            value.resize(length);
            return narrow(value);
        }
        value.resize(length);  // too small: length is the size needed, terminator included
    }
}

std::string executableDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return ".";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // truncated
    }
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return ".";
    return narrow(path.substr(0, separator));
}

// The buffer of MAX_PATH characters is deliberate: a longer path does not qualify.
std::optional<std::string> fullPathName(const std::string& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetFullPathNameW(widen(path).c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return narrow(buffer, static_cast<int>(length));
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && (directory.back() == '\\' || directory.back() == '/')) return directory + name;
    return directory + "\\" + name;
}

const char* xrayExecutableName() { return "xray.exe"; }

std::string machineDeviceId() {
    wchar_t buffer[80] = {};  // 160 bytes, room for a GUID in braces and more
    DWORD size = sizeof buffer;
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography",
                                        L"MachineGuid", RRF_RT_REG_SZ, nullptr, buffer, &size);
    if (status != ERROR_SUCCESS || buffer[0] == L'\0') return kUnknownDevice;
    return narrow(std::wstring(buffer));
}

}  // namespace vpn
