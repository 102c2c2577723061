// The fake panel's account routes: getSubscribe, the server list and the subscription with
// its formats (general Base64 link list, Clash YAML, sing-box JSON).
#include <string>
#include <vector>

#include "tests/support/fake_panel.h"

namespace orvik_test::fake_panel {

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int64_t expirySeconds(const FakeUser& user) {
    return user.expiredAt.is_number_integer() ? user.expiredAt.get<int64_t>() : 0;
}

// The panel serves a subscription only to an account that may use it.
bool available(const FakeUser& user, int64_t now) {
    if (user.banned || user.planId.is_null()) return false;
    const int64_t end = expirySeconds(user);
    if (end > 0 && end < now) return false;
    return user.upload + user.download < user.transferEnable;
}

HttpReply getSubscribe(Call& call) {
    FakeUser* user = sessionUser(call);
    if (user == nullptr) return notSignedIn(call);
    Json data = Json::object();
    data["plan_id"] = user->planId;
    data["token"] = user->subscriptionToken;
    data["expired_at"] = user->expiredAt;
    data["u"] = user->upload;
    data["d"] = user->download;
    data["transfer_enable"] = user->transferEnable;
    data["email"] = user->email;
    data["uuid"] = user->uuid;
    data["device_limit"] = user->deviceLimit;
    data["speed_limit"] = nullptr;
    data["next_reset_at"] = nullptr;
    if (user->planId.is_number_integer()) {
        const FakePlan* plan = call.state.plan(user->planId.get<int>());
        data["plan"] = plan != nullptr ? planJson(*plan) : Json(nullptr);
    }
    data["subscribe_url"] = call.origin + "/s/" + user->subscriptionToken;
    data["reset_day"] = nullptr;
    return success(std::move(data));
}

HttpReply serverFetch(Call& call) {
    FakeUser* user = sessionUser(call);
    if (user == nullptr) return notSignedIn(call);
    Json list = Json::array();
    for (const FakeServer& server : call.state.servers) {
        if (!server.show || !available(*user, call.now)) continue;
        Json item = Json::object();
        item["id"] = server.id;
        if (!server.type.empty()) item["type"] = server.type;
        item["version"] = nullptr;
        item["name"] = server.name;
        item["rate"] = "1";
        item["tags"] = Json::array();
        item["is_online"] = 1;
        item["cache_key"] = server.type + "-" + std::to_string(server.id) + "-1735689600-1";
        item["last_check_at"] = call.now - 30;
        if (call.state.switches.serverListWithConnectionDetails) {
            item["host"] = server.host;
            item["server_port"] = server.port;
            Json reality = Json::object();
            reality["server_name"] = server.serverName;
            reality["server_port"] = 443;
            reality["public_key"] = server.publicKey;
            reality["short_id"] = server.shortId;
            item["protocol_settings"] = Json::object();
            item["protocol_settings"]["flow"] = server.flow;
            item["protocol_settings"]["reality_settings"] = reality;
        }
        list.push_back(item);
    }
    Json body = Json::object();
    body["data"] = list;
    HttpReply reply = plain(200, body);
    reply.headers.emplace_back("ETag", "\"" + std::to_string(list.size()) + "-servers\"");
    return reply;
}

std::string hostPart(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::string vlessLink(const FakeServer& server, const std::string& uuid, const std::string& name) {
    std::string query = "mode=multi&security=reality&encryption=none&type=tcp";
    const std::pair<const char*, std::string> optional[] = {
        {"flow", server.flow},           {"pbk", server.publicKey},      {"sid", server.shortId},
        {"sni", server.serverName},      {"servername", server.serverName}, {"spx", "/"},
        {"fp", "chrome"}};
    for (const auto& [key, value] : optional) {
        if (!value.empty()) query += std::string("&") + key + "=" + phpUrlEncode(value);
    }
    return "vless://" + uuid + "@" + hostPart(server.host) + ":" + std::to_string(server.port) + "?" +
           query + "#" + phpUrlEncode(name);
}

std::string otherLink(const FakeServer& server, const FakeUser& user) {
    if (server.type == "shadowsocks") {
        return "ss://" + base64("2022-blake3-aes-128-gcm:" + user.uuid.substr(0, 16)) + "@" +
               hostPart(server.host) + ":" + std::to_string(server.port) + "#" + phpUrlEncode(server.name);
    }
    Json vmess = Json::object();
    vmess["v"] = "2";
    vmess["ps"] = server.name;
    vmess["add"] = server.host;
    vmess["port"] = std::to_string(server.port);
    vmess["id"] = user.uuid;
    return "vmess://" + base64(vmess.dump());
}

// Informational entries the operator may put first: copies of the first server.
std::vector<std::string> pseudoNodes(const Call& call, const FakeUser& user) {
    const FakeServer* first = nullptr;
    for (const FakeServer& server : call.state.servers) {
        if (server.show && server.type == "vless") {
            first = &server;
            break;
        }
    }
    if (first == nullptr) return {};
    const int64_t left = (user.transferEnable - user.upload - user.download) >> 30;
    const int64_t end = expirySeconds(user);
    return {vlessLink(*first, user.uuid, "剩余流量：" + std::to_string(left) + " GB"),
            vlessLink(*first, user.uuid, "套餐到期：" + (end > 0 ? formatDate(end) : std::string("长期有效"))),
            vlessLink(*first, user.uuid, "距离下次重置剩余：12 天")};
}

std::string generalFormat(const Call& call, const FakeUser& user) {
    std::vector<std::string> links;
    if (call.state.switches.pseudoNodes) links = pseudoNodes(call, user);
    for (const FakeServer& server : call.state.servers) {
        if (!server.show) continue;
        links.push_back(server.type == "vless" || server.type.empty() ? vlessLink(server, user.uuid, server.name)
                                                                      : otherLink(server, user));
    }
    std::string text;
    for (const std::string& link : links) text += link + "\r\n";
    return base64(text);
}

std::string clashFormat(const Call& call) {
    std::string yaml = "mixed-port: 7890\nproxies:\n";
    for (const FakeServer& server : call.state.servers) {
        yaml += "  - { name: \"" + server.name + "\", type: " + server.type + ", server: " + server.host +
                ", port: " + std::to_string(server.port) + " }\n";
    }
    return yaml;
}

HttpReply subscription(Call& call, const std::string& token) {
    if (call.state.switches.subscriptionDisabled) return notFound(call.request.path);
    FakeUser* user = nullptr;
    for (FakeUser& candidate : call.state.users) {
        if (!token.empty() && candidate.subscriptionToken == token) user = &candidate;
    }
    if (user == nullptr) return fail(403, "token is error");
    HttpReply reply;
    if (!available(*user, call.now)) {
        reply.status = 403;  // expired, banned or used up: an empty body
        return reply;
    }
    std::string flag = lower(inputString(call, "flag"));
    if (flag.empty()) flag = lower(call.request.header("user-agent"));
    if (contains(flag, "meta") || contains(flag, "verge") || contains(flag, "flclash") ||
        contains(flag, "nekobox") || contains(flag, "clashmetaforandroid") || contains(flag, "clash")) {
        reply.body = clashFormat(call);
        reply.headers.emplace_back("Content-Type", "text/yaml; charset=utf-8");
    } else if (contains(flag, "sing-box") || contains(flag, "hiddify") || contains(flag, "sfm")) {
        reply.body = "{\"outbounds\":[]}";
        reply.headers.emplace_back("Content-Type", "application/json");
    } else {
        reply.body = generalFormat(call, *user);
        reply.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
    }
    reply.headers.emplace_back("subscription-userinfo",
                               "upload=" + std::to_string(user->upload) + "; download=" +
                                   std::to_string(user->download) + "; total=" +
                                   std::to_string(user->transferEnable) + "; expire=" +
                                   std::to_string(expirySeconds(*user)));
    return reply;
}

}  // namespace

bool accountRoute(Call& call, HttpReply& reply) {
    const std::string& method = call.request.method;
    const std::string& path = call.request.path;
    if (method == "GET" && path == "/api/v1/user/getSubscribe") {
        reply = getSubscribe(call);
    } else if (method == "GET" && path == "/api/v1/user/server/fetch") {
        reply = serverFetch(call);
    } else if (method == "GET" && path == "/api/v1/client/subscribe") {
        reply = subscription(call, inputString(call, "token"));
    } else if (method == "GET" && path.rfind("/s/", 0) == 0) {
        reply = subscription(call, path.substr(3));
    } else {
        return false;
    }
    return true;
}

}  // namespace orvik_test::fake_panel
