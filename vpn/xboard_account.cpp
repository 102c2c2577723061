// The account as the panel sees it: membership from getSubscribe, nodes from the
// subscription (a v2rayN link list) and, when that yields none, from the panel's server list.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vpn/calendar.h"
#include "vpn/http.h"
#include "vpn/json_read.h"
#include "vpn/subscription.h"
#include "vpn/url_coding.h"
#include "vpn/xboard_control_plane.h"
#include "vpn/xboard_wire.h"

namespace vpn {
namespace {

using xboard::clampToInt32;
using xboard::kJsonType;

// The panel answers a v2rayN client with the general format: Base64 of vless:// links.
constexpr const char* kSubscriptionAgent = "v2rayN/6.45";

// "YYYY-MM-DD" of a moment in seconds since 1970, in UTC.
std::string dateText(int64_t seconds) {
    const CivilDate date = civilFromUnix(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(date.year),
                  date.month, date.day);
    return text;
}

// The account's own limit, else its plan's.
int32_t deviceLimitOf(const std::string& data) {
    int64_t limit = jsonInt(data, "device_limit", 0);
    if (limit <= 0) {
        const int64_t planLimit = jsonInt(jsonObject(data, "plan"), "device_limit", 0);
        if (planLimit >= 1) limit = planLimit;
    }
    return clampToInt32(limit);
}

std::string asciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Only web addresses are fetched: the panel's subscribe_url is not trusted to name a file.
bool startsWithHttpScheme(const std::string& url) {
    const std::string head = asciiLower(url.substr(0, 8));
    return head.rfind("http://", 0) == 0 || head.rfind("https://", 0) == 0;
}

bool usableNode(const NodeRecord& node) {
    return !node.address.empty() && node.port >= 1 && !node.uuid.empty() && !node.publicKey.empty();
}

// A getSubscribe reply must at least be a JSON object; anything else (an HTML page from a
// wrong address, a cut-off body) is not an account without a plan. Validated without
// building a document, so no depth of nesting costs stack.
bool looksLikePanelReply(const std::string& reply) {
    const std::size_t first = reply.find_first_not_of(" \t\r\n");
    return first != std::string::npos && reply[first] == '{' && nlohmann::ordered_json::accept(reply);
}

}  // namespace

bool XboardControlPlane::fetchAccount(AccountRecord& account, std::string& error) {
    if (token_.empty()) {
        error = "请先登录";
        return false;
    }
    std::string reply;
    if (!httpRequest("GET", endpoint("/api/v1/user/getSubscribe"), token_, {}, kJsonType, reply,
                     error)) {
        return false;
    }
    if (!looksLikePanelReply(reply)) {
        error = "面板返回的账户信息无法识别";
        return false;
    }
    const std::string data = jsonDataObject(reply);
    const std::string uuid = jsonString(data, "uuid");
    const int64_t end = parseExpiry(data);

    account.email = jsonString(data, "email");
    if (account.email.empty()) account.email = email_;
    account.expiresAt = end > 0 ? dateText(end) : std::string();
    account.hasPlan = jsonInt(data, "plan_id", 0) > 0;
    account.deviceLimit = deviceLimitOf(data);
    account.usedDevices = 0;
    account.expired = account.hasPlan && end >= 1 && end < unixNow();
    account.signedIn = true;
    account.nodes.clear();
    if (!account.hasPlan || account.expired || uuid.empty()) return true;

    fetchSubscriptionNodes(data, account.nodes, error);
    if (!account.nodes.empty()) return true;
    return fetchServerListNodes(uuid, account.nodes, error);
}

// The subscription URL is rebuilt from the subscription token on the API base, so the panel's
// own idea of its public address (subscribe_url) matters only when it sends no token.
void XboardControlPlane::fetchSubscriptionNodes(const std::string& data,
                                                std::vector<NodeRecord>& nodes,
                                                std::string& error) const {
    const std::string subscriptionToken = jsonString(data, "token");
    std::string url;
    if (!subscriptionToken.empty()) {
        url = endpoint("/api/v1/client/subscribe?token=") + urlEncode(subscriptionToken);
    } else {
        url = jsonString(data, "subscribe_url");
        if (!startsWithHttpScheme(url)) url.clear();
    }
    if (url.empty()) return;
    std::string body;
    std::string fetchError;
    if (httpRequest("GET", url, {}, {}, kJsonType, body, fetchError, kSubscriptionAgent)) {
        parseSubscription(body, nodes);
    } else if (error.empty()) {
        error = fetchError;
    }
}

bool XboardControlPlane::fetchServerListNodes(const std::string& uuid,
                                              std::vector<NodeRecord>& nodes,
                                              std::string& error) const {
    std::string reply;
    std::string listError;
    if (!httpRequest("GET", endpoint("/api/v1/user/server/fetch"), token_, {}, kJsonType, reply,
                     listError)) {
        if (error.empty()) error = listError.empty() ? "无法获取订阅节点" : listError;
        return false;
    }
    const std::vector<std::string> items = jsonObjectArray(reply, "data");
    for (const std::string& item : items) {
        const std::string type = asciiLower(jsonString(item, "type"));
        if (!type.empty() && type != "vless" && type != "v2ray") continue;
        NodeRecord node = parseServerItem(item, uuid);
        if (usableNode(node)) nodes.push_back(std::move(node));
    }
    if (!nodes.empty()) return true;
    error = items.empty() ? "面板未下发可用节点，请确认节点已显示且套餐权限组一致"
                          : "面板节点缺少地址，订阅里也没有可解析的 VLESS Reality";
    return false;
}

}  // namespace vpn
