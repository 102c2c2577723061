// Linked into the Windows Qt and QML tests: they run offscreen with the software renderer and the
// Linux tests' fonts, as on Linux. Wine hands no QT_* variable to a Windows program, so they are
// set here, before main() makes the application that reads them.
#include <QByteArray>
#include <QtGlobal>

namespace {

[[maybe_unused]] const bool offscreen = qputenv("QT_QPA_PLATFORM", QByteArray("offscreen")) &&
                                           qputenv("QT_QUICK_BACKEND", QByteArray("software")) &&
                                           qputenv("QT_QPA_FONTDIR", QByteArray(ORVIK_TEST_FONTS));

}  // namespace
