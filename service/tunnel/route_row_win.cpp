#include "service/tunnel/route_row_win.h"

#include "service/tunnel/gateway_choice.h"
#include "vpn/text_win.h"

namespace tunnel {
namespace {

constexpr ULONG kInfiniteLifetime = 0xFFFFFFFF;

}  // namespace

SOCKADDR_INET ipv4SocketAddress(uint32_t hostOrder) {
    SOCKADDR_INET address{};
    address.Ipv4.sin_family = AF_INET;
    address.Ipv4.sin_addr.s_addr = htonl(hostOrder);
    return address;
}

bool buildRouteRow(const RouteSpec& route, MIB_IPFORWARD_ROW2& row, std::string& error) {
    InitializeIpForwardEntry(&row);
    return fillRouteRow(route, row, error);
}

bool fillRouteRow(const RouteSpec& route, MIB_IPFORWARD_ROW2& row, std::string& error) {
    NET_LUID luid{};
    NET_IFINDEX index = 0;
    if (ConvertInterfaceAliasToLuid(vpn::widen(route.interfaceAlias).c_str(), &luid) != NO_ERROR ||
        ConvertInterfaceLuidToIndex(&luid, &index) != NO_ERROR) {
        error = "unknown interface " + route.interfaceAlias;
        return false;
    }
    RouteAddresses addresses;
    if (!parseRouteAddresses(route, true, addresses, error)) return false;
    row.InterfaceLuid = luid;
    row.InterfaceIndex = index;
    row.DestinationPrefix.Prefix = ipv4SocketAddress(addresses.destination);
    row.DestinationPrefix.PrefixLength = route.prefixLength;
    row.NextHop = ipv4SocketAddress(addresses.nextHop);
    row.Metric = route.metric;
    row.Protocol = static_cast<NL_ROUTE_PROTOCOL>(MIB_IPPROTO_NETMGMT);
    row.ValidLifetime = kInfiniteLifetime;
    row.PreferredLifetime = kInfiniteLifetime;
    return true;
}

}  // namespace tunnel
