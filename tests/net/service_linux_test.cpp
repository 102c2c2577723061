// The real orvik_service end to end inside the machine of a RouterLab, with the Xray and
// tun2socks doubles and a local account or a fake panel. The service sees the lab's own
// /etc/resolv.conf, /etc/hosts and /var/lib, never the machine's.
#include <gtest/gtest.h>

#include "tests/support/environment.h"
#include "tests/support/fake_panel.h"
#include "tests/support/netns_linux.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"

namespace {

using orvik_test::kIdle;
using orvik_test::kUp;
using orvik_test::ServiceProcess;

const char* const kNode = "198.18.50.1";
const char* const kOtherNode = "198.18.51.1";
const char* const kTun = "192.168.123.1";

class ServiceLinux : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = orvik_test::whyNoNetworkLab(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_EQ(lab.error(), "");
        ASSERT_TRUE(lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE));
        signIn(kNode);
    }
    void signIn(const std::string& address) { orvik_test::LocalAccount{.address = address}.writeTo(lab); }
    void inMachine(const std::function<void()>& body) { ASSERT_TRUE(lab.inMachine(body, true)) << lab.error(); }
    std::unique_ptr<ServiceProcess> launch(std::vector<std::string> arguments = {"--console"}) {
        arguments.insert(arguments.end(), {"--runtime", lab.root()});
        auto service = std::make_unique<ServiceProcess>(ORVIK_SERVICE_EXE, arguments, lab.root() + "/out.txt");
        EXPECT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << lab.read("out.txt");
        return service;
    }
    std::string ask(const std::string& message) { return orvik_test::request(pipe, message).value_or("no reply"); }
    void shutDown(ServiceProcess& service) {
        EXPECT_EQ(ask("{\"op\":\"shutdown\"}"), kIdle);
        EXPECT_EQ(service.wait(10000), 0);
        EXPECT_EQ(lab.leftOver(), "");
    }

    orvik_test::RouterLab lab{{kNode, kOtherNode}};
    std::string pipe = orvik_test::uniquePipeName(lab.root());
    orvik_test::ScopedEnvironment pipeVariable{"ORVIK_PIPE", pipe};
};

TEST_F(ServiceLinux, ConnectStatusDisconnectAndNodesByName) {
    inMachine([&] {
        auto service = launch();
        EXPECT_EQ(ask("{\"op\":\"connect\"}"), kUp);
        EXPECT_EQ(lab.notUp(kNode, kTun), "");
        EXPECT_EQ(ask("{\"op\":\"status\"}"), kUp);
        EXPECT_EQ(ask("{\"op\":\"disconnect\"}"), kIdle);
        EXPECT_EQ(lab.leftOver(), "");
        // A name the list no longer holds is refused and the tunnel stays as it is.
        EXPECT_EQ(ask("{\"op\":\"connect\",\"node\":\"lab\"}"), kUp);
        EXPECT_EQ(ask("{\"op\":\"connect\",\"node\":\"elsewhere\"}"),
                  "{\"ok\":false,\"running\":true,\"error\":\"所选节点已不在节点列表中：elsewhere\"}");
        EXPECT_EQ(lab.notUp(kNode, kTun), "");
        shutDown(*service);
    });
}

// A killed service takes its tools along; the next one, once it serves, removes the routes
// and puts back the DNS the dead one left. The node is given by host name (the lab's /etc/hosts), and Xray gets
// the address the host route was made for.
TEST_F(ServiceLinux, AKilledServiceIsCleanedUpByTheNext) {
    signIn("node.lab.test");
    inMachine([&] {
        auto killed = launch();
        EXPECT_EQ(ask("{\"op\":\"connect\"}"), kUp);
        const std::string config = lab.read("session.json.xray.json");
        EXPECT_NE(config.find(std::string("\"") + kNode + "\""), std::string::npos) << config;
        killed->kill();
        auto next = launch();
        EXPECT_EQ(ask("{\"op\":\"status\"}"), kIdle);
        EXPECT_EQ(lab.leftOver(), "");
        EXPECT_EQ(ask("{\"op\":\"connect\"}"), kUp);
        EXPECT_EQ(lab.notUp(kNode, kTun), "");
        shutDown(*next);
    });
}

TEST_F(ServiceLinux, AnInterruptOrTheOwnersEndTakesTheTunnelDown) {
    inMachine([&] {
        auto service = launch();
        EXPECT_EQ(ask("{\"op\":\"connect\"}"), kUp);
        ASSERT_TRUE(service->interrupt());
        EXPECT_EQ(service->wait(10000), 0);
        EXPECT_EQ(lab.leftOver(), "");

        ServiceProcess owner(ORVIK_PROCESS_HELPER, {"sleep", "60000"});
        service = launch({"--daemon", "--owner-pid", std::to_string(owner.pid())});
        EXPECT_EQ(ask("{\"op\":\"connect\"}"), kUp);
        owner.kill();
        EXPECT_EQ(service->wait(10000), 0);
        EXPECT_EQ(lab.leftOver(), "");
    });
}

TEST_F(ServiceLinux, PanelBackedRuntimeConnectsToTheServerTheClientNamed) {
    inMachine([&] {
        orvik_test::FakePanel panel;  // on the machine's loopback, where the service looks
        namespace panel_reply = orvik_test::panel;
        panel.on("GET", panel_reply::kSubscription,
                 panel_reply::subscription({panel_reply::vlessLink("Osaka", kNode, 443),
                                            panel_reply::vlessLink("Tokyo\u2003", kOtherNode, 443)}));
        lab.write("panel.json", "{\"apiBase\":\"" + panel.apiBase() + "/\"}");
        lab.write(orvik_test::sessionFile(), std::string("{\"email\":\"") + orvik_test::FakePanel::kEmail +
                                                 "\",\"auth_data\":\"" + orvik_test::FakePanel::kSession + "\"}\n");
        auto service = launch();
        // The client's route id drops the em space.
        EXPECT_EQ(ask("{\"op\":\"connect\",\"node\":\"Tokyo\"}"), kUp);
        EXPECT_EQ(lab.notUp(kOtherNode, kTun), "");
        EXPECT_FALSE(panel.requestsTo(panel_reply::kGetSubscribe).empty());
        shutDown(*service);
    });
}

}  // namespace
