// orvikctl through a whole session as root, inside the machine of a RouterLab: it starts the
// real service from beside itself, as the client does, and the service outlives it.
#include <gtest/gtest.h>

#include "tests/support/environment.h"
#include "tests/support/netns_linux.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"

namespace {

const char* const kNode = "198.18.60.1";

TEST(OrvikctlTunnel, ConnectStartsTheServiceWhichOutlivesOrvikctl) {
    if (const std::string why = orvik_test::whyNoNetworkLab(); !why.empty()) GTEST_SKIP() << why;
    orvik_test::RouterLab lab{{kNode}};
    ASSERT_EQ(lab.error(), "");
    ASSERT_TRUE(lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE));
    orvik_test::LocalAccount{.address = kNode}.writeTo(lab);
    // The service, started with a clean environment like pkexec's, learns the pipe from its
    // command line.
    orvik_test::ScopedEnvironment pipe("ORVIK_PIPE", orvik_test::uniquePipeName(lab.root()));
    orvik_test::ScopedEnvironment panel("ORVIK_XBOARD_URL", std::nullopt);
    auto orvikctl = [&](const std::string& command) {
        return orvik_test::runCaptured(ORVIKCTL_EXE, {"--runtime", lab.root(), command});
    };
    ASSERT_TRUE(lab.inMachine([&] {
        orvik_test::CapturedRun result = orvikctl("connect");
        ASSERT_EQ(result.exitCode, 0) << result.err << lab.read("orvik-service.log");
        EXPECT_EQ(result.out, "Connected.\n");
        EXPECT_EQ(result.err, "Starting the connection service...\n");
        EXPECT_EQ(lab.notUp(kNode, "192.168.123.1"), "");  // orvikctl has ended; the tunnel stays
        EXPECT_EQ(orvikctl("status").out, "Service   running\nTunnel    up\n");
        result = orvikctl("shutdown");
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "Service stopped.\nService   not running\nTunnel    down\n");
        EXPECT_EQ(lab.leftOver(), "");
    }, true)) << lab.error();
}

}  // namespace
