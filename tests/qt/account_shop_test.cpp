// The account controller's shop over the fake panel and the local account: plan rows,
// order placement and its guards, the payment page, waiting for the payment (paid, given
// up, paid late, abandoned) and the quiet node sync with its guards.

#include <QSignalSpy>
#include <QtTest>

#include "tests/qt/account_fixture.h"

using account_test::World;
using orvik_test::FakeOrder;
using orvik_test::FakePanel;
using orvik_test::FakePanelState;
using orvik_test::FakePlan;

namespace {

constexpr int kWait = 10000;

QString qs(const char* text) { return QString::fromUtf8(text); }

const QString kOpened = QStringLiteral("已打开支付页面，完成付款后会自动更新");
const QString kPaid = QStringLiteral("支付成功，套餐已更新");
const QString kGaveUp = QStringLiteral("仍未检测到付款，可稍后点会员信息刷新");
const QString kPayOnPanel = QStringLiteral("请到面板完成支付");

// Quick polling so that a whole wait for a payment takes a fraction of a second.
AccountController::Options quickPolls(const World& world, int polls) {
    AccountController::Options options = world.options(true);
    options.orderPollIntervalMs = 20;
    options.orderPolls = polls;
    return options;
}

std::vector<FakeOrder> ordersOf(const FakePanel& panel) {
    return panel.read<std::vector<FakeOrder>>([](const FakePanelState& state) { return state.orders; });
}

void setStatus(FakePanel& panel, const std::string& tradeNo, int status) {
    panel.edit([&](FakePanelState& state) { state.order(tradeNo)->status = status; });
}

}  // namespace

class AccountShopTest : public QObject {
    Q_OBJECT

private slots:
    void planRowsCarryEveryOfferField();
    void planLoadFailures();
    void orderGuards();
    void paidWhileWaiting();
    void paidAfterGivingUp();
    void newOrderAbandonsTheOneBeingWaitedFor();
    void activatedOrderRefreshesWithoutWaiting();
    void orderWithoutUsablePaymentPage();
    void orderRefusals();
    void quietSyncAndItsGuards();
};

void AccountShopTest::planRowsCarryEveryOfferField() {
    FakePanel panel;
    panel.edit([](FakePanelState& state) { state.plans[0].deviceLimit = 5; });
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true);
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    QSignalSpy shop(account.get(), &AccountController::shopChanged);
    account->loadShop();
    QVERIFY(account->shopBusy());
    QCOMPARE(shop.count(), 1);
    account->loadShop();  // refused while the first load runs
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(shop.count(), 2);
    QCOMPARE(world.probe->count(account_test::Plans), 1);
    QVERIFY(account->shopMessage().isEmpty());

    // The rows against the offers the panel client reads itself.
    vpn::XboardControlPlane direct(panel.apiBase(), world.sessionPath(), {});
    std::vector<vpn::PlanOffer> offers;
    std::string error;
    QVERIFY(direct.fetchPlans(offers, error));
    const QVariantList rows = account->shopPlans();
    QCOMPARE(rows.size(), static_cast<qsizetype>(offers.size()));
    QCOMPARE(rows.size(), 2);
    for (int i = 0; i < rows.size(); ++i) {
        const QVariantMap row = rows.at(i).toMap();
        const vpn::PlanOffer& offer = offers[static_cast<size_t>(i)];
        QCOMPARE(row.size(), 10);
        QCOMPARE(row.value(qs("id")), QVariant(offer.planId));
        QCOMPARE(row.value(qs("name")).toString().toStdString(), offer.planName);
        QCOMPARE(row.value(qs("period")).toString().toStdString(), offer.periodKey);
        QCOMPARE(row.value(qs("periodLabel")).toString().toStdString(), offer.periodLabel);
        QCOMPARE(row.value(qs("durationLabel")).toString().toStdString(), offer.periodText);
        QCOMPARE(row.value(qs("dailyLabel")).toString().toStdString(), offer.perDayText);
        QCOMPARE(row.value(qs("badge")).toString().toStdString(), offer.badge);
        QCOMPARE(row.value(qs("priceLabel")).toString().toStdString(), offer.priceText);
        QCOMPARE(row.value(qs("trafficLabel")).toString().toStdString(), offer.transferText);
        QCOMPARE(row.value(qs("deviceLimit")), QVariant(5));
        QCOMPARE(row.value(qs("id")).metaType(), QMetaType::fromType<int>());
        QCOMPARE(row.value(qs("deviceLimit")).metaType(), QMetaType::fromType<int>());
    }
    QCOMPARE(rows.at(0).toMap().value(qs("name")).toString(), qs("标准版"));
    QCOMPARE(rows.at(0).toMap().value(qs("period")).toString(), qs("month_price"));
}

void AccountShopTest::planLoadFailures() {
    FakePanel panel;
    World world;
    auto signedOut = world.panel(panel, false);
    QTRY_VERIFY_WITH_TIMEOUT(!signedOut->restoring(), kWait);
    signedOut->loadShop();
    QTRY_VERIFY_WITH_TIMEOUT(!signedOut->shopBusy(), kWait);
    QCOMPARE(signedOut->shopMessage(), qs("请先登录"));
    QVERIFY(signedOut->shopPlans().isEmpty());

    World localWorld;
    localWorld.dir.write("account.json", account_test::localAccountJson("2099-12-31"));
    auto local = localWorld.local();
    local->loadShop();
    QVERIFY(local->shopMessage().isEmpty());  // cleared when a load starts
    QTRY_VERIFY_WITH_TIMEOUT(!local->shopBusy(), kWait);
    QCOMPARE(local->shopMessage(), qs("当前环境不支持购买套餐"));
    QVERIFY(local->shopPlans().isEmpty());
}

void AccountShopTest::orderGuards() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true);
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    QSignalSpy shop(account.get(), &AccountController::shopChanged);
    account->buyPlan(0, qs("month_price"));
    account->buyPlan(-3, qs("month_price"));
    account->buyPlan(1, {});
    QCOMPARE(shop.count(), 0);

    account->loadShop();
    account->buyPlan(1, qs("month_price"));  // refused while the plans load
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    account->buyPlan(1, qs("month_price"));
    QCOMPARE(account->shopMessage(), qs("正在下单…"));
    QVERIFY(account->shopBusy());
    account->buyPlan(1, qs("year_price"));  // refused while the order is placed
    account->loadShop();                     // likewise
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(world.probe->count(account_test::Buy), 1);
    QCOMPARE(world.probe->count(account_test::Plans), 1);
    QCOMPARE(ordersOf(panel).size(), size_t{1});
}

void AccountShopTest::paidWhileWaiting() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    AccountController::Options options = quickPolls(world, 45);
    options.orderPollIntervalMs = 50;
    auto account = world.panel(panel, true, options);
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    account->buyPlan(1, qs("month_price"));
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kOpened, kWait);
    QVERIFY(!account->shopBusy());
    const std::vector<FakeOrder> orders = ordersOf(panel);
    QCOMPARE(orders.size(), size_t{1});
    const std::string tradeNo = orders[0].tradeNo;
    QCOMPARE(world.opened->size(), size_t{1});
    QCOMPARE(world.opened->at(0).toString().toStdString(),
             "https://pay.example.com/submit.php?out_trade_no=" + tradeNo);

    QTRY_VERIFY_WITH_TIMEOUT(world.probe->count(account_test::Check) >= 2, kWait);
    const int fetches = world.probe->count(account_test::Fetch);
    setStatus(panel, tradeNo, 3);
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kPaid, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(world.probe->count(account_test::Fetch) > fetches, kWait);
    QTest::qWait(200);  // the polling has stopped
    const int checks = world.probe->count(account_test::Check);
    QTest::qWait(200);
    QCOMPARE(world.probe->count(account_test::Check), checks);
    QCOMPARE(account->shopMessage(), kPaid);
}

void AccountShopTest::paidAfterGivingUp() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true, quickPolls(world, 5));
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    world.probe->checkGate.close();  // the first check is held in the panel's answer
    account->buyPlan(1, qs("month_price"));
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
    QCOMPARE(world.probe->checkGate.waiting(), 1);
    const std::string tradeNo = ordersOf(panel).at(0).tradeNo;

    // Paid meanwhile: the held check answers after the wait was given up.
    setStatus(panel, tradeNo, 3);
    const int fetches = world.probe->count(account_test::Fetch);
    world.probe->checkGate.open();
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kPaid, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(world.probe->count(account_test::Fetch) > fetches, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->count(account_test::Check), 4, kWait);  // five ticks, four checks
    QTest::qWait(150);
    QCOMPARE(world.probe->count(account_test::Check), 4);
}

void AccountShopTest::newOrderAbandonsTheOneBeingWaitedFor() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true, quickPolls(world, 8));
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    account->buyPlan(1, qs("month_price"));
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kOpened, kWait);
    const std::string first = ordersOf(panel).at(0).tradeNo;
    world.probe->checkGate.close();
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->checkGate.waiting(), 1, kWait);

    // The first order is paid, but a new order is placed before its check answers.
    setStatus(panel, first, 3);
    account->buyPlan(1, qs("year_price"));
    world.probe->checkGate.open();
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(account->shopMessage(), kOpened);
    QCOMPARE(world.opened->size(), size_t{2});
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
    const std::vector<FakeOrder> orders = ordersOf(panel);
    QCOMPARE(orders.size(), size_t{2});
    QCOMPARE(orders[1].period, std::string("year_price"));
}

void AccountShopTest::activatedOrderRefreshesWithoutWaiting() {
    FakePanel panel;
    panel.edit([](FakePanelState& state) {
        FakePlan free;
        free.id = 2;
        free.name = "体验版";
        free.prices = {{"onetime_price", 0}};
        state.plans.push_back(free);
    });
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true, quickPolls(world, 45));
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    const int fetches = world.probe->count(account_test::Fetch);
    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    account->buyPlan(2, qs("onetime_price"));
    QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), qs("套餐已开通"), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, kWait);
    QCOMPARE(world.probe->count(account_test::Fetch), fetches + 1);
    QTest::qWait(150);
    QCOMPARE(world.probe->count(account_test::Check), 0);
    QVERIFY(world.opened->empty());
}

void AccountShopTest::orderWithoutUsablePaymentPage() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true, quickPolls(world, 4));
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    // No address at all, then one that is not a web page: neither is opened, both are waited for.
    for (const char* address : {"", "file:///etc/passwd", "ms-settings:network"}) {
        panel.edit([address](FakePanelState& state) {
            state.paymentMethods = {{7, "微信", "WechatPay", true, 0, orvik_test::Json(address)}};
        });
        const int checks = world.probe->count(account_test::Check);
        account->buyPlan(1, qs("month_price"));
        QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kPayOnPanel, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(world.probe->count(account_test::Check), checks + 3, kWait);
    }
    QVERIFY(world.opened->empty());
}

void AccountShopTest::orderRefusals() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true);
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    account->buyPlan(1, qs("quarter_price"));
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(account->shopMessage(), qs("该订阅周期无法进行购买，请选择其他周期"));

    World localWorld;
    localWorld.dir.write("account.json", account_test::localAccountJson("2099-12-31"));
    auto local = localWorld.local();
    local->buyPlan(1, qs("month_price"));
    QTRY_VERIFY_WITH_TIMEOUT(!local->shopBusy(), kWait);
    QCOMPARE(local->shopMessage(), qs("当前环境不支持购买套餐"));
    QTest::qWait(100);
    QCOMPARE(localWorld.probe->count(account_test::Check), 0);
}

void AccountShopTest::quietSyncAndItsGuards() {
    FakePanel panel;
    World world;
    auto account = world.panel(panel, true);  // the panel's session, but no interactive sign-in
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    QVERIFY(!account->loggedIn());
    account->syncNodesQuietly();  // signed out
    QTest::qWait(100);
    QCOMPARE(world.probe->count(account_test::Fetch), 1);

    world.setInteractive(true);
    account->refresh();
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QCOMPARE(account->nodeNames().size(), 2);

    // During a refresh the sync is dropped.
    world.probe->fetchGate.close();
    account->refresh();
    account->syncNodesQuietly();
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->fetchGate.waiting(), 1, kWait);
    world.probe->fetchGate.open();
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->count(account_test::Fetch), 3, kWait);

    // While busy with an e-mail code (as with a login or registration), too.
    account->sendRegisterEmail(qs("someone@example.com"));
    QVERIFY(account->busy());
    account->syncNodesQuietly();
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QTest::qWait(100);
    QCOMPARE(world.probe->count(account_test::Fetch), 3);

    // A successful sync brings new nodes.
    panel.edit([](FakePanelState& state) {
        orvik_test::FakeServer server = state.servers[0];
        server.id = 99;
        server.name = "新加坡 01";
        state.servers.push_back(server);
    });
    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    account->syncNodesQuietly();
    QVERIFY(changed.wait(kWait));
    QCOMPARE(account->nodeNames().size(), 3);
    QVERIFY(account->nodeNames().contains(qs("新加坡 01")));
    QCOMPARE(account->nodeEndpoints().size(), 3);

    // A failed sync changes nothing and says nothing.
    panel.edit([](FakePanelState& state) { state.sessions.clear(); });
    QSignalSpy errors(account.get(), &AccountController::errorChanged);
    QSignalSpy restoring(account.get(), &AccountController::restoringChanged);
    const int fetches = world.probe->count(account_test::Fetch);
    account->syncNodesQuietly();
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->count(account_test::Fetch), fetches + 1, kWait);
    QTest::qWait(150);
    QVERIFY(account->loggedIn());
    QCOMPARE(account->nodeNames().size(), 3);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(restoring.count(), 0);
}

QTEST_GUILESS_MAIN(AccountShopTest)
#include "account_shop_test.moc"
