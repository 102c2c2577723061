// The account controller's session side over the real control planes: the local account
// files and the fake panel. Restoring a session, sign-in and sign-out, the membership texts,
// refresh failures, registration checks and the device slot.

#include <QDate>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "app/account/account_texts.h"
#include "tests/qt/account_fixture.h"

using account_test::Probe;
using account_test::World;
using orvik_test::FakePanel;
using orvik_test::FakePanelState;

namespace {

constexpr int kWait = 10000;

QString qs(const char* text) { return QString::fromUtf8(text); }

// Signs the local account in the way the login does, before any controller exists.
void signInLocally(const World& world) {
    vpn::LocalControlPlane plane(world.dir.file("account.json"), world.sessionPath());
    std::string error;
    QVERIFY2(plane.login("demo@velora.local", "velora-pass", error), error.c_str());
}

}  // namespace

class AccountControllerTest : public QObject {
    Q_OBJECT

private slots:
    void classInformationAndProperties();
    void derivedTexts();
    void backEndSessionNeedsInteractiveLogin();
    void restoredLocalAccount();
    void loginLogoutAndTheNodeSyncTimer();
    void loginGuardsAndFailures();
    void panelMembershipStates();
    void refreshFailureReportsOnlyWhenAsked();
    void registrationChecksAndOptions();
    void registrationWithCodes();
    void localStoreHasNoRegistration();
    void deviceCheckAndStatus();
    void callsNeverOverlapAndRunInOrder();
};

void AccountControllerTest::classInformationAndProperties() {
    const QMetaObject& meta = AccountController::staticMetaObject;
    auto info = [&meta](const char* name) {
        return QString::fromUtf8(meta.classInfo(meta.indexOfClassInfo(name)).value());
    };
    QCOMPARE(info("QML.Element"), qs("auto"));
    QCOMPARE(info("QML.Creatable"), qs("false"));
    QCOMPARE(info("QML.UncreatableReason"), qs("AccountController is provided by the application"));

    const QStringList names = {"loggedIn", "busy", "restoring", "remotePanel", "email", "expireAt",
                               "membershipTier", "remainingDays", "remainingLabel", "membershipActive",
                               "usedDevices", "deviceLimit", "errorMessage", "nodeNames", "shopPlans",
                               "shopBusy", "shopMessage", "emailVerifyRequired", "inviteRequired",
                               "recaptchaBlocked"};
    QCOMPARE(meta.propertyCount() - meta.propertyOffset(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        const QMetaProperty property = meta.property(meta.propertyOffset() + i);
        QCOMPARE(QString::fromUtf8(property.name()), names.at(i));
        QVERIFY(!property.isWritable());
    }
    QVERIFY(meta.property(meta.indexOfProperty("remotePanel")).isConstant());
    for (const char* method : {"login(QString,QString)", "registerAccount(QString,QString,QString,QString)",
                               "sendRegisterEmail(QString)", "loadRegisterOptions()", "logout()",
                               "refresh(bool)", "refresh()", "syncNodesQuietly()", "loadShop()",
                               "buyPlan(int,QString)"}) {
        const int index = meta.indexOfMethod(method);
        QVERIFY2(index >= 0, method);
        QCOMPARE(meta.method(index).methodType(), QMetaMethod::Method);
    }
    QCOMPARE(meta.method(meta.indexOfMethod("pollPendingOrder()")).access(), QMetaMethod::Private);
}

void AccountControllerTest::derivedTexts() {
    using namespace account_texts;
    QCOMPARE(membershipTier(false, true), qs("未登录"));
    QCOMPARE(membershipTier(true, true), qs("PRO"));
    QCOMPARE(membershipTier(true, false), qs("未开通"));

    QCOMPARE(remainingLabel(false, true, 5, qs("2030-01-01")), qs("尚未登录"));
    QCOMPARE(remainingLabel(true, true, 0, qs("x")), qs("剩余 0 天"));
    QCOMPARE(remainingLabel(true, true, 1234, qs("x")), qs("剩余 1234 天"));
    QCOMPARE(remainingLabel(true, true, -1, {}), qs("长期有效"));
    QCOMPARE(remainingLabel(true, false, 0, {}), qs("尚未开通套餐"));
    QCOMPARE(remainingLabel(true, false, 0, qs("2020-01-01")), qs("会员已到期"));

    const QDate today(2029, 12, 30);
    QCOMPARE(remainingDays(qs("2030-01-01 08:30:00"), today), 2);
    QCOMPARE(remainingDays(qs("2030-01-01"), today), 2);
    QCOMPARE(remainingDays(qs("2029-12-01"), today), -29);
    QCOMPARE(remainingDays(qs("2030-1-1"), today), -1);  // shorter than a date: no end date
    QCOMPARE(remainingDays(QString(), today), -1);
    QCOMPARE(remainingDays(qs("2030-02-30"), today), 0);  // not a date
    QCOMPARE(remainingDays(qs("01/01/2030"), today), 0);
}

void AccountControllerTest::backEndSessionNeedsInteractiveLogin() {
    World world;
    world.dir.write("account.json", account_test::localAccountJson("2030-01-01"));
    signInLocally(world);
    for (const bool stored : {false, true}) {
        if (stored) world.setInteractive(false);  // absent first, then written false
        auto account = world.local();
        QVERIFY(account->restoring());
        QSignalSpy restored(account.get(), &AccountController::restoringChanged);
        QSignalSpy errors(account.get(), &AccountController::errorChanged);
        QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
        QCOMPARE(restored.count(), 1);
        QVERIFY(!account->loggedIn());
        QVERIFY(account->nodeNames().isEmpty());
        QVERIFY(account->nodeEndpoints().isEmpty());
        QCOMPARE(account->membershipTier(), qs("未登录"));
        QCOMPARE(account->remainingLabel(), qs("尚未登录"));
        QCOMPARE(errors.count(), 0);
        QVERIFY(account->errorMessage().isEmpty());
    }
}

void AccountControllerTest::restoredLocalAccount() {
    World world;
    world.dir.write("account.json", account_test::localAccountJson("2099-06-01 12:00:00"));
    signInLocally(world);
    world.setInteractive(true);
    auto account = world.local();

    // Restoring ends first, while the account still reads as before the refresh.
    QStringList order;
    bool signedInWhenRestored = true;
    connect(account.get(), &AccountController::restoringChanged, this, [&] {
        order << qs("restoring");
        signedInWhenRestored = account->loggedIn();
    });
    connect(account.get(), &AccountController::accountChanged, this, [&] { order << qs("account"); });
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QCOMPARE(order, (QStringList{qs("restoring"), qs("account")}));
    QVERIFY(!signedInWhenRestored);

    QCOMPARE(account->email(), qs("demo@velora.local"));
    QCOMPARE(account->expireAt(), qs("2099-06-01 12:00:00"));
    QVERIFY(account->membershipActive());
    QCOMPARE(account->membershipTier(), qs("PRO"));
    const int days = static_cast<int>(QDate::currentDate().daysTo(QDate(2099, 6, 1)));
    QCOMPARE(account->remainingDays(), days);
    QCOMPARE(account->remainingLabel(), qs("剩余 %1 天").arg(days));
    QCOMPARE(account->deviceLimit(), 3);
    QCOMPARE(account->usedDevices(), 1);
    QCOMPARE(account->nodeNames(), QStringList{qs(" Local demo node ")});
    const RouteEndpoints endpoints = account->nodeEndpoints();
    QCOMPARE(endpoints.size(), 1);
    QCOMPARE(endpoints[0].routeId, qs("Local demo node"));
    QCOMPARE(endpoints[0].host, qs("198.18.0.2"));
    QCOMPARE(endpoints[0].port, quint16(443));
    QVERIFY(!account->remotePanel());
}

void AccountControllerTest::loginLogoutAndTheNodeSyncTimer() {
    World world;
    world.dir.write("account.json", account_test::localAccountJson("2099-12-31"));
    AccountController::Options options = world.options(false);
    options.nodeSyncIntervalMs = 40;
    auto account = world.local(options);
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    QVERIFY(!account->loggedIn());
    QVERIFY(account->errorMessage().isEmpty());  // the start-up check reports nothing

    QSignalSpy busy(account.get(), &AccountController::busyChanged);
    account->login(qs("  demo@velora.local "), qs("velora-pass"));
    QVERIFY(account->busy());
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QVERIFY(!account->busy());
    QCOMPARE(busy.count(), 2);
    QCOMPARE(world.interactive(), QVariant(true));
    QVERIFY(world.dir.exists("session.json"));

    // Signed in: the timer keeps syncing quietly.
    const int fetches = world.probe->count(account_test::Fetch);
    QTRY_VERIFY_WITH_TIMEOUT(world.probe->count(account_test::Fetch) >= fetches + 3, kWait);

    account->applyDeviceStatus(false, 0, 0, qs("kept"));
    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    account->logout();
    QCOMPARE(changed.count(), 1);
    QVERIFY(!account->loggedIn());
    QVERIFY(!account->membershipActive());
    QCOMPARE(account->remainingDays(), 0);
    QCOMPARE(account->usedDevices(), 0);
    QCOMPARE(account->deviceLimit(), 0);
    QVERIFY(account->email().isEmpty());
    QVERIFY(account->expireAt().isEmpty());
    QVERIFY(account->nodeNames().isEmpty());
    QVERIFY(account->nodeEndpoints().isEmpty());
    QCOMPARE(account->errorMessage(), qs("kept"));
    QCOMPARE(world.interactive(), QVariant(false));
    QTRY_VERIFY_WITH_TIMEOUT(!world.dir.exists("session.json"), kWait);

    // Signed out: no more syncs.
    QTest::qWait(100);  // a sync that was already running may still end
    const int after = world.probe->count(account_test::Fetch);
    QTest::qWait(300);
    QCOMPARE(world.probe->count(account_test::Fetch), after);
}

void AccountControllerTest::loginGuardsAndFailures() {
    FakePanel panel;
    World world;
    auto account = world.panel(panel, false);
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    QVERIFY(account->remotePanel());

    // While one login runs, the other busy operations refuse to start.
    account->login(qs("member@example.com"), qs("wrong-password"));
    account->login(qs("member@example.com"), qs("wrong-password"));
    account->sendRegisterEmail(qs("someone@example.com"));
    account->registerAccount(qs("someone@example.com"), qs("long-enough"), {}, {});
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QCOMPARE(account->errorMessage(), qs("邮箱或密码错误"));
    QCOMPARE(world.probe->count(account_test::Login), 1);
    QCOMPARE(world.probe->count(account_test::Email), 0);
    QCOMPARE(world.probe->count(account_test::Register), 0);
    QVERIFY(!account->loggedIn());
    QVERIFY(!world.interactive().isValid());

    // A new attempt clears the old error at once; success signs in through a refresh.
    QSignalSpy errors(account.get(), &AccountController::errorChanged);
    account->login(qs(" member@example.com "), QString::fromUtf8(FakePanel::kPassword));
    QCOMPARE(errors.count(), 1);
    QVERIFY(account->errorMessage().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QCOMPARE(account->email(), qs("member@example.com"));
    QCOMPARE(account->nodeNames().size(), 2);
    QCOMPARE(account->nodeEndpoints().size(), 2);
    QVERIFY(account->membershipActive());
    const QDate end = QDate::fromString(account->expireAt(), qs("yyyy-MM-dd"));
    QVERIFY(end.isValid());
    QCOMPARE(account->remainingDays(), QDate::currentDate().daysTo(end));
    QVERIFY(account->remainingDays() >= 29 && account->remainingDays() <= 31);
    QCOMPARE(errors.count(), 1);
}

void AccountControllerTest::panelMembershipStates() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true);
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QCOMPARE(account->membershipTier(), qs("PRO"));

    auto refreshWith = [&](const std::function<void(orvik_test::FakeUser&)>& change) {
        panel.edit([&](FakePanelState& state) { change(*state.user(FakePanel::kEmail)); });
        QSignalSpy changed(account.get(), &AccountController::accountChanged);
        account->refresh(true);
        return changed.wait(kWait);
    };

    QVERIFY(refreshWith([](orvik_test::FakeUser& user) { user.expiredAt = nullptr; }));
    QVERIFY(account->membershipActive());
    QCOMPARE(account->remainingDays(), -1);
    QCOMPARE(account->remainingLabel(), qs("长期有效"));

    const int64_t yesterday = panel.now() - 86400;
    QVERIFY(refreshWith([yesterday](orvik_test::FakeUser& user) { user.expiredAt = yesterday; }));
    QVERIFY(account->loggedIn());
    QVERIFY(!account->membershipActive());
    QCOMPARE(account->remainingDays(), 0);
    QVERIFY(!account->expireAt().isEmpty());
    QCOMPARE(account->membershipTier(), qs("未开通"));
    QCOMPARE(account->remainingLabel(), qs("会员已到期"));
    QVERIFY(account->nodeNames().isEmpty());

    QVERIFY(refreshWith([](orvik_test::FakeUser& user) { user.planId = nullptr; }));
    QVERIFY(account->loggedIn());
    QVERIFY(account->expireAt().isEmpty());
    QCOMPARE(account->remainingLabel(), qs("尚未开通套餐"));
    QVERIFY(account->errorMessage().isEmpty());
}

void AccountControllerTest::refreshFailureReportsOnlyWhenAsked() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true);
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    panel.edit([](FakePanelState& state) { state.sessions.clear(); });  // the panel forgot us
    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    account->refresh();
    QVERIFY(changed.wait(kWait));
    QVERIFY(!account->loggedIn());
    QVERIFY(account->email().isEmpty());
    QVERIFY(account->nodeNames().isEmpty());
    QCOMPARE(account->deviceLimit(), 0);
    QVERIFY(account->errorMessage().isEmpty());

    account->refresh(true);
    account->refresh(true);  // dropped: one is already running
    QVERIFY(changed.wait(kWait));
    QVERIFY(!account->errorMessage().isEmpty());
    QVERIFY(!account->loggedIn());
    QTest::qWait(200);
    QCOMPARE(changed.count(), 2);
}

void AccountControllerTest::registrationChecksAndOptions() {
    FakePanel panel;
    panel.edit([](FakePanelState& state) {
        state.switches.emailVerify = true;
        state.switches.inviteForce = true;
    });
    World world;
    auto account = world.panel(panel, false);
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);

    QSignalSpy options(account.get(), &AccountController::registerOptionsChanged);
    account->loadRegisterOptions();
    QVERIFY(options.wait(kWait));
    QVERIFY(account->emailVerifyRequired());
    QVERIFY(account->inviteRequired());
    QVERIFY(!account->recaptchaBlocked());
    QVERIFY(account->errorMessage().isEmpty());

    account->registerAccount(qs("new@example.com"), qs("1234567"), qs("INVITE1"), qs("1"));
    QCOMPARE(account->errorMessage(), qs("密码至少 8 位"));
    QVERIFY(!account->busy());
    account->sendRegisterEmail(qs("  new.example.com "));
    QCOMPARE(account->errorMessage(), qs("请先填写邮箱"));
    QVERIFY(!account->busy());
    QTest::qWait(100);
    QCOMPARE(world.probe->count(account_test::Register), 0);
    QCOMPARE(world.probe->count(account_test::Email), 0);

    // The panel's own refusal passes unchanged.
    account->registerAccount(qs("new@example.com"), qs("12345678"), qs("WRONG"), qs("000000"));
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QVERIFY(!account->errorMessage().isEmpty());
    QVERIFY(account->errorMessage() != qs("注册失败"));
    QVERIFY(!account->loggedIn());

    // A panel that wants a human check: no registration from here.
    panel.edit([](FakePanelState& state) { state.switches.recaptcha = true; });
    account->loadRegisterOptions();
    QVERIFY(options.wait(kWait));
    QVERIFY(account->recaptchaBlocked());
    QCOMPARE(account->errorMessage(), qs("面板开启了人机验证，请到网站注册"));
    account->applyDeviceStatus(true, 0, 0, {});  // clears the text
    account->registerAccount(qs("new@example.com"), qs("12345678"), qs("INVITE1"), qs("1"));
    QCOMPARE(account->errorMessage(), qs("面板开启了人机验证，请到网站注册"));
    QVERIFY(!account->busy());
    QCOMPARE(world.probe->count(account_test::Register), 1);

    // A failed options request changes nothing.
    panel.edit([](FakePanelState& state) { state.switches.configMissing = true; });
    account->loadRegisterOptions();
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->count(account_test::Options), 3, kWait);
    QTest::qWait(200);
    QCOMPARE(options.count(), 2);
    QVERIFY(account->recaptchaBlocked());
}

void AccountControllerTest::registrationWithCodes() {
    FakePanel panel;
    panel.edit([](FakePanelState& state) { state.switches.emailVerify = true; });
    World world;
    auto account = world.panel(panel, false);
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);

    account->sendRegisterEmail(qs("  new@example.com "));
    QVERIFY(account->busy());
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QVERIFY(account->errorMessage().isEmpty());
    const std::string code = panel.emailCode("new@example.com");
    QVERIFY(!code.empty());

    // The password counts as typed: with its leading space it has eight characters.
    account->registerAccount(qs(" new@example.com"), qs(" 1234567"), qs("  "),
                             qs(" %1 ").arg(QString::fromStdString(code)));
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    QCOMPARE(account->email(), qs("new@example.com"));
    QCOMPARE(world.interactive(), QVariant(true));
    QVERIFY(account->errorMessage().isEmpty());
    const bool stored = panel.read<bool>([](const FakePanelState& state) {
        const orvik_test::FakeUser* user = const_cast<FakePanelState&>(state).user("new@example.com");
        return user != nullptr && user->password == " 1234567";
    });
    QVERIFY(stored);
}

void AccountControllerTest::localStoreHasNoRegistration() {
    World world;
    world.dir.write("account.json", account_test::localAccountJson("2099-12-31"));
    auto account = world.local();
    QTRY_VERIFY_WITH_TIMEOUT(!account->restoring(), kWait);
    QSignalSpy options(account.get(), &AccountController::registerOptionsChanged);
    account->loadRegisterOptions();
    QTest::qWait(100);
    QCOMPARE(options.count(), 0);
    QCOMPARE(world.probe->count(account_test::Options), 0);

    account->registerAccount(qs("x@example.com"), qs("12345678"), {}, {});
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QCOMPARE(account->errorMessage(), qs("当前环境不支持注册"));
    account->sendRegisterEmail(qs("x@example.com"));
    QTRY_VERIFY_WITH_TIMEOUT(!account->busy(), kWait);
    QCOMPARE(account->errorMessage(), qs("当前环境不支持发送验证码"));
}

void AccountControllerTest::deviceCheckAndStatus() {
    FakePanel panel;
    panel.edit([](FakePanelState& state) {
        state.user(FakePanel::kEmail)->deviceLimit = 1;
        state.user(FakePanel::kEmail)->devices = {"another-computer"};
    });
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true, world.options(true), panel.deviceApi());

    // Signed out (still restoring): nothing to check, nothing asked.
    int used = 7;
    int limit = 7;
    QString error = qs("old");
    QVERIFY(account->checkDevice(used, limit, error));
    QCOMPARE(used, 0);
    QCOMPARE(limit, 0);
    QVERIFY(error.isEmpty());
    QCOMPARE(world.probe->count(account_test::Claim), 0);

    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);
    // The check runs off the GUI thread, as the connection controller runs it.
    bool ok = true;
    std::unique_ptr<QThread> worker(QThread::create([&] { ok = account->checkDevice(used, limit, error); }));
    worker->start();
    QVERIFY(worker->wait(kWait));
    QVERIFY(!ok);
    QCOMPARE(used, 0);
    QCOMPARE(limit, 0);
    QVERIFY(error.contains(qs("设备数量已达上限")));

    QSignalSpy changed(account.get(), &AccountController::accountChanged);
    account->applyDeviceStatus(ok, used, limit, error);
    QCOMPARE(account->errorMessage(), error);
    account->applyDeviceStatus(false, 0, 0, qs("Device service: LOGIN EXPIRED (401)"));
    QCOMPARE(account->errorMessage(), qs("登录已过期，请退出后重新登录"));
    account->applyDeviceStatus(false, 0, 0, qs("会话登录已过期"));
    QCOMPARE(account->errorMessage(), qs("登录已过期，请退出后重新登录"));
    QCOMPARE(changed.count(), 0);

    panel.edit([](FakePanelState& state) { state.user(FakePanel::kEmail)->deviceLimit = 3; });
    QVERIFY(account->checkDevice(used, limit, error));
    QCOMPARE(used, 2);
    QCOMPARE(limit, 3);
    QVERIFY(error.isEmpty());
    account->applyDeviceStatus(true, used, limit, error);
    QVERIFY(account->errorMessage().isEmpty());
    QCOMPARE(account->usedDevices(), 2);
    QCOMPARE(account->deviceLimit(), 3);
    QCOMPARE(changed.count(), 1);
    account->applyDeviceStatus(true, 0, 0, {});  // zeros keep the known counts
    QCOMPARE(account->usedDevices(), 2);
    QCOMPARE(account->deviceLimit(), 3);
    QCOMPARE(changed.count(), 2);
}

void AccountControllerTest::callsNeverOverlapAndRunInOrder() {
    FakePanel panel;
    World world;
    world.setInteractive(true);
    auto account = world.panel(panel, true, world.options(true), panel.deviceApi());
    QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn(), kWait);

    // Hold a quiet sync inside the control plane, then ask for everything else.
    world.probe->fetchGate.close();
    account->syncNodesQuietly();
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->fetchGate.waiting(), 1, kWait);
    account->loadShop();
    account->loadRegisterOptions();
    int used = 0;
    int limit = 0;
    QString error;
    bool claimed = false;
    std::unique_ptr<QThread> worker(QThread::create([&] { claimed = account->checkDevice(used, limit, error); }));
    worker->start();
    QTest::qWait(200);  // the device check takes its place in line before the sign-out
    account->logout();  // the GUI thread does not wait for the held call
    QVERIFY(!account->loggedIn());
    QTest::qWait(150);
    QCOMPARE(world.probe->count(account_test::Plans), 0);
    QCOMPARE(world.probe->count(account_test::Logout), 0);
    QCOMPARE(world.probe->count(account_test::Claim), 0);

    world.probe->fetchGate.open();
    QVERIFY(worker->wait(kWait));
    QTRY_COMPARE_WITH_TIMEOUT(world.probe->count(account_test::Logout), 1, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!account->shopBusy(), kWait);
    QVERIFY(claimed);  // asked before the sign-out, so still with the session
    QCOMPARE(world.probe->mostInside.load(), 1);
    // The sync answered after the sign-out and does not sign back in.
    QVERIFY(!account->loggedIn());
    QVERIFY(!world.dir.exists("session.json"));
}

QTEST_GUILESS_MAIN(AccountControllerTest)
#include "account_controller_test.moc"
