#include "app/native/window_frame_win.h"

namespace frame {

namespace {
// WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX.
constexpr LONG_PTR kNativeFrameStyles = 0x00CF0000;
}  // namespace

void applyNativeFrameStyles(HWND window) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, style | kNativeFrameStyles);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

Decision decide(HWND window, const MSG& message) {
    if (message.hwnd != window) return Decision::pass;
    // A maximised window keeps the default frame so that it does not spill past the monitor.
    if (message.message == WM_NCCALCSIZE && !IsZoomed(window)) return Decision::clientAreaOnly;
    // The low four bits of a system command are used by the system itself.
    if (message.message == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_MINIMIZE) return Decision::minimize;
    return Decision::pass;
}

}  // namespace frame
