// The Windows tool locator: which file is taken, the text for each missing piece in the order
// checked, and tools that users could replace.
#include <gtest/gtest.h>

#include <filesystem>

#include "service/tunnel/tunnel_tools.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

using namespace tunnel;

namespace {

TEST(ToolLocatorWinTest, FindsTheToolsOrNamesTheMissingPieceAndRefusesToolsUsersCanReplace) {
    orvik_test::TempDir runtime;
    for (const char* file : {"xray/xray.exe", "tun2socks/tun2socks-windows-amd64.exe", "tun2socks/wintun.dll"})
        runtime.write(file, "MZ");
    runtime.write("session.json.xray.json", "{}\n");
    const std::string xrayDir = runtime.path() + "\\xray", tun2socksDir = runtime.path() + "\\tun2socks";
    TunnelTools tools;
    auto locate = [&](bool trusted) {
        std::string error;
        const bool found = makeToolLocator(trusted)->locate(xrayDir, tun2socksDir, runtime.path() + "\\session.json.xray.json",
                                                            tools, error);
        EXPECT_EQ(found, error.empty()) << error;
        return error;
    };
    ASSERT_EQ(locate(false), "");
    EXPECT_EQ(tools.xrayExecutable, xrayDir + "\\xray.exe");
    EXPECT_EQ(tools.tun2socksExecutable, tun2socksDir + "\\tun2socks-windows-amd64.exe");
    EXPECT_EQ(locate(true), *vpn::fullPathName(xrayDir + "\\xray.exe") +
                                " can be changed by users other than the administrators");

    runtime.write("tun2socks/tun2socks.txt", "not a program");
    runtime.write("tun2socks/my-tun2socks.exe", "MZ");
    const std::pair<const char*, const char*> steps[] = {{"session.json.xray.json", "config not found"},
                                                         {"tun2socks/wintun.dll", "wintun.dll not found next to tun2socks"},
                                                         {"tun2socks/tun2socks-windows-amd64.exe", "tun2socks exe not found"},
                                                         {"xray/xray.exe", "xray.exe not found"}};
    for (const auto& [removed, text] : steps) {
        std::filesystem::remove(runtime.file(removed));
        EXPECT_EQ(locate(false), text);
    }
}

}  // namespace
