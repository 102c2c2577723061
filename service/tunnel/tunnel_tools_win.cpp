// The tunnel's programs on Windows: xray.exe, the first tun2socks*.exe that FindFirstFileW
// lists, wintun.dll beside it, and the configuration file. Any attributes count as present.
// The service under the service manager also refuses programs that users could replace.
#include <windows.h>

#include <initializer_list>

#include "service/tunnel/tool_trust.h"
#include "service/tunnel/tunnel_tools.h"
#include "vpn/text_win.h"

namespace tunnel {
namespace {

bool present(const std::string& path) {
    return GetFileAttributesW(vpn::widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Empty when nothing matches.
std::string firstTun2socks(const std::string& directory) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(vpn::widen(directory + "\\tun2socks*.exe").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    return directory + "\\" + vpn::narrow(found.cFileName);
}

class WinToolLocator final : public ToolLocator {
public:
    explicit WinToolLocator(bool requireTrustedTools) : requireTrustedTools_(requireTrustedTools) {}

    bool locate(const std::string& xrayDirectory, const std::string& tun2socksDirectory,
                const std::string& configPath, TunnelTools& tools, std::string& error) override {
        const std::string xray = xrayDirectory + "\\xray.exe";
        const std::string tun2socks = firstTun2socks(tun2socksDirectory);
        if (!present(xray)) {
            error = "xray.exe not found";
        } else if (tun2socks.empty()) {
            error = "tun2socks exe not found";
        } else if (!present(tun2socksDirectory + "\\wintun.dll")) {
            error = "wintun.dll not found next to tun2socks";
        } else if (!trusted({xray, tun2socks, tun2socksDirectory + "\\wintun.dll"}, error)) {
            // `error` names what users could change
        } else if (!present(configPath)) {
            error = "config not found";
        } else {
            tools = {xray, tun2socks, /*tun2socksTakesInterface=*/true};
            return true;
        }
        return false;
    }

private:
    bool trusted(std::initializer_list<std::string> programs, std::string& error) const {
        if (!requireTrustedTools_) return true;
        for (const std::string& program : programs)
            if (!onlyAdministratorsCanChange(program, error)) return false;
        return true;
    }

    bool requireTrustedTools_;
};

}  // namespace

std::unique_ptr<ToolLocator> makeToolLocator(bool requireTrustedTools) {
    return std::make_unique<WinToolLocator>(requireTrustedTools);
}

}  // namespace tunnel
