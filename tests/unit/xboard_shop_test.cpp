// The shop against the scripted panel: offers and their texts, placing orders, the checkout
// outcomes and the device slot.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/xboard_fixture.h"

namespace {

using namespace orvik_test::panel;
using orvik_test::HttpReply;
using orvik_test::Json;
using Lines = std::vector<std::string>;

constexpr const char* kPendingText = "上一笔订单还在处理。未付款可再点一次购买；若已付款请关闭后刷新会员";
constexpr const char* kPendingEnglish = "You have an unpaid or pending order, please try again later";

std::string tradeBody(const std::string& tradeNo, const std::string& more = "") {
    return "{\"trade_no\":\"" + tradeNo + "\"" + more + "}";
}

// One line per offer: id, names, period, prices, badge, transfer and devices.
Lines rows(const std::vector<vpn::PlanOffer>& offers) {
    Lines rows;
    for (const auto& o : offers)
        rows.push_back(std::to_string(o.planId) + " " + o.planName + " " + o.periodKey + " " + o.periodLabel +
                       " " + o.periodText + " " + std::to_string(o.periodDays) + " " +
                       std::to_string(o.priceCents) + " " + o.priceText + " " + o.perDayText + " " + o.badge +
                       " " + o.transferText + " " + std::to_string(o.deviceLimit));
    return rows;
}

using XboardShopTest = orvik_test::XboardTest;

TEST_F(XboardShopTest, OffersWithPricesPerDayBadgesAndTransfer) {
    Json bytes = plan(1, "体验版", {{"onetime_price", 0}});
    bytes["transfer_enable"] = int64_t{100} << 30;
    const Json three = plan(2, "甲", {{"month_price", 3000}, {"quarter_price", 9000}, {"onetime_price", 99}});
    const Json two = plan(3, "乙", {{"half_year_price", 18000}, {"year_price", 15000}});
    panel.on("GET", kPlans, success({bytes, three, two, plan(0, "无编号", {{"month_price", 100}})}));
    std::vector<vpn::PlanOffer> offers;
    ASSERT_TRUE(signedIn()->fetchPlans(offers, error)) << error;
    // 100 cents a day three times: the first is the runner-up. The null prices give no offers.
    EXPECT_EQ(rows(offers), (Lines{"1 体验版 onetime_price 一次性 一次性 0 0 免费   100 GB 3",
                                   "2 甲 month_price 月付 1 个月 30 3000 ¥30.00 ¥1.00/天 最受欢迎 100 GB 3",
                                   "2 甲 quarter_price 季付 3 个月 90 9000 ¥90.00 ¥1.00/天  100 GB 3",
                                   "2 甲 onetime_price 一次性 一次性 0 99 ¥0.99   100 GB 3",
                                   "3 乙 half_year_price 半年付 6 个月 180 18000 ¥180.00 ¥1.00/天  100 GB 3",
                                   "3 乙 year_price 年付 1 年 365 15000 ¥150.00 ¥0.41/天 超值套餐 100 GB 3"}));

    panel.on("GET", kPlans, success({plan(1, "停售", Json::object())}));
    EXPECT_FALSE(signedIn()->fetchPlans(offers, error));
    EXPECT_EQ(error, "面板没有可购买的套餐");
    EXPECT_TRUE(offers.empty());
    // Signed out: nothing is asked.
    panel.clearRequests();
    vpn::XboardControlPlane signedOut(panel.apiBase(), dir.file("none.json"), "");
    vpn::CheckoutResult result;
    bool paid = true;
    EXPECT_FALSE(signedOut.fetchPlans(offers, error) || signedOut.buyPlan(1, "month_price", result, error) ||
                 signedOut.checkOrder("1", paid, error));
    EXPECT_EQ(error, "请先登录");
    EXPECT_TRUE(!paid && panel.requests().empty());
}

TEST_F(XboardShopTest, OrderPlacementReplies) {
    struct Case {
        std::vector<HttpReply> saves;  // queued replies of order/save
        const char* tradeNo;           // empty: the purchase fails with `error`
        const char* error;
    };
    const Case cases[] = {
        {{success("T1")}, "T1", ""},
        {{success({{"trade_no", "T2"}})}, "T2", ""},              // a panel that wraps it in an object
        {{fail(400, kPendingEnglish), success("T3")}, "T3", ""},  // ordered elsewhere meanwhile
        {{fail(400, "您有未付款或开通中的订单，请稍后再试或将其取消"), fail(400, kPendingEnglish)}, "",
         kPendingText},
        {{fail(400, "该订阅周期无法进行购买")}, "", "该订阅周期无法进行购买"},
        {{HttpReply{200, R"({"status":"success","data":null})", {}}}, "", "下单失败，未返回订单号"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.saves[0].body);
        for (const HttpReply& reply : c.saves) panel.queue("POST", kSave, reply);
        vpn::CheckoutResult result;
        error.clear();
        EXPECT_EQ(signedIn()->buyPlan(1, "year_price", result, error), *c.tradeNo != 0);
        EXPECT_EQ(result.tradeNo, c.tradeNo);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(panel.requestsTo(kSave).size(), c.saves.size());
        // Every retry clears the open orders again first.
        EXPECT_EQ(panel.requestsTo(kOrders).size(), 2 * c.saves.size());
    }
}

TEST_F(XboardShopTest, CheckoutOutcomes) {
    const Json qr = {{"id", 7}, {"name", "微信"}, {"payment", "WechatPay"}};
    const Json none = Json::array();
    const std::string noMethod = "面板还没配置支付方式。请到后台「支付方式」添加通道，通知地址用 " + panel.apiBase();
    const std::string qrCode = "https://qr.example/a";
    const std::string redirect = "https://pay.example/r?a=1&b=2";
    const struct {
        Json methods;
        HttpReply checkout;
        std::string outcome;  // payment address|message|error; a message: the checkout went through
    } cases[] = {
        {{qr}, plain(200, {{"type", 0}, {"data", qrCode}}), qrCode + "|已打开支付页面|"},
        {{qr}, plain(200, {{"type", 0}, {"data", ""}}), "|请到面板完成支付|"},
        {{qr}, success({{"type", 1}, {"data", redirect}}), redirect + "|已打开支付页面|"},
        {none, plain(200, {{"type", -1}, {"data", true}}), "|套餐已开通|"},  // free or from the balance
        {none, plain(200, {{"type", 1}, {"data", "https://pay.example/x"}}), "||" + noMethod},
        {none, fail(400, "支付方式不可用"), "||" + noMethod},
        {{qr}, fail(400, "Payment method is not available"), "||" + noMethod},
        {{qr}, fail(400, "订单不存在或已支付"), "||订单不存在或已支付"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.checkout.body);
        panel.on("GET", kMethods, success(c.methods));
        panel.queue("POST", kCheckout, c.checkout);
        vpn::CheckoutResult result;
        error.clear();
        const bool ok = signedIn()->buyPlan(1, "month_price", result, error);
        EXPECT_EQ(result.paymentUrl + "|" + result.message + "|" + error, c.outcome);
        EXPECT_EQ(ok, error.empty());
        EXPECT_EQ(result.activated, result.message == "套餐已开通");
        const std::string method = c.methods.empty() ? "" : ",\"method\":7";
        EXPECT_EQ(panel.requestsTo(kCheckout).at(0).body, tradeBody(result.tradeNo, method));
        // A failed checkout cancels its own order at once.
        const auto cancels = panel.requestsTo(kCancel);
        EXPECT_EQ(cancels.empty() ? "" : cancels.back().body, ok ? "" : tradeBody(result.tradeNo));
    }
}

TEST_F(XboardShopTest, DeviceSlot) {
    int32_t used = 5;
    int32_t limit = 5;
    EXPECT_TRUE(signedIn()->claimDevice("machine-1", used, limit, error));  // no device service
    EXPECT_EQ(used + limit, 0);
    EXPECT_TRUE(panel.requests().empty());

    auto cp = signedIn(panel.deviceApi() + "/");
    const std::string full = "设备数量已达上限（3/3），请先在其他设备上退出登录";
    const std::pair<HttpReply, std::string> cases[] = {  // "used/limit" or the error
        {plain(200, {{"used", 1}, {"limit", 3}, {"message", "设备已登记"}}), "1/3"},
        {plain(200, {{"data", {{"used", 2}, {"limit", 4}}}}), "2/4"},
        {plain(403, {{"used", 3}, {"limit", 3}, {"message", full}}), full},
        {HttpReply{503, "", {}}, "面板 HTTP 503"},
    };
    for (const auto& [reply, outcome] : cases) {
        panel.queue("POST", kClaim, reply);
        error.clear();
        const bool ok = cp->claimDevice("machine-1", used, limit, error);
        EXPECT_EQ(ok ? std::to_string(used) + "/" + std::to_string(limit) : error, outcome);
        const auto claim = panel.requests().back();
        EXPECT_EQ(claim.target + " " + claim.body, std::string(kClaim) + R"( {"device_id":"machine-1"})");
        EXPECT_EQ(claim.header("authorization"), orvik_test::FakePanel::kSession);
    }
    panel.clearRequests();
    for (const char* device : {"", "unknown-device"}) {
        EXPECT_FALSE(cp->claimDevice(device, used, limit, error));
        EXPECT_EQ(error, "无法识别这台电脑");
    }
    cp->logout();
    EXPECT_FALSE(cp->claimDevice("machine-1", used, limit, error));
    EXPECT_EQ(error, "请先登录");
    EXPECT_TRUE(panel.requests().empty());
}

}  // namespace
