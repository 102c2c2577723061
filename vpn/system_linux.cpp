// Facts about the running program and the machine, from the environment and /proc.
#include "vpn/system.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "vpn/files.h"

namespace vpn {
namespace {

std::string currentDirectory() {
    std::vector<char> buffer(256);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::optional<std::string> environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool setEnvironmentVariable(const char* name, const std::string& value) {
    return ::setenv(name, value.c_str(), 1) == 0;
}

std::string executableDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return ".";
    const std::string path(buffer.data(), static_cast<size_t>(length));
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Lexical only, like GetFullPathNameW: ".." removes the previous name even when that name
// is a symbolic link.
std::optional<std::string> fullPathName(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::string absolute = path;
    if (path.front() != '/') {
        const std::string cwd = currentDirectory();
        if (cwd.empty()) return std::nullopt;
        absolute = cwd + "/" + path;
    }
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= absolute.size()) {
        size_t end = absolute.find('/', start);
        if (end == std::string::npos) end = absolute.size();
        const std::string name = absolute.substr(start, end - start);
        if (name == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& name : names) result += "/" + name;
    return result.empty() ? "/" : result;
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

const char* xrayExecutableName() { return "xray"; }

// systemd's id first; older systems keep only the D-Bus copy.
std::string machineDeviceId() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::string text;
        if (!readWholeFile(path, text)) continue;
        std::string id = trimmed(text);
        if (!id.empty()) return id;
    }
    return kUnknownDevice;
}

}  // namespace vpn
