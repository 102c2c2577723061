// The fake panel's shop routes (plans, orders, payment methods, checkout) and the separate
// device-slot service.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/fake_panel.h"

namespace orvik_test::fake_panel {
namespace {

constexpr const char* kPriceKeys[] = {"month_price",    "quarter_price",  "half_year_price",
                                      "year_price",     "two_year_price", "three_year_price",
                                      "onetime_price",  "reset_price"};
constexpr const char* kDevicePrefix = "/device-slots";

bool isPriceKey(const std::string& key) {
    return std::find_if(std::begin(kPriceKeys), std::end(kPriceKeys),
                        [&](const char* known) { return key == known; }) != std::end(kPriceKeys);
}

FakeOrder* ownOrder(Call& call, const FakeUser& user, const std::string& tradeNo) {
    FakeOrder* order = call.state.order(tradeNo);
    return order != nullptr && order->email == user.email ? order : nullptr;
}

Json orderJson(const Call& call, const FakeOrder& order) {
    Json item = Json::object();
    item["id"] = std::stoi(order.tradeNo.substr(order.tradeNo.size() - 6));
    item["plan_id"] = order.planId;
    item["coupon_id"] = nullptr;
    item["payment_id"] = order.paymentId > 0 ? Json(order.paymentId) : Json(nullptr);
    item["type"] = 1;
    item["period"] = order.period;
    item["trade_no"] = order.tradeNo;
    item["callback_no"] = nullptr;
    item["total_amount"] = order.totalAmount;
    item["handling_amount"] = nullptr;
    item["discount_amount"] = nullptr;
    item["balance_amount"] = nullptr;
    item["status"] = order.status;
    item["commission_status"] = 0;
    item["paid_at"] = order.status == 3 ? Json(order.createdAt + 60) : Json(nullptr);
    item["created_at"] = order.createdAt;
    item["updated_at"] = order.createdAt;
    const FakePlan* plan = call.state.plan(order.planId);
    item["plan"] = plan != nullptr ? planJson(*plan) : Json(nullptr);
    return item;
}

std::string pendingOrderText(const Call& call) {
    return text(call, "您有未付款或开通中的订单，请稍后再试或将其取消",
                "You have an unpaid or pending order, please try again later or cancel it");
}

FakeOrder& addOrder(Call& call, const std::string& email, int planId, const std::string& period,
                    int64_t amount) {
    FakeOrder order;
    char number[32];
    std::snprintf(number, sizeof number, "2026%010lld%06d", static_cast<long long>(call.now % 10000000000),
                  call.state.nextOrder++);
    order.tradeNo = number;
    order.email = email;
    order.planId = planId;
    order.period = period;
    order.totalAmount = amount;
    order.createdAt = call.now;
    call.state.orders.push_back(order);
    return call.state.orders.back();
}

HttpReply planFetch(Call& call) {
    if (sessionUser(call) == nullptr) return notSignedIn(call);
    Json list = Json::array();
    for (const FakePlan& plan : call.state.plans) {
        if (plan.show) list.push_back(planJson(plan));
    }
    return success(std::move(list));
}

HttpReply orderSave(Call& call) {
    FakeUser* user = sessionUser(call);
    if (user == nullptr) return notSignedIn(call);
    const std::string planText = inputString(call, "plan_id");
    const std::string period = inputString(call, "period");
    if (planText.empty()) return invalid("plan_id", text(call, "套餐ID不能为空", "The plan id field is required."));
    if (period.empty()) return invalid("period", text(call, "周期不能为空", "The period field is required."));
    if (!isPriceKey(period)) return invalid("period", text(call, "周期格式有误", "The selected period is invalid."));
    if (call.state.switches.concurrentOrderOnNextSave) {
        call.state.switches.concurrentOrderOnNextSave = false;  // another device was quicker
        addOrder(call, user->email, 1, "month_price", 1500);
    }
    for (const FakeOrder& order : call.state.orders) {
        if (order.email == user->email && (order.status == 0 || order.status == 1)) {
            return fail(400, pendingOrderText(call));
        }
    }
    const FakePlan* plan = call.state.plan(std::atoi(planText.c_str()));
    if (plan == nullptr) return fail(400, text(call, "该订阅不存在", "Subscription plan does not exist"));
    if (!plan->sell) return fail(400, text(call, "该订阅已售罄，请更换其他订阅", "This subscription has been sold out"));
    const auto price = plan->prices.find(period);
    if (price == plan->prices.end() || !price->second.is_number_integer()) {
        return fail(400, text(call, "该订阅周期无法进行购买，请选择其他周期",
                              "This payment period cannot be purchased, please choose another period"));
    }
    const FakeOrder& order = addOrder(call, user->email, plan->id, period, price->second.get<int64_t>());
    if (!call.state.switches.orderSaveReturnsObject) return success(order.tradeNo);
    Json data = Json::object();
    data["trade_no"] = order.tradeNo;
    return success(std::move(data));
}

HttpReply orderFetch(Call& call) {
    FakeUser* user = sessionUser(call);
    if (user == nullptr) return notSignedIn(call);
    const std::string status = inputString(call, "status");
    Json list = Json::array();
    for (auto order = call.state.orders.rbegin(); order != call.state.orders.rend(); ++order) {
        if (order->email != user->email) continue;
        if (!status.empty() && std::to_string(order->status) != status) continue;
        list.push_back(orderJson(call, *order));
    }
    return success(std::move(list));
}

HttpReply orderCancel(Call& call) {
    FakeUser* user = sessionUser(call);
    if (user == nullptr) return notSignedIn(call);
    const std::string tradeNo = inputString(call, "trade_no");
    if (tradeNo.empty()) return invalid("trade_no", text(call, "无效的参数", "Invalid parameter"));
    FakeOrder* order = ownOrder(call, *user, tradeNo);
    if (order == nullptr) return fail(400, text(call, "订单不存在", "Order does not exist"));
    if (order->status != 0) return fail(400, text(call, "只可以取消待支付订单", "You can only cancel pending orders"));
    order->status = 2;
    return success(true);
}

HttpReply orderCheck(Call& call) {
    FakeUser* user = sessionUser(call);
    if (user == nullptr) return notSignedIn(call);
    const FakeOrder* order = ownOrder(call, *user, inputString(call, "trade_no"));
    if (order == nullptr) return fail(400, text(call, "订单不存在", "Order does not exist"));
    return success(order->status);
}

HttpReply paymentMethods(Call& call) {
    if (sessionUser(call) == nullptr) return notSignedIn(call);
    Json list = Json::array();
    for (const FakePaymentMethod& method : call.state.paymentMethods) {
        if (!method.enabled) continue;
        Json item = Json::object();
        item["id"] = method.id;
        item["name"] = method.name;
        item["payment"] = method.payment;
        item["icon"] = nullptr;
        item["handling_fee_fixed"] = nullptr;
        item["handling_fee_percent"] = nullptr;
        list.push_back(item);
    }
    return success(std::move(list));
}

// Checkout answers without the envelope: {"type":T,"data":D}.
HttpReply checkout(Call& call) {
    FakeUser* user = sessionUser(call);
    if (user == nullptr) return notSignedIn(call);
    FakeOrder* order = ownOrder(call, *user, inputString(call, "trade_no"));
    if (order == nullptr || order->status != 0) {
        return fail(400, text(call, "订单不存在或已支付", "Order does not exist or has been paid"));
    }
    Json body = Json::object();
    if (order->totalAmount == 0) {  // nothing to pay: opened at once
        order->status = 3;
        body["type"] = -1;
        body["data"] = true;
        return plain(200, body);
    }
    const std::string methodId = inputString(call, "method");
    const FakePaymentMethod* method = nullptr;
    for (const FakePaymentMethod& candidate : call.state.paymentMethods) {
        if (candidate.enabled && std::to_string(candidate.id) == methodId) method = &candidate;
    }
    if (method == nullptr) return fail(400, text(call, "支付方式不可用", "Payment method is not available"));
    order->paymentId = method->id;
    body["type"] = method->checkoutType;
    if (!method->checkoutData.is_null()) {
        body["data"] = method->checkoutData;
    } else if (method->checkoutType == 0) {
        body["data"] = "https://qr.alipay.example/bax0" + order->tradeNo;
    } else {
        body["data"] = "https://pay.example.com/submit.php?out_trade_no=" + order->tradeNo;
    }
    return plain(200, body);
}

Json deviceCounts(const FakeUser& user, int64_t limit, const std::string& message) {
    Json body = Json::object();
    body["used"] = user.devices.size();
    body["limit"] = limit;
    body["message"] = message;
    return body;
}

HttpReply claim(Call& call) {
    Json body = Json::object();
    FakeUser* user = sessionUser(call);
    if (user == nullptr) {
        body["message"] = "登录已失效，请重新登录";
        return plain(401, body);
    }
    const std::string device = inputString(call, "device_id");
    if (device.empty()) {
        body["message"] = "缺少设备编号";
        return plain(422, body);
    }
    int64_t limit = user->deviceLimit.is_number_integer() ? user->deviceLimit.get<int64_t>() : 0;
    const FakePlan* plan = user->planId.is_number_integer() ? call.state.plan(user->planId.get<int>()) : nullptr;
    if (limit <= 0 && plan != nullptr && plan->deviceLimit.is_number_integer()) limit = plan->deviceLimit.get<int64_t>();
    if (user->devices.count(device) == 0) {
        if (limit > 0 && static_cast<int64_t>(user->devices.size()) >= limit) {
            const std::string counts = std::to_string(user->devices.size()) + "/" + std::to_string(limit);
            return plain(403, deviceCounts(*user, limit, "设备数量已达上限（" + counts + "），请先在其他设备上退出登录"));
        }
        user->devices.insert(device);
    }
    const Json counts = deviceCounts(*user, limit, "设备已登记");
    if (!call.state.switches.deviceReplyInData) return plain(200, counts);
    body["data"] = counts;
    return plain(200, body);
}

}  // namespace

Json planJson(const FakePlan& plan) {
    Json item = Json::object();
    item["id"] = plan.id;
    item["group_id"] = 1;
    item["transfer_enable"] = plan.transferEnable;
    item["device_limit"] = plan.deviceLimit;
    item["name"] = plan.name;
    item["speed_limit"] = nullptr;
    item["show"] = plan.show;
    item["sort"] = plan.id;
    item["renew"] = true;
    item["content"] = "<p>" + plan.name + "</p>";
    for (const char* key : kPriceKeys) {
        const auto price = plan.prices.find(key);
        item[key] = price == plan.prices.end() ? Json(nullptr) : price->second;
    }
    item["reset_traffic_method"] = nullptr;
    item["capacity_limit"] = nullptr;
    item["sell"] = plan.sell;
    item["tags"] = Json::array({"流媒体", "不限速"});
    item["created_at"] = 1735689600;
    item["updated_at"] = 1735689600;
    return item;
}

bool shopRoute(Call& call, HttpReply& reply) {
    const std::string& method = call.request.method;
    const std::string& path = call.request.path;
    if (method == "GET" && path == "/api/v1/user/plan/fetch") {
        reply = planFetch(call);
    } else if (method == "POST" && path == "/api/v1/user/order/save") {
        reply = orderSave(call);
    } else if (method == "GET" && path == "/api/v1/user/order/fetch") {
        reply = orderFetch(call);
    } else if (method == "POST" && path == "/api/v1/user/order/cancel") {
        reply = orderCancel(call);
    } else if (method == "GET" && path == "/api/v1/user/order/check") {
        reply = orderCheck(call);
    } else if (method == "GET" && path == "/api/v1/user/order/getPaymentMethod") {
        reply = paymentMethods(call);
    } else if (method == "POST" && path == "/api/v1/user/order/checkout") {
        reply = checkout(call);
    } else {
        return false;
    }
    return true;
}

bool deviceRoute(Call& call, HttpReply& reply) {
    if (call.request.method != "POST" || call.request.path != std::string(kDevicePrefix) + "/claim") return false;
    reply = claim(call);
    return true;
}

}  // namespace orvik_test::fake_panel
