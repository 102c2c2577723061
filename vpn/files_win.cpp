// Whole-file access with Win32 calls on wide paths.
#include "vpn/files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "vpn/text_win.h"

namespace vpn {
namespace {

// A reader may hold the target for a moment: a replacement refused for sharing is tried again
// this many times, this far apart.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplaceRetryMs = 30;

// Declared by the SDK only for later targets than ours; Windows 10 1709 and later accept it.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool close() {
        if (!valid()) return true;
        const bool ok = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};

bool writeAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

// Creates a new file beside `path` under a name no other writer uses (process id, a
// counter and a random number; CREATE_NEW settles any remaining collision).
HANDLE createTemporary(const std::wstring& path, std::wstring& temporary) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = path + widen(".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(random()));
        const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// ReplaceFileW wants full paths (wine's fails on relative ones); the path as given when it
// cannot be made full.
std::wstring fullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

// Renames the open file over `target` with POSIX semantics: readers that hold the target keep
// the old file while the name moves to the new one. Not every system or file system has it.
bool renamePosix(HANDLE file, const std::wstring& target) {
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, target.data(), nameBytes);
    return SetFileInformationByHandle(file, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size())) != 0;
}

// Puts the closed temporary file in the target's place once: ReplaceFileW over an existing
// target (it replaces a file that readers hold, where a plain rename is refused), a move when
// there is none. GetLastError tells why it failed.
bool replaceOnce(const std::wstring& temporary, const std::wstring& target) {
    if (ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr))
        return true;
    // Without a backup name, ERROR_UNABLE_TO_MOVE_REPLACEMENT leaves no target and the new
    // file under its temporary name: the move completes the replacement.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) return false;
    return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool isSharingError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

bool replaceWithRetries(const std::wstring& temporary, const std::wstring& target) {
    // A directory is never replaced (wine's ReplaceFileW would move it aside).
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    for (int attempt = 1;; ++attempt) {
        if (replaceOnce(temporary, target)) return true;
        if (attempt == kReplaceAttempts || !isSharingError(GetLastError())) return false;
        Sleep(kReplaceRetryMs);
    }
}

// Only a regular disk file, not a reparse point itself, of at most kMaxStateFileBytes.
bool isSmallRegularFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) return false;
    const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    const ULONGLONG size = (ULONGLONG{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    return (info.dwFileAttributes & refused) == 0 && size <= kMaxStateFileBytes;
}

}  // namespace

bool readWholeFile(const std::string& path, std::string& bytes) {
    Handle file(CreateFileW(widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid() || !isSmallRegularFile(file.get())) return false;
    std::string content;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return false;
        if (read == 0) break;
        content.append(buffer, read);
        if (content.size() > kMaxStateFileBytes) return false;  // grew since it was checked
    }
    bytes = std::move(content);
    return true;
}

// The POSIX rename by handle first; where the system lacks it, ReplaceFileW by name.
bool writeFileAtomically(const std::string& path, const std::string& bytes, bool) {
    const std::wstring target = fullPath(widen(path));
    std::wstring temporary;
    Handle file(createTemporary(target, temporary));
    if (!file.valid()) return false;
    const bool written = writeAll(file.get(), bytes) && FlushFileBuffers(file.get());
    bool placed = written && renamePosix(file.get(), target);
    const bool closed = file.close();
    placed = placed || (written && closed && replaceWithRetries(temporary, target));
    if (!placed) DeleteFileW(temporary.c_str());
    return placed;
}

bool removeFile(const std::string& path) {
    if (DeleteFileW(widen(path).c_str())) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool isRegularFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace vpn
