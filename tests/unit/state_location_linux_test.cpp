// The client's session file on Linux, written as an unprivileged user would: in a folder of
// that user's own below the root-owned runtime directory, never into one somebody else made.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "vpn/state_location.h"

namespace {

constexpr uid_t kNobody = 65534;

struct FolderCase {
    const char* name;
    std::function<void(const orvik_test::TempDir&)> plant;  // before nobody signs in
    bool written;
};

class SessionFolder : public ::testing::TestWithParam<FolderCase> {
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
    GetParam().plant(runtime);
    EXPECT_EQ(writeAsNobody(), GetParam().written);
    EXPECT_EQ(runtime.exists("state/65534/session.json"), GetParam().written);
    EXPECT_EQ(runtime.read("elsewhere/session.json"), "");
    if (!GetParam().written) return;
    const struct stat folder = statOf("state/65534");
    EXPECT_EQ(folder.st_uid, kNobody);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(statOf("state/65534/session.json").st_uid, kNobody);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionFolder,
    ::testing::Values(
        FolderCase{"MadeWhenMissing", [](const orvik_test::TempDir&) {}, true},
        FolderCase{"AnotherUsersFolderUnderTheId",
                   [](const orvik_test::TempDir& r) {
                       ASSERT_EQ(::mkdir(r.file("state/65534").c_str(), 0700), 0);
                       ASSERT_EQ(::chmod(r.file("state/65534").c_str(), 0777), 0);  // open to nobody, not theirs
                   },
                   false},
        FolderCase{"ALinkUnderTheId",
                   [](const orvik_test::TempDir& r) {
                       r.write("elsewhere/keep", "");
                       ASSERT_EQ(::chmod(r.file("elsewhere").c_str(), 0777), 0);
                       ASSERT_EQ(::symlink(r.file("elsewhere").c_str(), r.file("state/65534").c_str()), 0);
                   },
                   false}),
    [](const ::testing::TestParamInfo<FolderCase>& row) { return row.param.name; });

TEST(StateFolder, EveryUserMayAddAFolderButNoneMayRenameAnothers) {
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
