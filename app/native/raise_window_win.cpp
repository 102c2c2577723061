#include "app/native/raise_window.h"

#include <windows.h>

#include "vpn/text_win.h"

namespace desktop {

bool raiseWindowTitled(const std::string& title) {
    // FindWindowW with no class name: any top-level window with exactly this title.
    HWND window = FindWindowW(nullptr, vpn::widen(title).c_str());
    if (!window) return false;
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    return true;
}

}  // namespace desktop
