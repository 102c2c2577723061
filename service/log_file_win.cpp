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

// The file at `path` with its size; INVALID_HANDLE_VALUE when no plain file opens there.
HANDLE openLogFile(const std::string& path, LARGE_INTEGER& size) {
    HANDLE file = CreateFileW(vpn::widen(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    if (isPlainDiskFile(file) && GetFileSizeEx(file, &size)) return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool appendLogLine(const std::string& path, const std::string& line, size_t maxBytes) {
    const std::string bytes = line + "\n";
    LARGE_INTEGER size{};
    HANDLE file = openLogFile(path, size);
    if (file != INVALID_HANDLE_VALUE && size.QuadPart > 0 &&
        static_cast<unsigned long long>(size.QuadPart) + bytes.size() > maxBytes) {
        CloseHandle(file);
        const bool rotated = MoveFileExW(vpn::widen(path).c_str(), vpn::widen(path + ".1").c_str(),
                                         MOVEFILE_REPLACE_EXISTING) != 0;
        file = rotated ? openLogFile(path, size) : INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

}  // namespace service
