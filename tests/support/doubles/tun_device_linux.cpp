// The TUN interface of the tun2socks double.
#include <fcntl.h>
#include <net/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/support/doubles/tun_device.h"

namespace orvik_double {

bool openTunDevice(const std::string& name, std::string& error) {
    if (name.empty() || name.size() >= IFNAMSIZ) {
        error = "bad device name: " + name;
        return false;
    }
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot open /dev/net/tun: ") + std::strerror(errno);
        return false;
    }
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    if (::ioctl(fd, TUNSETIFF, &request) != 0) {
        error = "cannot create TUN " + name + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    std::thread([fd] {
        char packet[65536];
        for (;;) {
            const ssize_t n = ::read(fd, packet, sizeof packet);
            if (n < 0 && errno != EINTR && errno != EAGAIN) return;
        }
    }).detach();
    return true;
}

}  // namespace orvik_double
