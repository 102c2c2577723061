// The account controller's session side over the real control planes (local account files
// and the scripted panel): restoring, sign-in and sign-out, membership, refresh failures,
// registration checks, the device slot and the order of calls.

#include <QDate>
#include <QSignalSpy>
#include <QtTest>

#include "app/account/account_texts.h"
#include "tests/qt/account_fixture.h"

using account_test::kWait;
using account_test::qs;
using account_test::World;
using orvik_test::FakePanel;
using orvik_test::HttpReply;
using namespace orvik_test::panel;

class AccountControllerTest : public QObject {
    Q_OBJECT

private slots:
    void restoredLocalAccount();
    void loginLogoutAndTheNodeSyncTimer();
    void loginGuardsAndFailures();
    void refreshOutcomes();
    void registrationChecksAndOptions();
    void deviceCheckAndStatus();
    void callsNeverOverlapAndRunInOrder();
};

void AccountControllerTest::restoredLocalAccount() {
    World world;
    world.dir.write("account.json", account_test::localAccountJson("2099-06-01 12:00:00"));
    std::string error;  // signed in by the back end, before any controller exists
    QVERIFY(vpn::LocalControlPlane(world.dir.file("account.json"), world.dir.file("session.json")).login("demo@velora.local", "velora-pass", error));
    // The back end's session alone does not sign in: only an interactive sign-in did.
    world.setInteractive(false);
    auto account = world.local();
    QSignalSpy errors(account.get(), &AccountController::errorChanged);
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    QVERIFY(!account->loggedIn() && account->nodeNames().isEmpty() && errors.isEmpty());

    world.setInteractive(true);
    account = world.local();
    // Restoring ends first, while the account still reads as before the refresh.
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
    const RouteEndpoints endpoints = account->nodeEndpoints();
    QCOMPARE(endpoints.size(), 1);
    QCOMPARE(endpoints[0].routeId + endpoints[0].host + QString::number(endpoints[0].port), qs("Local demo node198.18.0.2443"));  // trimmed
}

void AccountControllerTest::loginLogoutAndTheNodeSyncTimer() {
    World world;
    world.dir.write("account.json", account_test::localAccountJson("2099-12-31"));
    world.options.nodeSyncIntervalMs = 40;
    auto account = world.local();
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    QVERIFY(account->errorMessage().isEmpty());  // the start-up check reports nothing

    QSignalSpy busy(account.get(), &AccountController::busyChanged);
    account->login(qs("  demo@velora.local "), qs("velora-pass"));
    QVERIFY(account->busy());
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QCOMPARE(busy.count(), 2);
    QCOMPARE(world.interactive(), QVariant(true));
    const int fetches = world.probe->count(account_test::Fetch);  // signed in: the timer syncs
    QTRY_VERIFY_WITH_TIMEOUT(world.probe->count(account_test::Fetch) >= fetches + 3, kWait);

    account->applyDeviceStatus(false, 0, 0, qs("kept"));
    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    account->logout();
    QCOMPARE(changed.count(), 1);
    QVERIFY(!account->loggedIn() && !account->membershipActive() && account->nodeEndpoints().isEmpty());
    QCOMPARE(account->remainingDays() + account->usedDevices() + account->deviceLimit(), 0);
    QVERIFY(account->email().isEmpty() && account->expireAt().isEmpty() && account->nodeNames().isEmpty());
    QCOMPARE(account->errorMessage(), qs("kept"));
    QCOMPARE(world.interactive(), QVariant(false));
    QTRY_VERIFY_WITH_TIMEOUT(!world.dir.exists("session.json") && world.probe->inside == 0, kWait);
    const int after = world.probe->count(account_test::Fetch);
    QTest::qWait(300);  // signed out: the timer syncs no more
    QCOMPARE(world.probe->count(account_test::Fetch), after);
}

void AccountControllerTest::loginGuardsAndFailures() {
    FakePanel panel;
    World world;
    auto account = world.panel(panel, false);
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    panel.queue("POST", kLogin, fail(400, "邮箱或密码错误"), 2);
    // While one login runs, the other busy operations refuse to start.
    account->login(qs("member@example.com"), qs("wrong-password"));
    account->login(qs("member@example.com"), qs("wrong-password"));
    account->sendRegisterEmail(qs("someone@example.com"));
    account->registerAccount(qs("someone@example.com"), qs("long-enough"), {}, {});
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QCOMPARE(account->errorMessage(), qs("邮箱或密码错误"));
    QCOMPARE(world.probe->count(account_test::Login), 1);
    QCOMPARE(world.probe->count(account_test::Email) + world.probe->count(account_test::Register), 0);
    QVERIFY(!account->loggedIn() && !world.interactive().isValid());

    // A new attempt clears the old error at once; success signs in through a refresh.
    QSignalSpy errors(account.get(), &AccountController::errorChanged);
    account->login(qs(" member@example.com "), qs(FakePanel::kPassword));
    QCOMPARE(errors.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(account->email(), qs("member@example.com"));
    QVERIFY(panel.requestsTo(kLogin).back().body.find("\"email\":\"member@example.com\"") != std::string::npos);
}

// Each answer of a refresh as the account shows it; a failed refresh signs out and says so
// only when asked to.
void AccountControllerTest::refreshOutcomes() {
    FakePanel panel;
    World world;
    auto account = world.member(panel);
    QVERIFY(account);
    QCOMPARE(account->membershipTier(), qs("PRO"));
    const auto with = [](const orvik_test::Json& changes) {
        orvik_test::Json data = member(nullptr);
        data.update(changes);
        return success(data);
    };
    const struct {
        HttpReply reply;
        const char* label;
        int days, nodes;
    } cases[] = {{with({{"expired_at", nullptr}}), "长期有效", -1, 2},  // -1: no end date
                 {with({{"expired_at", now() - 86400}}), "会员已到期", 0, 0},
                 {with({{"plan_id", nullptr}, {"expired_at", nullptr}}), "尚未开通套餐", 0, 0}};
    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    for (const auto& c : cases) {
        panel.on("GET", kGetSubscribe, c.reply);
        account->refresh(true);
        QVERIFY(changed.wait(kWait));
        QVERIFY(account->loggedIn() && account->errorMessage().isEmpty());
        QCOMPARE(account->remainingLabel(), qs(c.label));
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
    QVERIFY(!account->loggedIn() && account->email().isEmpty() && account->deviceLimit() == 0 && account->errorMessage().isEmpty());
    account->refresh(true);
    account->refresh(true);  // dropped: one is already running
    QVERIFY(changed.wait(kWait));
    QCOMPARE(account->errorMessage(), qs("面板 HTTP 403"));
    QTest::qWait(200);
    QCOMPARE(changed.count(), 2);
}

void AccountControllerTest::registrationChecksAndOptions() {
    FakePanel panel;
    panel.on("GET", kGuestConfig, success(guestConfig(true, true, false)));
    World world;
    auto account = world.panel(panel, false);
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    QSignalSpy options(account.get(), &AccountController::registerOptionsChanged);
    account->loadRegisterOptions();
    QVERIFY(options.wait(kWait));
    QVERIFY(account->emailVerifyRequired() && account->inviteRequired() && !account->recaptchaBlocked());

    // Checked here before anything is sent; every field but the password is trimmed.
    account->registerAccount(qs("new@example.com"), qs("1234567"), qs("INVITE1"), qs("1"));
    QCOMPARE(account->errorMessage(), qs("密码至少 8 位"));
    account->sendRegisterEmail(qs("  new.example.com "));
    QCOMPARE(account->errorMessage(), qs("请先填写邮箱"));
    account->sendRegisterEmail(qs("  new@example.com "));
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QCOMPARE(panel.requestsTo(kEmailCode).at(0).body, std::string(R"({"email":"new@example.com"})"));
    account->registerAccount(qs(" new@example.com"), qs(" 1234567"), qs("  "), qs(" 654321 "));  // eight with the space
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
    QTRY_VERIFY_WITH_TIMEOUT(world.probe->count(account_test::Options) == 3 && world.probe->inside == 0, kWait);
    QTest::qWait(100);
    QVERIFY(options.count() == 2 && account->recaptchaBlocked() && !account->busy());
    QCOMPARE(world.probe->count(account_test::Register) * 10 + world.probe->count(account_test::Email), 11);

    // Without a panel there are no options to load.
    World localWorld;
    localWorld.local()->loadRegisterOptions();
    QCOMPARE(localWorld.probe->count(account_test::Options), 0);
}

// Off the GUI thread, as the connection controller runs it.
static bool checkOnWorker(AccountController& account, int& used, int& limit, QString& error) {
    bool ok = false;
    std::unique_ptr<QThread> worker(QThread::create([&] { ok = account.checkDevice(used, limit, error); }));
    worker->start();
    return worker->wait(kWait) && ok;
}

void AccountControllerTest::deviceCheckAndStatus() {
    FakePanel panel;
    panel.on("POST", kClaim, plain(403, {{"used", 1}, {"limit", 1}, {"message", "设备数量已达上限（1/1）"}}));
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true, panel.deviceApi());
    // Signed out (still restoring): nothing to check, nothing asked.
    int used = 7;
    int limit = 7;
    QString error = qs("old");
    QVERIFY(account->checkDevice(used, limit, error));
    QVERIFY(used == 0 && limit == 0 && error.isEmpty() && world.probe->count(account_test::Claim) == 0);

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

void AccountControllerTest::callsNeverOverlapAndRunInOrder() {
    FakePanel panel;
    World world;
    auto account = world.member(panel, panel.deviceApi());
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
    const int fetches = world.probe->count(account_test::Fetch);
    account->syncNodesQuietly();
    account->loadShop();
    account->loadRegisterOptions();
    account->logout();  // the GUI thread does not wait for the held call
    QVERIFY(!account->loggedIn());
    QTest::qWait(150);
    QCOMPARE(world.probe->count(account_test::Fetch) - fetches + world.probe->count(account_test::Plans) +
                 world.probe->count(account_test::Logout), 0);

    world.probe->checkGate.set(true);
    QVERIFY(worker->wait(kWait));
    QVERIFY(claimed);  // asked before the sign-out, so still with the session
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->count(account_test::Logout), 1, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QCOMPARE(world.probe->count(account_test::Fetch), fetches + 1);
    QCOMPARE(world.probe->mostInside.load(), 1);
    // The sync answered after the sign-out and does not sign back in.
    QVERIFY(!account->loggedIn() && !world.dir.exists("session.json"));
}

QTEST_GUILESS_MAIN(AccountControllerTest)
#include "account_controller_test.moc"
