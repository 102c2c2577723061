#pragma once
// Console mode's handler of console control events, callable directly (Windows only): a
// console cannot be closed on request, so tests call the handler as the system would.

namespace service {

// Windows ends the process about 5 s after a close, log-off or shut-down event reaches the
// handler, or at once when the handler returns.
inline constexpr int kConsoleCloseWaitMs = 4000;

// What console mode does with console control event `type` (CTRL_*_EVENT) while it runs:
// Ctrl+C and Ctrl+Break ask the service to stop; closing the console, log-off and shut-down
// also stop the tunnel, and return only once it is stopped (or after kConsoleCloseWaitMs).
// False for other events and when console mode is not running.
bool handleConsoleControl(unsigned long type);

}  // namespace service
