#include "tests/support/fake_panel.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>

#include "tests/support/base64_encode.h"

namespace orvik_test {
namespace panel {
namespace {

constexpr const char* kPublicKey = "hE2bQ7uM0xJ3vN9pK4sL8wR1tY6zC5aD2fG0hJ3kL6m";
constexpr int64_t kGiB = int64_t{1} << 30;

// PHP's urlencode: letters, digits and "-_." stay, a space becomes '+', the rest "%XX".
std::string phpUrlEncode(const std::string& bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", c);
        out += std::isalnum(c) || c == '-' || c == '_' || c == '.' ? std::string(1, char(c)) : c == ' ' ? "+" : escape;
    }
    return out;
}

// User routes answer only the member's session, as the panel does (403, not 401).
HttpHandler signedIn(HttpHandler handler) {
    return [handler = std::move(handler)](const HttpRequestRecord& request) {
        if (request.header("authorization") != FakePanel::kSession) return fail(403, "未登录或登陆已过期");
        return handler(request);
    };
}

HttpHandler signedIn(HttpReply reply) {
    return signedIn([reply = std::move(reply)](const HttpRequestRecord&) { return reply; });
}

std::string bodyString(const HttpRequestRecord& request, const char* key) {
    const Json body = Json::parse(request.body, nullptr, false);
    return body.is_object() && body.contains(key) && body[key].is_string() ? body[key].get<std::string>() : "";
}

}  // namespace

HttpReply plain(int status, const Json& body) {
    return HttpReply{status, body.dump(-1, ' ', false, Json::error_handler_t::replace), {{"Content-Type", "application/json"}}};
}

HttpReply success(Json data) {
    return plain(200, {{"status", "success"}, {"message", "操作成功"}, {"data", std::move(data)}, {"error", nullptr}});
}

HttpReply fail(int status, const std::string& message) {
    return plain(status, {{"status", "fail"}, {"message", message}, {"data", nullptr}, {"error", nullptr}});
}

Json plan(int id, const std::string& name, const Json& prices) {
    Json item = {{"id", id}, {"group_id", 1}, {"name", name}, {"tags", {"流媒体"}}, {"content", "<p>" + name + "</p>"}};
    for (const char* key : {"month_price", "quarter_price", "half_year_price", "year_price", "two_year_price",
                            "three_year_price", "onetime_price", "reset_price"})
        item[key] = prices.contains(key) ? prices[key] : Json(nullptr);
    item.update({{"capacity_limit", nullptr}, {"transfer_enable", 100}, {"speed_limit", nullptr}, {"device_limit", 3},
                 {"show", true}, {"sell", true}, {"renew", true}, {"reset_traffic_method", nullptr}, {"sort", id},
                 {"created_at", 1735689600}, {"updated_at", 1735689600}});
    return item;
}

Json member(Json expiredAt) {
    return {{"plan_id", 1},         {"token", kToken},        {"expired_at", std::move(expiredAt)},
            {"u", 3 * kGiB},        {"d", 12 * kGiB},         {"transfer_enable", 100 * kGiB},
            {"email", FakePanel::kEmail}, {"uuid", kUuid},    {"device_limit", 3},
            {"speed_limit", nullptr}, {"next_reset_at", nullptr},
            {"plan", plan(1, "标准版", {{"month_price", 1500}, {"year_price", 15000}})},
            {"subscribe_url", std::string("https://sub.example.com/s/") + kToken}, {"reset_day", nullptr}};
}

Json guestConfig(bool emailVerify, bool inviteForce, bool recaptcha) {
    return {{"tos_url", nullptr},       {"is_email_verify", emailVerify ? 1 : 0}, {"is_invite_force", inviteForce ? 1 : 0},
            {"email_whitelist_suffix", 0}, {"is_captcha", recaptcha ? 1 : 0},   {"captcha_type", "recaptcha"},
            {"recaptcha_site_key", nullptr}, {"app_description", "Velora"},     {"app_url", "https://sub.example.com"},
            {"logo", nullptr},          {"is_recaptcha", recaptcha ? 1 : 0}};
}

std::string vlessLink(const std::string& name, const std::string& host, int port) {
    const std::string hostPart = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return std::string("vless://") + kUuid + "@" + hostPart + ":" + std::to_string(port) +
           "?mode=multi&security=reality&encryption=none&type=tcp&flow=xtls-rprx-vision&pbk=" + kPublicKey +
           "&sid=6ba85179e30d4fc2&sni=www.microsoft.com&servername=www.microsoft.com&spx=%2F&fp=chrome#" +
           phpUrlEncode(name);
}

HttpReply subscription(const std::vector<std::string>& links) {
    std::string text;
    for (const std::string& link : links) text += link + "\r\n";
    return HttpReply{200, base64Encode(text), {{"Content-Type", "text/plain; charset=utf-8"},
                     {"subscription-userinfo", "upload=3221225472; download=12884901888; total=107374182400; expire=0"}}};
}

int64_t now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace panel

FakePanel::FakePanel() {
    using namespace panel;
    const Json signedInData = {{"token", kToken}, {"auth_data", kSession}, {"is_admin", false}};
    on("POST", kLogin, success(signedInData));
    on("POST", kRegister, success(signedInData));
    on("POST", kEmailCode, success(true));
    on("GET", kGuestConfig, success(guestConfig(false, false, false)));
    on("GET", kGetSubscribe, signedIn([](const HttpRequestRecord&) { return success(member(now() + 30 * 86400)); }));
    on("GET", kSubscription, subscription({vlessLink("Tokyo A", "203.0.113.10", 443), vlessLink("Singapore", "2001:db8::1", 8443)}));
    on("GET", kPlans, signedIn(success({plan(1, "标准版", {{"month_price", 1500}, {"year_price", 15000}})})));
    on("GET", kOrders, signedIn(success(Json::array())));
    on("POST", kCancel, signedIn(success(true)));
    on("GET", kMethods, signedIn(success({{{"id", 1}, {"name", "支付宝"}, {"payment", "EPay"}, {"icon", nullptr},
                                           {"handling_fee_fixed", nullptr}, {"handling_fee_percent", nullptr}}})));
    on("GET", kCheck, signedIn(success(0)));
    on("POST", kClaim, signedIn(plain(200, {{"used", 1}, {"limit", 3}, {"message", "设备已登记"}})));
    auto orders = std::make_shared<int>(0);  // handlers run one at a time
    on("POST", kSave, signedIn([orders](const HttpRequestRecord&) {
           return success("2026010112000" + std::to_string(100000 + ++*orders));
       }));
    on("POST", kCheckout, signedIn([](const HttpRequestRecord& request) {
           return plain(200, {{"type", 1}, {"data", kPayPage + bodyString(request, "trade_no")}});
       }));
}

}  // namespace orvik_test
