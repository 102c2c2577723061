// Stands in for tun2socks in tests. It accepts the service's start arguments
//   --loglevel info --device NAME --proxy socks5://HOST:PORT [--interface ALIAS]
// (each once, in any order, --interface optional; anything else ends it with code 2), opens
// one connection to its proxy and ends with code 1 when that fails, creates the TUN interface
// NAME on Linux (not brought up: the service does that when it sets the address), holds it
// and runs until it is killed. On Windows it creates no adapter.
// Failure switches: see double_switches.h (tool name TUN2SOCKS).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "tests/support/doubles/double_socket.h"
#include "tests/support/doubles/double_switches.h"
#include "tests/support/doubles/tun_device.h"

namespace {

constexpr const char* kProgram = "tun2socks double";
// A proxy started just before us may not listen yet; a refusal is retried this long.
constexpr auto kProxyStartupWait = std::chrono::seconds(3);

[[noreturn]] void fail(int code, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    std::exit(code);
}

std::map<std::string, std::string> parseOptions(int argc, char** argv) {
    const std::set<std::string> required = {"--loglevel", "--device", "--proxy"};
    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        const bool known = required.count(name) || name == "--interface";
        if (!known || i + 1 >= argc || options.count(name)) fail(2, "unexpected argument " + name);
        options[name] = argv[i + 1];
    }
    for (const std::string& name : required) {
        if (!options.count(name)) {
            fail(2, "usage: tun2socks --loglevel LEVEL --device NAME --proxy socks5://HOST:PORT [--interface ALIAS]");
        }
    }
    return options;
}

struct Proxy {
    std::string host;
    int port = 0;
};

// "socks5://HOST:PORT"; nothing when the text has another form.
std::optional<Proxy> proxyOf(const std::string& url) {
    const std::string scheme = "socks5://";
    if (url.rfind(scheme, 0) != 0) return std::nullopt;
    const std::string address = url.substr(scheme.size());
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    const std::string port = address.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    Proxy proxy{address.substr(0, colon), std::stoi(port)};
    if (proxy.port < 1 || proxy.port > 65535) return std::nullopt;
    return proxy;
}

// Empty when the option is not given.
std::string interfaceOf(const std::map<std::string, std::string>& options) {
    const auto found = options.find("--interface");
    return found == options.end() ? std::string() : found->second;
}

void checkOptions(const std::map<std::string, std::string>& options) {
    const std::set<std::string> levels = {"debug", "info", "warning", "error", "silent"};
    if (!levels.count(options.at("--loglevel"))) fail(2, "bad --loglevel " + options.at("--loglevel"));
    if (!proxyOf(options.at("--proxy"))) fail(2, "bad --proxy " + options.at("--proxy"));
    if (options.at("--device").empty() || (options.count("--interface") && interfaceOf(options).empty())) {
        fail(2, "empty --device or --interface");
    }
}

// With --interface, tun2socks binds the sockets it opens for its proxy to that interface
// (SO_BINDTODEVICE on Linux). Its UDP relay socket is bound even when the proxy is on
// 127.0.0.1, and on Linux a socket bound to another device than lo cannot reach 127.0.0.1.
// The double makes one connection to its proxy at start, bound that way (not on Windows, see
// connectTo), so a tunnel that could carry no such traffic fails its start.
void reachProxy(const Proxy& proxy, const std::string& interfaceName) {
    if (!orvik_double::startSockets()) fail(1, "sockets unavailable");
    const auto giveUp = std::chrono::steady_clock::now() + kProxyStartupWait;
    for (;;) {
        std::string error;
        bool refused = false;
        const orvik_double::Socket socket =
            orvik_double::connectTo(proxy.host, proxy.port, interfaceName, error, refused);
        if (socket != orvik_double::kNoSocket) {
            orvik_double::closeSocket(socket);
            return;
        }
        if (!refused || std::chrono::steady_clock::now() >= giveUp) fail(1, "proxy unreachable: " + error);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// "tun://NAME" or a bare NAME.
std::string deviceName(const std::string& device) {
    const std::string scheme = "tun://";
    return device.rfind(scheme, 0) == 0 ? device.substr(scheme.size()) : device;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    checkOptions(options);
    orvik_double::applyExitSwitches("TUN2SOCKS", kProgram);
    reachProxy(*proxyOf(options.at("--proxy")), interfaceOf(options));
    if (orvik_double::switchOn("TUN2SOCKS", "NO_ADAPTER")) {
        std::fprintf(stderr, "%s: running without an adapter as asked\n", kProgram);
    } else {
        std::string error;
        if (!orvik_double::openTunDevice(deviceName(options.at("--device")), error)) fail(1, error);
    }
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
