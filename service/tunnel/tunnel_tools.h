#pragma once
// Where the tunnel's programs are, checked before anything is started.

#include <memory>
#include <string>

namespace tunnel {

struct TunnelTools {
    std::string xrayExecutable;
    std::string tun2socksExecutable;
    // tun2socks gets `--interface` with the physical adapter. Not on Linux: there the option
    // binds the sockets it opens (its UDP relay to the proxy among them) to the device with
    // SO_BINDTODEVICE, and such a socket cannot reach the proxy on 127.0.0.1; Xray's
    // outbounds carry the binding instead.
    bool tun2socksTakesInterface = false;
};

class ToolLocator {
public:
    virtual ~ToolLocator() = default;
    // Finds Xray in `xrayDirectory` and the first tun2socks* executable in
    // `tun2socksDirectory`, and checks the TUN driver and the configuration file. Errors:
    // "xray.exe not found", "tun2socks exe not found", "wintun.dll not found next to tun2socks"
    // and "config not found". Linux: xray/xray and tun2socks/tun2socks* (first by name) must be
    // executable files, /dev/net/tun must open: "xray not found", "tun2socks executable not
    // found", "/dev/net/tun cannot be opened (TUN support or root missing)", "config not found".
    virtual bool locate(const std::string& xrayDirectory, const std::string& tun2socksDirectory,
                        const std::string& configPath, TunnelTools& tools, std::string& error) = 0;
};

// With `requireTrustedTools` the programs are also refused (with the text of
// onlyAdministratorsCanChange) unless only the administrators can change them: always for the
// Linux service, which runs as root; for the Windows service under the service manager.
std::unique_ptr<ToolLocator> makeToolLocator(bool requireTrustedTools);

}  // namespace tunnel
