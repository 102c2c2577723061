// Stands in for tun2socks in tests (Linux). It takes the start arguments
//   --loglevel LEVEL --device NAME --proxy socks5://HOST:PORT [--interface ALIAS]
// (anything else ends it with code 2), connects once to its proxy (exit 1 when nothing
// listens there), creates the TUN interface NAME (not brought up: the service does that) and
// holds it until it is killed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "tests/support/doubles/double_switches.h"

namespace {

constexpr const char* kProgram = "tun2socks double";

std::map<std::string, std::string> options(int argc, char** argv) {
    std::map<std::string, std::string> found;
    for (int i = 1; i + 1 < argc; i += 2) found[argv[i]] = argv[i + 1];
    const bool known = found.size() == static_cast<size_t>(argc - 1) / 2 && argc % 2 == 1 &&
                       found.size() == 3 + found.count("--interface");
    if (!known || !found.count("--loglevel") || !found.count("--device") || !found.count("--proxy"))
        orvik_double::fail(kProgram, 2, "usage: tun2socks --loglevel L --device N --proxy socks5://H:P [--interface A]");
    return found;
}

// A socket bound to the physical device (what --interface does on Linux) cannot reach a
// proxy on 127.0.0.1, so such a tunnel carries no UDP: the double refuses to start.
void reachProxy(const std::string& proxy, const std::string& interfaceName) {
    const size_t colon = proxy.rfind(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(proxy.c_str() + colon + 1)));
    if (!proxy.starts_with("socks5://") || colon == std::string::npos ||
        ::inet_pton(AF_INET, proxy.substr(9, colon - 9).c_str(), &address.sin_addr) != 1)
        orvik_double::fail(kProgram, 2, "bad --proxy " + proxy);
    // Xray was started just before us: a refusal is retried while it opens its port.
    for (int attempt = 0;; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (!interfaceName.empty())
            ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(), interfaceName.size());
        const int error = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
        ::close(fd);
        if (error == 0) return;
        if (error != ECONNREFUSED || attempt == 200) orvik_double::fail(kProgram, 1, "proxy unreachable");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void createTun(const std::string& device) {
    const std::string name = device.starts_with("tun://") ? device.substr(6) : device;
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    if (name.empty() || name.size() >= IFNAMSIZ || ::ioctl(fd, TUNSETIFF, &request) != 0)
        orvik_double::fail(kProgram, 1, "cannot create TUN " + name + ": " + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
    const auto given = options(argc, argv);
    reachProxy(given.at("--proxy"), given.count("--interface") ? given.at("--interface") : "");
    createTun(given.at("--device"));
    for (;;) ::pause();
}
