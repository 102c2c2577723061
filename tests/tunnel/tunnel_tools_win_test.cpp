// The Windows tool locator: which file is taken, the text for each missing piece, and tools
// that users could replace.
#include <gtest/gtest.h>

#include <filesystem>

#include "service/tunnel/tunnel_tools.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

namespace fs = std::filesystem;
using namespace tunnel;

namespace {

class ToolLocatorWinTest : public ::testing::Test {
protected:
    orvik_test::TempDir runtime;
    std::string xrayDir = runtime.path() + "\\xray";
    std::string tun2socksDir = runtime.path() + "\\tun2socks";
    std::string config = runtime.path() + "\\session.json.xray.json";

    void SetUp() override {
        runtime.write("xray/xray.exe", "MZ");
        runtime.write("tun2socks/tun2socks-windows-amd64.exe", "MZ");
        runtime.write("tun2socks/wintun.dll", "MZ");
        runtime.write("session.json.xray.json", "{}\n");
    }

    std::string locate(TunnelTools& tools) {
        auto locator = makeToolLocator(false);
        std::string error;
        const bool found = locator->locate(xrayDir, tun2socksDir, config, tools, error);
        EXPECT_EQ(found, error.empty()) << error;
        return error;
    }

    std::string locateError() {
        TunnelTools tools;
        return locate(tools);
    }
};

TEST_F(ToolLocatorWinTest, FindsXrayAndTheTun2socksExecutable) {
    TunnelTools tools;
    ASSERT_EQ(locate(tools), "");
    EXPECT_EQ(tools.xrayExecutable, xrayDir + "\\xray.exe");
    EXPECT_EQ(tools.tun2socksExecutable, tun2socksDir + "\\tun2socks-windows-amd64.exe");
}

TEST_F(ToolLocatorWinTest, EachMissingPieceHasItsTextInTheOrderChecked) {
    fs::remove(runtime.file("session.json.xray.json"));
    EXPECT_EQ(locateError(), "config not found");
    fs::remove(runtime.file("tun2socks/wintun.dll"));
    EXPECT_EQ(locateError(), "wintun.dll not found next to tun2socks");
    fs::remove(runtime.file("tun2socks/tun2socks-windows-amd64.exe"));
    runtime.write("tun2socks/tun2socks.txt", "not a program");
    runtime.write("tun2socks/my-tun2socks.exe", "MZ");
    EXPECT_EQ(locateError(), "tun2socks exe not found");
    fs::remove(runtime.file("xray/xray.exe"));
    EXPECT_EQ(locateError(), "xray.exe not found");
}

TEST_F(ToolLocatorWinTest, OneOfSeveralMatchingExecutablesIsTaken) {
    runtime.write("tun2socks/TUN2SOCKS-b.EXE", "MZ");
    runtime.write("tun2socks/tun2socks.dll", "not matching");
    TunnelTools tools;
    ASSERT_EQ(locate(tools), "");
    const std::string name = fs::path(tools.tun2socksExecutable).filename().string();
    EXPECT_TRUE(name == "tun2socks-windows-amd64.exe" || name == "TUN2SOCKS-b.EXE") << name;
}

TEST_F(ToolLocatorWinTest, ToolsUsersCanReplaceAreRefusedWhenOnlyTrustedOnesMayRun) {
    TunnelTools tools;
    std::string error;
    EXPECT_FALSE(makeToolLocator(true)->locate(xrayDir, tun2socksDir, config, tools, error));
    EXPECT_EQ(error, *vpn::fullPathName(xrayDir + "\\xray.exe") +
                         " can be changed by users other than the administrators");
}

}  // namespace
