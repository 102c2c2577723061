// The shop against the fake panel over HTTP: offers and their texts, buying with the order
// clean-up and checkout outcomes, the order's state and the device slot.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/xboard_fixture.h"

namespace {

using orvik_test::FakeOrder;
using orvik_test::FakePanel;
using orvik_test::FakePanelState;
using orvik_test::FakePlan;
using orvik_test::HttpReply;
using orvik_test::Json;

constexpr const char* kSave = "/api/v1/user/order/save";
constexpr const char* kCancel = "/api/v1/user/order/cancel";
constexpr const char* kCheckout = "/api/v1/user/order/checkout";
constexpr const char* kPendingText = "上一笔订单还在处理。未付款可再点一次购买；若已付款请关闭后刷新会员";

FakePlan planWith(int id, const std::string& name, std::map<std::string, Json> prices, Json transfer = 100) {
    FakePlan plan;
    plan.id = id;
    plan.name = name;
    plan.prices = std::move(prices);
    plan.transferEnable = std::move(transfer);
    plan.deviceLimit = 2;
    return plan;
}

class XboardShopTest : public orvik_test::XboardTest {
protected:
    void setPlans(std::vector<FakePlan> plans) {
        panel.edit([&](FakePanelState& state) { state.plans = std::move(plans); });
    }

    std::vector<FakeOrder> orders() {
        return panel.read<std::vector<FakeOrder>>([](const FakePanelState& state) { return state.orders; });
    }

    // Puts an order of the member into the panel in the given state.
    std::string addOrder(int status) {
        std::string tradeNo;
        panel.edit([&](FakePanelState& state) {
            FakeOrder order;
            order.tradeNo = "20260101000000" + std::to_string(100000 + state.nextOrder++);
            order.email = FakePanel::kEmail;
            order.planId = 1;
            order.period = "month_price";
            order.totalAmount = 1500;
            order.status = status;
            tradeNo = order.tradeNo;
            state.orders.push_back(order);
        });
        return tradeNo;
    }

    int statusOf(const std::string& tradeNo) {
        for (const FakeOrder& order : orders()) {
            if (order.tradeNo == tradeNo) return order.status;
        }
        return -1;
    }
};

TEST_F(XboardShopTest, MonthAndYearOffersWithPricesPerDayAndBadges) {
    auto cp = signedIn();
    std::vector<vpn::PlanOffer> offers;
    std::string error;
    ASSERT_TRUE(cp->fetchPlans(offers, error)) << error;
    ASSERT_EQ(offers.size(), 2u);  // the null prices give no offers

    const vpn::PlanOffer& month = offers[0];
    EXPECT_EQ(month.planId, 1);
    EXPECT_EQ(month.planName, "标准版");
    EXPECT_EQ(month.periodKey, "month_price");
    EXPECT_EQ(month.periodLabel, "月付");
    EXPECT_EQ(month.periodDays, 30);
    EXPECT_EQ(month.periodText, "1 个月");
    EXPECT_EQ(month.priceCents, 1500);
    EXPECT_EQ(month.priceText, "¥15.00");
    EXPECT_EQ(month.perDayText, "¥0.50/天");
    EXPECT_EQ(month.transferText, "100 GB");
    EXPECT_EQ(month.deviceLimit, 3);
    EXPECT_EQ(month.badge, "最受欢迎");

    const vpn::PlanOffer& year = offers[1];
    EXPECT_EQ(year.periodKey, "year_price");
    EXPECT_EQ(year.periodText, "1 年");
    EXPECT_EQ(year.priceText, "¥150.00");
    EXPECT_EQ(year.perDayText, "¥0.41/天");
    EXPECT_EQ(year.badge, "超值套餐");
}

TEST_F(XboardShopTest, FreeOffersTransferUnitsAndTies) {
    setPlans({planWith(1, "体验版", {{"onetime_price", 0}}, Json(int64_t{100} << 30)),
              planWith(2, "甲", {{"month_price", 3000}, {"quarter_price", 9000}, {"onetime_price", 9900}}),
              planWith(3, "乙", {{"half_year_price", 18000}, {"month_price", nullptr}}),
              planWith(0, "无编号", {{"month_price", 100}})});
    auto cp = signedIn();
    std::vector<vpn::PlanOffer> offers;
    std::string error;
    ASSERT_TRUE(cp->fetchPlans(offers, error)) << error;
    ASSERT_EQ(offers.size(), 5u);

    EXPECT_EQ(offers[0].priceText, "免费");
    EXPECT_EQ(offers[0].perDayText, "");
    EXPECT_EQ(offers[0].badge, "");
    EXPECT_EQ(offers[0].periodLabel, "一次性");
    EXPECT_EQ(offers[0].transferText, "100 GB");  // bytes on this panel
    EXPECT_EQ(offers[1].transferText, "100 GB");  // gigabytes
    // 100 cents a day three times: the first keeps the lowest place, the next is runner-up.
    EXPECT_EQ(offers[1].badge, "超值套餐");
    EXPECT_EQ(offers[2].badge, "最受欢迎");
    EXPECT_EQ(offers[3].periodKey, "onetime_price");
    EXPECT_EQ(offers[3].badge, "");
    EXPECT_EQ(offers[4].periodKey, "half_year_price");
    EXPECT_EQ(offers[4].badge, "");
}

TEST_F(XboardShopTest, NoOffersAndNoSession) {
    setPlans({planWith(1, "停售", {})});
    auto cp = signedIn();
    std::vector<vpn::PlanOffer> offers(1);
    std::string error;
    EXPECT_FALSE(cp->fetchPlans(offers, error));
    EXPECT_EQ(error, "面板没有可购买的套餐");
    EXPECT_TRUE(offers.empty());

    vpn::XboardControlPlane signedOut(panel.apiBase(), dir.file("none.json"), "");
    panel.clearRequests();
    vpn::CheckoutResult result;
    bool paid = true;
    error.clear();
    EXPECT_FALSE(signedOut.fetchPlans(offers, error));
    EXPECT_EQ(error, "请先登录");
    error.clear();
    EXPECT_FALSE(signedOut.buyPlan(1, "month_price", result, error));
    EXPECT_EQ(error, "请先登录");
    error.clear();
    EXPECT_FALSE(signedOut.checkOrder("1", paid, error));
    EXPECT_EQ(error, "请先登录");
    EXPECT_FALSE(paid);
    EXPECT_TRUE(panel.requests().empty());
}

TEST_F(XboardShopTest, BuyingClearsUnpaidOrdersAndOpensThePaymentPage) {
    const std::string stale = addOrder(0);
    auto cp = signedIn();
    panel.clearRequests();
    vpn::CheckoutResult result;
    std::string error;
    ASSERT_TRUE(cp->buyPlan(1, "month_price", result, error)) << error;

    EXPECT_FALSE(result.activated);
    EXPECT_FALSE(result.tradeNo.empty());
    EXPECT_EQ(result.paymentUrl, "https://pay.example.com/submit.php?out_trade_no=" + result.tradeNo);
    EXPECT_EQ(result.message, "已打开支付页面");
    EXPECT_EQ(statusOf(stale), 2);
    EXPECT_EQ(statusOf(result.tradeNo), 0);

    EXPECT_EQ(panel.paths(), (std::vector<std::string>{
                                 "GET /api/v1/user/order/fetch?status=0", "POST /api/v1/user/order/cancel",
                                 "GET /api/v1/user/order/fetch", "POST /api/v1/user/order/save",
                                 "GET /api/v1/user/order/getPaymentMethod", "POST /api/v1/user/order/checkout"}));
    EXPECT_EQ(panel.requestsTo(kCancel)[0].body, "{\"trade_no\":\"" + stale + "\"}");
    EXPECT_EQ(panel.requestsTo(kSave)[0].body, R"({"plan_id":1,"period":"month_price"})");
    EXPECT_EQ(panel.requestsTo(kCheckout)[0].body, "{\"trade_no\":\"" + result.tradeNo + "\",\"method\":1}");
}

TEST_F(XboardShopTest, OrderPlacedElsewhereMeanwhileIsClearedAndTheOrderRetried) {
    panel.edit([](FakePanelState& state) {
        state.switches.concurrentOrderOnNextSave = true;
        state.switches.englishMessages = true;  // "... unpaid or pending order ..."
    });
    auto cp = signedIn();
    vpn::CheckoutResult result;
    std::string error;
    ASSERT_TRUE(cp->buyPlan(1, "year_price", result, error)) << error;
    EXPECT_EQ(panel.requestsTo(kSave).size(), 2u);
    const auto all = orders();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].status, 2);  // the other device's order, cancelled
    EXPECT_EQ(all[1].tradeNo, result.tradeNo);
    EXPECT_EQ(all[1].totalAmount, 15000);
}

TEST_F(XboardShopTest, OrderStillBeingOpenedEndsWithThePendingText) {
    const std::string opening = addOrder(1);  // paid, being opened: cannot be cancelled
    auto cp = signedIn();
    vpn::CheckoutResult result;
    std::string error;
    EXPECT_FALSE(cp->buyPlan(1, "month_price", result, error));
    EXPECT_EQ(error, kPendingText);
    EXPECT_EQ(panel.requestsTo(kSave).size(), 2u);
    EXPECT_EQ(statusOf(opening), 1);
    EXPECT_EQ(orders().size(), 1u);
    EXPECT_TRUE(result.tradeNo.empty());
}

TEST_F(XboardShopTest, OtherOrderRefusalsPassThePanelsWords) {
    auto cp = signedIn();
    vpn::CheckoutResult result;
    std::string error;
    EXPECT_FALSE(cp->buyPlan(1, "quarter_price", result, error));
    EXPECT_EQ(error, "该订阅周期无法进行购买，请选择其他周期");
    EXPECT_EQ(panel.requestsTo(kSave).size(), 1u);

    panel.overrideNext(kSave, HttpReply{200, R"({"status":"success","data":null})", {}, false, -1});
    error.clear();
    EXPECT_FALSE(cp->buyPlan(1, "month_price", result, error));
    EXPECT_EQ(error, "下单失败，未返回订单号");
}

TEST_F(XboardShopTest, TradeNumberInsideADataObject) {
    panel.edit([](FakePanelState& state) { state.switches.orderSaveReturnsObject = true; });
    auto cp = signedIn();
    vpn::CheckoutResult result;
    std::string error;
    ASSERT_TRUE(cp->buyPlan(1, "month_price", result, error)) << error;
    ASSERT_EQ(orders().size(), 1u);
    EXPECT_EQ(result.tradeNo, orders()[0].tradeNo);
}

TEST_F(XboardShopTest, CheckoutOutcomes) {
    struct Case {
        int type;
        Json data;
        bool activated;
        std::string url;
        std::string message;
    };
    const Case cases[] = {
        {0, Json("https://qr.example/abc"), false, "https://qr.example/abc", "已打开支付页面"},
        {0, Json(""), false, "", "请到面板完成支付"},
        {1, Json("https://pay.example/r?a=1&b=2"), false, "https://pay.example/r?a=1&b=2", "已打开支付页面"},
    };
    auto cp = signedIn();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        panel.edit([&](FakePanelState& state) {
            state.orders.clear();
            state.paymentMethods = {{7, "微信", "WechatPay", true, c.type, c.data}};
        });
        vpn::CheckoutResult result;
        std::string error;
        ASSERT_TRUE(cp->buyPlan(1, "month_price", result, error)) << error;
        EXPECT_EQ(result.activated, c.activated);
        EXPECT_EQ(result.paymentUrl, c.url);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(panel.requestsTo(kCheckout).back().body, "{\"trade_no\":\"" + result.tradeNo + "\",\"method\":7}");
    }
}

TEST_F(XboardShopTest, FreePlanOpensWithoutPaymentEvenWithoutMethods) {
    panel.edit([](FakePanelState& state) {
        state.plans.push_back(planWith(2, "体验版", {{"onetime_price", 0}}));
        state.paymentMethods.clear();
    });
    auto cp = signedIn();
    vpn::CheckoutResult result;
    std::string error;
    ASSERT_TRUE(cp->buyPlan(2, "onetime_price", result, error)) << error;
    EXPECT_TRUE(result.activated);
    EXPECT_EQ(result.message, "套餐已开通");
    EXPECT_TRUE(result.paymentUrl.empty());
    EXPECT_EQ(panel.requestsTo(kCheckout)[0].body, "{\"trade_no\":\"" + result.tradeNo + "\"}");
    EXPECT_EQ(statusOf(result.tradeNo), 3);
}

TEST_F(XboardShopTest, MissingPaymentMethodIsExplainedAndTheOrderCancelled) {
    const std::string expected = "面板还没配置支付方式。请到后台「支付方式」添加通道，通知地址用 " + panel.apiBase();
    panel.edit([](FakePanelState& state) { state.paymentMethods.clear(); });
    auto cp = signedIn();
    vpn::CheckoutResult result;
    std::string error;
    EXPECT_FALSE(cp->buyPlan(1, "month_price", result, error));
    EXPECT_EQ(error, expected);
    ASSERT_FALSE(result.tradeNo.empty());
    EXPECT_EQ(statusOf(result.tradeNo), 2);
    EXPECT_EQ(panel.requestsTo(kCancel).back().body, "{\"trade_no\":\"" + result.tradeNo + "\"}");

    // A method listed but refused at checkout (English panel) reads the same.
    panel.edit([](FakePanelState& state) {
        state.switches.englishMessages = true;
        state.paymentMethods = {{3, "Stripe", "Stripe", true, 1, nullptr}};
    });
    panel.overrideNext(kCheckout, HttpReply{400, R"({"status":"fail","message":"Payment method is not available"})",
                                            {}, false, -1});
    error.clear();
    EXPECT_FALSE(cp->buyPlan(1, "month_price", result, error));
    EXPECT_EQ(error, expected);
    EXPECT_EQ(statusOf(result.tradeNo), 2);
}

TEST_F(XboardShopTest, OrderStates) {
    auto cp = signedIn();
    for (int status = 0; status <= 4; ++status) {
        SCOPED_TRACE(status);
        const std::string tradeNo = addOrder(status);
        bool paid = status == 0;
        std::string error;
        ASSERT_TRUE(cp->checkOrder(tradeNo, paid, error)) << error;
        EXPECT_EQ(paid, status == 1 || status == 3);
        EXPECT_EQ(panel.requests().back().target, "/api/v1/user/order/check?trade_no=" + tradeNo);
    }
    bool paid = true;
    std::string error;
    EXPECT_FALSE(cp->checkOrder("no such/order", paid, error));
    EXPECT_FALSE(paid);
    EXPECT_EQ(panel.requests().back().target, "/api/v1/user/order/check?trade_no=no%20such%2Forder");
}

TEST_F(XboardShopTest, DeviceSlotWithoutServiceIsFreeAndSilent) {
    auto cp = signedIn();
    panel.clearRequests();
    int32_t used = 5;
    int32_t limit = 5;
    std::string error;
    EXPECT_TRUE(cp->claimDevice("machine-1", used, limit, error));
    EXPECT_EQ(used, 0);
    EXPECT_EQ(limit, 0);
    EXPECT_TRUE(panel.requests().empty());
}

TEST_F(XboardShopTest, DeviceSlotsAreClaimedUpToThePlansLimit) {
    auto cp = signedIn(panel.deviceApi() + "/");
    int32_t used = 0;
    int32_t limit = 0;
    std::string error;
    for (const char* device : {"machine-1", "machine-2", "machine-1", "machine-3"}) {
        ASSERT_TRUE(cp->claimDevice(device, used, limit, error)) << device << ": " << error;
    }
    EXPECT_EQ(used, 3);
    EXPECT_EQ(limit, 3);
    const auto claims = panel.requestsTo("/device-slots/claim");
    ASSERT_EQ(claims.size(), 4u);
    EXPECT_EQ(claims[0].body, R"({"device_id":"machine-1"})");
    EXPECT_EQ(claims[0].header("authorization"), cp->token());
    EXPECT_EQ(claims[0].header("content-type"), "application/json");

    EXPECT_FALSE(cp->claimDevice("machine-4", used, limit, error));
    EXPECT_EQ(error, "设备数量已达上限（3/3），请先在其他设备上退出登录");

    panel.edit([](FakePanelState& state) { state.switches.deviceReplyInData = true; });
    error.clear();
    ASSERT_TRUE(cp->claimDevice("machine-2", used, limit, error)) << error;
    EXPECT_EQ(used, 3);
    EXPECT_EQ(limit, 3);
}

TEST_F(XboardShopTest, DeviceSlotNeedsAKnownComputerAndASession) {
    auto cp = signedIn(panel.deviceApi());
    panel.clearRequests();
    int32_t used = 0;
    int32_t limit = 0;
    std::string error;
    for (const char* device : {"", "unknown-device"}) {
        error.clear();
        EXPECT_FALSE(cp->claimDevice(device, used, limit, error));
        EXPECT_EQ(error, "无法识别这台电脑");
    }
    EXPECT_TRUE(panel.requests().empty());

    panel.overrideNext("/device-slots/claim", HttpReply{503, "", {}, false, -1});
    error.clear();
    EXPECT_FALSE(cp->claimDevice("machine-1", used, limit, error));
    EXPECT_EQ(error, "面板 HTTP 503");

    vpn::XboardControlPlane signedOut(panel.apiBase(), dir.file("none.json"), panel.deviceApi());
    EXPECT_FALSE(signedOut.claimDevice("machine-1", used, limit, error));
    EXPECT_EQ(error, "请先登录");
}

}  // namespace
