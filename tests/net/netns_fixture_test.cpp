// The namespace lab itself: isolation, failure forwarding from children, cleanup.
#include <net/if.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include "tests/support/netns_linux.h"

namespace {

using orvik_test::NetnsLab;

class NetnsLabTest : public ::testing::Test {
protected:
    void SetUp() override { orvik_test::skipUnlessRoot(); }
};

bool namespaceExists(const std::string& ns) {
    struct stat info {};
    return ::stat(("/run/netns/" + ns).c_str(), &info) == 0;
}

TEST_F(NetnsLabTest, HostsSeeOnlyTheirOwnInterfaces) {
    NetnsLab lab;
    const std::string a = lab.addNamespace();
    const std::string b = lab.addNamespace();
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    ASSERT_TRUE(lab.addVeth(a, "up0", b, "down0"));
    ASSERT_TRUE(lab.addAddress(a, "up0", "198.18.1.2/24"));
    ASSERT_TRUE(lab.addAddress(b, "down0", "198.18.1.1/24"));
    EXPECT_EQ(::if_nametoindex("up0"), 0u) << "a veth end leaked into the test's own namespace";
    lab.run(a, [] {
        EXPECT_NE(::if_nametoindex("up0"), 0u);
        EXPECT_EQ(::if_nametoindex("down0"), 0u);
    });
    std::string route;
    ASSERT_TRUE(lab.ip(a, {"route", "get", "198.18.1.1"}, &route));
    EXPECT_NE(route.find("dev up0"), std::string::npos) << route;
}

TEST_F(NetnsLabTest, RefusesAddressesOutsideTheTestRange) {
    NetnsLab lab;
    const std::string ns = lab.addNamespace();
    ASSERT_FALSE(ns.empty());
    static NetnsLab* labPtr = nullptr;
    static std::string nsName;
    labPtr = &lab;
    nsName = ns;
    EXPECT_NONFATAL_FAILURE(labPtr->addAddress(nsName, "lo", "192.0.2.7/24"), "198.18.0.0/15");
    EXPECT_NONFATAL_FAILURE(labPtr->addRoute(nsName, {"default", "via", "10.0.0.1"}), "198.18.0.0/15");
    EXPECT_TRUE(orvik_test::isTestAddress("198.19.255.254"));
    EXPECT_FALSE(orvik_test::isTestAddress("198.20.0.1"));
}

TEST_F(NetnsLabTest, ChildFailuresComeBackToTheTest) {
    NetnsLab lab;
    static NetnsLab* labPtr = nullptr;
    static std::string nsName;
    labPtr = &lab;
    nsName = lab.addNamespace();
    ASSERT_FALSE(nsName.empty());
    EXPECT_NONFATAL_FAILURE(labPtr->runInChild(nsName, [] { ADD_FAILURE() << "seen in the child"; }),
                            "seen in the child");
    const int status = lab.runInChild(nsName, [] { EXPECT_NE(::if_nametoindex("lo"), 0u); });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(NetnsLabTest, DestroyingTheLabRemovesNamespacesAndWhatRunsInThem) {
    std::string ns;
    {
        NetnsLab lab;
        ns = lab.addNamespace();
        ASSERT_FALSE(ns.empty());
        lab.run(ns, [] { orvik_test::runProgram({"setsid", "-f", "sleep", "600"}); });
        std::string pids;
        ASSERT_TRUE(orvik_test::runProgram({"ip", "netns", "pids", ns}, &pids));
        EXPECT_FALSE(pids.empty()) << "the sleeper should run inside the namespace";
    }
    EXPECT_FALSE(namespaceExists(ns));
}

TEST_F(NetnsLabTest, TunDeviceLivesWhileHeld) {
    NetnsLab lab;
    const std::string ns = lab.addNamespace();
    ASSERT_FALSE(ns.empty());
    lab.run(ns, [] {
        orvik_test::TunDevice tun("wintun");
        ASSERT_TRUE(tun.ok()) << tun.error();
        EXPECT_NE(::if_nametoindex("wintun"), 0u);
        tun.close();
        EXPECT_EQ(::if_nametoindex("wintun"), 0u);
    });
}

}  // namespace
