// Windows: a native menu built at each opening, and the frameless window given the native
// frame styles so that it keeps snapping, minimising and maximising.
#include <windows.h>

#include <QWindow>

#include "app/native/tray_menu_win.h"
#include "app/native/window_frame_win.h"
#include "app/tray/tray_host.h"

namespace {

HWND handleOf(QWindow* window) { return window ? reinterpret_cast<HWND>(window->winId()) : nullptr; }

}  // namespace

void TrayHost::createMenu() {}

void TrayHost::updateMenu() {}

void TrayHost::openMenu() {
    const HWND owner = handleOf(window_);
    if (!owner) return;
    choose(tray::trackPopupMenu(owner, tray::menuItems(status_, quitting_)));
}

void TrayHost::adoptWindowFrame() {
    frame::applyNativeFrameStyles(handleOf(window_));
    // Showing or restoring the window resets its style; the frame is given again each time.
    disconnect(window_, &QWindow::visibilityChanged, this, nullptr);
    connect(window_, &QWindow::visibilityChanged, this, [this](QWindow::Visibility visibility) {
        if (visibility == QWindow::Windowed || visibility == QWindow::Maximized)
            frame::applyNativeFrameStyles(handleOf(window_));
    });
}

bool TrayHost::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) {
    if (!window_ || (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG")) return false;
    const MSG& msg = *static_cast<MSG*>(message);
    switch (frame::decide(handleOf(window_), msg)) {
    case frame::Decision::clientArea:
        *result = frame::calculateClientArea(msg.hwnd, msg.wParam, msg.lParam);
        return true;
    case frame::Decision::minimize:
        window_->showMinimized();
        *result = 0;
        return true;
    case frame::Decision::pass:
        break;
    }
    return false;
}
