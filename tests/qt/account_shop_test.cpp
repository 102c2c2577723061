// The account controller's shop over the scripted panel: plan rows, order placement and its
// guards, the payment page, waiting for the payment (given up, paid late, abandoned)
// and the quiet node sync with its guards.

#include <QSignalSpy>
#include <QtTest>

#include <limits>

#include "tests/qt/account_fixture.h"

using account_test::kWait;
using account_test::qs;
using account_test::World;
using orvik_test::FakePanel;
using orvik_test::HttpReply;
using orvik_test::Json;
using namespace orvik_test::panel;

namespace {

const QString kOpened = QStringLiteral("已打开支付页面，完成付款后会自动更新");
const QString kPaid = QStringLiteral("支付成功，套餐已更新");
const QString kGaveUp = QStringLiteral("仍未检测到付款，可稍后点会员信息刷新");

int calls(const World& world, account_test::Call call) { return world.probe->count(call); }

std::string tradeNoOf(const FakePanel& panel, std::size_t order) {
    return Json::parse(panel.requestsTo(kCheckout).at(order).body)["trade_no"].get<std::string>();
}

}  // namespace

class AccountShopTest : public QObject {
    Q_OBJECT

private slots:
    void planRowsAndGuards();
    void paidAfterGivingUp();
    void newOrderAbandonsTheOneBeingWaitedFor();
    void checkoutWithoutAWebPage();
    void quietSyncAndItsGuards();
};

void AccountShopTest::planRowsAndGuards() {
    FakePanel panel;
    Json limited = plan(1, "标准版", {{"month_price", 1500}, {"year_price", 15000}});
    limited["device_limit"] = int64_t{1} << 40;  // clamped, not wrapped
    panel.on("GET", kPlans, success({limited}));
    World world;
    auto account = world.member(panel);
    QVERIFY(account);
    QSignalSpy shop(account.get(), &AccountController::shopChanged);
    for (const int id : {0, -3}) account->buyPlan(id, qs("month_price"));  // refused at once
    account->buyPlan(1, {});
    QCOMPARE(shop.count(), 0);

    account->loadShop();
    account->loadShop();                      // refused while the first load runs
    account->buyPlan(1, qs("month_price"));  // likewise
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(shop.count(), 2);
    QCOMPARE(calls(world, account_test::Plans) * 10 + calls(world, account_test::Buy), 10);
    const QVariantList rows = account->shopPlans();
    QCOMPARE(rows.size(), 2);
    QStringList texts;
    const QVariantMap year = rows.at(1).toMap();
    for (const char* key : {"id", "name", "period", "periodLabel", "durationLabel", "dailyLabel", "badge", "priceLabel", "trafficLabel"})
        texts << year.value(key).toString();
    QCOMPARE(texts.join('|'), qs("1|标准版|year_price|年付|1 年|¥0.41/天|超值套餐|¥150.00|100 GB"));
    QCOMPARE(year.value("deviceLimit"), QVariant(std::numeric_limits<int>::max()));

    panel.queue("POST", kSave, fail(400, "该订阅周期无法进行购买，请选择其他周期"));
    account->buyPlan(1, qs("quarter_price"));
    QCOMPARE(account->shopMessage(), qs("正在下单…"));
    account->buyPlan(1, qs("year_price"));  // refused while the order is placed
    account->loadShop();                     // likewise
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(account->shopMessage(), qs("该订阅周期无法进行购买，请选择其他周期"));
    QCOMPARE(calls(world, account_test::Buy) * 10 + calls(world, account_test::Plans), 11);

    panel.on("GET", kPlans, HttpReply{502, "", {}});
    account->loadShop();
    QVERIFY(account->shopMessage().isEmpty());  // cleared when a load starts
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(account->shopMessage(), qs("面板 HTTP 502"));
    QVERIFY(account->shopPlans().isEmpty());
    QCOMPARE(calls(world, account_test::Check), 0);  // the failed order left nothing to wait for
}

void AccountShopTest::paidAfterGivingUp() {
    FakePanel panel;
    World world;
    world.options.orderPolls = 5;
    auto account = world.member(panel);
    QVERIFY(account);

    world.probe->checkGate.set(false);  // the first check is held in the panel's answer
    account->buyPlan(1, qs("month_price"));
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
    QCOMPARE(world.probe->checkGate.waiting(), 1);

    // Paid meanwhile: the held check answers after the wait was given up.
    panel.on("GET", kCheck, success(3));
    const int fetches = calls(world, account_test::Fetch);
    world.probe->checkGate.set(true);
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kPaid, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(calls(world, account_test::Fetch) > fetches, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(calls(world, account_test::Check), 4, kWait);  // five ticks, four checks
    QTest::qWait(150);
    QCOMPARE(calls(world, account_test::Check), 4);
}

void AccountShopTest::newOrderAbandonsTheOneBeingWaitedFor() {
    FakePanel panel;
    World world;
    world.options.orderPolls = 20;
    auto account = world.member(panel);
    QVERIFY(account);

    account->buyPlan(1, qs("month_price"));
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kOpened, kWait);
    QVERIFY(!account->shopBusy());
    QCOMPARE(world.opened->at(0).toString().toStdString(), kPayPage + tradeNoOf(panel, 0));
    QTRY_VERIFY_WITH_TIMEOUT(!panel.requestsTo(kCheck).empty(), kWait);
    QCOMPARE(panel.requestsTo(kCheck).back().query, "trade_no=" + tradeNoOf(panel, 0));
    world.probe->checkGate.set(false);
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->checkGate.waiting(), 1, kWait);

    // The first order is paid, but a new order is placed before its check answers.
    const std::string first = tradeNoOf(panel, 0);
    panel.on("GET", kCheck, [first](const orvik_test::HttpRequestRecord& request) {
        return success(request.query == "trade_no=" + first ? 3 : 0);
    });
    account->buyPlan(1, qs("year_price"));
    world.probe->checkGate.set(true);
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(account->shopMessage(), kOpened);
    QCOMPARE(world.opened->size(), size_t{2});
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
    QVERIFY(tradeNoOf(panel, 1) != first);
}

// No address, or one that is not a web page, is never opened, but the order is waited for;
// an order the checkout activated refreshes at once with nothing to wait for.
void AccountShopTest::checkoutWithoutAWebPage() {
    FakePanel panel;
    World world;
    world.options.orderPolls = 4;
    auto account = world.member(panel);
    QVERIFY(account);
    for (const char* address : {"", "file:///etc/passwd", "ms-settings:network", "javascript:alert(1)", "https:///nohost"}) {
        panel.on("POST", kCheckout, plain(200, {{"type", 0}, {"data", address}}));
        const int checks = calls(world, account_test::Check);
        account->buyPlan(1, qs("month_price"));
        QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), qs("请到面板完成支付"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(calls(world, account_test::Check), checks + 3, kWait);
    }

    panel.on("POST", kCheckout, plain(200, {{"type", -1}, {"data", true}}));
    const int checks = calls(world, account_test::Check);
    const int fetches = calls(world, account_test::Fetch);
    account->buyPlan(2, qs("onetime_price"));
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), qs("套餐已开通"), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(calls(world, account_test::Fetch), fetches + 1, kWait);
    QTest::qWait(150);
    QCOMPARE(calls(world, account_test::Check), checks);
    QVERIFY(world.opened->empty());
}

void AccountShopTest::quietSyncAndItsGuards() {
    FakePanel panel;
    World world;
    auto account = world.panel(panel, true);  // the panel's session, but no interactive sign-in
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    account->syncNodesQuietly();  // signed out: dropped, like those during a refresh or an e-mail code
    world.setInteractive(true);
    account->refresh();
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    world.probe->fetchGate.set(false);
    account->refresh();
    account->syncNodesQuietly();
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->fetchGate.waiting(), 1, kWait);
    world.probe->fetchGate.set(true);
    account->sendRegisterEmail(qs("someone@example.com"));
    account->syncNodesQuietly();
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy() && world.probe->inside == 0, kWait);
    QTest::qWait(100);
    QCOMPARE(calls(world, account_test::Fetch), 3);

    // A successful sync brings new nodes; a failed one changes nothing and says nothing.
    panel.on("GET", kSubscription, subscription({vlessLink("Tokyo A", "203.0.113.10", 443), vlessLink("新加坡 01", "203.0.113.11", 443)}));
    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    account->syncNodesQuietly();
    QVERIFY(changed.wait(kWait));
    QCOMPARE(account->nodeNames(), (QStringList{qs("Tokyo A"), qs("新加坡 01")}));
    QCOMPARE(account->nodeEndpoints().at(1).host, qs("203.0.113.11"));
    panel.on("GET", kGetSubscribe, fail(403, "未登录或登陆已过期"));
    QSignalSpy errors(account.get(), &AccountController::errorChanged);
    account->syncNodesQuietly();
    QTRY_VERIFY_WITH_TIMEOUT(calls(world, account_test::Fetch) == 5 && world.probe->inside == 0, kWait);
    QTest::qWait(100);
    QVERIFY(account->loggedIn() && account->nodeNames().size() == 2);
    QCOMPARE(changed.count() + errors.count(), 1);
}

QTEST_GUILESS_MAIN(AccountShopTest)
#include "account_shop_test.moc"
