// The generated Xray configuration: every member, value and position, and awkward node fields
// kept exactly and as valid JSON.
#include "service/tunnel/xray_config.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "tests/support/temp_dir.h"

using namespace tunnel;
using Json = nlohmann::ordered_json;

namespace {

const vpn::NodeRecord kNode{.name = "Tokyo 1", .address = "203.0.113.7", .port = 443,
                            .uuid = "2f1c1a52-0000-4000-8000-1234567890ab", .serverName = "www.example.com",
                            .publicKey = "pUbLiCkEy", .shortId = "a1b2"};

const PhysicalGateway kGateway{"Ethernet 2", "192.0.2.1"};

Json parsed(const std::string& text) {
    Json document = Json::parse(text, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << text;
    return document;
}

// The whole document for kNode on "Ethernet 2", members in their order (an ordered
// comparison: a member out of place fails it).
const char* const kExpected = R"({"log": {"loglevel": "info"},
 "dns": {"servers": [{"address": "1.1.1.1", "domains": ["geosite:geolocation-!cn", "geosite:google", "domain:google.com"]},
                     "localhost"], "queryStrategy": "UseIPv4", "disableCache": true},
 "inbounds": [{"tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks", "settings": {"udp": true},
               "sniffing": {"enabled": true, "destOverride": ["http", "tls", "quic"]}}],
 "outbounds": [{"tag": "proxy", "protocol": "vless", "settings": {"vnext": [{"address": "203.0.113.7", "port": 443, "users": [
                 {"id": "2f1c1a52-0000-4000-8000-1234567890ab", "encryption": "none", "flow": "xtls-rprx-vision"}]}]},
                "streamSettings": {"network": "tcp", "security": "reality", "realitySettings": {"serverName": "www.example.com",
                 "fingerprint": "chrome", "publicKey": "pUbLiCkEy", "shortId": "a1b2"}, "sockopt": {"interface": "Ethernet 2"}}},
               {"tag": "direct", "protocol": "freedom", "streamSettings": {"sockopt": {"interface": "Ethernet 2"}}},
               {"tag": "block", "protocol": "blackhole"}],
 "routing": {"domainStrategy": "AsIs", "rules": [
   {"type": "field", "ip": ["255.255.255.255/32", "224.0.0.0/4", "169.254.0.0/16"], "outboundTag": "block"},
   {"type": "field", "ip": ["::/0"], "outboundTag": "block"},
   {"type": "field", "domain": ["geosite:google", "domain:google.com"], "outboundTag": "proxy"},
   {"type": "field", "ip": ["geoip:private", "203.0.113.7"], "outboundTag": "direct"},
   {"type": "field", "ip": ["geoip:cn"], "outboundTag": "direct"},
   {"type": "field", "domain": ["geosite:cn"], "outboundTag": "direct"}]}})";

// The file is written whole (the atomic replacement is the file layer's).
TEST(XrayConfigTest, DocumentHoldsEveryMemberInItsPlace) {
    orvik_test::TempDir temp;
    std::string error;
    ASSERT_TRUE(writeXrayConfig(kNode, kGateway, 0, temp.file("config.json"), error)) << error;
    EXPECT_EQ(parsed(temp.read("config.json")), parsed(kExpected)) << temp.read("config.json");
    EXPECT_FALSE(writeXrayConfig(kNode, kGateway, 0, temp.file("missing/dir/config.json"), error));
    EXPECT_EQ(error, "cannot write generated xray config");
}

// Node fields and an adapter name of any content land exactly where they belong, as valid
// JSON; bytes that are no UTF-8 are replaced rather than failing the document. A firewall
// mark goes on both outbounds that leave the machine.
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
    };
    for (const auto& [pointer, value] : expected) EXPECT_EQ(document.at(Json::json_pointer(pointer)), value) << pointer;
    EXPECT_FALSE(document.contains("injected"));
}

}  // namespace
