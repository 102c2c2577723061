// The real orvik_service end to end: started in console or daemon mode inside a "machine"
// namespace whose uplink leads to a "router" holding the node addresses, with a runtime
// directory of the Xray and tun2socks doubles and a local account or a fake panel. The
// service runs in a private mount namespace in which /etc/resolv.conf and /var/lib are the
// test's own, so the machine's real DNS settings are never touched.
#include <sys/mount.h>
#include <sched.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/doubles/double_switches.h"
#include "tests/support/environment.h"
#include "tests/support/fake_panel.h"
#include "tests/support/netns_linux.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tunnel_runtime_linux.h"

namespace {

using orvik_test::request;
using orvik_test::ServiceProcess;
using orvik_test::TunnelRuntime;

const char* const kNode = "198.18.50.1";
const char* const kOtherNode = "198.18.51.1";
const char* const kElsewhere = "198.18.99.9";
const std::string kOriginalResolvConf = "nameserver 198.18.0.53\n";
const std::string kUp = "{\"ok\":true,\"running\":true,\"error\":\"\"}";
const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";

const std::string kLocalAccount = R"({"email":"lab@example.com","password":"pw","expireAt":"2099-12-31",
 "nodeName":"lab","address":"198.18.50.1","port":443,"uuid":"3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b",
 "sni":"www.example.com","publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw","shortId":"6ba85179e30d4fc2"})";

class ServiceLinux : public ::testing::Test {
protected:
    void SetUp() override {
        orvik_test::skipUnlessRoot();
        if (IsSkipped()) return;
        ASSERT_TRUE(lab_.addMachineBehindRouter(machine_, router_, {kNode, kOtherNode}));
        ASSERT_TRUE(runtime_.installTools()) << runtime_.error();
        runtime_.writeFile(runtime_.resolvConfPath(), kOriginalResolvConf);
    }

    void useLocalAccount() {
        runtime_.writeFile(runtime_.root() + "/account.json", kLocalAccount);
        runtime_.writeFile(runtime_.root() + "/" + orvik_test::sessionFile(), "{\"email\":\"lab@example.com\",\"expireAt\":\"2099-12-31\"}\n");
    }

    // Runs `body` in a child process inside the machine namespace, with a private mount
    // namespace over the resolver files (and a hosts file naming the node "node.lab.test").
    void inMachine(const std::function<void()>& body) {
        const std::string resolvConf = runtime_.resolvConfPath();
        const std::string varLib = state_.path();
        const std::string hosts = state_.file("hosts");
        state_.write("hosts", "127.0.0.1 localhost\n" + std::string(kNode) + " node.lab.test\n");
        lab_.runInChild(machine_, [&] {
            ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
            ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
            ASSERT_EQ(::mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
            ASSERT_EQ(::mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr), 0);
            ASSERT_EQ(::mount(varLib.c_str(), "/var/lib", nullptr, MS_BIND, nullptr), 0);
            orvik_test::ScopedEnvironment pipe("ORVIK_PIPE", pipe_);
            body();
        });
    }

    std::unique_ptr<ServiceProcess> launch(const std::vector<std::string>& arguments) {
        auto service = std::make_unique<ServiceProcess>(ORVIK_SERVICE_EXE, arguments, output_.file("out.txt"));
        EXPECT_TRUE(orvik_test::waitForPipe(pipe_, 20000)) << output_.read("out.txt");
        return service;
    }
    std::unique_ptr<ServiceProcess> console() { return launch({"--console", "--runtime", runtime_.root()}); }

    std::string routes() { return lab_.ipText(machine_, {"route", "show"}); }
    std::string routeFor(const std::string& address) { return lab_.ipText(machine_, {"route", "get", address}); }
    std::string log() const { return runtime_.readFile(runtime_.root() + "/orvik-service.log"); }

    void expectUp(const std::string& node) {
        const std::string table = routes();
        EXPECT_NE(table.find(node + " via 198.18.1.1 dev uplink0 proto 167 metric 1"), std::string::npos) << table;
        EXPECT_NE(table.find("0.0.0.0/1 dev wintun proto 167"), std::string::npos) << table;
        EXPECT_NE(table.find("128.0.0.0/1 dev wintun proto 167"), std::string::npos) << table;
        EXPECT_NE(routeFor(kElsewhere).find("dev wintun"), std::string::npos) << routeFor(kElsewhere);
        std::string addresses;
        lab_.ip(machine_, {"-4", "addr", "show", "dev", "wintun"}, &addresses);
        EXPECT_NE(addresses.find("inet 192.168.123.1/24"), std::string::npos) << addresses;
        const std::string resolver = runtime_.readFile(runtime_.resolvConfPath());
        EXPECT_NE(resolver.find("nameserver 1.1.1.1\n"), std::string::npos) << resolver;
        EXPECT_EQ(resolver.find(kOriginalResolvConf), std::string::npos) << resolver;
        EXPECT_EQ(runtime_.runningTools().size(), 2u);
    }
    void expectNothingLeft() {
        EXPECT_TRUE(runtime_.waitToolsGone(3000)) << "tool processes still running";
        const std::string table = routes();
        EXPECT_EQ(table.find("proto 167"), std::string::npos) << table;
        EXPECT_EQ(table.find("wintun"), std::string::npos) << table;
        EXPECT_EQ(runtime_.readFile(runtime_.resolvConfPath()), kOriginalResolvConf);
        EXPECT_NE(routeFor(kElsewhere).find("via 198.18.1.1 dev uplink0"), std::string::npos);
    }

    orvik_test::NetnsLab lab_;
    TunnelRuntime runtime_{ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE};
    orvik_test::TempDir state_;
    orvik_test::TempDir output_;
    std::string pipe_ = orvik_test::uniquePipeName(output_.path());
    std::string machine_;
    std::string router_;
};

TEST_F(ServiceLinux, ConsoleServiceConnectsStatusDisconnectsAndShutsDown) {
    useLocalAccount();
    inMachine([&] {
        auto service = console();
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\"}"), kUp);
        expectUp(kNode);
        EXPECT_EQ(request(pipe_, "{\"op\":\"status\"}"), kUp);
        EXPECT_NE(runtime_.readFile(runtime_.configPath()).find(kNode), std::string::npos);
        EXPECT_EQ(request(pipe_, "{\"op\":\"disconnect\"}"), kIdle);
        expectNothingLeft();
        // By name; a name the list no longer holds is refused and the tunnel stays as it is.
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\",\"node\":\"lab\"}"), kUp);
        expectUp(kNode);
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\",\"node\":\"elsewhere\"}"),
                  "{\"ok\":false,\"running\":true,\"error\":\"所选节点已不在节点列表中：elsewhere\"}");
        expectUp(kNode);
        EXPECT_EQ(request(pipe_, "{\"op\":\"shutdown\"}"), kIdle);
        EXPECT_EQ(service->wait(10000), 0);
        expectNothingLeft();
    });
    EXPECT_EQ(log(), "OrvikService console mode. Pipe " + pipe_ + "\nRuntime " + runtime_.root() +
                         "\nCtrl+C to stop.\nipc op=connect\nipc op=status\nipc op=disconnect\nipc op=connect\n"
                         "ipc op=connect\nipc error=所选节点已不在节点列表中：elsewhere\nipc op=shutdown\nstopped.\n");
}

TEST_F(ServiceLinux, ANodeGivenByHostNameIsResolvedToIpv4) {
    std::string account = kLocalAccount;
    account.replace(account.find(kNode), std::string(kNode).size(), "node.lab.test");
    useLocalAccount();
    runtime_.writeFile(runtime_.root() + "/account.json", account);
    inMachine([&] {
        auto service = console();
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\"}"), kUp);
        expectUp(kNode);
        const std::string config = runtime_.readFile(runtime_.configPath());
        EXPECT_NE(config.find(std::string("\"") + kNode + "\""), std::string::npos) << config;
        EXPECT_EQ(config.find("node.lab.test"), std::string::npos) << "Xray uses the address the route was made for";
        EXPECT_EQ(request(pipe_, "{\"op\":\"shutdown\"}"), kIdle);
        EXPECT_EQ(service->wait(10000), 0);
        expectNothingLeft();
    });
}

TEST_F(ServiceLinux, InterruptWhileConnectedStopsTheTunnel) {
    useLocalAccount();
    inMachine([&] {
        auto service = console();
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\"}"), kUp);
        ASSERT_TRUE(service->interrupt());
        EXPECT_EQ(service->wait(10000), 0);
        expectNothingLeft();
    });
}

TEST_F(ServiceLinux, PanelBackedRuntimeConnectsToTheServerTheClientNamed) {
    inMachine([&] {
        orvik_test::FakePanel panel;  // on this namespace's loopback, where the service looks
        panel.edit([](orvik_test::FakePanelState& state) {
            state.servers[0].name = "Osaka";
            state.servers[0].host = kNode;
            state.servers[1].name = "Tokyo\u2003";  // an em space the client's route id drops
            state.servers[1].host = kOtherNode;
        });
        runtime_.writeFile(runtime_.root() + "/panel.json", "{\"apiBase\":\"" + panel.apiBase() + "/\"}");
        runtime_.writeFile(runtime_.root() + "/" + orvik_test::sessionFile(),
                           std::string("{\"email\":\"") + orvik_test::FakePanel::kEmail + "\",\"auth_data\":\"" +
                               panel.openSession(orvik_test::FakePanel::kEmail) + "\"}\n");
        auto service = console();
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\",\"node\":\"Tokyo\"}"), kUp);
        expectUp(kOtherNode);
        EXPECT_EQ(routes().find(std::string(kNode) + " via"), std::string::npos);
        EXPECT_FALSE(panel.requestsTo("/api/v1/user/getSubscribe").empty());
        EXPECT_EQ(request(pipe_, "{\"op\":\"shutdown\"}"), kIdle);
        EXPECT_EQ(service->wait(10000), 0);
        expectNothingLeft();
    });
}

TEST_F(ServiceLinux, AFailingConnectRepliesWithTheTunnelsText) {
    useLocalAccount();
    inMachine([&] {
        orvik_test::ScopedEnvironment xrayFails(orvik_double::kXrayExitAtOnce, std::string("1"));
        auto service = console();
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\"}"),
                  "{\"ok\":false,\"running\":false,\"error\":\"xray exited immediately\"}");
        expectNothingLeft();
        EXPECT_EQ(request(pipe_, "{\"op\":\"shutdown\"}"), kIdle);
        EXPECT_EQ(service->wait(10000), 0);
    });
    EXPECT_NE(log().find("ipc op=connect\nipc error=xray exited immediately\n"), std::string::npos) << log();
}

TEST_F(ServiceLinux, ASignedOutAccountFailsBeforeAnythingStarts) {
    useLocalAccount();
    runtime_.writeFile(runtime_.root() + "/" + orvik_test::sessionFile(), "{\"email\":\"someone@else\"}\n");
    inMachine([&] {
        auto service = console();
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\"}"),
                  "{\"ok\":false,\"running\":false,\"error\":\"session does not match account\"}");
        EXPECT_TRUE(runtime_.runningTools().empty());
        EXPECT_EQ(request(pipe_, "{\"op\":\"shutdown\"}"), kIdle);
        EXPECT_EQ(service->wait(10000), 0);
    });
}

TEST_F(ServiceLinux, DaemonEndsWithItsOwnerAndTakesTheTunnelDown) {
    useLocalAccount();
    inMachine([&] {
        ServiceProcess owner(ORVIK_PROCESS_HELPER, {"sleep", "60000"}, output_.file("owner.txt"));
        auto service = launch({"--daemon", "--runtime", runtime_.root(), "--owner-pid", std::to_string(owner.pid())});
        EXPECT_EQ(request(pipe_, "{\"op\":\"connect\"}"), kUp);
        expectUp(kNode);
        owner.kill();
        EXPECT_EQ(service->wait(10000), 0);
        expectNothingLeft();
    });
    EXPECT_EQ(log(), "daemon mode. runtime=" + runtime_.root() +
                         "\nipc op=connect\nui process exited; stopping helper\ndaemon stopped\n");
}

}  // namespace
