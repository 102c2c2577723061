#include "vpn/subscription.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "vpn/base64.h"
#include "vpn/calendar.h"
#include "vpn/json_read.h"
#include "vpn/number_text.h"
#include "vpn/url_coding.h"

namespace vpn {
namespace {

constexpr std::string_view kVlessScheme = "vless://";

// Names of the panel's informational pseudo-nodes (remaining traffic, plan end, next reset,
// filtered lines): they copy a real server's address but are not servers.
constexpr std::array<std::string_view, 4> kInformationalMarks = {"剩余流量", "套餐到期", "距离下次",
                                                                 "过滤掉"};

bool isInformational(std::string_view name) {
    return std::any_of(
        kInformationalMarks.begin(), kInformationalMarks.end(),
        [name](std::string_view mark) { return name.find(mark) != std::string_view::npos; });
}

bool startsWithLinkAfterBlanks(std::string_view body) {
    const size_t start = body.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && body.substr(start).starts_with(kVlessScheme);
}

struct HostPort {
    std::string_view host;
    int32_t port = 0;
};

// "[v6]:port", "[v6]" or "host:port"; false when a bracket is not closed or there is no ':'.
bool splitHostPort(std::string_view text, HostPort& out) {
    if (text.starts_with('[')) {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        out.host = text.substr(1, close - 1);
        if (close + 1 < text.size() && text[close + 1] == ':')
            out.port = leadingInt32(text.substr(close + 2));
        return true;
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    out.host = text.substr(0, colon);
    out.port = leadingInt32(text.substr(colon + 1));
    return true;
}

// The first of the keys that has a non-empty value in the query.
std::string firstQueryValue(const std::string& query, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        std::string value = queryValue(query, key);
        if (!value.empty()) return value;
    }
    return {};
}

// The first of the keys that has a non-empty string value in the item.
std::string firstString(const std::string& item, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        std::string value = jsonString(item, key);
        if (!value.empty()) return value;
    }
    return {};
}

// sscanf "%d-%d-%d": each number after optional white space and sign, the '-' right behind it.
bool readDate(std::string_view text, int64_t fields[3]) {
    size_t i = 0;
    for (int field = 0; field < 3; ++field) {
        if (field > 0 && (i >= text.size() || text[i++] != '-')) return false;
        while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
        const size_t start = i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const size_t digits = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == digits) return false;
        fields[field] = leadingInt32(text.substr(start, i - start));
    }
    return true;
}

// Milliseconds become seconds; values too small to be a date (up to 1 000 000 000 - 1) mean
// "never ends".
int64_t normaliseExpiry(int64_t value) {
    if (value > 100'000'000'000) value /= 1000;
    if (value >= 1 && value < 1'000'000'000) return 0;
    return value;
}

// urlDecode(name) == key, without decoding names that hold nothing to decode.
bool decodedEquals(std::string_view name, std::string_view key) {
    if (name.find_first_of("%+") == std::string_view::npos) return name == key;
    return urlDecode(std::string(name)) == key;
}

}  // namespace

std::string queryValue(const std::string& query, const std::string& key) {
    const std::string_view rest(query);
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('&', start);
        if (end == std::string_view::npos) end = rest.size();
        const std::string_view part = rest.substr(start, end - start);
        const size_t equals = part.find('=');
        if (decodedEquals(part.substr(0, equals), key)) {
            if (equals == std::string_view::npos) return {};
            return urlDecode(std::string(part.substr(equals + 1)));
        }
        start = end + 1;
    }
    return {};
}

bool parseVlessLink(const std::string& line, NodeRecord& node) {
    std::string_view rest(line);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n' || rest.back() == ' '))
        rest.remove_suffix(1);
    if (!rest.starts_with(kVlessScheme)) return false;
    rest.remove_prefix(kVlessScheme.size());

    std::string fragment;
    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) {
        fragment = urlDecode(std::string(rest.substr(hash + 1)));
        rest = rest.substr(0, hash);
    }
    std::string query;
    if (const size_t question = rest.find('?'); question != std::string_view::npos) {
        query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    const size_t at = rest.rfind('@');
    if (at == std::string_view::npos) return false;
    const std::string_view uuid = rest.substr(0, at);
    HostPort server;
    if (!splitHostPort(rest.substr(at + 1), server)) return false;
    if (uuid.empty() || server.host.empty() || server.port < 1) return false;
    std::string publicKey = firstQueryValue(query, {"pbk", "publicKey"});
    if (publicKey.empty()) return false;

    NodeRecord parsed;
    parsed.name = fragment.empty() ? std::string(server.host) : std::move(fragment);
    parsed.address = std::string(server.host);
    parsed.port = server.port;
    parsed.uuid = std::string(uuid);
    if (std::string flow = queryValue(query, "flow"); !flow.empty()) parsed.flow = std::move(flow);
    parsed.serverName = firstQueryValue(query, {"sni", "servername"});
    if (std::string fp = queryValue(query, "fp"); !fp.empty()) parsed.fingerprint = std::move(fp);
    parsed.publicKey = std::move(publicKey);
    parsed.shortId = firstQueryValue(query, {"sid", "shortId"});
    node = std::move(parsed);
    return true;
}

void parseSubscription(const std::string& body, std::vector<NodeRecord>& nodes) {
    std::string decoded;
    const std::string* text = &body;
    if (!startsWithLinkAfterBlanks(body) && base64Decode(body, decoded) &&
        decoded.find(kVlessScheme) != std::string::npos) {
        text = &decoded;
    }
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        NodeRecord node;
        if (parseVlessLink(text->substr(start, end - start), node) && !isInformational(node.name)) {
            nodes.push_back(std::move(node));
        }
        start = end + 1;
    }
}

NodeRecord parseServerItem(const std::string& item, const std::string& uuid) {
    NodeRecord node;
    node.name = firstString(item, {"name", "host"});
    node.address = jsonString(item, "host");
    node.port = clampToInt32(jsonInt(item, "server_port", 0));
    if (node.port == 0) {
        const std::string portText = jsonString(item, "port");
        if (!portText.empty()) node.port = leadingInt32(portText);
    }
    if (node.port == 0) node.port = clampToInt32(jsonInt(item, "port", 0));
    node.uuid = uuid;
    if (std::string flow = jsonString(item, "flow"); !flow.empty()) node.flow = std::move(flow);
    node.serverName = firstString(item, {"server_name", "sni"});
    if (std::string fp = jsonString(item, "fingerprint"); !fp.empty())
        node.fingerprint = std::move(fp);
    node.publicKey = firstString(item, {"public_key", "publicKey"});
    node.shortId = firstString(item, {"short_id", "shortId"});
    return node;
}

int64_t parseExpiry(const std::string& data) {
    const std::string quoted = jsonString(data, "expired_at");
    if (quoted.empty()) return normaliseExpiry(jsonInt(data, "expired_at", 0));
    int64_t date[3] = {};
    if (readDate(quoted, date) && date[0] >= 1971) {
        const int64_t endOfDay = unixFromCivil(date[0], date[1], date[2]) + 86399;
        return endOfDay < 0 ? 0 : endOfDay;
    }
    // A number in quotes obeys the same rules as a bare one.
    return normaliseExpiry(leadingInt64(quoted));
}

}  // namespace vpn
