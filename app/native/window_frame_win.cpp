#include "app/native/window_frame_win.h"

namespace frame {

namespace {
// WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX.
constexpr LONG_PTR kNativeFrameStyles = 0x00CF0000;

// The work area of the monitor that holds most of `rect`.
bool workAreaAround(const RECT& rect, RECT& workArea) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &info)) return false;
    workArea = info.rcWork;
    return true;
}
}  // namespace

void applyNativeFrameStyles(HWND window) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, style | kNativeFrameStyles);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

Decision decide(HWND window, const MSG& message) {
    if (message.hwnd != window) return Decision::pass;
    if (message.message == WM_NCCALCSIZE) return Decision::clientArea;
    // The low four bits of a system command are used by the system itself.
    if (message.message == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_MINIMIZE) return Decision::minimize;
    return Decision::pass;
}

LRESULT calculateClientArea(HWND window, WPARAM wParam, LPARAM lParam) {
    // With wParam TRUE the first of three rectangles is the window's new one, else the only one.
    RECT& proposed = wParam ? reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : *reinterpret_cast<RECT*>(lParam);
    RECT workArea{};
    // The default calculation would leave the caption strip of the added styles above the client.
    if (IsZoomed(window) && workAreaAround(proposed, workArea)) IntersectRect(&proposed, &proposed, &workArea);
    return 0;
}

}  // namespace frame
