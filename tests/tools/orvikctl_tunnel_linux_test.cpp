// orvikctl driving the real orvik_service through a whole session, as root in network
// namespaces: a "machine" namespace whose uplink leads to a "router" holding the node
// address, the Xray and tun2socks doubles in a temporary runtime directory, and the
// resolver files replaced by the test's own in a private mount namespace.
#include <sched.h>
#include <sys/mount.h>

#include <functional>

#include "tests/support/netns_linux.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"
#include "tests/support/tunnel_runtime_linux.h"
#include "tests/tools/orvikctl_fixture.h"

namespace {

using orvik_test::CapturedRun;
using orvik_test::contains;

const char* const kNode = "198.18.60.1";
const std::string kOriginalResolvConf = "nameserver 198.18.0.53\n";
const std::string kAccount = R"({"email":"lab@example.com","password":"lab-password","expireAt":"2099-12-31",
 "nodeName":"lab","address":"198.18.60.1","port":443,"uuid":"3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b",
 "sni":"www.example.com","publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw","shortId":"6ba85179e30d4fc2"})";

class OrvikctlTunnel : public ::testing::Test {
protected:
    void SetUp() override {
        orvik_test::skipUnlessRoot();
        if (IsSkipped()) return;
        ASSERT_TRUE(lab_.addMachineBehindRouter(machine_, router_, {kNode}));
        ASSERT_TRUE(runtime_.installTools()) << runtime_.error();
        runtime_.writeFile(runtime_.resolvConfPath(), kOriginalResolvConf);
        runtime_.writeFile(runtime_.root() + "/account.json", kAccount);
    }

    // Runs `body` in a child inside the machine namespace with private resolver files.
    void inMachine(const std::function<void()>& body) {
        const std::string resolvConf = runtime_.resolvConfPath();
        const std::string varLib = state_.path();
        lab_.runInChild(machine_, [&] {
            ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
            ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
            ASSERT_EQ(::mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
            ASSERT_EQ(::mount(varLib.c_str(), "/var/lib", nullptr, MS_BIND, nullptr), 0);
            orvik_test::ScopedEnvironment pipe("ORVIK_PIPE", pipe_);
            orvik_test::ScopedEnvironment panel("ORVIK_XBOARD_URL", std::nullopt);
            body();
        });
    }

    CapturedRun orvikctl(const std::vector<std::string>& args, const std::string& input = {},
                         const std::string& program = ORVIKCTL_EXE) {
        std::vector<std::string> all{"--runtime", runtime_.root()};
        all.insert(all.end(), args.begin(), args.end());
        return orvik_test::runCaptured(program, all, input);
    }

    std::string routes() { return lab_.ipText(machine_, {"route", "show"}); }
    void expectUp() {
        const std::string table = routes();
        EXPECT_TRUE(contains(table, std::string(kNode) + " via 198.18.1.1 dev uplink0")) << table;
        EXPECT_TRUE(contains(table, "0.0.0.0/1 dev wintun")) << table;
        EXPECT_TRUE(contains(table, "128.0.0.0/1 dev wintun")) << table;
        EXPECT_EQ(runtime_.runningTools().size(), 2u);
    }
    void expectNothingLeft() {
        EXPECT_TRUE(runtime_.waitToolsGone(3000)) << "tool processes still running";
        const std::string table = routes();
        EXPECT_FALSE(contains(table, "wintun")) << table;
        EXPECT_EQ(runtime_.readFile(runtime_.resolvConfPath()), kOriginalResolvConf);
    }
    std::string log() const { return runtime_.readFile(runtime_.root() + "/orvik-service.log"); }

    orvik_test::NetnsLab lab_;
    orvik_test::TunnelRuntime runtime_{ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE};
    orvik_test::TempDir state_;
    orvik_test::TempDir output_;
    std::string pipe_ = orvik_test::uniquePipeName(output_.path());
    std::string machine_;
    std::string router_;
};

TEST_F(OrvikctlTunnel, SignInConnectStatusDisconnectAgainstTheConsoleService) {
    inMachine([&] {
        orvik_test::ServiceProcess service(ORVIK_SERVICE_EXE, {"--console", "--runtime", runtime_.root()},
                                           output_.file("service.txt"));
        ASSERT_TRUE(orvik_test::waitForPipe(pipe_, 20000)) << output_.read("service.txt");
        CapturedRun result = orvikctl({"login", "lab@example.com"}, "lab-password\n");
        ASSERT_EQ(result.exitCode, 0) << result.err;
        result = orvikctl({"connect", "lab"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "Connected to lab.\n");
        expectUp();
        result = orvikctl({"status"});
        EXPECT_EQ(result.out, "Service   running\nTunnel    up\n");
        result = orvikctl({"disconnect"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "Disconnected.\nService   running\nTunnel    down\n");
        expectNothingLeft();
        EXPECT_EQ(orvikctl({"--json", "shutdown"}).out, "{\"ok\":true,\"serviceRunning\":false,\"tunnelUp\":false}\n");
        EXPECT_EQ(service.wait(10000), 0);
    });
    EXPECT_TRUE(contains(log(), "ipc op=connect\nipc op=status\nipc op=disconnect\nipc op=shutdown\n")) << log();
}

TEST_F(OrvikctlTunnel, ConnectFromTheBuildTreeStartsTheServiceWhichOutlivesOrvikctl) {
    // orvikctl finds the service beside itself, as the client does; the service, started
    // with a clean environment like pkexec's, learns the test's pipe from its command line.
    runtime_.writeFile(runtime_.root() + "/" + orvik_test::sessionFile(), "{\"email\":\"lab@example.com\",\"expireAt\":\"2099-12-31\"}\n");
    inMachine([&] {
        CapturedRun result = orvikctl({"connect"});
        ASSERT_EQ(result.exitCode, 0) << result.err << log();
        EXPECT_EQ(result.out, "Connected.\n");
        EXPECT_EQ(result.err, "Starting the connection service...\n");
        expectUp();  // orvikctl has ended; the service and the tunnel stay
        EXPECT_EQ(orvikctl({"status"}).out, "Service   running\nTunnel    up\n");
        result = orvikctl({"shutdown"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "Service stopped.\nService   not running\nTunnel    down\n");
        expectNothingLeft();
    });
    EXPECT_TRUE(contains(log(), "daemon mode. runtime=" + runtime_.root() + "\n")) << log();
    EXPECT_TRUE(contains(log(), "daemon stopped\n")) << log();
}

}  // namespace
