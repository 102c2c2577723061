#pragma once
// What the Xray double demands of its configuration: the shape the service writes (a SOCKS
// inbound on 127.0.0.1:10808 with UDP, a VLESS+REALITY proxy outbound first, the direct and
// block outbounds, the proxy and every freedom outbound bound to an interface, and the six
// routing rules).

#include <string>

namespace orvik_double {

struct XrayServe {
    std::string listenAddress;
    int listenPort = 0;
    std::string outboundInterface;  // "sockopt" "interface" of the proxy outbound
};

// False with `problem` naming the first thing that is wrong.
bool checkXrayConfig(const std::string& text, XrayServe& serve, std::string& problem);

}  // namespace orvik_double
