// The network operations on Windows: IP Helper for the gateway, routes and adapters, netsh
// (through the process runner, by its full path in the system directory) for the TUN
// adapter's address and DNS.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <chrono>
#include <cwctype>
#include <thread>
#include <vector>

#include "service/tunnel/gateway_choice.h"
#include "service/tunnel/network.h"
#include "service/tunnel/process_runner.h"
#include "service/tunnel/route_row_win.h"
#include "vpn/text_win.h"

namespace tunnel {
namespace {

constexpr ULONG kAliasBufferLength = 257;  // IF_MAX_STRING_SIZE + 1
constexpr int kPortProbeMs = 20;  // a loopback connect answers at once
constexpr ULONG kAdapterErrorRetries = 3;
constexpr int kTunPollMs = 250;
constexpr int kAddressPollMs = 200;
constexpr int kAddressCommandTimeoutMs = 4000;
constexpr int kDnsCommandTimeoutMs = 2500;
constexpr uint32_t kSuccessAlreadyExists = 5010;  // ERROR_OBJECT_ALREADY_EXISTS

std::wstring lowered(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// netsh by its full path: by bare name the search would start in the service's current
// directory, which is not the system's to guard.
std::string netshPath() {
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "C:\\Windows\\System32\\netsh.exe";
    return vpn::narrow(std::wstring(directory, length)) + "\\netsh.exe";
}

uint32_t hostOrder(const SOCKADDR_INET& address) { return ntohl(address.Ipv4.sin_addr.s_addr); }

// The alias of the row's adapter, or empty when it cannot be read or is excluded.
std::string usableAlias(const MIB_IPFORWARD_ROW2& row) {
    wchar_t alias[kAliasBufferLength] = {};
    if (ConvertInterfaceLuidToAlias(&row.InterfaceLuid, alias, kAliasBufferLength) != NO_ERROR) return "";
    if (isExcludedAdapterName(vpn::narrow(lowered(alias)))) return "";
    return vpn::narrow(alias);
}

// The IPv4 forwarding table; null when it cannot be read. Free with FreeMibTable.
PMIB_IPFORWARD_TABLE2 ipv4Routes() {
    PMIB_IPFORWARD_TABLE2 table = nullptr;
    if (GetIpForwardTable2(AF_INET, &table) != NO_ERROR) return nullptr;
    return table;
}

// GetAdaptersAddresses: the size query, then the real call (again when the list grew).
std::vector<unsigned char> adapterList(ULONG family, ULONG flags) {
    std::vector<unsigned char> buffer;
    ULONG size = 0;
    ULONG result = GetAdaptersAddresses(family, flags, nullptr, nullptr, &size);
    for (ULONG attempt = 0; result == ERROR_BUFFER_OVERFLOW && attempt < kAdapterErrorRetries; ++attempt) {
        buffer.assign(size, 0);
        result = GetAdaptersAddresses(family, flags, nullptr, reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()),
                                      &size);
    }
    if (result != NO_ERROR) buffer.clear();
    return buffer;
}

template <typename Visit>
void forEachAdapter(ULONG family, ULONG flags, Visit visit) {
    std::vector<unsigned char> buffer = adapterList(family, flags);
    if (buffer.empty()) return;
    for (auto* adapter = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()); adapter; adapter = adapter->Next) {
        if (visit(*adapter)) return;
    }
}

bool contains(const wchar_t* text, const std::wstring& loweredFragment) {
    return text && lowered(text).find(loweredFragment) != std::wstring::npos;
}

bool friendlyNameIs(const IP_ADAPTER_ADDRESSES& adapter, const std::wstring& alias) {
    return adapter.FriendlyName && alias == adapter.FriendlyName;
}

// Calls `attempt` until it succeeds or `timeoutMs` has passed, checked before each attempt.
template <typename Attempt>
bool pollUntil(int timeoutMs, int intervalMs, Attempt attempt) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs)) return false;
        if (attempt()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
}

class WindowsNetworkOps final : public NetworkOps {
public:
    explicit WindowsNetworkOps(ProcessRunner& runner) : runner_(runner) {}

    bool findPhysicalGateway(PhysicalGateway& gateway, std::string& error) override {
        PMIB_IPFORWARD_TABLE2 table = ipv4Routes();
        if (!table) {
            error = "GetIpForwardTable2 failed";
            return false;
        }
        std::vector<GatewayCandidate> candidates;
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const MIB_IPFORWARD_ROW2& row = table->Table[i];
            const uint32_t nextHop = hostOrder(row.NextHop);
            if (row.DestinationPrefix.PrefixLength != 0 || nextHop == 0) continue;
            candidates.push_back({usableAlias(row), 0, nextHop, static_cast<uint32_t>(row.Metric)});
        }
        FreeMibTable(table);
        return choosePhysicalGateway(candidates, gateway, error);
    }

    bool addRoute(const RouteSpec& route, std::string& error) override {
        MIB_IPFORWARD_ROW2 row;
        if (!buildRouteRow(route, row, error)) return false;
        const DWORD result = CreateIpForwardEntry2(&row);
        if (result == NO_ERROR || result == kSuccessAlreadyExists) return true;
        error = "CreateIpForwardEntry2 failed " + std::to_string(result) + " for " + route.destination;
        return false;
    }

    void deleteRoute(const RouteSpec& route) override {
        RouteSpec anyMetric = route;
        anyMetric.metric = 0;
        MIB_IPFORWARD_ROW2 row;
        std::string ignored;
        if (buildRouteRow(anyMetric, row, ignored)) DeleteIpForwardEntry2(&row);
    }

    bool routeExists(const std::string& alias, const std::string& destination, uint8_t prefixLength) override {
        NET_LUID luid{};
        uint32_t address = 0;
        if (ConvertInterfaceAliasToLuid(vpn::widen(alias).c_str(), &luid) != NO_ERROR || !parseIpv4(destination, address))
            return false;
        PMIB_IPFORWARD_TABLE2 table = ipv4Routes();
        if (!table) return false;
        bool found = false;
        for (ULONG i = 0; i < table->NumEntries && !found; ++i) {
            const MIB_IPFORWARD_ROW2& row = table->Table[i];
            found = row.InterfaceLuid.Value == luid.Value && row.DestinationPrefix.PrefixLength == prefixLength &&
                    hostOrder(row.DestinationPrefix.Prefix) == address;
        }
        FreeMibTable(table);
        return found;
    }

    // Nothing to do: the host route is deleted before it is added again, and the split
    // routes vanish with the Wintun adapter.
    void removeStaleRoutes() override {}

    bool waitForTunAdapter(const std::string& fragment, std::string& alias, int timeoutMs) override {
        const std::wstring wanted = lowered(vpn::widen(fragment));
        return pollUntil(timeoutMs, kTunPollMs, [&] {
            bool found = false;
            forEachAdapter(AF_UNSPEC, 0, [&](const IP_ADAPTER_ADDRESSES& adapter) {
                found = (contains(adapter.FriendlyName, wanted) || contains(adapter.Description, wanted)) &&
                        adapter.OperStatus == IfOperStatusUp;
                if (found) alias = vpn::narrow(adapter.FriendlyName);
                return found;
            });
            return found;
        });
    }

    bool waitForIpv4Address(const std::string& alias, int timeoutMs) override {
        const std::wstring wanted = vpn::widen(alias);
        return pollUntil(timeoutMs, kAddressPollMs, [&] {
            bool found = false;
            forEachAdapter(AF_INET, GAA_FLAG_INCLUDE_PREFIX, [&](const IP_ADAPTER_ADDRESSES& adapter) {
                found = friendlyNameIs(adapter, wanted) && adapter.FirstUnicastAddress != nullptr;
                return found;
            });
            return found;
        });
    }

    // A non-blocking connect: a refused loopback connect is retried by Windows for a second.
    bool localPortAccepts(uint16_t port) override {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
        const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        bool accepted = false;
        u_long nonBlocking = 1;
        if (socket != INVALID_SOCKET && ioctlsocket(socket, FIONBIO, &nonBlocking) == 0) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(socket, &writable);
            FD_SET(socket, &failed);
            timeval wait{0, kPortProbeMs * 1000};
            accepted = select(0, nullptr, &writable, &failed, &wait) > 0 && FD_ISSET(socket, &writable);
        }
        if (socket != INVALID_SOCKET) closesocket(socket);
        WSACleanup();
        return accepted;
    }

    std::vector<IpPrefix> onLinkNetworks(const std::string& alias) override {
        const std::wstring wanted = vpn::widen(alias);
        std::vector<IpPrefix> networks;
        forEachAdapter(AF_INET, 0, [&](const IP_ADAPTER_ADDRESSES& adapter) {
            if (!friendlyNameIs(adapter, wanted)) return false;
            for (auto* unicast = adapter.FirstUnicastAddress; unicast; unicast = unicast->Next) {
                const SOCKADDR* address = unicast->Address.lpSockaddr;
                const uint8_t length = unicast->OnLinkPrefixLength;
                if (!address || address->sa_family != AF_INET || length == 0 || length > 32) continue;
                const uint32_t host = ntohl(reinterpret_cast<const SOCKADDR_IN*>(address)->sin_addr.s_addr);
                const uint32_t mask = length == 32 ? ~0u : ~(~0u >> length);
                networks.push_back({formatIpv4(host & mask), length, false});
            }
            return true;
        });
        return networks;
    }

    std::vector<std::string> adapterDnsServers(const std::string& alias) override {
        const std::wstring wanted = vpn::widen(alias);
        std::vector<std::string> servers;
        forEachAdapter(AF_INET, GAA_FLAG_INCLUDE_PREFIX, [&](const IP_ADAPTER_ADDRESSES& adapter) {
            if (!friendlyNameIs(adapter, wanted)) return false;
            for (auto* server = adapter.FirstDnsServerAddress; server; server = server->Next) {
                const SOCKADDR* address = server->Address.lpSockaddr;
                if (!address || address->sa_family != AF_INET) continue;
                wchar_t text[INET_ADDRSTRLEN] = {};
                const auto* ipv4 = reinterpret_cast<const SOCKADDR_IN*>(address);
                if (InetNtopW(AF_INET, &ipv4->sin_addr, text, INET_ADDRSTRLEN)) servers.push_back(vpn::narrow(text));
            }
            return true;
        });
        return servers;
    }

    bool setTunAddress(const std::string& alias, const std::string& address, std::string& error) override {
        std::string runnerError;
        uint32_t parsed = 0;
        if (!parseIpv4(address, parsed)) {
            error = "failed to assign TUN address: invalid IPv4 address " + address;
            return false;
        }
        const CommandArgs args{word("interface"),         word("ipv4"),          word("set"),
                               word("address"),           quotedArg("name=", alias), word("source=static"),
                               word("addr=" + address),   word("mask=255.255.255.0")};
        if (runner_.runCommand(netsh_, args, kAddressCommandTimeoutMs, runnerError)) return true;
        error = "failed to assign TUN address: " + runnerError;
        return false;
    }

    void setTunDns(const std::string& alias) override {
        runIgnored({word("interface"), word("ipv4"), word("set"), word("dnsservers"), quotedArg("name=", alias),
                    word("static"), word("address=1.1.1.1"), word("register=none"), word("validate=no")});
    }

    void resetAdapterDns(const std::string& alias) override {
        runIgnored({word("interface"), word("ipv4"), word("set"), word("dnsservers"), quotedArg("name=", alias),
                    word("source=dhcp")});
    }

    // Nothing to do: the TUN adapter's DNS goes with the adapter.
    void restoreDns() override {}

private:
    void runIgnored(const CommandArgs& args) {
        std::string ignored;
        runner_.runCommand(netsh_, args, kDnsCommandTimeoutMs, ignored);
    }

    ProcessRunner& runner_;
    const std::string netsh_ = netshPath();
};

}  // namespace

// The DNS options concern machine-wide resolver configurations; netsh sets DNS per adapter.
std::unique_ptr<NetworkOps> makeNetworkOps(ProcessRunner& runner, NetworkOptions) {
    return std::make_unique<WindowsNetworkOps>(runner);
}

}  // namespace tunnel
