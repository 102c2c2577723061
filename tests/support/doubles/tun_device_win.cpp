// No Wintun driver here: the tun2socks double creates no adapter on Windows.
#include "tests/support/doubles/tun_device.h"

namespace orvik_double {

bool openTunDevice(const std::string&, std::string&) { return true; }

}  // namespace orvik_double
