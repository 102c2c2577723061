#pragma once
// Whether the desktop asks applications to keep motion to a minimum.

namespace desktop {

// True when the operating system has switched animations off: on Windows the client-area
// animations setting, on Linux the desktop's animation setting where one can be read.
// Anything that cannot be read counts as animations on (false).
bool systemReducedMotion();

}  // namespace desktop
