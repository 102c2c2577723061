// Stands in for Xray in tests: `run -c PATH` reads the configuration, exits at once with
// code 1 when it does not have the shape the service writes, and otherwise serves SOCKS5
// CONNECT on the configured inbound until it is killed. Failure switches: see
// double_switches.h (tool name XRAY).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/doubles/double_switches.h"
#include "tests/support/doubles/socks_server.h"
#include "tests/support/doubles/xray_config_check.h"

namespace {

constexpr const char* kProgram = "xray double";

[[noreturn]] void fail(int code, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    std::exit(code);
}

bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[1]) != "run" || std::string(argv[2]) != "-c") {
        fail(2, "usage: xray run -c CONFIG");
    }
    orvik_double::applyExitSwitches("XRAY", kProgram);
    std::string text;
    if (!readFile(argv[3], text)) fail(1, std::string("cannot read ") + argv[3]);
    orvik_double::XrayServe serve;
    std::string problem;
    if (!orvik_double::checkXrayConfig(text, serve, problem)) fail(1, "configuration rejected: " + problem);
    if (!orvik_double::startSockets()) fail(1, "sockets unavailable");
    std::string error;
    const orvik_double::Socket listener = orvik_double::listenOn(serve.listenAddress, serve.listenPort, error);
    if (listener == orvik_double::kNoSocket) fail(1, error);
    std::fprintf(stderr, "%s: serving socks on %s:%d\n", kProgram, serve.listenAddress.c_str(), serve.listenPort);
    orvik_double::serveSocks(listener, serve.outboundInterface);
}
