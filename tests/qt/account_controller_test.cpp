// The account controller over the real control planes (local account files and the scripted
// panel): restoring, signing in and out, membership, refreshes, registration, the order of
// calls, the shop with its orders and the wait for a payment.

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

const QString kGaveUp = QStringLiteral("仍未检测到付款，可稍后点会员信息刷新");

int calls(const World& world, Call call) { return world.probe->count(call); }

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

};

QTEST_GUILESS_MAIN(AccountControllerTest)
#include "account_controller_test.moc"
