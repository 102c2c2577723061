// Node sources of the panel: vless:// links and expiry.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "vpn/subscription.h"

using vpn::NodeRecord;

namespace {

constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();
constexpr const char* kReality =
    "?mode=multi&security=reality&encryption=none&type=tcp&flow=xtls-rprx-vision-udp443"
    "&pbk=PUBKEY&sid=ab12&sni=www.example.com&servername=other.example.com&spx=%2F&fp=firefox";

std::string vless(const std::string& hostPort, const std::string& name) {
    return "vless://11111111-2222-3333-4444-555555555555@" + hostPort + kReality + "#" + name;
}

// "name|address|port|uuid|flow|serverName|fingerprint|publicKey|shortId"
std::string fields(const NodeRecord& node) {
    return node.name + "|" + node.address + "|" + std::to_string(node.port) + "|" + node.uuid + "|" +
           node.flow + "|" + node.serverName + "|" + node.fingerprint + "|" + node.publicKey + "|" +
           node.shortId;
}

// The fields, or "rejected" (then the node is left untouched).
std::string parsed(const std::string& line) {
    NodeRecord node;
    node.name = "untouched";
    if (vpn::parseVlessLink(line, node)) return fields(node);
    return node.name == "untouched" ? "rejected" : "changed on rejection";
}

}  // namespace

TEST(VlessLink, FieldsDefaultsAndSplits) {
    const std::string d = "|xtls-rprx-vision||chrome|k|";  // uuid "id", default flow, fingerprint, key k
    const std::string max = std::to_string(kMaxInt);
    const std::pair<std::string, std::string> cases[] = {
        {vless("hk.example.net:8443", "Hong+Kong%20%E4%B8%80"),  // sni wins over servername
         "Hong Kong 一|hk.example.net|8443|11111111-2222-3333-4444-555555555555|xtls-rprx-vision-udp443|"
         "www.example.com|firefox|PUBKEY|ab12"},
        {"vless://id@[2001:db8::1]:443?pbk=k#Tokyo%20A", "Tokyo A|2001:db8::1|443|id" + d},
        {"vless://id@2001:db8::1:443?pbk=k", "2001:db8::1|2001:db8::1|443|id" + d},  // the last ':'
        {"vless://id@h.example:443?publicKey=K&servername=S&shortId=I",
         "h.example|h.example|443|id|xtls-rprx-vision|S|chrome|K|I"},
        {"vless://id@h.example:443?pbk=k&flow=&fp=&sni=#", "h.example|h.example|443|id" + d},  // defaults
        {"vless://id@h:1?pbk=&publicKey=k", "h|h|1|id" + d},
        {"vless://id@h:1?a=1&p%62k=x%2By+z&pbk=2", "h|h|1|id|xtls-rprx-vision||chrome|x+y z|"},  // decoded
        {"vless://a@b@h:1?pbk=k", "h|h|1|a@b" + d},                                 // the last '@'
        {"vless://id@h:1?pbk=k#one#two", "one#two|h|1|id" + d},                     // the first '#'
        {"vless://id@h:1?pbk=k?x=1", "h|h|1|id|xtls-rprx-vision||chrome|k?x=1|"},  // the first '?'
        {"vless://%41@h:1?pbk=k", "h|h|1|%41" + d},                                 // not decoded
        {"vless://id@h:443/?pbk=k", "h|h|443|id" + d},                              // atoi stops at '/'
        {"vless://id@h: +8443?pbk=k \r\n \r", "h|h|8443|id" + d},                   // trailing blanks
        // Far beyond int32 the port saturates instead of wrapping to something small.
        {"vless://id@h:99999999999999999999999?pbk=k", "h|h|" + max + "|id" + d},
        {"vless://id@h:4294967739?pbk=k", "h|h|" + max + "|id" + d},
        {"vless://id@h:0?pbk=k", "rejected"}, {"vless://id@h?pbk=k", "rejected"}, {"vless://@h:1?pbk=k", "rejected"},
        {"vless://id@[2001:db8::1]:443#Tokyo", "rejected"}, {"vmess://id@h:1?pbk=k", "rejected"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(parsed(line), expected) << line;
}

TEST(Expiry, NumbersDatesAndQuotedValues) {
    const std::pair<const char*, int64_t> cases[] = {
        {"1767225600", 1767225600}, {"1767225600123", 1767225600},  // milliseconds
        {"100000000000", 100000000000}, {"1000000000", 1000000000},
        {"999999999", 0}, {"null", 0},  // too small to be a date: never ends
        {"1e300", std::numeric_limits<int64_t>::max() / 1000},
        {R"("2025-01-31 08:00:00")", 1738367999},  // the day's last second, UTC
        {R"("1971-01-01")", 31622399}, {R"("1767225600123")", 1767225600},
        {R"("1970-06-01")", 0}, {R"("never")", 0},
        {R"("1971--400-1")", 0},  // before 1970 after rolling back
    };
    for (const auto& [value, seconds] : cases)
        EXPECT_EQ(vpn::parseExpiry(std::string(R"({"expired_at":)") + value + "}"), seconds) << value;
    for (const char* data : {R"({"plan_id":1})", R"({"note":"\"expired_at\":1767225600"})", "garbage"})
        EXPECT_EQ(vpn::parseExpiry(data), 0) << data;
    EXPECT_GT(vpn::parseExpiry(R"({"expired_at":"99999999999999-99999999999-9999999999"})"), 0);
}
