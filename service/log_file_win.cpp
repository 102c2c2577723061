// Appending one log line on Windows; other readers and writers may keep the file open.
#include <windows.h>

#include "service/service_log.h"
#include "vpn/text_win.h"

namespace service {

bool appendLogLine(const std::string& path, const std::string& line) {
    HANDLE file = CreateFileW(vpn::widen(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string bytes = line + "\n";
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

}  // namespace service
