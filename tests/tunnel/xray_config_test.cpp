// The generated Xray configuration: every member, value and position, the text form, the
// escaping of awkward node fields, and how the file is replaced.
#include "service/tunnel/xray_config.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "tests/support/doubles/xray_config_check.h"
#include "tests/support/temp_dir.h"

using namespace tunnel;
using Json = nlohmann::ordered_json;

namespace {

vpn::NodeRecord sampleNode() {
    vpn::NodeRecord node;
    node.name = "Tokyo 1";
    node.address = "203.0.113.7";
    node.port = 443;
    node.uuid = "2f1c1a52-0000-4000-8000-1234567890ab";
    node.serverName = "www.example.com";
    node.publicKey = "pUbLiCkEy";
    node.shortId = "a1b2";
    return node;
}

const PhysicalGateway kGateway{"Ethernet 2", "192.0.2.1"};

Json parsed(const std::string& text) {
    Json document = Json::parse(text, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << text;
    return document;
}

// The whole document for sampleNode() on "Ethernet 2", members in their order (an ordered
// comparison: a member out of place fails it).
const char* const kExpected = R"({
  "log": {"loglevel": "info"},
  "dns": {
    "servers": [
      {"address": "1.1.1.1", "domains": ["geosite:geolocation-!cn", "geosite:google", "domain:google.com"]},
      "localhost"
    ],
    "queryStrategy": "UseIPv4",
    "disableCache": true
  },
  "inbounds": [{
    "tag": "socks", "port": 10808, "listen": "127.0.0.1", "protocol": "socks",
    "settings": {"udp": true},
    "sniffing": {"enabled": true, "destOverride": ["http", "tls", "quic"]}
  }],
  "outbounds": [
    {
      "tag": "proxy", "protocol": "vless",
      "settings": {"vnext": [{"address": "203.0.113.7", "port": 443, "users": [
        {"id": "2f1c1a52-0000-4000-8000-1234567890ab", "encryption": "none", "flow": "xtls-rprx-vision"}]}]},
      "streamSettings": {
        "network": "tcp", "security": "reality",
        "realitySettings": {"serverName": "www.example.com", "fingerprint": "chrome", "publicKey": "pUbLiCkEy",
                            "shortId": "a1b2"},
        "sockopt": {"interface": "Ethernet 2"}
      }
    },
    {"tag": "direct", "protocol": "freedom", "streamSettings": {"sockopt": {"interface": "Ethernet 2"}}},
    {"tag": "block", "protocol": "blackhole"}
  ],
  "routing": {
    "domainStrategy": "AsIs",
    "rules": [
      {"type": "field", "ip": ["255.255.255.255/32", "224.0.0.0/4", "169.254.0.0/16"], "outboundTag": "block"},
      {"type": "field", "ip": ["::/0"], "outboundTag": "block"},
      {"type": "field", "domain": ["geosite:google", "domain:google.com"], "outboundTag": "proxy"},
      {"type": "field", "ip": ["geoip:private", "203.0.113.7"], "outboundTag": "direct"},
      {"type": "field", "ip": ["geoip:cn"], "outboundTag": "direct"},
      {"type": "field", "domain": ["geosite:cn"], "outboundTag": "direct"}
    ]
  }
})";

TEST(XrayConfigTest, DocumentHoldsEveryMemberInItsPlace) {
    const Json document = parsed(buildXrayConfig(sampleNode(), kGateway));
    const Json expected = Json::parse(kExpected, nullptr, false);
    ASSERT_FALSE(expected.is_discarded());
    EXPECT_EQ(document, expected) << document.dump(2) << "\n-- expected --\n" << expected.dump(2);
}

TEST(XrayConfigTest, TextIsIndentedByTwoSpacesAndEndsWithOneLineFeed) {
    const std::string text = buildXrayConfig(sampleNode(), kGateway);
    EXPECT_EQ(text.rfind("{\n  \"log\": {\n    \"loglevel\": \"info\"\n  },\n", 0), 0u) << text;
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 3), "\n}\n");
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\t'), std::string::npos);
}

TEST(XrayConfigTest, AwkwardFieldsStayValidJsonWithTheirExactValues) {
    vpn::NodeRecord node = sampleNode();
    node.uuid = "quote\" and back\\slash";
    node.serverName = "节点.example";  // non-ASCII stays plain UTF-8
    node.publicKey = std::string("line\nfeed\ttab\x01" "bell\x7f", 19);
    node.fingerprint = "}],\"injected\":{\"x\":\"";
    const PhysicalGateway gateway{"以太网 \"2\"", "192.0.2.1"};
    const std::string text = buildXrayConfig(node, gateway);
    const Json document = parsed(text);

    const Json& proxy = document["outbounds"][0];
    EXPECT_EQ(proxy["settings"]["vnext"][0]["users"][0]["id"].get<std::string>(), node.uuid);
    EXPECT_EQ(proxy["streamSettings"]["realitySettings"]["serverName"].get<std::string>(), node.serverName);
    EXPECT_EQ(proxy["streamSettings"]["realitySettings"]["publicKey"].get<std::string>(), node.publicKey);
    EXPECT_EQ(proxy["streamSettings"]["realitySettings"]["fingerprint"].get<std::string>(), node.fingerprint);
    EXPECT_EQ(proxy["streamSettings"]["sockopt"]["interface"].get<std::string>(), gateway.interfaceAlias);
    EXPECT_EQ(document["outbounds"][1]["streamSettings"]["sockopt"]["interface"].get<std::string>(),
              gateway.interfaceAlias);
    EXPECT_FALSE(document.contains("injected"));

    EXPECT_NE(text.find("\"quote\\\" and back\\\\slash\""), std::string::npos);
    EXPECT_NE(text.find("节点.example"), std::string::npos);
    EXPECT_NE(text.find("line\\nfeed\\ttab\\u0001bell"), std::string::npos);
    EXPECT_EQ(text.find('\x01'), std::string::npos);
}

TEST(XrayConfigTest, InvalidUtf8InAFieldStillGivesValidJson) {
    vpn::NodeRecord node = sampleNode();
    node.shortId = std::string("ab\xff\xfe", 4);
    const Json document = parsed(buildXrayConfig(node, kGateway));
    EXPECT_EQ(document["outbounds"][0]["streamSettings"]["realitySettings"]["shortId"].get<std::string>(),
              "ab\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(XrayConfigTest, EmptyFieldsAreWrittenAsEmptyStringsAndNumbersAsNumbers) {
    vpn::NodeRecord node = sampleNode();
    node.flow.clear();
    node.shortId.clear();
    node.port = -1;
    const std::string text = buildXrayConfig(node, kGateway);
    const Json document = parsed(text);
    const Json& proxy = document["outbounds"][0];
    EXPECT_EQ(proxy["settings"]["vnext"][0]["users"][0]["flow"], Json(""));
    EXPECT_EQ(proxy["streamSettings"]["realitySettings"]["shortId"], Json(""));
    EXPECT_EQ(proxy["settings"]["vnext"][0]["port"], Json(-1));
    EXPECT_NE(text.find("\"port\": -1,"), std::string::npos);
    EXPECT_NE(buildXrayConfig(sampleNode(), kGateway).find("\"port\": 443,"), std::string::npos);
}

TEST(XrayConfigTest, NodeAddressIsTheServerAndADirectDestination) {
    vpn::NodeRecord node = sampleNode();
    node.address = "node.example.net";
    const Json document = parsed(buildXrayConfig(node, kGateway));
    EXPECT_EQ(document["outbounds"][0]["settings"]["vnext"][0]["address"], Json("node.example.net"));
    EXPECT_EQ(document["routing"]["rules"][3]["ip"], Json::parse(R"(["geoip:private", "node.example.net"])"));
}

// The Xray double refuses anything but this shape, so the namespace tests rely on it.
TEST(XrayConfigTest, TheXrayDoubleAcceptsTheDocument) {
    orvik_double::XrayServe serve;
    std::string problem;
    EXPECT_TRUE(orvik_double::checkXrayConfig(buildXrayConfig(sampleNode(), kGateway), serve, problem)) << problem;
    EXPECT_EQ(serve.listenAddress, "127.0.0.1");
    EXPECT_EQ(serve.listenPort, 10808);
    EXPECT_EQ(serve.outboundInterface, "Ethernet 2");
}

class XrayConfigFileTest : public ::testing::Test {
protected:
    orvik_test::TempDir temp;
};

TEST_F(XrayConfigFileTest, WritesTheDocumentAndReplacesItWhole) {
    const std::string path = temp.file("session.json.xray.json");
    std::string error;
    vpn::NodeRecord longer = sampleNode();
    longer.publicKey = std::string(4000, 'k');
    ASSERT_TRUE(writeXrayConfig(longer, kGateway, path, error)) << error;
    EXPECT_EQ(temp.read("session.json.xray.json"), buildXrayConfig(longer, kGateway));

    vpn::NodeRecord second = sampleNode();
    second.address = "198.51.100.9";
    ASSERT_TRUE(writeXrayConfig(second, kGateway, path, error)) << error;
    EXPECT_EQ(temp.read("session.json.xray.json"), buildXrayConfig(second, kGateway));
    EXPECT_EQ(error, "");
}

TEST_F(XrayConfigFileTest, FailedWriteReportsAndKeepsTheEarlierFile) {
    std::string error;
    EXPECT_FALSE(writeXrayConfig(sampleNode(), kGateway, temp.file("missing/dir/config.json"), error));
    EXPECT_EQ(error, "cannot write generated xray config");

    // A name so long that no temporary file can be made beside it.
    const std::string name(245, 'x');
    temp.write(name, "earlier");
    if (temp.read(name) != "earlier") GTEST_SKIP() << "this file system does not take a 245-byte name";
    error.clear();
    EXPECT_FALSE(writeXrayConfig(sampleNode(), kGateway, temp.file(name), error));
    EXPECT_EQ(error, "cannot write generated xray config");
    EXPECT_EQ(temp.read(name), "earlier");
}

}  // namespace
