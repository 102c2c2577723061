// Linked into the Windows Qt and QML tests: they run offscreen with the software renderer, as on
// Linux. Wine hands no QT_* variable to a Windows program, so they are set here, before main()
// makes the application that reads them.
#include <QtGlobal>

namespace {

[[maybe_unused]] const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen") && qputenv("QT_QUICK_BACKEND", "software");

}  // namespace
