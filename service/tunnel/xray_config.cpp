// The Xray client configuration, built member by member in the order Xray's documentation
// and our readers expect, so the file always parses (every text is escaped by the serializer).
#include "service/tunnel/xray_config.h"

#include <nlohmann/json.hpp>

#include "vpn/files.h"

namespace tunnel {
namespace {

using Json = nlohmann::ordered_json;

Json object(std::initializer_list<std::pair<const char*, Json>> members) {
    Json result = Json::object();
    for (const auto& [key, value] : members) result[key] = value;
    return result;
}

Json strings(std::initializer_list<std::string> values) { return Json(std::vector<std::string>(values)); }

Json dnsSection() {
    return object({
        {"servers", Json::array({object({{"address", "1.1.1.1"},
                                         {"domains", strings({"geosite:geolocation-!cn", "geosite:google",
                                                              "domain:google.com"})}}),
                                 "localhost"})},
        {"queryStrategy", "UseIPv4"},
        {"disableCache", true},
    });
}

Json socksInbound() {
    return object({
        {"tag", "socks"},
        {"port", kSocksPort},
        {"listen", "127.0.0.1"},
        {"protocol", "socks"},
        {"settings", object({{"udp", true}})},
        {"sniffing", object({{"enabled", true}, {"destOverride", strings({"http", "tls", "quic"})}})},
    });
}

// Keeps an outbound's connections on the physical adapter: the split default routes would
// otherwise carry them back into the TUN.
// The mark lets the firewall tell them from every other program's.
Json boundToPhysical(const PhysicalGateway& gateway, uint32_t socketMark) {
    Json sockopt = object({{"interface", gateway.interfaceAlias}});
    if (socketMark) sockopt["mark"] = socketMark;
    return sockopt;
}

// The node over VLESS+REALITY.
Json proxyOutbound(const vpn::NodeRecord& node, const PhysicalGateway& gateway, uint32_t socketMark) {
    const Json user = object({{"id", node.uuid}, {"encryption", "none"}, {"flow", node.flow}});
    const Json server = object({{"address", node.address}, {"port", node.port}, {"users", Json::array({user})}});
    return object({
        {"tag", "proxy"},
        {"protocol", "vless"},
        {"settings", object({{"vnext", Json::array({server})}})},
        {"streamSettings", object({
                               {"network", "tcp"},
                               {"security", "reality"},
                               {"realitySettings", object({{"serverName", node.serverName},
                                                           {"fingerprint", node.fingerprint},
                                                           {"publicKey", node.publicKey},
                                                           {"shortId", node.shortId}})},
                               {"sockopt", boundToPhysical(gateway, socketMark)},
                           })},
    });
}

// Destinations routed direct: private ranges, the node itself, China.
Json directOutbound(const PhysicalGateway& gateway, uint32_t socketMark) {
    return object({
        {"tag", "direct"},
        {"protocol", "freedom"},
        {"streamSettings", object({{"sockopt", boundToPhysical(gateway, socketMark)}})},
    });
}

Json rule(const char* member, Json values, const char* outboundTag) {
    return object({{"type", "field"}, {member, std::move(values)}, {"outboundTag", outboundTag}});
}

Json routingSection(const vpn::NodeRecord& node) {
    return object({
        {"domainStrategy", "AsIs"},
        {"rules", Json::array({
                      rule("ip", strings({"255.255.255.255/32", "224.0.0.0/4", "169.254.0.0/16"}), "block"),
                      rule("ip", strings({"::/0"}), "block"),
                      rule("domain", strings({"geosite:google", "domain:google.com"}), "proxy"),
                      rule("ip", strings({"geoip:private", node.address}), "direct"),
                      rule("ip", strings({"geoip:cn"}), "direct"),
                      rule("domain", strings({"geosite:cn"}), "direct"),
                  })},
    });
}

}  // namespace

std::string buildXrayConfig(const vpn::NodeRecord& node, const PhysicalGateway& gateway, uint32_t socketMark) {
    const Json document = object({
        {"log", object({{"loglevel", "info"}})},
        {"dns", dnsSection()},
        {"inbounds", Json::array({socksInbound()})},
        {"outbounds", Json::array({proxyOutbound(node, gateway, socketMark), directOutbound(gateway, socketMark),
                                   object({{"tag", "block"}, {"protocol", "blackhole"}})})},
        {"routing", routingSection(node)},
    });
    // Invalid UTF-8 in a field becomes U+FFFD instead of an exception.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool writeXrayConfig(const vpn::NodeRecord& node, const PhysicalGateway& gateway, uint32_t socketMark,
                     const std::string& path, std::string& error) {
    // It holds the user's credentials: root's alone.
    if (vpn::writeFileAtomically(path, buildXrayConfig(node, gateway, socketMark), true)) return true;
    error = "cannot write generated xray config";
    return false;
}

}  // namespace tunnel
