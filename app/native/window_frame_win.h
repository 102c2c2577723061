#pragma once
// Keeps a frameless window behaving like a native one: the frame styles give it snapping,
// minimising and maximising, while the client area still covers the whole window.

#include <windows.h>

namespace frame {

// Adds caption, system menu, thick frame and the minimise and maximise boxes, and lets the
// window recompute its frame.
void applyNativeFrameStyles(HWND window);

enum class Decision {
    pass,          // the default handling
    clientAreaOnly,  // handled, result 0: the whole window rectangle is client area
    minimize,      // handled, result 0: the caller minimises the window itself
};

// What to do with a message sent to `window` (messages to other windows pass).
Decision decide(HWND window, const MSG& message);

}  // namespace frame
