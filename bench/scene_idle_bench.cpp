// Frames drawn and CPU time spent by the scene and the header while nothing changes.
// For each visual state: the state is set, the transitions run out (settle time), then
// frames and process CPU time are counted over a quiet window. A settled state must draw
// no frames at all.
//
//   build/linux/bench/scene_idle_bench [quiet-seconds]   (default 5; offscreen unless
//                                                         QT_QPA_PLATFORM says otherwise)
#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <ctime>
#include <memory>

Q_IMPORT_QML_PLUGIN(Orvik_StylePlugin)
Q_IMPORT_QML_PLUGIN(Orvik_TesselPlugin)

namespace {

const char kScene[] = R"(
import QtQuick
import Orvik.Style
import Orvik.Tessel
Window {
    id: window
    property string state: "off"
    property int serial: 0
    width: 680; height: 420; visible: true; color: Theme.background
    MinimalHeader {
        width: window.width; hostWindow: window
        visualState: window.state; connectionAttemptSerial: window.serial
        remainingLabel: "剩余 30 天"; remainingDays: 30
    }
    TesselScene {
        y: 70; width: 430; height: 330; anchors.horizontalCenter: parent.horizontalCenter
        visualState: window.state; stageIndex: 1; connectionAttemptSerial: window.serial
    }
}
)";

double cpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

void wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const int quietMs = (argc > 1 ? std::atoi(argv[1]) : 5) * 1000;
  const int settleMs = 3000;  // longer than the cone scan (1.35 s) and the glyph sweep (2.25 s)

  QQmlEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  QQmlComponent component(&engine);
  component.setData(kScene, QUrl());
  std::unique_ptr<QObject> root(component.create());
  auto* window = qobject_cast<QQuickWindow*>(root.get());
  if (!window) {
    std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
    return 1;
  }
  int frames = 0;
  QObject::connect(window, &QQuickWindow::afterRendering, [&frames] { ++frames; });
  wait(500);

  std::printf("%-14s %14s %14s %16s %14s\n", "state", "settle frames", "settle cpu ms", "quiet frames/5s",
              "quiet cpu ms");
  int failures = 0;
  for (const char* state : {"off", "igniting", "lit", "extinguishing", "fault", "off"}) {
    frames = 0;
    double cpu = cpuSeconds();
    window->setProperty("state", QString::fromLatin1(state));
    if (QByteArray(state) == "igniting") window->setProperty("serial", window->property("serial").toInt() + 1);
    wait(settleMs);
    const int settleFrames = frames;
    const double settleCpu = cpuSeconds() - cpu;
    frames = 0;
    cpu = cpuSeconds();
    wait(quietMs);
    std::printf("%-14s %14d %14.1f %16d %14.1f\n", state, settleFrames, settleCpu * 1000,
                frames * 5000 / quietMs, (cpuSeconds() - cpu) * 1000);
    if (frames != 0) ++failures;
  }
  if (failures) std::printf("FAIL: %d settled state(s) kept drawing\n", failures);
  return failures ? 1 : 0;
}
