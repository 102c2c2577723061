// The client-area animation switch of Windows read as reduced motion. The switch is changed
// for this session only (never written to the user profile) and put back afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/native/reduced_motion.h"

namespace {

// The value travels in pvParam itself for this setting.
bool setClientAreaAnimation(BOOL enabled) {
    return SystemParametersInfoW(SPI_SETCLIENTAREAANIMATION, 0, reinterpret_cast<PVOID>(static_cast<UINT_PTR>(enabled)),
                                 0) != FALSE;
}

TEST(ReducedMotionWin, FollowsClientAreaAnimation) {
    BOOL original = TRUE;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &original, 0));
    EXPECT_EQ(desktop::systemReducedMotion(), original == FALSE);
    if (!setClientAreaAnimation(FALSE)) GTEST_SKIP() << "this system does not let the switch be changed";
    const bool reducedWhenOff = desktop::systemReducedMotion();
    setClientAreaAnimation(TRUE);
    const bool reducedWhenOn = desktop::systemReducedMotion();
    setClientAreaAnimation(original);
    EXPECT_TRUE(reducedWhenOff && !reducedWhenOn);
}

}  // namespace
