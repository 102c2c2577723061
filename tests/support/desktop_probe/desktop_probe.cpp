// What the app tests and scripts/run ask of an X display from outside the client:
//   desktop_probe shot FILE [WINDOW]   writes a PNG of the window (decimal or 0x id; root when none)
//   desktop_probe tray                 exits 0 when the display shows tray icons
// It asks through Qt, as the client does, so "tray" answers exactly what the client will see.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>

#include <cstdio>

namespace {

int usage() {
    std::fputs("usage: desktop_probe shot FILE [WINDOW] | desktop_probe tray\n", stderr);
    return 2;
}

int shot(const QString& file, const QString& window) {
    bool ok = true;
    const WId id = window.isEmpty() ? 0 : window.toULongLong(&ok, 0);
    if (!ok) return usage();
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(id);
    if (picture.isNull() || !picture.save(file, "PNG")) {
        std::fprintf(stderr, "desktop_probe: cannot grab window %s into %s\n", qPrintable(window), qPrintable(file));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");  // the display itself, whatever the caller's environment says
    QApplication app(argc, argv);
    const QStringList words = QCoreApplication::arguments().mid(1);
    if (words.value(0) == QLatin1String("tray") && words.size() == 1)
        return QSystemTrayIcon::isSystemTrayAvailable() ? 0 : 1;
    if (words.value(0) == QLatin1String("shot") && (words.size() == 2 || words.size() == 3))
        return shot(words.at(1), words.value(2));
    return usage();
}
