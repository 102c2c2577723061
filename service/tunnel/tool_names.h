#pragma once
// Process names of the tunnel's programs as the system lists them.

namespace tunnel {

// The executable name of Xray: "xray.exe" on Windows, "xray" on Linux.
const char* xrayProcessName();

// Every tun2socks build starts with this name, whatever its suffix.
inline constexpr const char* kTun2socksNamePrefix = "tun2socks";

}  // namespace tunnel
