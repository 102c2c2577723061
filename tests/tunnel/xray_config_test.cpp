// The generated Xray configuration: what the tunnel relies on, and awkward node fields kept
// exactly and as valid JSON.
#include "service/tunnel/xray_config.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

using namespace tunnel;
using Json = nlohmann::ordered_json;

namespace {

const vpn::NodeRecord kNode{.name = "Tokyo 1", .address = "203.0.113.7", .port = 443,
                            .uuid = "2f1c1a52-0000-4000-8000-1234567890ab", .serverName = "www.example.com",
                            .publicKey = "pUbLiCkEy", .shortId = "a1b2"};

Json parsed(const std::string& text) {
    Json document = Json::parse(text, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << text;
    return document;
}

// Node fields and an adapter name of any content land exactly where they belong, as valid
// JSON; bytes that are no UTF-8 are replaced rather than failing the document. A firewall
// mark and the adapter go on both outbounds that leave the machine. The SOCKS inbound is the
// one tun2socks is pointed at; IPv6 goes nowhere and DNS asks for IPv4 only.
TEST(XrayConfigTest, AwkwardFieldsStayValidJsonWithTheirValues) {
    vpn::NodeRecord node = kNode;
    node.uuid = "quote\" and back\\slash";
    node.fingerprint = "}],\"injected\":{\"x\":\"";
    node.publicKey = std::string("line\nfeed\ttab\x01" "bell\x7f");
    node.shortId = std::string("ab\xff\xfe", 4);
    node.address = "node.example.net";
    const Json document = parsed(buildXrayConfig(node, {"以太网 \"2\"", "192.0.2.1"}, 0x6f72766b));
    const std::pair<const char*, Json> expected[] = {
        {"/outbounds/0/settings/vnext/0/users/0/id", node.uuid},
        {"/outbounds/0/streamSettings/realitySettings/fingerprint", node.fingerprint},
        {"/outbounds/0/streamSettings/realitySettings/publicKey", node.publicKey},
        {"/outbounds/0/streamSettings/realitySettings/shortId", "ab\xef\xbf\xbd\xef\xbf\xbd"},
        {"/outbounds/0/settings/vnext/0/address", "node.example.net"},
        {"/routing/rules/3/ip/1", "node.example.net"},
        {"/outbounds/0/streamSettings/sockopt/interface", "以太网 \"2\""},
        {"/outbounds/0/streamSettings/sockopt/mark", 0x6f72766b},
        {"/outbounds/1/streamSettings/sockopt/mark", 0x6f72766b},
        {"/outbounds/1/streamSettings/sockopt/interface", "以太网 \"2\""},
        {"/inbounds/0/listen", "127.0.0.1"},
        {"/inbounds/0/port", 10808},
        {"/inbounds/0/settings/udp", true},
        {"/routing/rules/1", Json::parse(R"({"type": "field", "ip": ["::/0"], "outboundTag": "block"})")},
        {"/dns/queryStrategy", "UseIPv4"},
    };
    for (const auto& [pointer, value] : expected) EXPECT_EQ(document.at(Json::json_pointer(pointer)), value) << pointer;
    EXPECT_FALSE(document.contains("injected"));
}

}  // namespace
