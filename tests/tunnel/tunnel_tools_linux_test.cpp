// The Linux tool locator: which file is taken, the text for each missing piece, and programs
// that users other than root can change refused.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

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

    TunnelTools found;
    // The locator's error, "" when it found both tools (then in `found`).
    std::string locate(bool trusted = false) {
        std::string error;
        const bool ok = makeToolLocator(tunDevice, trusted)->locate(xrayDir, tun2socksDir, config, found, error);
        EXPECT_EQ(ok, error.empty()) << error;
        return error;
    }
};

// Which files are taken, then each missing piece in the order checked.
TEST_F(ToolLocatorLinuxTest, FindsTheToolsOrNamesTheMissingPiece) {
    ASSERT_EQ(locate(), "");
    EXPECT_EQ(found.xrayExecutable, xrayDir + "/xray");
    EXPECT_EQ(found.tun2socksExecutable, tun2socksDir + "/tun2socks-linux-amd64");
    for (const char* other : {"tun2socks/tun2socks-b", "tun2socks/tun2socks"}) executable(other);
    runtime.write("tun2socks/tun2socks-0.txt", "skipped: not executable");
    ASSERT_EQ(locate(), "");
    EXPECT_EQ(found.tun2socksExecutable, tun2socksDir + "/tun2socks");
    for (const char* other : {"tun2socks/tun2socks-b", "tun2socks/tun2socks"}) fs::remove(runtime.file(other));
    fs::remove(config);
    EXPECT_EQ(locate(), "config not found");
    tunDevice = runtime.file("no-such-device");
    EXPECT_EQ(locate(), tunDevice + " cannot be opened (TUN support or root missing)");
    fs::remove(runtime.file("tun2socks/tun2socks-linux-amd64"));
    runtime.write("tun2socks/tun2socks.txt", "not a program");
    fs::create_directory(runtime.file("tun2socks/tun2socks-dir"));
    executable("tun2socks/my-tun2socks");
    EXPECT_EQ(locate(), "tun2socks executable not found");
    fs::permissions(runtime.file("xray/xray"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(locate(), "xray not found") << "not executable";
    fs::remove(runtime.file("xray/xray"));
    fs::create_directory(runtime.file("xray/xray"));
    EXPECT_EQ(locate(), "xray not found") << "a directory";
}

constexpr uid_t kNobody = 65534;
const std::string kUntrusted = " can be changed by users other than the administrators";

// Who may change a program or a folder above it: only root passes; and what runs is the checked
// file, not a link to it. The runtime is root's folder under /tmp (sticky), like one under /opt.
TEST_F(ToolLocatorLinuxTest, OnlyRootMayChangeTheProgramsAndTheFoldersAboveThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "owners other than root can be set only by root";
    // Path relative to the runtime ("": itself), mode (put back to 0755 or 0700 after the row),
    // owner, trusted.
    const std::tuple<const char*, mode_t, uid_t, bool> rows[] = {
        {"", 0755, 0, true},
        {"", 01777, 0, true},  // sticky: others may add entries but not replace root's
        {"xray", 0755, kNobody, false},
        {"xray/xray", 0700, kNobody, false},
        {"tun2socks/tun2socks-linux-amd64", 0770, 0, false},
        {"", 0777, 0, false},
        {"", 01777, kNobody, false},  // a root-owned file in a user's folder is still the user's to replace
    };
    for (const auto& [relative, mode, owner, trusted] : rows) {
        const std::string path = *relative ? runtime.file(relative) : runtime.path();
        ASSERT_EQ(::chmod(path.c_str(), mode) | ::lchown(path.c_str(), owner, 0), 0);
        EXPECT_EQ(locate(true), trusted ? "" : path + kUntrusted) << path << " mode " << std::oct << mode;
        ASSERT_EQ(::chmod(path.c_str(), fs::is_directory(path) ? 0755 : 0700) | ::lchown(path.c_str(), 0, 0), 0);
    }
    orvik_test::TempDir elsewhere;
    fs::rename(xrayDir, elsewhere.file("xray"));
    fs::create_directory_symlink(elsewhere.file("xray"), xrayDir);
    ASSERT_EQ(locate(true), "");
    EXPECT_EQ(found.xrayExecutable, elsewhere.file("xray") + "/xray");
    ASSERT_EQ(::lchown(elsewhere.path().c_str(), kNobody, 0), 0);
    EXPECT_EQ(locate(true), elsewhere.path() + kUntrusted);
}

}  // namespace
