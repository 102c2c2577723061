// The desktop's animation switch read through a stand-in gsettings found on PATH: animations
// off is reduced motion; no program, a failure, any other answer or none in time is not.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/native/reduced_motion.h"

namespace {

struct Case {
    const char* script;  // the stand-in's text; nullptr: there is none
    mode_t mode;
    bool reduced;
};

TEST(ReducedMotion, FollowsTheDesktopsAnimationSwitch) {
    const Case cases[] = {
        // Answers only when asked for the key, with the arguments one by one.
        {"#!/bin/sh\n[ \"$#:$1:$2:$3\" = 3:get:org.gnome.desktop.interface:enable-animations ] && echo false\n", 0755,
         true},
        {"#!/bin/sh\necho true\n", 0755, false},
        {"#!/bin/sh\necho false; exit 1\n", 0755, false},
        {"#!/bin/sh\necho \"'false'\"\n", 0755, false},
        {"#!/bin/sh\n/bin/head -c 100000 /dev/zero\n", 0755, false},  // read up to a bound only
        {"#!/bin/sh\necho false\n", 0644, false},                      // not executable
        {"#!/nonexistent/sh\necho false\n", 0755, false},              // cannot be started
        {"#!/bin/sh\nexec /bin/sleep 600\n", 0755, false},             // killed at the deadline, else hangs
        {nullptr, 0, false},
    };
    char dir[] = "/tmp/orvik-gsettings-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string script = std::string(dir) + "/gsettings";
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", dir, 1);
    for (const Case& c : cases) {
        std::filesystem::remove(script);
        if (c.script) std::ofstream(script) << c.script;
        ::chmod(script.c_str(), c.mode);
        EXPECT_EQ(desktop::systemReducedMotion(), c.reduced) << (c.script ? c.script : "no gsettings");
    }
    ::setenv("PATH", oldPath.c_str(), 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
