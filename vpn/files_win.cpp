// Whole-file access with Win32 calls on wide paths.
#include "vpn/files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <random>

#include "vpn/text_win.h"

namespace vpn {
namespace {

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
HANDLE createTemporary(const std::string& path, std::wstring& temporary) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = widen(path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                          std::to_string(counter++) + "-" + std::to_string(random()));
        const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool readWholeFile(const std::string& path, std::string& bytes) {
    Handle file(CreateFileW(widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    std::string content;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return false;
        if (read == 0) break;
        content.append(buffer, read);
    }
    bytes = std::move(content);
    return true;
}

bool writeFileAtomically(const std::string& path, const std::string& bytes) {
    std::wstring temporary;
    Handle file(createTemporary(path, temporary));
    if (!file.valid()) return false;
    bool ok = writeAll(file.get(), bytes) && FlushFileBuffers(file.get());
    ok = file.close() && ok;
    ok = ok && MoveFileExW(temporary.c_str(), widen(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(temporary.c_str());
    return ok;
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
