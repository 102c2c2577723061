// Appending one log line on Windows; other readers and writers may keep the file open.
#include <windows.h>

#include "service/service_log.h"
#include "vpn/text_win.h"

namespace service {
namespace {

// Only a plain file on disk takes log lines: no pipe, console or other device, no directory,
// and no reparse point (FILE_FLAG_OPEN_REPARSE_POINT opened the point itself, not its target).
bool isPlainDiskFile(HANDLE file) {
    if (GetFileType(file) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return false;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

bool appendLogLine(const std::string& path, const std::string& line) {
    HANDLE file = CreateFileW(vpn::widen(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (!isPlainDiskFile(file)) {
        CloseHandle(file);
        return false;
    }
    const std::string bytes = line + "\n";
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

}  // namespace service
