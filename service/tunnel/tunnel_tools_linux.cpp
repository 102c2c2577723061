// The tunnel's programs on Linux: xray/xray, the first tun2socks* executable by name, a TUN
// device that opens for reading and writing, and the configuration file.
#include "service/tunnel/tunnel_tools_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

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

class LinuxToolLocator final : public ToolLocator {
public:
    explicit LinuxToolLocator(std::string tunDevice) : tunDevice_(std::move(tunDevice)) {}

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
            tools = {xray, tun2socks};
            return true;
        }
        return false;
    }

private:
    std::string tunDevice_;
};

}  // namespace

std::unique_ptr<ToolLocator> makeToolLocator(const std::string& tunDevice) {
    return std::make_unique<LinuxToolLocator>(tunDevice);
}

std::unique_ptr<ToolLocator> makeToolLocator() { return makeToolLocator(kTunDevice); }

}  // namespace tunnel
