#include "app/native/reduced_motion.h"

#include <windows.h>

namespace desktop {

bool systemReducedMotion() {
    // SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION): a failing call counts as animations on.
    BOOL enabled = TRUE;
    if (!SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &enabled, 0)) return false;
    return enabled == FALSE;
}

}  // namespace desktop
