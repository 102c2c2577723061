// The panel's shop: plans as one offer per purchasable period, buying (stale orders cleared,
// order placed, first payment method, checkout), the order's payment state, and the device
// slot claimed from the separate device service.
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "vpn/http.h"
#include "vpn/json_read.h"
#include "vpn/system.h"
#include "vpn/url_coding.h"
#include "vpn/xboard_control_plane.h"
#include "vpn/xboard_wire.h"

namespace vpn {
namespace {

using xboard::clampToInt32;
using xboard::jsonBody;
using xboard::kJsonType;
using xboard::panelMessage;

struct Period {
    const char* key;
    const char* label;
    int32_t days;
    const char* text;
};

// The order in which each plan's offers are listed.
constexpr std::array<Period, 7> kPeriods{{
    {"month_price", "月付", 30, "1 个月"},
    {"quarter_price", "季付", 90, "3 个月"},
    {"half_year_price", "半年付", 180, "6 个月"},
    {"year_price", "年付", 365, "1 年"},
    {"two_year_price", "两年", 730, "2 年"},
    {"three_year_price", "三年", 1095, "3 年"},
    {"onetime_price", "一次性", 0, "一次性"},
}};

struct PlanFacts {
    const std::string& item;
    int32_t id;
    std::string name;
    std::string transferText;
};

// Fixed-point text that does not depend on the process's locale (the client's toolkit sets
// one from the environment, which could turn the point into a comma).
std::string fixed(double value, int decimals) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("0");
}

// transfer_enable is bytes on some panels and gigabytes on others; 1 GiB or more is bytes.
std::string transferText(const std::string& plan) {
    double amount = static_cast<double>(jsonInt(plan, "transfer_enable", 0));
    if (amount >= 1073741824.0) amount /= 1073741824.0;
    return fixed(amount, 0) + " GB";
}

void appendOffer(const PlanFacts& plan, const Period& period, std::vector<PlanOffer>& offers) {
    int64_t price = 0;
    if (!jsonOptionalInt(plan.item, period.key, price)) return;  // not sold for this period
    PlanOffer offer;
    offer.planId = plan.id;
    offer.periodDays = period.days;
    offer.deviceLimit = jsonInt(plan.item, "device_limit", 0);
    offer.planName = plan.name;
    offer.periodKey = period.key;
    offer.periodLabel = period.label;
    offer.periodText = period.text;
    offer.priceCents = price;
    offer.transferText = plan.transferText;
    const double yuan = static_cast<double>(price) / 100.0;
    offer.priceText = price > 0 ? "¥" + fixed(yuan, 2) : "免费";
    if (period.days >= 1 && price > 0) offer.perDayText = "¥" + fixed(yuan / static_cast<double>(period.days), 2) + "/天";
    offers.push_back(std::move(offer));
}

// The cheapest offer per day is the best value, the runner-up the popular one; earlier
// offers win ties.
void markOfferBadges(std::vector<PlanOffer>& offers) {
    constexpr double kNone = 1e18;
    double lowest = kNone;
    double second = kNone;
    PlanOffer* best = nullptr;
    PlanOffer* runnerUp = nullptr;
    for (PlanOffer& offer : offers) {
        if (offer.periodDays <= 0 || offer.priceCents <= 0) continue;
        const double value = static_cast<double>(offer.priceCents) / static_cast<double>(offer.periodDays);
        if (value < lowest) {
            second = lowest;
            runnerUp = best;
            lowest = value;
            best = &offer;
        } else if (value < second) {
            second = value;
            runnerUp = &offer;
        }
    }
    if (best != nullptr) best->badge = "超值套餐";
    if (runnerUp != nullptr) runnerUp->badge = "最受欢迎";
}

// The panel refused a new order because an earlier one is still open.
bool isPendingOrderMessage(const std::string& text) {
    for (const char* phrase : {"未完成", "未支付", "未付款", "待支付", "开通中", "将其取消", "unpaid",
                               "pending order"}) {
        if (text.find(phrase) != std::string::npos) return true;
    }
    return false;
}

// scheme://host[:port] of an address; the address itself when it has no scheme.
std::string originOf(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const std::size_t end = url.find_first_of("/?#\\", scheme + 3);
    return url.substr(0, end);
}

}  // namespace

bool XboardControlPlane::fetchPlans(std::vector<PlanOffer>& offers, std::string& error) {
    if (token_.empty()) {
        error = "请先登录";
        return false;
    }
    std::string reply;
    if (!httpRequest("GET", endpoint("/api/v1/user/plan/fetch"), token_, {}, kJsonType, reply, error)) {
        return false;
    }
    offers.clear();
    for (const std::string& item : jsonObjectArray(reply, "data")) {
        const int64_t id = jsonInt(item, "id", 0);
        // An id the order request could not carry back is not offered.
        if (id <= 0 || id > std::numeric_limits<int32_t>::max()) continue;
        const PlanFacts plan{item, static_cast<int32_t>(id), jsonString(item, "name"), transferText(item)};
        for (const Period& period : kPeriods) appendOffer(plan, period, offers);
    }
    markOfferBadges(offers);
    if (offers.empty()) {
        error = "面板没有可购买的套餐";
        return false;
    }
    return true;
}

void XboardControlPlane::cancelOrder(const std::string& tradeNo) {
    if (tradeNo.empty()) return;
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["trade_no"] = tradeNo;
    std::string reply;
    std::string ignored;
    httpRequest("POST", endpoint("/api/v1/user/order/cancel"), token_, jsonBody(body), kJsonType,
                reply, ignored);
}

// Unpaid orders block a new one. The full listing is read too, for panels without the
// status filter.
void XboardControlPlane::cancelPendingOrders() {
    std::string reply;
    std::string ignored;
    if (httpRequest("GET", endpoint("/api/v1/user/order/fetch?status=0"), token_, {}, kJsonType,
                    reply, ignored)) {
        for (const std::string& order : jsonObjectArray(reply, "data")) {
            cancelOrder(jsonString(order, "trade_no"));
        }
    }
    if (httpRequest("GET", endpoint("/api/v1/user/order/fetch"), token_, {}, kJsonType, reply,
                    ignored)) {
        for (const std::string& order : jsonObjectArray(reply, "data")) {
            if (jsonInt(order, "status", -1) == 0) cancelOrder(jsonString(order, "trade_no"));
        }
    }
}

bool XboardControlPlane::saveOrder(int32_t planId, const std::string& period, std::string& tradeNo,
                                   std::string& error) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["plan_id"] = planId;
    body["period"] = period;
    std::string reply;
    if (!httpRequest("POST", endpoint("/api/v1/user/order/save"), token_, jsonBody(body),
                     kJsonType, reply, error)) {
        const std::string message = panelMessage(reply);
        if (!message.empty()) error = message;
        return false;
    }
    tradeNo = jsonString(reply, "data");
    if (tradeNo.empty()) tradeNo = jsonString(jsonDataObject(reply), "trade_no");
    if (tradeNo.empty()) {
        error = "下单失败，未返回订单号";
        return false;
    }
    return true;
}

// Places the order, clearing an open one that blocks it once more if the panel says so.
bool XboardControlPlane::placeOrder(int32_t planId, const std::string& period, std::string& tradeNo,
                                    std::string& error) {
    cancelPendingOrders();
    if (saveOrder(planId, period, tradeNo, error)) return true;
    if (!isPendingOrderMessage(error)) return false;
    cancelPendingOrders();
    error.clear();
    if (saveOrder(planId, period, tradeNo, error)) return true;
    if (isPendingOrderMessage(error)) {
        error = "上一笔订单还在处理。未付款可再点一次购买；若已付款请关闭后刷新会员";
    }
    return false;
}

// The id of the first payment method the panel lists; 0 when there is none.
int64_t XboardControlPlane::firstPaymentMethod() const {
    std::string reply;
    std::string ignored;
    if (!httpRequest("GET", endpoint("/api/v1/user/order/getPaymentMethod"), token_, {},
                     kJsonType, reply, ignored)) {
        return 0;
    }
    const std::vector<std::string> methods = jsonObjectArray(reply, "data");
    return methods.empty() ? 0 : jsonInt(methods.front(), "id", 0);
}

bool XboardControlPlane::buyPlan(int32_t planId, const std::string& periodKey,
                                 CheckoutResult& result, std::string& error) {
    result = CheckoutResult{};
    if (token_.empty()) {
        error = "请先登录";
        return false;
    }
    std::string tradeNo;
    if (!placeOrder(planId, periodKey, tradeNo, error)) return false;
    result.tradeNo = tradeNo;
    return checkout(firstPaymentMethod(), result, error);
}

bool XboardControlPlane::checkout(int64_t method, CheckoutResult& result, std::string& error) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["trade_no"] = result.tradeNo;
    if (method > 0) body["method"] = method;
    std::string reply;
    std::string checkoutError;
    if (httpRequest("POST", endpoint("/api/v1/user/order/checkout"), token_, jsonBody(body),
                    kJsonType, reply, checkoutError)) {
        int64_t type = jsonInt(reply, "type", -2);
        if (type == -2) type = jsonInt(jsonDataObject(reply), "type", -2);
        if (type == -1) {  // completed without payment (free plan or paid from the balance)
            result.activated = true;
            result.message = "套餐已开通";
            return true;
        }
        if (method > 0) {
            std::string link = jsonString(reply, "data");
            if (link.empty()) link = jsonString(jsonDataObject(reply), "data");
            result.paymentUrl = link;
            result.message = link.empty() ? "请到面板完成支付" : "已打开支付页面";
            return true;
        }
        error = noPaymentMethodText();
    } else {
        const std::string message = panelMessage(reply);
        error = message.empty() ? checkoutError : message;
        if (method <= 0 || error.find("Payment method") != std::string::npos ||
            error.find("not available") != std::string::npos) {
            error = noPaymentMethodText();
        }
    }
    cancelOrder(result.tradeNo);
    return false;
}

// The payment gateway notifies the panel itself, so the operator is pointed at the panel's
// own address.
std::string XboardControlPlane::noPaymentMethodText() const {
    return "面板还没配置支付方式。请到后台「支付方式」添加通道，通知地址用 " + originOf(apiBase_);
}

bool XboardControlPlane::checkOrder(const std::string& tradeNo, bool& paid, std::string& error) {
    paid = false;
    if (token_.empty() || tradeNo.empty()) {
        error = "请先登录";
        return false;
    }
    std::string reply;
    if (!httpRequest("GET", endpoint("/api/v1/user/order/check?trade_no=") + urlEncode(tradeNo),
                     token_, {}, kJsonType, reply, error)) {
        return false;
    }
    int64_t status = jsonInt(reply, "data", 0);
    status = jsonInt(jsonDataObject(reply), "data", status);
    paid = status == 1 || status == 3;
    return true;
}

bool XboardControlPlane::claimDevice(const std::string& deviceId, int32_t& used, int32_t& limit,
                                     std::string& error) {
    used = 0;
    limit = 0;
    if (deviceApi_.empty()) return true;  // no device service: no device limit is enforced
    if (token_.empty()) {
        error = "请先登录";
        return false;
    }
    if (deviceId.empty() || deviceId == kUnknownDevice) {
        error = "无法识别这台电脑";
        return false;
    }
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["device_id"] = deviceId;
    std::string reply;
    if (!httpRequest("POST", deviceApi_ + "/claim", token_, jsonBody(body), kJsonType, reply, error)) {
        const std::string message = panelMessage(reply);
        if (!message.empty()) {
            error = message;
        } else if (error.empty()) {
            error = "设备登记失败";
        }
        return false;
    }
    const std::string data = jsonDataObject(reply);
    used = clampToInt32(jsonInt(data, "used", jsonInt(reply, "used", 0)));
    limit = clampToInt32(jsonInt(data, "limit", jsonInt(reply, "limit", 0)));
    return true;
}

}  // namespace vpn
