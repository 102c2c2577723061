#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/base64_encode.h"
#include "vpn/subscription.h"

using vpn::NodeRecord;
using vpn::parseExpiry;
using vpn::parseServerItem;
using vpn::parseSubscription;
using vpn::parseVlessLink;
using vpn::queryValue;

namespace {

constexpr const char* kReality =
    "?mode=multi&security=reality&encryption=none&type=tcp&flow=xtls-rprx-vision-udp443"
    "&pbk=PUBKEY&sid=ab12&sni=www.example.com&servername=other.example.com&spx=%2F&fp=firefox";

std::string vlessLink(const std::string& hostPort, const std::string& name,
                      const char* query = kReality) {
    return "vless://11111111-2222-3333-4444-555555555555@" + hostPort + query + "#" + name;
}

NodeRecord parsed(const std::string& line) {
    NodeRecord node;
    EXPECT_TRUE(parseVlessLink(line, node)) << line;
    return node;
}

bool rejected(const std::string& line) {
    NodeRecord node;
    node.name = "untouched";
    const bool ok = parseVlessLink(line, node);
    EXPECT_EQ(node.name, "untouched") << line;
    return !ok;
}

std::vector<std::string> names(const std::vector<NodeRecord>& nodes) {
    std::vector<std::string> out;
    for (const NodeRecord& node : nodes) out.push_back(node.name);
    return out;
}

}  // namespace

TEST(VlessLink, RealityLinkFillsEveryField) {
    const NodeRecord node = parsed(vlessLink("hk.example.net:8443", "Hong+Kong%20%E4%B8%80"));
    EXPECT_EQ(node.name, "Hong Kong 一");
    EXPECT_EQ(node.address, "hk.example.net");
    EXPECT_EQ(node.port, 8443);
    EXPECT_EQ(node.uuid, "11111111-2222-3333-4444-555555555555");
    EXPECT_EQ(node.flow, "xtls-rprx-vision-udp443");
    EXPECT_EQ(node.serverName, "www.example.com");  // sni wins over servername
    EXPECT_EQ(node.fingerprint, "firefox");
    EXPECT_EQ(node.publicKey, "PUBKEY");
    EXPECT_EQ(node.shortId, "ab12");
}

TEST(VlessLink, BracketedIpv6Host) {
    const NodeRecord node = parsed("vless://id@[2001:db8::1]:443?pbk=k#Tokyo%20A");
    EXPECT_EQ(node.address, "2001:db8::1");
    EXPECT_EQ(node.port, 443);
    EXPECT_EQ(node.name, "Tokyo A");
    EXPECT_TRUE(rejected("vless://id@[2001:db8::1]:443#Tokyo"));  // no public key
    EXPECT_TRUE(rejected("vless://id@[2001:db8::1]?pbk=k"));      // no port
    EXPECT_TRUE(rejected("vless://id@[2001:db8::1]443?pbk=k"));   // no ':' after ']'
    EXPECT_TRUE(rejected("vless://id@[2001:db8::1:443?pbk=k"));   // bracket not closed
    EXPECT_TRUE(rejected("vless://id@[]:443?pbk=k"));             // empty host
    EXPECT_EQ(parsed("vless://id@2001:db8::1:443?pbk=k").address, "2001:db8::1");  // last ':'
}

TEST(VlessLink, DefaultsAndAlternativeKeys) {
    const NodeRecord node = parsed("vless://id@h.example:443?publicKey=K&servername=S&shortId=I");
    EXPECT_EQ(node.publicKey, "K");
    EXPECT_EQ(node.serverName, "S");
    EXPECT_EQ(node.shortId, "I");
    EXPECT_EQ(node.flow, "xtls-rprx-vision");
    EXPECT_EQ(node.fingerprint, "chrome");
    EXPECT_EQ(node.name, "h.example");  // no fragment: named after the host

    const NodeRecord empty = parsed("vless://id@h.example:443?pbk=K&flow=&fp=&sni=#");
    EXPECT_EQ(empty.name, "h.example");  // an empty fragment too
    EXPECT_EQ(empty.flow, "xtls-rprx-vision");
    EXPECT_EQ(empty.fingerprint, "chrome");
    EXPECT_EQ(empty.serverName, "");
    EXPECT_EQ(parsed("vless://id@h:1?pbk=&publicKey=second").publicKey, "second");
}

TEST(VlessLink, SplitsAtTheRightCharacters) {
    EXPECT_EQ(parsed("vless://a@b@h:1?pbk=k").uuid, "a@b");             // last '@'
    EXPECT_EQ(parsed("vless://id@h:1?pbk=k#one#two").name, "one#two");  // first '#'
    EXPECT_EQ(parsed("vless://id@h:1?pbk=k?x=1").publicKey, "k?x=1");   // first '?'
    EXPECT_EQ(parsed("vless://id@h:1?pbk=k#a?pbk=z").publicKey, "k");
    EXPECT_EQ(parsed("vless://%41@h:1?pbk=k").uuid, "%41");          // not decoded
    EXPECT_EQ(parsed("vless://id@h:443/?pbk=k").port, 443);          // atoi stops at '/'
    EXPECT_EQ(parsed("vless://id@h:1?pbk=k \r\n \r").address, "h");  // trailing blanks
    EXPECT_TRUE(rejected("vless://id@h:1#name?pbk=k"));              // '?' inside the name
    EXPECT_TRUE(rejected(" vless://id@h:1?pbk=k"));                  // leading blank
    EXPECT_TRUE(rejected("VLESS://id@h:1?pbk=k"));
    EXPECT_TRUE(rejected("vmess://id@h:1?pbk=k"));
    EXPECT_TRUE(rejected("vless://h:1?pbk=k"));    // no '@'
    EXPECT_TRUE(rejected("vless://@h:1?pbk=k"));   // empty id
    EXPECT_TRUE(rejected("vless://id@:1?pbk=k"));  // empty host
    EXPECT_TRUE(rejected("vless://id@h?pbk=k"));   // no ':'
    EXPECT_TRUE(rejected(""));
    EXPECT_TRUE(rejected("vless://"));
}

TEST(VlessLink, PortsAreSaneIntegers) {
    EXPECT_TRUE(rejected("vless://id@h:?pbk=k"));
    EXPECT_TRUE(rejected("vless://id@h:0?pbk=k"));
    EXPECT_TRUE(rejected("vless://id@h:-443?pbk=k"));
    EXPECT_TRUE(rejected("vless://id@h:abc?pbk=k"));
    EXPECT_TRUE(rejected("vless://id@h:-99999999999999999999999?pbk=k"));
    EXPECT_EQ(parsed("vless://id@h:65536?pbk=k").port, 65536);  // no upper bound
    EXPECT_EQ(parsed("vless://id@h: +8443?pbk=k").port, 8443);
    // Far beyond int32: saturates instead of wrapping (it must never turn negative or small).
    EXPECT_EQ(parsed("vless://id@h:99999999999999999999999?pbk=k").port,
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(parsed("vless://id@h:4294967739?pbk=k").port, std::numeric_limits<int32_t>::max());
}

TEST(VlessLink, HugeNamesAndQueries) {
    const std::string name(100000, 'n');
    EXPECT_EQ(parsed(vlessLink("h:1", name)).name, name);
    std::string query = "?";
    for (int i = 0; i < 20000; ++i) query += "x" + std::to_string(i) + "=v&";
    query += "pbk=last";
    EXPECT_EQ(parsed("vless://id@h:1" + query).publicKey, "last");
}

TEST(QueryValue, FirstDecodedMatch) {
    EXPECT_EQ(queryValue("a=1&pbk=x%2By+z&pbk=second", "pbk"), "x+y z");
    EXPECT_EQ(queryValue("p%62k=encoded-name", "pbk"), "encoded-name");
    EXPECT_EQ(queryValue("PBK=upper&pbk=lower", "pbk"), "lower");  // case-sensitive
    EXPECT_EQ(queryValue("pbk&pbk=later", "pbk"), "");             // a name without '=' matches
    EXPECT_EQ(queryValue("pbk=a=b", "pbk"), "a=b");
    EXPECT_EQ(queryValue("&&pbk=k&", "pbk"), "k");
    EXPECT_EQ(queryValue("", "pbk"), "");
    EXPECT_EQ(queryValue("pbkx=1&xpbk=2", "pbk"), "");
}

TEST(Subscription, Base64BodySkipsInformationalEntries) {
    const std::string links =
        vlessLink("a.example:443", "%E5%89%A9%E4%BD%99%E6%B5%81%E9%87%8F%EF%BC%9A10GB") + "\r\n" +
        vlessLink("b.example:443", "Node%20B") + "\r\n" + vlessLink("c.example:443", "Node%20C") +
        "\r\n";
    std::vector<NodeRecord> nodes;
    parseSubscription(orvik_test::base64Encode(links, 76), nodes);
    EXPECT_EQ(names(nodes), (std::vector<std::string>{"Node B", "Node C"}));
    EXPECT_EQ(nodes[0].address, "b.example");

    nodes.assign(1, NodeRecord{});  // appends to what is there
    parseSubscription(orvik_test::base64Encode(links), nodes);
    EXPECT_EQ(nodes.size(), 3u);
}

TEST(Subscription, EveryInformationalMarkIsSkipped) {
    std::string body;
    for (const char* name : {"剩余流量：1GB", "套餐到期：2025-01-01", "距离下次重置剩余：3 天",
                             "已过滤掉 5 条线路", "真节点"}) {
        body += "vless://id@h:1?pbk=k#" + std::string(name) + "\n";
    }
    std::vector<NodeRecord> nodes;
    parseSubscription(body, nodes);
    EXPECT_EQ(names(nodes), std::vector<std::string>{"真节点"});
}

TEST(Subscription, PlainBodiesAreUsedAsTheyAre) {
    std::vector<NodeRecord> nodes;
    parseSubscription("\r\n\r\n\n" + vlessLink("p.example:1", "Plain") + "\nnot a link\n\n" +
                          vlessLink("q.example:2", "Last"),  // the last line needs no line feed
                      nodes);
    EXPECT_EQ(names(nodes), (std::vector<std::string>{"Plain", "Last"}));

    // Not starting with a link and not Base64: still read line by line.
    nodes.clear();
    parseSubscription("# comment!\n" + vlessLink("r.example:3", "R"), nodes);
    EXPECT_EQ(names(nodes), std::vector<std::string>{"R"});
}

TEST(Subscription, BodiesWithoutLinksGiveNothing) {
    for (const std::string& body :
         {std::string(), std::string("\r\n"), std::string("garbage \x01\xff"),
          orvik_test::base64Encode("just some text\nno links"), std::string("ZGVhZGJlZWY="),
          std::string(R"({"data":[{"host":"h","port":1}]})"), std::string(100000, 'A'),
          std::string(100000, '\n'), std::string("vless://") + std::string(100000, '@')}) {
        std::vector<NodeRecord> nodes;
        parseSubscription(body, nodes);
        EXPECT_TRUE(nodes.empty()) << body.substr(0, 40);
    }
}

TEST(Subscription, LargeBodyTakesLinearTime) {
    std::string links;
    for (int i = 0; i < 20000; ++i)
        links +=
            vlessLink("n" + std::to_string(i) + ".example:443", "N" + std::to_string(i)) + "\r\n";
    const std::string body = orvik_test::base64Encode(links, 76);
    std::vector<NodeRecord> nodes;
    const auto start = std::chrono::steady_clock::now();
    parseSubscription(body, nodes);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(nodes.size(), 20000u);
    EXPECT_EQ(nodes.back().name, "N19999");
    EXPECT_LT(elapsed, std::chrono::seconds(5));  // about 100 ms unoptimised, under wine
}

TEST(ServerItem, FieldsWithTheirFallbacks) {
    const NodeRecord node = parseServerItem(
        R"({"id":1,"type":"vless","name":"东京","host":"t.example","server_port":443,"port":"8443",
            "flow":"xtls-rprx-vision-udp443","sni":"s.example","fingerprint":"safari",
            "tls_settings":{"public_key":"PK","short_id":"SID","server_name":"inner.example"}})",
        "user-uuid");
    EXPECT_EQ(node.name, "东京");
    EXPECT_EQ(node.address, "t.example");
    EXPECT_EQ(node.port, 443);
    EXPECT_EQ(node.uuid, "user-uuid");
    EXPECT_EQ(node.flow, "xtls-rprx-vision-udp443");
    EXPECT_EQ(node.serverName, "inner.example");  // server_name first, found nested
    EXPECT_EQ(node.fingerprint, "safari");
    EXPECT_EQ(node.publicKey, "PK");
    EXPECT_EQ(node.shortId, "SID");

    const NodeRecord bare = parseServerItem(
        R"({"host":"h.example","port":"443-445","sni":"s","publicKey":"K","shortId":"I"})", "u");
    EXPECT_EQ(bare.name, "h.example");
    EXPECT_EQ(bare.port, 443);
    EXPECT_EQ(bare.flow, "xtls-rprx-vision");
    EXPECT_EQ(bare.fingerprint, "chrome");
    EXPECT_EQ(bare.serverName, "s");
    EXPECT_EQ(bare.publicKey, "K");
    EXPECT_EQ(bare.shortId, "I");
}

TEST(ServerItem, PortSources) {
    EXPECT_EQ(parseServerItem(R"({"server_port":0,"port":"2053"})", "u").port, 2053);
    EXPECT_EQ(parseServerItem(R"({"port":8443})", "u").port, 8443);
    EXPECT_EQ(parseServerItem(R"({"server_port":"443"})", "u").port, 443);
    EXPECT_EQ(parseServerItem(R"({"port":"x"})", "u").port, 0);
    EXPECT_EQ(parseServerItem(R"({"server_port":-1,"port":443})", "u").port, -1);
    EXPECT_EQ(parseServerItem(R"({"server_port":99999999999})", "u").port,
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(parseServerItem(R"({"server_port":-99999999999})", "u").port,
              std::numeric_limits<int32_t>::min());
    EXPECT_EQ(parseServerItem(R"({"port":"99999999999999999999"})", "u").port,
              std::numeric_limits<int32_t>::max());
}

TEST(ServerItem, MalformedItemsGiveAnEmptyNode) {
    for (const char* item :
         {"", "not json", R"({"host":)", R"(["host","h"])", R"({"note":"\"host\":\"h\""})"}) {
        const NodeRecord node = parseServerItem(item, "u");
        EXPECT_EQ(node.address, "") << item;
        EXPECT_EQ(node.port, 0) << item;
        EXPECT_EQ(node.uuid, "u") << item;
        EXPECT_EQ(node.flow, "xtls-rprx-vision") << item;
    }
}

TEST(Expiry, NumbersInSecondsOrMilliseconds) {
    EXPECT_EQ(parseExpiry(R"({"expired_at":1767225600})"), 1767225600);
    EXPECT_EQ(parseExpiry(R"({"expired_at":1767225600123})"), 1767225600);   // milliseconds
    EXPECT_EQ(parseExpiry(R"({"expired_at":100000000000})"), 100000000000);  // not above the limit
    EXPECT_EQ(parseExpiry(R"({"expired_at":1000000000})"), 1000000000);
    EXPECT_EQ(parseExpiry(R"({"expired_at":999999999})"), 0);  // too small to be a date
    EXPECT_EQ(parseExpiry(R"({"expired_at":1})"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":0})"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":null})"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":true})"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":1767225600.9})"), 1767225600);
    EXPECT_EQ(parseExpiry(R"({"plan_id":1})"), 0);
    EXPECT_EQ(parseExpiry(R"({"note":"\"expired_at\":1767225600"})"), 0);
    EXPECT_EQ(parseExpiry("garbage"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":1e300})"), std::numeric_limits<int64_t>::max() / 1000);
}

TEST(Expiry, QuotedValues) {
    EXPECT_EQ(parseExpiry(R"({"expired_at":"2025-01-31"})"), 1738367999);  // 23:59:59 UTC
    EXPECT_EQ(parseExpiry(R"({"expired_at":"2025-01-31 08:00:00"})"), 1738367999);
    EXPECT_EQ(parseExpiry(R"({"expired_at":"2025-02-29"})"), 1740873599);  // rolls to 1 March
    EXPECT_EQ(parseExpiry(R"({"expired_at":"1971-01-01"})"), 31622399);
    // Quoted numbers follow the rules of bare ones.
    EXPECT_EQ(parseExpiry(R"({"expired_at":"1767225600"})"), 1767225600);
    EXPECT_EQ(parseExpiry(R"({"expired_at":"1767225600123"})"), 1767225600);
    EXPECT_EQ(parseExpiry(R"({"expired_at":"1970-06-01"})"), 0);  // year 1970: read as 1970
    EXPECT_EQ(parseExpiry(R"({"expired_at":"5"})"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":""})"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":"never"})"), 0);
    EXPECT_EQ(parseExpiry(R"({"expired_at":"1971--400-1"})"), 0);  // before 1970 after rolling back
    EXPECT_GT(parseExpiry(R"({"expired_at":"99999999999999-99999999999-9999999999"})"), 0);
}
