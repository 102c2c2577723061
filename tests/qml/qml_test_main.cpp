// Runs the tst_*.qml files against the statically linked QML modules: the same modules the
// program links, resolved from the program's resources, never from the disk.
#include <QtQuickTest/quicktest.h>

#include <QApplication>
#include <QDir>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QStyleHints>
#include <QtQml/qqmlextensionplugin.h>

#include "tests/qml/app_fixture.h"

Q_IMPORT_QML_PLUGIN(Orvik_StylePlugin)
Q_IMPORT_QML_PLUGIN(Orvik_TesselPlugin)

class QmlTestSetup : public QObject {
  Q_OBJECT

 public slots:
  void applicationAvailable() {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QGuiApplication::styleHints()->setCursorFlashTime(0);  // pictures wait to settle; a blinking caret never does
  }

  void cleanupTestCase() { app_.release(); }

  void qmlEngineAvailable(QQmlEngine* engine) {
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    // Where the picture tests write what a person looks at.
    QString shots = qEnvironmentVariable("ORVIK_SHOTS_DIR", QStringLiteral(ORVIK_SHOTS_DIR));
    QDir().mkpath(shots);
    engine->rootContext()->setContextProperty(QStringLiteral("shotsDirectory"), shots);
    engine->rootContext()->setContextProperty(QStringLiteral("app"), &app_);
  }

 private:
  AppFixture app_;
};

// A widgets application, like the program's: the tray's menu is a widget.
int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QmlTestSetup setup;
  return quick_test_main_with_setup(argc, argv, "orvik_qml", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "qml_test_main.moc"
