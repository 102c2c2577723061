// The tunnel follows the machine: with the real service in a machine of two uplinks, a killed
// tool is started again, a move of the default route to the other uplink takes the host route
// and Xray's binding along, no route at all makes the tunnel wait, and a change that leaves the
// best route alone does nothing.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/net/service_lab.h"

namespace {

using namespace net_test;

const char* const kNode = "198.18.50.1";

class FollowNetwork : public ServiceLab {
protected:
    FollowNetwork() : ServiceLab({kNode}) {}
    // Waits up to 3 s for the status to read `expected` (up to its phase, if it has one).
    std::string statusBecomes(const std::string& expected) {
        std::string status;
        for (int i = 0; i < 60; ++i) {
            status = ask("{\"op\":\"status\"}");
            if (status.find(expected) != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return status;
    }
    std::string hostRoute() { return lab.ip({"route", "show", kNode}); }
};

TEST_F(FollowNetwork, TheTunnelMovesWithTheDefaultRouteAndWaitsWithoutOne) {
    ASSERT_TRUE(lab.addSecondUplink({kNode})) << lab.error();
    ASSERT_TRUE(lab.inMachine(
        [&] {
            auto service = launch();
            ASSERT_EQ(ask("{\"op\":\"connect\"}"), kUp);
            // Each tool killed in turn is started again within the backoff, and the status says so.
            for (const std::string tool : {"xray", "tun2socks"}) {
                ::kill(static_cast<pid_t>(lab.runningTool(tool)), SIGKILL);
                EXPECT_NE(statusBecomes("\"phase\":\"recovering\"").find(tool + " 意外退出"), std::string::npos) << tool;
                EXPECT_EQ(statusBecomes(kUp), kUp) << tool;
            }
            const std::vector<long> tools = lab.runningTools();

            // Neither a route of another interface nor our own changes move anything.
            lab.ip({"route", "add", "198.18.77.0/24", "dev", "uplink1"});
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            EXPECT_EQ(lab.runningTools(), tools) << "a change beside the best route restarted the tunnel";

            lab.ip({"route", "replace", "default", "via", "198.18.2.1", "dev", "uplink1"});
            EXPECT_EQ(statusBecomes(kUp.substr(0, kUp.size() - 1) + "}"), kUp);
            for (int i = 0; i < 60 && hostRoute().find("uplink1") == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_NE(hostRoute().find("via 198.18.2.1 dev uplink1"), std::string::npos) << hostRoute();
            EXPECT_NE(lab.read("session.json.xray.json").find("\"uplink1\""), std::string::npos);

            lab.ip({"route", "del", "default"});
            EXPECT_NE(statusBecomes("\"phase\":\"waiting\"").find("\"phase\":\"waiting\""), std::string::npos);
            EXPECT_TRUE(lab.runningTools().empty());
            lab.ip({"route", "add", "default", "via", "198.18.1.1", "dev", "uplink0"});
            EXPECT_EQ(statusBecomes(kUp), kUp);
            EXPECT_NE(hostRoute().find("via 198.18.1.1 dev uplink0"), std::string::npos) << hostRoute();

            EXPECT_EQ(ask("{\"op\":\"shutdown\"}"), kIdle);
            EXPECT_EQ(service->wait(10000), 0);
        },
        true))
        << lab.error();
}

}  // namespace
