// Stands in for Xray in tests (Linux): `run -c PATH` reads the configuration, exits with code 1
// when it lacks what the tunnel relies on (a SOCKS inbound with UDP, the proxy outbound first,
// every outbound that leaves the machine bound to the physical interface: an unbound one would
// follow the split routes back into the TUN), and otherwise listens on the inbound (taken
// port: exit 1, as Xray does) until it is killed. Like real Xray once traffic flows, it opens
// a connection to the node through the bound interface, with the configured socket mark.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/support/doubles/double_switches.h"

namespace {

using Json = nlohmann::json;
constexpr const char* kProgram = "xray double";

// The member at `pointer` ("/inbounds/0/port"); null when there is none.
Json at(const Json& config, const std::string& pointer) {
    const Json::json_pointer where(pointer);
    return config.contains(where) ? config.at(where) : Json();
}

// "" when the document has the shape; otherwise what is wrong.
std::string problemOf(const Json& config) {
    if (at(config, "/inbounds/0/protocol") != "socks" || !at(config, "/inbounds/0/port").is_number_integer() ||
        at(config, "/inbounds/0/settings/udp") != true)
        return "the first inbound is not socks with udp";
    if (at(config, "/outbounds/0/tag") != "proxy" || at(config, "/outbounds/0/protocol") != "vless")
        return "the first outbound is not the vless proxy";
    for (const Json& outbound : at(config, "/outbounds")) {
        const Json protocol = at(outbound, "/protocol");
        if ((protocol == "vless" || protocol == "freedom") && !at(outbound, "/streamSettings/sockopt/interface").is_string())
            return "outbound " + at(outbound, "/tag").dump() + " is not bound to an interface";
    }
    return "";
}

// The node's first packets, as Xray sends them: a non-blocking connect that nobody waits for.
void reachNode(const Json& config) {
    const Json sockopt = at(config, "/outbounds/0/streamSettings/sockopt");
    sockaddr_in node{};
    node.sin_family = AF_INET;
    node.sin_port = htons(at(config, "/outbounds/0/settings/vnext/0/port").get<uint16_t>());
    const Json host = at(config, "/outbounds/0/settings/vnext/0/address");
    if (!host.is_string() || ::inet_pton(AF_INET, host.get<std::string>().c_str(), &node.sin_addr) != 1) return;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const std::string device = at(sockopt, "/interface").get<std::string>();
    ::setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), static_cast<socklen_t>(device.size()));
    if (at(sockopt, "/mark").is_number_unsigned()) {
        const uint32_t mark = at(sockopt, "/mark").get<uint32_t>();
        ::setsockopt(socket, SOL_SOCKET, SO_MARK, &mark, sizeof mark);
    }
    ::connect(socket, reinterpret_cast<sockaddr*>(&node), sizeof node);  // left open, like a live flow
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[1]) != "run" || std::string(argv[2]) != "-c")
        orvik_double::fail(kProgram, 2, "usage: xray run -c CONFIG");
    std::ifstream in(argv[3]);
    std::ostringstream text;
    text << in.rdbuf();
    const Json config = Json::parse(text.str(), nullptr, false);
    if (!in || !config.is_object()) orvik_double::fail(kProgram, 1, std::string("cannot read ") + argv[3]);
    if (const std::string problem = problemOf(config); !problem.empty())
        orvik_double::fail(kProgram, 1, "configuration rejected: " + problem);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(at(config, "/inbounds/0/port").get<uint16_t>());
    const Json listen = at(config, "/inbounds/0/listen");
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (!listen.is_string() || ::inet_pton(AF_INET, listen.get<std::string>().c_str(), &address.sin_addr) != 1 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 64) != 0)
        orvik_double::fail(kProgram, 1, std::string("cannot listen: ") + std::strerror(errno));
    reachNode(config);
    for (;;) ::pause();  // connections wait in the backlog: nothing here relays traffic
}
