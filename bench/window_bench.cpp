// The main window's cost: time to create it with its six objects and draw the first frame,
// resident memory after it, and frames drawn over a quiet spell of a signed-in idle window
// (there must be none).
//
//   build/linux/bench/window_bench [quiet-seconds]   (default 5; offscreen unless
//                                                     QT_QPA_PLATFORM says otherwise)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <memory>

#include "app/account/account_controller.h"
#include "app/connection/connection_controller.h"
#include "app/preferences/preferences.h"
#include "app/routes/route_list_model.h"
#include "app/shell/account_sync.h"
#include "app/shell/window_properties.h"
#include "app/tray/tray_host.h"
#include "app/updates/update_controller.h"
#include "vpn/local_control_plane.h"

Q_IMPORT_QML_PLUGIN(Orvik_StylePlugin)
Q_IMPORT_QML_PLUGIN(Orvik_TesselPlugin)

namespace {

void wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

long residentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir dir;
  qputenv("ORVIK_PIPE", dir.filePath(QStringLiteral("no-service.sock")).toUtf8());  // never a real service
  QApplication app(argc, argv);
  QQuickStyle::setStyle(QStringLiteral("Basic"));
  const int quietMs = (argc > 1 ? std::atoi(argv[1]) : 5) * 1000;

  QFile account(dir.filePath(QStringLiteral("account.json")));
  if (!account.open(QIODevice::WriteOnly)) return 1;
  account.write(R"({"email":"demo@velora.local","password":"velora","expireAt":"2099-12-31","deviceLimit":3,)"
                R"("nodeName":"日本·东京","address":"127.0.0.1","port":9,)"
                R"("uuid":"b831381d-6324-4d53-ad4f-8cda48b30811","publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw"})");
  account.close();
  const QString settings = dir.filePath(QStringLiteral("settings.ini"));

  QElapsedTimer clock;
  clock.start();
  RouteListModel routes;
  ConnectionController controller;
  AccountController accountController(
      std::make_unique<vpn::LocalControlPlane>(account.fileName().toStdString(),
                                               dir.filePath(QStringLiteral("session.json")).toStdString()),
      AccountController::Options{.remotePanel = false, .settingsFile = settings, .openUrl = {}});
  controller.setAccount(&accountController);
  Preferences preferences(std::make_unique<QSettings>(settings, QSettings::IniFormat), desktopAppearance());
  TrayHost tray(&controller, TrayHost::Options{false, 8000, 1200, {}});
  UpdateController updater(UpdateControllerOptions{dir.path(), QUrl(QStringLiteral("http://127.0.0.1:9/latest.json")),
                                                   QUrl(QStringLiteral("https://velora.example/")), 1000, {}});
  followAccount(accountController, controller, routes);

  QQmlApplicationEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  engine.setInitialProperties(windowProperties(routes, controller, accountController, preferences, tray, updater));
  engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Orvik/Tessel/Main.qml")));
  auto* window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
  if (!window) return 1;
  int frames = 0;
  QObject::connect(window, &QQuickWindow::afterRendering, [&frames] { ++frames; });
  while (frames == 0 && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  const qint64 firstFrameMs = clock.elapsed();
  const long rss = residentKiB();

  accountController.login(QStringLiteral("demo@velora.local"), QStringLiteral("velora"));
  for (int i = 0; i < 100 && !accountController.loggedIn(); ++i) wait(50);
  wait(3000);  // the login overlay closes and the surface fades in
  frames = 0;
  wait(quietMs);
  std::printf("window created and first frame drawn: %lld ms\n", static_cast<long long>(firstFrameMs));
  std::printf("resident memory after the first frame: %ld KiB\n", rss);
  std::printf("signed in: %s; frames over %d s idle: %d\n", accountController.loggedIn() ? "yes" : "no",
              quietMs / 1000, frames);
  return frames == 0 && accountController.loggedIn() ? 0 : 1;
}
