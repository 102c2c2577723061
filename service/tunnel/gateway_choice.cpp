#include "service/tunnel/gateway_choice.h"

#include <array>

namespace tunnel {
namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string text) {
    for (char& c : text) c = lowerAscii(c);
    return text;
}

// One decimal part of a dotted address: 1 to 3 digits, at most 255, no leading zero.
bool parsePart(const std::string& part, uint32_t& value) {
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value <= 255;
}

}  // namespace

bool parseIpv4(const std::string& text, uint32_t& address) {
    uint32_t result = 0;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = text.find('.', start);
        const bool last = i == 3;
        if (last != (dot == std::string::npos)) return false;
        uint32_t part = 0;
        if (!parsePart(text.substr(start, last ? std::string::npos : dot - start), part)) return false;
        result = (result << 8) | part;
        start = dot + 1;
    }
    address = result;
    return true;
}

std::string formatIpv4(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool isExcludedAdapterName(const std::string& alias) {
    static const std::array<const char*, 7> excluded = {"vmware",     "loopback", "wintun",   "xray",
                                                        "virtualbox", "hyper-v",  "vethernet"};
    const std::string lower = lowerAscii(alias);
    for (const char* entry : excluded) {
        if (lower.find(entry) != std::string::npos) return true;
    }
    return false;
}

bool choosePhysicalGateway(const std::vector<GatewayCandidate>& rows, PhysicalGateway& gateway,
                           std::string& error) {
    const GatewayCandidate* best = nullptr;
    for (const GatewayCandidate& row : rows) {
        if (row.prefixLength != 0 || row.nextHop == 0) continue;
        if (row.alias.empty() || isExcludedAdapterName(row.alias)) continue;
        if (!best || row.metric < best->metric) best = &row;  // ties: the first stays
    }
    if (!best) {
        error = "no physical default gateway";
        return false;
    }
    gateway.interfaceAlias = best->alias;
    gateway.nextHop = formatIpv4(best->nextHop);
    return true;
}

bool parseRouteAddresses(const RouteSpec& route, bool nextHopRequired, RouteAddresses& addresses,
                         std::string& error) {
    RouteAddresses parsed;
    parsed.hasNextHop = !route.nextHop.empty();
    const bool destinationOk = parseIpv4(route.destination, parsed.destination);
    const bool nextHopOk = parsed.hasNextHop ? parseIpv4(route.nextHop, parsed.nextHop) : !nextHopRequired;
    if (!destinationOk || !nextHopOk) {
        error = "invalid IPv4 route " + route.destination + " via " + route.nextHop;
        return false;
    }
    addresses = parsed;
    return true;
}

}  // namespace tunnel
