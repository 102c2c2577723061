#pragma once
// Keeps a frameless window behaving like a native one: the frame styles give it snapping,
// minimising and maximising, while the client area still covers the whole window.

#include <windows.h>

namespace frame {

// Adds caption, system menu, thick frame and the minimise and maximise boxes, and lets the
// window recompute its frame.
void applyNativeFrameStyles(HWND window);

enum class Decision {
    pass,        // the default handling
    clientArea,  // handled by calculateClientArea
    minimize,    // handled, result 0: the caller minimises the window itself
};

// What to do with a message sent to `window` (messages to other windows pass).
Decision decide(HWND window, const MSG& message);

// Answers WM_NCCALCSIZE (its wParam and lParam) so that the added frame styles draw nothing: the
// client area is the whole window, or, while maximised, the part of it on the monitor's work
// area (the system lets a maximised window overhang the monitor by its frame). Returns the
// message's result.
LRESULT calculateClientArea(HWND window, WPARAM wParam, LPARAM lParam);

}  // namespace frame
