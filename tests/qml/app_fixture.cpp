#include "tests/qml/app_fixture.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTest>

#include "app/account/account_controller.h"
#include "app/connection/connection_controller.h"
#include "app/preferences/preferences.h"
#include "app/routes/route_list_model.h"
#include "app/shell/account_sync.h"
#include "app/tray/tray_host.h"
#include "app/updates/update_controller.h"
#include "tests/support/fake_panel.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/session_file.h"
#include "tests/support/temp_dir.h"
#include "vpn/local_control_plane.h"
#include "vpn/xboard_control_plane.h"

namespace {

namespace panel = orvik_test::panel;

bool option(const QVariantMap& options, const char* key) { return options.value(QLatin1String(key)).toBool(); }

template <class Range, class Text>
QStringList listOf(const Range& items, Text text) {
    QStringList list;
    for (const auto& item : items) list.append(text(item));
    return list;
}

}  // namespace

// One test's objects and the parts behind them; members go in reverse order of need.
struct AppFixture::World {
    orvik_test::TempDir dir;
    orvik_test::FakePanel panel;
    std::shared_ptr<orvik_test::ServiceScript> service = std::make_shared<orvik_test::ServiceScript>();
    std::string pipe = orvik_test::uniquePipeName(dir.path());
    orvik_test::FakeService stand{pipe, [s = service](const std::string& r) { return s->answer(r); }};
    std::shared_ptr<std::vector<QUrl>> opened = std::make_shared<std::vector<QUrl>>();
    std::unique_ptr<RouteListModel> routes;
    std::unique_ptr<ConnectionController> controller;
    std::unique_ptr<AccountController> account;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<TrayHost> tray;
    std::unique_ptr<UpdateController> updater;

    ~World() {
        updater.reset();
        tray.reset();
        preferences.reset();
        if (controller) controller->setAccount(nullptr);
        account.reset();
        controller.reset();
        routes.reset();
    }
};

AppFixture::AppFixture() = default;
AppFixture::~AppFixture() = default;

void AppFixture::release() {
    world_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QVariantMap AppFixture::objects(const QVariantMap& options) {
    world_.reset();  // the previous test's windows are gone by now
    world_ = std::make_unique<World>();
    World& w = *world_;
    const int port = w.panel.port();  // something answers there, so the nodes measure as available
    std::vector<std::string> nodes{panel::vlessLink("日本·东京", "127.0.0.1", port),
                                   panel::vlessLink("新加坡·新加坡", "127.0.0.1", 9),  // nothing listens
                                   panel::vlessLink("美国·洛杉矶", "127.0.0.1", port)};
    for (int n = 4; n <= options.value(QStringLiteral("routes")).toInt(); ++n)
        nodes.push_back(panel::vlessLink("德国·城市" + std::to_string(n), "127.0.0.1", port));
    w.panel.on("GET", panel::kSubscription, panel::subscription(nodes));
    w.panel.on("GET", panel::kGuestConfig,
               panel::success(panel::guestConfig(option(options, "emailVerify"), option(options, "invite"),
                                                 option(options, "recaptcha"))));
    w.panel.on("GET", "/orvik/latest.json",
               panel::plain(200, {{"version", option(options, "update") ? "9.0.0" : "0.0.1"}, {"url", "https://velora.example/download"}}));
    if (!w.stand.start()) return {};

    const QString settings = QString::fromStdString(w.dir.file("settings.ini"));
    AccountController::Options accountOptions{.remotePanel = option(options, "panel"),
                                              .settingsFile = settings,
                                              .openUrl = [pages = w.opened](const QUrl& url) { return pages->push_back(url), true; }};
    std::unique_ptr<vpn::ControlPlane> plane;
    if (accountOptions.remotePanel) {
        plane = std::make_unique<vpn::XboardControlPlane>(w.panel.apiBase(), w.dir.file("session.json"), w.panel.deviceApi());
    } else {
        w.dir.write("account.json", orvik_test::LocalAccount{.address = "127.0.0.1", .port = port, .name = "日本·东京",
                                                             .email = "demo@velora.local", .password = "velora"}.json());
        plane = std::make_unique<vpn::LocalControlPlane>(w.dir.file("account.json"), w.dir.file("session.json"));
    }

    w.routes = std::make_unique<RouteListModel>();
    w.controller = std::make_unique<ConnectionController>(
        engine::EngineClientOptions{w.pipe, nullptr, std::make_shared<orvik_test::NoLauncher>(), nullptr, w.dir.path(), w.dir.path()});
    w.account = std::make_unique<AccountController>(std::move(plane), accountOptions);
    w.controller->setAccount(w.account.get());
    w.preferences = std::make_unique<Preferences>(std::make_unique<QSettings>(settings, QSettings::IniFormat),
                                                  SystemAppearance{[] { return false; }, [] { return false; }});
    w.tray = std::make_unique<TrayHost>(w.controller.get(), TrayHost::Options{false, 8000, 1200, [] {}});
    const QUrl manifest(QString::fromStdString(w.panel.origin() + "/orvik/latest.json"));
    w.updater = std::make_unique<UpdateController>(UpdateControllerOptions{
        QString::fromStdString(w.dir.path()), manifest, QUrl(QStringLiteral("https://velora.example/")), 5000,
        [pages = w.opened](const QUrl& url) { return pages->push_back(url), true; }});
    followAccount(*w.account, *w.controller, *w.routes);
    followPreferences(*w.preferences, *w.controller);

    if (option(options, "signedIn")) {
        const bool remote = accountOptions.remotePanel;
        w.account->login(QString::fromLatin1(remote ? orvik_test::FakePanel::kEmail : "demo@velora.local"),
                         QString::fromLatin1(remote ? orvik_test::FakePanel::kPassword : "velora"));
        if (!QTest::qWaitFor([&w] { return w.account->loggedIn() && !w.account->busy(); }, 10000)) return {};
    }
    return {{QStringLiteral("controller"), QVariant::fromValue<QObject*>(w.controller.get())},
            {QStringLiteral("account"), QVariant::fromValue<QObject*>(w.account.get())},
            {QStringLiteral("routeModel"), QVariant::fromValue<QObject*>(w.routes.get())},
            {QStringLiteral("preferences"), QVariant::fromValue<QObject*>(w.preferences.get())},
            {QStringLiteral("tray"), QVariant::fromValue<QObject*>(w.tray.get())},
            {QStringLiteral("updater"), QVariant::fromValue<QObject*>(w.updater.get())}};
}

void AppFixture::panelReply(const QString& method, const QString& path, int status, const QString& body) {
    if (!world_) return;
    world_->panel.on(method.toStdString(), path.toStdString(),
                     orvik_test::HttpReply{status, body.toStdString(), {{"Content-Type", "application/json"}}});
}

QStringList AppFixture::panelBodies(const QString& path) const {
    const auto body = [](const orvik_test::HttpRequestRecord& r) { return QString::fromStdString(r.body); };
    return world_ ? listOf(world_->panel.requestsTo(path.toStdString()), body) : QStringList();
}

void AppFixture::serviceAnswers(int delayMs, const QString& error) {
    if (world_) world_->service->set({error.isEmpty() ? orvik_test::ok(delayMs) : orvik_test::fail(error.toStdString(), delayMs)});
}

QStringList AppFixture::openedPages() const {
    return world_ ? listOf(*world_->opened, [](const QUrl& url) { return url.toString(); }) : QStringList();
}
