// The configuration check of the Xray double.
#include "tests/support/doubles/xray_config_check.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace orvik_double {
namespace {

using Json = nlohmann::ordered_json;

const Json kMissing;

const Json& at(const Json& object, const char* key) {
    if (!object.is_object()) return kMissing;
    const auto found = object.find(key);
    return found == object.end() ? kMissing : *found;
}

const Json& first(const Json& array) { return array.is_array() && !array.empty() ? array.front() : kMissing; }

bool isText(const Json& value, const std::string& wanted) {
    return value.is_string() && value.get<std::string>() == wanted;
}

bool isFilledText(const Json& value) { return value.is_string() && !value.get<std::string>().empty(); }

const Json& outboundTagged(const Json& outbounds, const std::string& tag) {
    if (!outbounds.is_array()) return kMissing;
    for (const Json& outbound : outbounds) {
        if (isText(at(outbound, "tag"), tag)) return outbound;
    }
    return kMissing;
}

// Xray binds an outbound to the device in "streamSettings" "sockopt" "interface"; an unbound
// one follows the split default routes back into the TUN.
const Json& boundInterface(const Json& outbound) {
    return at(at(at(outbound, "streamSettings"), "sockopt"), "interface");
}

bool freedomOutboundsBound(const Json& outbounds, std::string& problem) {
    for (const Json& outbound : outbounds) {
        if (isText(at(outbound, "protocol"), "freedom") && !boundInterface(outbound).is_string()) {
            problem = "a freedom outbound has no sockopt interface";
            return false;
        }
    }
    return true;
}

bool checkInbound(const Json& inbound, XrayServe& serve, std::string& problem) {
    const Json& port = at(inbound, "port");
    if (!isText(at(inbound, "protocol"), "socks") || !isText(at(inbound, "listen"), "127.0.0.1") ||
        !port.is_number_integer() || port.get<int>() != 10808) {
        problem = "the first inbound is not socks on 127.0.0.1:10808";
        return false;
    }
    if (at(at(inbound, "settings"), "udp") != Json(true)) {
        problem = "the socks inbound does not allow UDP";
        return false;
    }
    serve.listenAddress = at(inbound, "listen").get<std::string>();
    serve.listenPort = port.get<int>();
    return true;
}

bool checkProxy(const Json& proxy, XrayServe& serve, std::string& problem) {
    const Json& server = first(at(at(proxy, "settings"), "vnext"));
    const Json& port = at(server, "port");
    const Json& user = first(at(server, "users"));
    const Json& stream = at(proxy, "streamSettings");
    const Json& reality = at(stream, "realitySettings");
    const Json& interfaceName = boundInterface(proxy);
    if (!isText(at(proxy, "protocol"), "vless")) problem = "the proxy outbound is not vless";
    else if (!isFilledText(at(server, "address"))) problem = "the proxy outbound has no address";
    else if (!port.is_number_integer() || port.get<long>() < 1 || port.get<long>() > 65535) problem = "bad proxy port";
    else if (!isFilledText(at(user, "id")) || !isText(at(user, "encryption"), "none")) problem = "bad vless user";
    else if (!isText(at(stream, "network"), "tcp") || !isText(at(stream, "security"), "reality")) {
        problem = "the proxy outbound is not reality over tcp";
    } else if (!isFilledText(at(reality, "publicKey")) || !at(reality, "serverName").is_string() ||
               !at(reality, "fingerprint").is_string() || !at(reality, "shortId").is_string()) {
        problem = "incomplete realitySettings";
    } else if (!interfaceName.is_string()) {
        problem = "the proxy outbound has no sockopt interface";
    }
    if (!problem.empty()) return false;
    serve.outboundInterface = interfaceName.get<std::string>();
    return true;
}

struct ExpectedRule {
    const char* member;
    std::vector<std::string> values;
    const char* tag;
};

bool checkRules(const Json& rules, const std::string& nodeAddress, std::string& problem) {
    const std::vector<ExpectedRule> expected = {
        {"ip", {"255.255.255.255/32", "224.0.0.0/4", "169.254.0.0/16"}, "block"},
        {"ip", {"::/0"}, "block"},
        {"domain", {"geosite:google", "domain:google.com"}, "proxy"},
        {"ip", {"geoip:private", nodeAddress}, "direct"},
        {"ip", {"geoip:cn"}, "direct"},
        {"domain", {"geosite:cn"}, "direct"},
    };
    if (!rules.is_array() || rules.size() != expected.size()) {
        problem = "routing needs exactly six rules";
        return false;
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Json& rule = rules[i];
        if (!isText(at(rule, "type"), "field") || !isText(at(rule, "outboundTag"), expected[i].tag) ||
            at(rule, expected[i].member) != Json(expected[i].values)) {
            problem = "routing rule " + std::to_string(i + 1) + " is not as expected";
            return false;
        }
    }
    return true;
}

}  // namespace

bool checkXrayConfig(const std::string& text, XrayServe& serve, std::string& problem) {
    const Json document = Json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        problem = "not a JSON object";
        return false;
    }
    const Json& outbounds = at(document, "outbounds");
    if (!checkInbound(first(at(document, "inbounds")), serve, problem)) return false;
    if (!isText(at(first(outbounds), "tag"), "proxy")) {
        problem = "the first outbound is not the proxy";
        return false;
    }
    if (!checkProxy(first(outbounds), serve, problem)) return false;
    if (!isText(at(outboundTagged(outbounds, "direct"), "protocol"), "freedom") ||
        !isText(at(outboundTagged(outbounds, "block"), "protocol"), "blackhole")) {
        problem = "the direct (freedom) or block (blackhole) outbound is missing";
        return false;
    }
    if (!freedomOutboundsBound(outbounds, problem)) return false;
    const std::string nodeAddress = at(first(at(at(first(outbounds), "settings"), "vnext")), "address").get<std::string>();
    return checkRules(at(at(document, "routing"), "rules"), nodeAddress, problem);
}

}  // namespace orvik_double
