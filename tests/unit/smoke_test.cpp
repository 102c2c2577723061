#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

TEST(Smoke, TempDirRoundTrip) {
    orvik_test::TempDir dir;
    dir.write("a/b.txt", "x");
    EXPECT_EQ(dir.read("a/b.txt"), "x");
}
