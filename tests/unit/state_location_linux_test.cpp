// The client's session file on Linux, written as an unprivileged user would: in a folder of
// that user's own below the root-owned runtime directory, never into one somebody else made.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "vpn/state_location.h"

namespace {

constexpr uid_t kNobody = 65534;

// What stands at state/65534 before nobody signs in.
enum class Planted { nothing, anotherUsersFolder, link };

class SessionFolder : public ::testing::TestWithParam<Planted> {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
        vpn::createStateFolder(runtime.path());  // what the service does at start
    }

    // vpn::writeSessionFile from a child process running as nobody.
    bool writeAsNobody() const {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
            ::_exit(vpn::writeSessionFile(vpn::sessionFilePath(runtime.path()), "token\n") ? 0 : 1);
        }
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    struct stat statOf(const std::string& relative) const {
        struct stat info {};
        EXPECT_EQ(::lstat(runtime.file(relative).c_str(), &info), 0) << relative;
        return info;
    }

    orvik_test::TempDir runtime;
};

TEST_P(SessionFolder, TheSessionGoesOnlyIntoTheUsersOwnFolder) {
    const std::string folder = runtime.file("state/65534");
    if (GetParam() == Planted::anotherUsersFolder) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);  // open to nobody, not theirs
    } else if (GetParam() == Planted::link) {
        runtime.write("elsewhere/keep", "");
        ASSERT_EQ(::chmod(runtime.file("elsewhere").c_str(), 0777), 0);
        ASSERT_EQ(::symlink(runtime.file("elsewhere").c_str(), folder.c_str()), 0);
    }
    const bool written = GetParam() == Planted::nothing;
    EXPECT_EQ(writeAsNobody(), written);
    EXPECT_EQ(runtime.exists("state/65534/session.json"), written);
    EXPECT_EQ(runtime.read("elsewhere/session.json"), "");
    if (!written) return;
    EXPECT_EQ(statOf("state/65534").st_uid, kNobody);
    EXPECT_EQ(statOf("state/65534").st_mode & 07777, 0700u);
    EXPECT_EQ(statOf("state/65534/session.json").st_uid, kNobody);
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionFolder,
                         ::testing::Values(Planted::nothing, Planted::anotherUsersFolder, Planted::link));

// Every user may add a folder, none may rename another's.
TEST(StateFolder, IsRootsAndStickyButOpenForAdding) {
    if (::geteuid() != 0) GTEST_SKIP() << "the service makes it as root";
    orvik_test::TempDir runtime;
    vpn::createStateFolder(runtime.path());
    struct stat info {};
    ASSERT_EQ(::stat(runtime.file("state").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 01733u);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(vpn::sessionFilePath("/opt/orvik/runtime"), "/opt/orvik/runtime/state/0/session.json");
}

}  // namespace
