// Host names of nodes to IPv4 addresses on Windows.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "service/connect_node.h"
#include "vpn/text_win.h"

namespace service {

bool resolveHostIpv4(const std::string& host, std::string& address, std::string& error) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        error = "WSAStartup failed";
        return false;
    }
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    const int status = GetAddrInfoW(vpn::widen(host).c_str(), nullptr, &hints, &found);
    bool ok = false;
    if (status == 0 && found != nullptr) {
        wchar_t text[INET_ADDRSTRLEN] = {};
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        ok = InetNtopW(AF_INET, &ipv4->sin_addr, text, INET_ADDRSTRLEN) != nullptr;
        if (ok) address = vpn::narrow(text);
        FreeAddrInfoW(found);
    } else {
        error = "err=" + std::to_string(status);
    }
    WSACleanup();
    return ok;
}

}  // namespace service
