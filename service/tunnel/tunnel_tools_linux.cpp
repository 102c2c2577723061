// The tunnel's programs on Linux: xray/xray, the first tun2socks* executable by name, a TUN
// device that opens for reading and writing, and the configuration file.
#include "service/tunnel/tunnel_tools_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <vector>

#include "service/tunnel/tool_trust.h"
#include "vpn/system.h"

namespace tunnel {
namespace {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool startsWithAnyCase(const std::string& name, const std::string& prefix) {
    if (name.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), name.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

// Directory listings come in no useful order; sorting by name makes the choice stable.
std::string firstTun2socks(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return {};
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (startsWithAnyCase(entry->d_name, "tun2socks")) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = vpn::joinPath(directory, name);
        if (isExecutableFile(path)) return path;
    }
    return {};
}

bool opensReadWrite(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The program's path with every link resolved, so that what was checked is what runs: a
// link on the way could be pointed elsewhere after the check. Empty when it cannot be resolved.
std::string resolvedPath(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// Both programs resolved and checked; false with the text naming the path others can change.
bool trusted(TunnelTools& tools, std::string& error) {
    for (std::string* program : {&tools.xrayExecutable, &tools.tun2socksExecutable}) {
        const std::string resolved = resolvedPath(*program);
        if (!onlyAdministratorsCanChange(resolved.empty() ? *program : resolved, error)) return false;
        *program = resolved;
    }
    return true;
}

class LinuxToolLocator final : public ToolLocator {
public:
    LinuxToolLocator(std::string tunDevice, bool requireTrustedTools)
        : tunDevice_(std::move(tunDevice)), requireTrustedTools_(requireTrustedTools) {}

    bool locate(const std::string& xrayDirectory, const std::string& tun2socksDirectory,
                const std::string& configPath, TunnelTools& tools, std::string& error) override {
        const std::string xray = vpn::joinPath(xrayDirectory, vpn::xrayExecutableName());
        const std::string tun2socks = firstTun2socks(tun2socksDirectory);
        if (!isExecutableFile(xray)) {
            error = "xray not found";
        } else if (tun2socks.empty()) {
            error = "tun2socks executable not found";
        } else if (!opensReadWrite(tunDevice_)) {
            error = tunDevice_ + " cannot be opened (TUN support or root missing)";
        } else if (!exists(configPath)) {
            error = "config not found";
        } else {
            TunnelTools found{xray, tun2socks, /*tun2socksTakesInterface=*/false};
            if (requireTrustedTools_ && !trusted(found, error)) return false;
            tools = found;
            return true;
        }
        return false;
    }

private:
    std::string tunDevice_;
    bool requireTrustedTools_;
};

}  // namespace

std::unique_ptr<ToolLocator> makeToolLocator(const std::string& tunDevice, bool requireTrustedTools) {
    return std::make_unique<LinuxToolLocator>(tunDevice, requireTrustedTools);
}

std::unique_ptr<ToolLocator> makeToolLocator(bool requireTrustedTools) {
    return makeToolLocator(kTunDevice, requireTrustedTools);
}

}  // namespace tunnel
