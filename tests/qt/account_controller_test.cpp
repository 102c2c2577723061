// The account controller over the real control planes (local account files and the scripted
// panel): restoring, signing in and out, membership, refreshes, registration, the device slot,
// the order of calls, the shop with its orders and the wait for a payment, the quiet node sync.

#include <QDate>
#include <QSignalSpy>
#include <QtTest>

#include <limits>

#include "app/account/account_texts.h"
#include "tests/qt/account_fixture.h"

using namespace account_test;
using orvik_test::FakePanel;
using orvik_test::HttpReply;
using orvik_test::Json;
using namespace orvik_test::panel;

namespace {

const QString kOpened = QStringLiteral("已打开支付页面，完成付款后会自动更新");
const QString kGaveUp = QStringLiteral("仍未检测到付款，可稍后点会员信息刷新");

int calls(const World& world, Call call) { return world.probe->count(call); }

std::string tradeNoOf(const FakePanel& panel, std::size_t order) {
    return Json::parse(panel.requestsTo(kCheckout).at(order).body)["trade_no"].get<std::string>();
}

// Off the GUI thread, as the connection controller runs it.
bool checkOnWorker(AccountController& account, int& used, int& limit, QString& error) {
    bool ok = false;
    std::unique_ptr<QThread> worker(QThread::create([&] { ok = account.checkDevice(used, limit, error); }));
    worker->start();
    return worker->wait(kWait) && ok;
}

}  // namespace

class AccountControllerTest : public QObject {
    Q_OBJECT

private slots:
    void loginLogoutAndTheNodeSyncTimer() {
        World world;
        QVERIFY(world.signedInLocally("2099-06-01 12:00:00"));
        world.options.nodeSyncIntervalMs = 40;
        auto account = world.local();
        QSignalSpy errors(account.get(), &AccountController::errorChanged);
        // The back end's session alone does not sign in (only an interactive sign-in did), and
        // the start-up check reports nothing.
        QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
        QVERIFY(!account->loggedIn() && account->nodeNames().isEmpty() && errors.isEmpty());

        QSignalSpy busy(account.get(), &AccountController::busyChanged);  // a sign-in by hand
        account->login(qs("  demo@velora.local "), qs("velora-pass"));
        QVERIFY(account->busy());
        QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
        QCOMPARE(busy.count(), 2);
        QCOMPARE(world.interactive(), QVariant(true));

        // Restarted: restoring ends first, while the account still reads as before the refresh.
        account = world.local();
        QStringList order;
        connect(account.get(), &AccountController::restoringChanged, this,
                [&] { order << (account->loggedIn() ? qs("restoring signed in") : qs("restoring")); });
        connect(account.get(), &AccountController::accountChanged, this, [&] { order << qs("account"); });
        QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
        QCOMPARE(order, (QStringList{qs("restoring"), qs("account")}));
        QVERIFY(account->membershipActive());
        QCOMPARE(account->remainingDays(), static_cast<int>(QDate::currentDate().daysTo(QDate(2099, 6, 1))));
        QCOMPARE(account->usedDevices() * 10 + account->deviceLimit(), 13);
        QCOMPARE(account->nodeNames(), QStringList{qs(" Local demo node ")});
        const RouteEndpoint node = account->nodeEndpoints().value(0);
        QCOMPARE(node.routeId + node.host + QString::number(node.port), qs("Local demo node198.18.0.2443"));  // trimmed
        const int fetches = calls(world, Fetch);  // signed in: the timer syncs
        QTRY_VERIFY_WITH_TIMEOUT(calls(world, Fetch) >= fetches + 3, kWait);

        account->applyDeviceStatus(false, 0, 0, qs("kept"));
        QSignalSpy changed(account.get(), &AccountController::accountChanged);
        account->logout();
        QCOMPARE(changed.count(), 1);
        QVERIFY(!account->loggedIn() && !account->membershipActive() && account->nodeEndpoints().isEmpty());
        QCOMPARE(account->remainingDays() + account->usedDevices() + account->deviceLimit(), 0);
        QVERIFY(account->email().isEmpty() && account->expireAt().isEmpty() && account->nodeNames().isEmpty());
        QCOMPARE(account->badgeLabel() + account->remainingTimeLabel(), qs("—"));  // no badge text, no time
        QCOMPARE(account->errorMessage(), qs("kept"));
        QCOMPARE(world.interactive(), QVariant(false));
        QTRY_VERIFY_WITH_TIMEOUT(!world.dir.exists("session.json") && world.probe->inside == 0, kWait);
        const int after = calls(world, Fetch);
        account->syncNodesQuietly();
        QTest::qWait(300);  // signed out: neither the timer nor a call syncs
        QCOMPARE(calls(world, Fetch), after);
    }

    void loginGuardsAndFailures() {
        Member m(45, false, true);
        auto& [panel, world, account] = m;
        QVERIFY(account);
        panel.queue("POST", kLogin, fail(400, "邮箱或密码错误"), 2);
        // While one login runs, the other busy operations refuse to start.
        account->login(qs("member@example.com"), qs("wrong-password"));
        account->login(qs("member@example.com"), qs("wrong-password"));
        account->sendRegisterEmail(qs("someone@example.com"));
        account->registerAccount(qs("someone@example.com"), qs("long-enough"), {}, {});
        QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
        QCOMPARE(account->errorMessage(), qs("邮箱或密码错误"));
        QCOMPARE(calls(world, Login) * 10 + calls(world, Email) + calls(world, Register), 10);
        QVERIFY(!account->loggedIn() && !world.interactive().isValid());

        // A new attempt clears the old error at once; success signs in through a refresh.
        QSignalSpy errors(account.get(), &AccountController::errorChanged);
        account->login(qs(" member@example.com "), qs(FakePanel::kPassword));
        QCOMPARE(errors.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(account->email(), qs("member@example.com"));
    }

    // Each answer of a refresh as the account shows it; a failed refresh signs out and says so
    // only when asked to.
    void refreshOutcomes() {
        Member m;
        auto& [panel, world, account] = m;
        QVERIFY(account);
        QCOMPARE(account->membershipTier(), qs("PRO"));
        const auto with = [](const orvik_test::Json& changes) {
            orvik_test::Json data = member(nullptr);
            data.update(changes);
            return success(data);
        };
        // The label, then the header badge's and the popover's "剩余时间" forms of it.
        const struct {
            HttpReply reply;
            const char* labels;
            int days, nodes;
        } cases[] = {{with({{"expired_at", nullptr}}), "长期有效|长期有效|长期有效", -1, 2},  // -1: no end date
                     {with({{"expired_at", now() - 86400}}), "会员已到期|会员已到期|已到期", 0, 0},
                     {with({{"plan_id", nullptr}, {"expired_at", nullptr}}), "尚未开通套餐|尚未开通套餐|—", 0, 0}};
        QSignalSpy changed(account.get(), &AccountController::accountChanged);
        for (const auto& c : cases) {
            panel.on("GET", kGetSubscribe, c.reply);
            account->refresh(true);
            QVERIFY(changed.wait(kWait));
            QVERIFY(account->loggedIn() && account->errorMessage().isEmpty());
            QCOMPARE(QStringList({account->remainingLabel(), account->badgeLabel(), account->remainingTimeLabel()}).join('|'),
                     qs(c.labels));
            QCOMPARE(account->membershipActive(), c.nodes > 0);
            QCOMPARE(account->remainingDays(), c.days);
            QCOMPARE(account->nodeNames().size(), c.nodes);
        }

        const QDate today(2029, 12, 30);  // the days left on an end date as the panel writes it
        QCOMPARE(account_texts::remainingDays(qs("2030-01-01 08:30:00"), today), 2);
        QCOMPARE(account_texts::remainingDays(qs("2029-12-01"), today), -29);
        QCOMPARE(account_texts::remainingDays(qs("2030-1-1"), today), -1);    // shorter than a date: no end date
        QCOMPARE(account_texts::remainingDays(qs("2030-02-30"), today), 0);  // not a date

        panel.on("GET", kGetSubscribe, fail(403, "未登录或登陆已过期"));  // the panel forgot us
        changed.clear();
        account->refresh();
        QVERIFY(changed.wait(kWait));
        QVERIFY(!account->loggedIn() && account->email().isEmpty() && account->deviceLimit() == 0);
        QVERIFY(account->errorMessage().isEmpty());
        account->refresh(true);
        account->refresh(true);  // dropped: one is already running
        QVERIFY(changed.wait(kWait));
        QCOMPARE(account->errorMessage(), qs("面板 HTTP 403"));
        QTest::qWait(200);
        QCOMPARE(changed.count(), 2);
    }

    void registrationChecksAndOptions() {
        Member m(45, false, true);
        auto& [panel, world, account] = m;
        QVERIFY(account);
        panel.on("GET", kGuestConfig, success(guestConfig(true, true, false)));
        QSignalSpy options(account.get(), &AccountController::registerOptionsChanged);
        account->loadRegisterOptions();
        QVERIFY(options.wait(kWait));
        QVERIFY(account->emailVerifyRequired() && account->inviteRequired() && !account->recaptchaBlocked());

        // Checked here before anything is sent; every field but the password is trimmed.
        account->registerAccount(qs("new@example.com"), qs("1234567"), qs("INVITE1"), qs("1"));
        QCOMPARE(account->errorMessage(), qs("密码至少 8 位"));
        account->sendRegisterEmail(qs("  new@example.com "));
        QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
        QCOMPARE(panel.requestsTo(kEmailCode).at(0).body, std::string(R"({"email":"new@example.com"})"));
        // Eight with the space.
        account->registerAccount(qs(" new@example.com"), qs(" 1234567"), qs("  "), qs(" 654321 "));
        QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
        QCOMPARE(panel.requestsTo(kRegister).at(0).body,
                 std::string(R"({"email":"new@example.com","password":" 1234567","email_code":"654321"})"));
        QCOMPARE(world.interactive(), QVariant(true));
        account->logout();

        // A panel that wants a human check: no registration from here.
        panel.on("GET", kGuestConfig, success(guestConfig(false, false, true)));
        account->loadRegisterOptions();
        QVERIFY(options.wait(kWait));
        QCOMPARE(account->errorMessage(), qs("面板开启了人机验证，请到网站注册"));
        account->applyDeviceStatus(true, 0, 0, {});  // clears the text
        account->registerAccount(qs("new@example.com"), qs("12345678"), qs("INVITE1"), qs("1"));
        QCOMPARE(account->errorMessage(), qs("面板开启了人机验证，请到网站注册"));

        // A failed options request changes nothing.
        panel.on("GET", kGuestConfig, HttpReply{500, "", {}});
        account->loadRegisterOptions();
        QTRY_VERIFY_WITH_TIMEOUT(calls(world, Options) == 3 && world.probe->inside == 0, kWait);
        QTest::qWait(100);
        QVERIFY(options.count() == 2 && account->recaptchaBlocked() && !account->busy());
        QCOMPARE(calls(world, Register) * 10 + calls(world, Email), 11);

        World localWorld;  // without a panel there are no options to load
        localWorld.local()->loadRegisterOptions();
        QCOMPARE(localWorld.probe->count(Options), 0);
    }

    void deviceCheckAndStatus() {
        FakePanel panel;
        panel.on("POST", kClaim, plain(403, {{"used", 1}, {"limit", 1}, {"message", "设备数量已达上限（1/1）"}}));
        World world;
        world.interactive(true);
        auto account = world.panel(panel, true, panel.deviceApi());
        // Signed out (still restoring): nothing to check, nothing asked.
        int used = 7;
        int limit = 7;
        QString error = qs("old");
        QVERIFY(account->checkDevice(used, limit, error));
        QVERIFY(used == 0 && limit == 0 && error.isEmpty() && calls(world, Claim) == 0);

        QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
        QVERIFY(!checkOnWorker(*account, used, limit, error));
        QVERIFY(used == 0 && limit == 0);
        QSignalSpy changed(account.get(), &AccountController::accountChanged);
        account->applyDeviceStatus(false, used, limit, error);
        QCOMPARE(account->errorMessage(), qs("设备数量已达上限（1/1）"));
        for (const char* expired : {"Device service: LOGIN EXPIRED (401)", "会话登录已过期"}) {
            account->applyDeviceStatus(false, 0, 0, qs(expired));
            QCOMPARE(account->errorMessage(), qs("登录已过期，请退出后重新登录"));
        }

        panel.on("POST", kClaim, plain(200, {{"used", 2}, {"limit", 3}}));
        QVERIFY(checkOnWorker(*account, used, limit, error));
        account->applyDeviceStatus(true, used, limit, error);
        account->applyDeviceStatus(true, 0, 0, {});  // zeros keep the known counts
        QVERIFY(account->errorMessage().isEmpty());
        QCOMPARE(account->usedDevices() * 10 + account->deviceLimit(), 23);
        QCOMPARE(changed.count(), 2);
    }

    void callsNeverOverlapAndRunInOrder() {
        Member m(45, true);
        auto& [panel, world, account] = m;
        QVERIFY(account);

        // Hold a device check inside the control plane, then ask for everything else.
        world.probe->checkGate.set(false);
        int used = 0;
        int limit = 0;
        QString error;
        bool claimed = false;
        std::unique_ptr<QThread> worker(QThread::create([&] { claimed = account->checkDevice(used, limit, error); }));
        worker->start();
        QTRY_COMPARE_WITH_TIMEOUT(world.probe->checkGate.waiting(), 1, kWait);
        const int fetches = calls(world, Fetch);
        account->syncNodesQuietly();
        account->loadShop();
        account->loadRegisterOptions();
        account->logout();  // the GUI thread does not wait for the held call
        QVERIFY(!account->loggedIn());
        QTest::qWait(150);
        QCOMPARE(calls(world, Fetch) - fetches + calls(world, Plans) + calls(world, Logout), 0);

        world.probe->checkGate.set(true);
        QVERIFY(worker->wait(kWait));
        QVERIFY(claimed);  // asked before the sign-out, so still with the session
        QTRY_COMPARE_WITH_TIMEOUT(calls(world, Logout), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
        QCOMPARE(calls(world, Fetch), fetches + 1);
        QCOMPARE(world.probe->mostInside.load(), 1);
        // The sync answered after the sign-out and does not sign back in.
        QVERIFY(!account->loggedIn() && !world.dir.exists("session.json"));
    }

    void planRowsAndGuards() {
        Member m;
        auto& [panel, world, account] = m;
        QVERIFY(account);
        Json limited = plan(1, "标准版", {{"month_price", 1500}, {"year_price", 15000}});
        limited["device_limit"] = int64_t{1} << 40;  // clamped, not wrapped
        panel.on("GET", kPlans, success({limited}));
        QSignalSpy shop(account.get(), &AccountController::shopChanged);
        account->buyPlan(0, qs("month_price"));  // refused at once
        account->buyPlan(1, {});
        QCOMPARE(shop.count(), 0);

        account->loadShop();
        account->loadShop();                      // refused while the first load runs
        account->buyPlan(1, qs("month_price"));  // likewise
        QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
        QCOMPARE(shop.count(), 2);
        QCOMPARE(calls(world, Plans) * 10 + calls(world, Buy), 10);
        const QVariantList rows = account->shopPlans();
        QCOMPARE(rows.size(), 2);
        QStringList texts;
        const QVariantMap year = rows.at(1).toMap();
        for (const char* key : {"id", "name", "period", "periodLabel", "durationLabel", "dailyLabel", "badge",
                                "priceLabel", "trafficLabel"})
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
        QCOMPARE(calls(world, Buy) * 10 + calls(world, Plans), 11);

        panel.on("GET", kPlans, HttpReply{502, "", {}});
        account->loadShop();
        QVERIFY(account->shopMessage().isEmpty());  // cleared when a load starts
        QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
        QCOMPARE(account->shopMessage(), qs("面板 HTTP 502"));
        QVERIFY(account->shopPlans().isEmpty());
        QCOMPARE(calls(world, Check), 0);  // the failed order left nothing to wait for
    }

    void paidAfterGivingUp() {
        Member m(5);
        auto& [panel, world, account] = m;
        QVERIFY(account);

        world.probe->checkGate.set(false);  // the first check is held in the panel's answer
        account->buyPlan(1, qs("month_price"));
        QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
        QCOMPARE(world.probe->checkGate.waiting(), 1);

        // Paid meanwhile: the held check answers after the wait was given up.
        panel.on("GET", kCheck, success(3));
        const int fetches = calls(world, Fetch);
        world.probe->checkGate.set(true);
        QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), qs("支付成功，套餐已更新"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(calls(world, Fetch) > fetches, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(calls(world, Check), 4, kWait);  // five ticks, four checks
        QTest::qWait(150);
        QCOMPARE(calls(world, Check), 4);
    }

    void newOrderAbandonsTheOneBeingWaitedFor() {
        Member m(20);
        auto& [panel, world, account] = m;
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
    void checkoutWithoutAWebPage() {
        Member m(4);
        auto& [panel, world, account] = m;
        QVERIFY(account);
        for (const char* address :
             {"", "file://pay.example/passwd", "ms-settings:network", "javascript:alert(1)", "https:///nohost"}) {
            panel.on("POST", kCheckout, plain(200, {{"type", 0}, {"data", address}}));
            const int checks = calls(world, Check);
            account->buyPlan(1, qs("month_price"));
            QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), qs("请到面板完成支付"), kWait);
            QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), kGaveUp, kWait);
            QTRY_COMPARE_WITH_TIMEOUT(calls(world, Check), checks + 3, kWait);
        }

        panel.on("POST", kCheckout, plain(200, {{"type", -1}, {"data", true}}));
        const int checks = calls(world, Check);
        const int fetches = calls(world, Fetch);
        account->buyPlan(2, qs("onetime_price"));
        QTRY_COMPARE_WITH_TIMEOUT(account->shopMessage(), qs("套餐已开通"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(calls(world, Fetch), fetches + 1, kWait);
        QTest::qWait(150);
        QCOMPARE(calls(world, Check), checks);
        QVERIFY(world.opened->empty());
    }

    // A quiet sync brings new nodes; a failed one changes nothing and says nothing. One asked while
    // a refresh, another sync or an e-mail code runs is dropped.
    void quietSyncAndItsGuards() {
        Member m;
        auto& [panel, world, account] = m;
        QVERIFY(account);
        panel.on("GET", kSubscription,
                 subscription({vlessLink("Tokyo A", "203.0.113.10", 443), vlessLink("新加坡 01", "203.0.113.11", 443)}));
        const int fetches = calls(world, Fetch);
        QSignalSpy changed(account.get(), &AccountController::accountChanged);
        account->refresh();
        account->syncNodesQuietly();
        QVERIFY(changed.wait(kWait));
        account->sendRegisterEmail(qs("someone@example.com"));
        account->syncNodesQuietly();
        QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
        account->syncNodesQuietly();
        account->syncNodesQuietly();
        QVERIFY(changed.wait(kWait));
        QCOMPARE(account->nodeNames(), (QStringList{qs("Tokyo A"), qs("新加坡 01")}));
        QCOMPARE(account->nodeEndpoints().at(1).host, qs("203.0.113.11"));

        panel.on("GET", kGetSubscribe, fail(403, "未登录或登陆已过期"));
        QSignalSpy errors(account.get(), &AccountController::errorChanged);
        account->syncNodesQuietly();
        QTRY_VERIFY_WITH_TIMEOUT(calls(world, Fetch) == fetches + 3 && world.probe->inside == 0, kWait);
        QTest::qWait(100);
        QCOMPARE(calls(world, Fetch), fetches + 3);
        QVERIFY(account->loggedIn() && account->nodeNames().size() == 2);
        QCOMPARE(changed.count() + errors.count(), 2);
    }
};

QTEST_GUILESS_MAIN(AccountControllerTest)
#include "account_controller_test.moc"
