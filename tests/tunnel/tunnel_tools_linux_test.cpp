// The Linux tool locator: which file is taken, and the text for each missing piece.
#include <gtest/gtest.h>

#include <filesystem>

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

    std::string locateError() {
        auto locator = makeToolLocator(tunDevice);
        TunnelTools tools;
        std::string error;
        EXPECT_FALSE(locator->locate(xrayDir, tun2socksDir, config, tools, error));
        return error;
    }

    TunnelTools locateTools() {
        auto locator = makeToolLocator(tunDevice);
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

}  // namespace
