// The real orvik_service end to end inside the machine of a RouterLab, with the Xray and
// tun2socks doubles and a local account or a fake panel. The service sees the lab's own
// /etc/resolv.conf, /etc/hosts and /var/lib, never the machine's.
#include <gtest/gtest.h>

#include "tests/net/service_lab.h"
#include "tests/support/fake_panel.h"

namespace {

using namespace net_test;

const char* const kNode = "198.18.50.1";
const char* const kOtherNode = "198.18.51.1";
const char* const kTun = "192.168.123.1";

class ServiceLinux : public ServiceLab {
protected:
    ServiceLinux() : ServiceLab({kNode, kOtherNode}) {}
    void signIn(const std::string& address) { orvik_test::LocalAccount{.address = address}.writeTo(lab); }
    void inMachine(const std::function<void()>& body) { ASSERT_TRUE(lab.inMachine(body, true)) << lab.error(); }
    void shutDown(ServiceProcess& service) {
        EXPECT_EQ(ask("{\"op\":\"shutdown\"}"), kIdle);
        EXPECT_EQ(service.wait(10000), 0);
        EXPECT_EQ(lab.leftOver(), "");
    }
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
