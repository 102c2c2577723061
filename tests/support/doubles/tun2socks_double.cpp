// Stands in for tun2socks in tests. It accepts the service's start arguments
//   --loglevel info --device NAME --proxy socks5://HOST:PORT --interface ALIAS
// (each once, in any order; anything else ends it with code 2), creates the TUN interface
// NAME on Linux (not brought up: the service does that when it sets the address), holds it
// and runs until it is killed. On Windows it only checks the arguments and keeps running.
// Failure switches: see double_switches.h (tool name TUN2SOCKS).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "tests/support/doubles/double_switches.h"
#include "tests/support/doubles/tun_device.h"

namespace {

constexpr const char* kProgram = "tun2socks double";

[[noreturn]] void fail(int code, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    std::exit(code);
}

std::map<std::string, std::string> parseOptions(int argc, char** argv) {
    const std::set<std::string> known = {"--loglevel", "--device", "--proxy", "--interface"};
    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (!known.count(name) || i + 1 >= argc || options.count(name)) fail(2, "unexpected argument " + name);
        options[name] = argv[i + 1];
    }
    if (options.size() != known.size()) fail(2, "usage: tun2socks " + std::string(
        "--loglevel LEVEL --device NAME --proxy socks5://HOST:PORT --interface ALIAS"));
    return options;
}

void checkOptions(const std::map<std::string, std::string>& options) {
    const std::set<std::string> levels = {"debug", "info", "warning", "error", "silent"};
    if (!levels.count(options.at("--loglevel"))) fail(2, "bad --loglevel " + options.at("--loglevel"));
    const std::string& proxy = options.at("--proxy");
    if (proxy.rfind("socks5://", 0) != 0 || proxy.find(':', 9) == std::string::npos) fail(2, "bad --proxy " + proxy);
    if (options.at("--device").empty() || options.at("--interface").empty()) fail(2, "empty --device or --interface");
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
    // Like tun2socks, which binds its outgoing sockets to this interface.
    if (!orvik_double::interfaceExists(options.at("--interface"))) {
        fail(1, "interface not found: " + options.at("--interface"));
    }
    if (orvik_double::switchOn("TUN2SOCKS", "NO_ADAPTER")) {
        std::fprintf(stderr, "%s: running without an adapter as asked\n", kProgram);
    } else {
        std::string error;
        if (!orvik_double::openTunDevice(deviceName(options.at("--device")), error)) fail(1, error);
    }
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
