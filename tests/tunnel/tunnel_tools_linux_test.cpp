// The Linux tool locator: which file is taken, the text for each missing piece, and the
// refusal of programs that users other than root can change.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "service/tunnel/tool_trust.h"
#include "service/tunnel/tunnel_tools_linux.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tunnel;

namespace {

class ToolLocatorLinuxTest : public ::testing::Test {
protected:
    orvik_test::TempDir runtime;
    // A TUN device stand-in that always opens; the real one needs root.
    std::string tunDevice = runtime.file("tun-device");
    std::string xrayDir = runtime.file("xray");
    std::string tun2socksDir = runtime.file("tun2socks");
    std::string config = runtime.file("session.json.xray.json");

    void SetUp() override {
        executable("xray/xray");
        executable("tun2socks/tun2socks-linux-amd64");
        runtime.write("tun-device", "");
        runtime.write("session.json.xray.json", "{}\n");
    }

    void executable(const std::string& relative) {
        runtime.write(relative, "#!/bin/sh\n");
        fs::permissions(runtime.file(relative), fs::perms::owner_all);
    }

    std::string locateError(bool requireTrustedTools = false) {
        auto locator = makeToolLocator(tunDevice, requireTrustedTools);
        TunnelTools tools;
        std::string error;
        EXPECT_FALSE(locator->locate(xrayDir, tun2socksDir, config, tools, error));
        return error;
    }

    TunnelTools locateTools(bool requireTrustedTools = false) {
        auto locator = makeToolLocator(tunDevice, requireTrustedTools);
        TunnelTools tools;
        std::string error;
        EXPECT_TRUE(locator->locate(xrayDir, tun2socksDir, config, tools, error)) << error;
        return tools;
    }
};

TEST_F(ToolLocatorLinuxTest, FindsXrayAndTheTun2socksExecutable) {
    const TunnelTools tools = locateTools();
    EXPECT_EQ(tools.xrayExecutable, xrayDir + "/xray");
    EXPECT_EQ(tools.tun2socksExecutable, tun2socksDir + "/tun2socks-linux-amd64");
}

TEST_F(ToolLocatorLinuxTest, XrayMustBeAnExecutableFile) {
    fs::permissions(runtime.file("xray/xray"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(locateError(), "xray not found");
    fs::remove(runtime.file("xray/xray"));
    EXPECT_EQ(locateError(), "xray not found");
    fs::create_directory(runtime.file("xray/xray"));
    EXPECT_EQ(locateError(), "xray not found");
}

TEST_F(ToolLocatorLinuxTest, Tun2socksMustBeAnExecutableFileNamedTun2socks) {
    fs::remove(runtime.file("tun2socks/tun2socks-linux-amd64"));
    runtime.write("tun2socks/tun2socks.txt", "not a program");
    fs::create_directory(runtime.file("tun2socks/tun2socks-dir"));
    executable("tun2socks/my-tun2socks");
    EXPECT_EQ(locateError(), "tun2socks executable not found");
    fs::remove_all(tun2socksDir);
    EXPECT_EQ(locateError(), "tun2socks executable not found");
}

TEST_F(ToolLocatorLinuxTest, FirstTun2socksByNameIsTaken) {
    executable("tun2socks/tun2socks-b");
    executable("tun2socks/tun2socks");
    runtime.write("tun2socks/tun2socks-0.txt", "skipped: not executable");
    EXPECT_EQ(locateTools().tun2socksExecutable, tun2socksDir + "/tun2socks");
    fs::remove(runtime.file("tun2socks/tun2socks"));
    EXPECT_EQ(locateTools().tun2socksExecutable, tun2socksDir + "/tun2socks-b");
}

TEST_F(ToolLocatorLinuxTest, TunDeviceMustOpenForReadingAndWriting) {
    tunDevice = runtime.file("no-such-device");
    EXPECT_EQ(locateError(), tunDevice + " cannot be opened (TUN support or root missing)");
}

TEST_F(ToolLocatorLinuxTest, ConfigurationMustExistAndIsCheckedLast) {
    fs::remove(config);
    EXPECT_EQ(locateError(), "config not found");
    fs::remove(runtime.file("xray/xray"));
    EXPECT_EQ(locateError(), "xray not found");
}

TEST_F(ToolLocatorLinuxTest, TheSystemTunDeviceIsTheDefault) {
    EXPECT_STREQ(kTunDevice, "/dev/net/tun");
}

// Who may change the program or a folder above it: only root passes. The runtime here is
// root's folder under /tmp (sticky), like an installed one under /opt.
struct TrustCase {
    const char* name;
    std::function<void(const orvik_test::TempDir&)> change;
    const char* refusedPath;  // relative to the runtime ("": itself); nullptr: trusted
};

constexpr uid_t kNobody = 65534;

void chownTo(const std::string& path, uid_t owner) { ASSERT_EQ(::lchown(path.c_str(), owner, 0), 0) << path; }
void chmodTo(const std::string& path, mode_t mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path; }

class ToolTrustLinuxTest : public ToolLocatorLinuxTest, public ::testing::WithParamInterface<TrustCase> {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "owners other than root can be set only by root";
        ToolLocatorLinuxTest::SetUp();
        chmodTo(runtime.path(), 0755);
    }
};

TEST_P(ToolTrustLinuxTest, OnlyRootMayChangeTheProgramsAndTheFoldersAboveThem) {
    const TrustCase& trust = GetParam();
    trust.change(runtime);
    if (trust.refusedPath == nullptr) {
        locateTools(true);
        return;
    }
    const std::string path = *trust.refusedPath ? runtime.file(trust.refusedPath) : runtime.path();
    EXPECT_EQ(locateError(true), path + " can be changed by users other than the administrators");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTrustLinuxTest,
    ::testing::Values(
        TrustCase{"RootsOwn", [](const orvik_test::TempDir&) {}, nullptr},
        TrustCase{"StickyFolderAboveRootsEntries", [](const orvik_test::TempDir& r) { chmodTo(r.path(), 01777); },
                  nullptr},
        TrustCase{"FolderReplacedByAUser", [](const orvik_test::TempDir& r) { chownTo(r.file("xray"), kNobody); },
                  "xray"},
        TrustCase{"ProgramOfAUser", [](const orvik_test::TempDir& r) { chownTo(r.file("xray/xray"), kNobody); },
                  "xray/xray"},
        TrustCase{"GroupWritableProgram",
                  [](const orvik_test::TempDir& r) { chmodTo(r.file("tun2socks/tun2socks-linux-amd64"), 0770); },
                  "tun2socks/tun2socks-linux-amd64"},
        TrustCase{"FolderEveryoneMayWrite", [](const orvik_test::TempDir& r) { chmodTo(r.path(), 0777); }, ""},
        // A root-owned file inside a user's folder is still the user's to replace.
        TrustCase{"StickyFolderOfAUser",
                  [](const orvik_test::TempDir& r) {
                      chmodTo(r.path(), 01777);
                      chownTo(r.path(), kNobody);
                  },
                  ""}),
    [](const ::testing::TestParamInfo<TrustCase>& row) { return row.param.name; });

TEST_F(ToolLocatorLinuxTest, TrustedProgramsAreRunByTheCheckedPathNotThroughALink) {
    if (::geteuid() != 0) GTEST_SKIP() << "owners other than root can be set only by root";
    orvik_test::TempDir elsewhere;
    fs::rename(xrayDir, elsewhere.file("xray"));
    fs::create_directory_symlink(elsewhere.file("xray"), xrayDir);
    EXPECT_EQ(locateTools(true).xrayExecutable, elsewhere.file("xray") + "/xray");
    chownTo(elsewhere.path(), kNobody);
    EXPECT_EQ(locateError(true), elsewhere.path() + " can be changed by users other than the administrators");
}

}  // namespace
