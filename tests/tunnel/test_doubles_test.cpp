// The Xray and tun2socks doubles hold the tunnel tests up, so they are tested themselves:
// what they accept, what they refuse, their failure switches, and Xray's SOCKS5 service.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <thread>

#include "service/tunnel/process_runner.h"
#include "service/tunnel/xray_config.h"
#include "tests/support/doubles/double_socket.h"
#include "tests/support/doubles/double_switches.h"
#include "tests/support/doubles/xray_config_check.h"
#include "tests/support/environment.h"
#include "tests/support/http_test_server.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/temp_dir.h"

using namespace tunnel;
using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

namespace {

std::string nativePath(const char* path) { return std::filesystem::path(path).make_preferred().string(); }
const std::string kXray = nativePath(ORVIK_XRAY_DOUBLE);
const std::string kTun2socks = nativePath(ORVIK_TUN2SOCKS_DOUBLE);

Json validConfig() {
    vpn::NodeRecord node;
    node.address = "127.0.0.1";
    node.port = 443;
    node.uuid = "id";
    node.publicKey = "key";
    return Json::parse(buildXrayConfig(node, {"lo", "192.0.2.1"}), nullptr, false);
}

std::string problemWith(const Json& config) {
    orvik_double::XrayServe serve;
    std::string problem;
    return orvik_double::checkXrayConfig(config.dump(2), serve, problem) ? "" : problem;
}

TEST(XrayDoubleCheckTest, RefusesAnyConfigurationOfAnotherShape) {
    EXPECT_EQ(problemWith(validConfig()), "");
    const std::vector<std::pair<std::string, std::function<void(Json&)>>> breakages = {
        {"inbound port", [](Json& c) { c["inbounds"][0]["port"] = 10809; }},
        {"inbound listen", [](Json& c) { c["inbounds"][0]["listen"] = "0.0.0.0"; }},
        {"udp", [](Json& c) { c["inbounds"][0]["settings"]["udp"] = false; }},
        {"protocol", [](Json& c) { c["outbounds"][0]["protocol"] = "vmess"; }},
        {"address", [](Json& c) { c["outbounds"][0]["settings"]["vnext"][0]["address"] = ""; }},
        {"port", [](Json& c) { c["outbounds"][0]["settings"]["vnext"][0]["port"] = "443"; }},
        {"id", [](Json& c) { c["outbounds"][0]["settings"]["vnext"][0]["users"][0].erase("id"); }},
        {"public key", [](Json& c) { c["outbounds"][0]["streamSettings"]["realitySettings"]["publicKey"] = ""; }},
        {"security", [](Json& c) { c["outbounds"][0]["streamSettings"]["security"] = "tls"; }},
        {"sockopt", [](Json& c) { c["outbounds"][0]["streamSettings"].erase("sockopt"); }},
        {"direct unbound", [](Json& c) { c["outbounds"][1].erase("streamSettings"); }},
        {"block", [](Json& c) { c["outbounds"].erase(2); }},
        {"proxy first", [](Json& c) { std::swap(c["outbounds"][0], c["outbounds"][1]); }},
        {"five rules", [](Json& c) { c["routing"]["rules"].erase(5); }},
        {"rule order", [](Json& c) { std::swap(c["routing"]["rules"][0], c["routing"]["rules"][1]); }},
        {"node rule", [](Json& c) { c["routing"]["rules"][3]["ip"][1] = "10.0.0.1"; }},
    };
    for (const auto& [what, breakIt] : breakages) {
        Json config = validConfig();
        breakIt(config);
        EXPECT_NE(problemWith(config), "") << what;
    }
    orvik_double::XrayServe serve;
    std::string problem;
    EXPECT_FALSE(orvik_double::checkXrayConfig("{\"log\":", serve, problem));
    EXPECT_FALSE(orvik_double::checkXrayConfig("[]", serve, problem));
}

class DoublesTest : public ::testing::Test {
protected:
    ~DoublesTest() override { orvik_test::loopback::closeSocket(proxy); }

    std::unique_ptr<ProcessRunner> runner = makeProcessRunner();
    orvik_test::TempDir temp;
    int proxyPort = 0;  // tun2socks connects to its proxy at start
    orvik_test::loopback::Socket proxy = orvik_test::loopback::listenOnFreePort(proxyPort);

    std::string writeConfig(const Json& config) {
        temp.write("config.json", config.dump(2));
        return temp.file("config.json");
    }

    std::string runToEnd(const std::string& program, const CommandArgs& args) {
        std::string error;
        return runner->runCommand(program, args, 10000, error) ? "exit 0" : error;
    }

    CommandArgs tun2socksArgs() {
        return {word("--loglevel"), word("info"), word("--device"), word("wintun"), word("--proxy"),
                word("socks5://127.0.0.1:" + std::to_string(proxyPort)), word("--interface"), quotedArg("lo")};
    }
};

TEST_F(DoublesTest, XrayDoubleExitsAtOnceOnABadConfigurationOrCommandLine) {
    Json config = validConfig();
    config["routing"]["rules"].erase(0);
    const std::string path = writeConfig(config);
    EXPECT_EQ(runToEnd(kXray, {word("run"), word("-c"), quotedArg(path)}),
              "command exit 1: " + kXray + " run -c \"" + path + "\"");
    EXPECT_EQ(runToEnd(kXray, {word("run"), word("-c"), quotedArg(temp.file("none.json"))}).rfind("command exit 1", 0),
              0u);
    EXPECT_EQ(runToEnd(kXray, {word("run"), word("-config"), quotedArg(path)}).rfind("command exit 2", 0), 0u);
}

TEST_F(DoublesTest, Tun2socksDoubleTakesOnlyTheStartArguments) {
    CommandArgs extra = tun2socksArgs();
    extra.push_back(word("--udp-timeout"));
    extra.push_back(word("10s"));
    EXPECT_EQ(runToEnd(kTun2socks, extra).rfind("command exit 2", 0), 0u);
    CommandArgs missing = tun2socksArgs();
    missing.erase(missing.begin() + 2, missing.begin() + 4);  // --device (--interface alone may be left out)
    EXPECT_EQ(runToEnd(kTun2socks, missing).rfind("command exit 2", 0), 0u);
    CommandArgs badProxy = tun2socksArgs();
    badProxy[5] = word("http://127.0.0.1:10808");
    EXPECT_EQ(runToEnd(kTun2socks, badProxy).rfind("command exit 2", 0), 0u);
}

TEST_F(DoublesTest, SwitchesMakeTheDoublesFailOnCue) {
    const std::string config = writeConfig(validConfig());
    const CommandArgs xrayArgs{word("run"), word("-c"), quotedArg(config)};
    {
        orvik_test::ScopedEnvironment exitAtOnce(orvik_double::kExitAtOnce, "1");
        EXPECT_EQ(runToEnd(kXray, xrayArgs).rfind("command exit 1", 0), 0u);
        EXPECT_EQ(runToEnd(kTun2socks, tun2socksArgs()).rfind("command exit 1", 0), 0u);
    }
    {
        orvik_test::ScopedEnvironment onlyTun2socks(orvik_double::kTun2socksExitAtOnce, "1");
        orvik_test::ScopedEnvironment noAdapter(orvik_double::kTun2socksNoAdapter, "1");
        EXPECT_EQ(runToEnd(kTun2socks, tun2socksArgs()).rfind("command exit 1", 0), 0u);
    }
    orvik_test::ScopedEnvironment dieAfter(orvik_double::kTun2socksDieAfterMs, "300");
    orvik_test::ScopedEnvironment noAdapter(orvik_double::kTun2socksNoAdapter, "1");
    std::string error;
    auto job = runner->createJob(error);
    auto tun2socks = job->launch(kTun2socks, tun2socksArgs(), "", error);
    ASSERT_TRUE(tun2socks) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(tun2socks->isRunning());
    const auto start = Clock::now();
    while (tun2socks->isRunning() && Clock::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(tun2socks->isRunning());
}

// SOCKS5 client side of one CONNECT; the reply code, or -1 when the exchange broke.
int socksConnect(orvik_double::Socket socket, int port) {
    const unsigned char greeting[] = {5, 1, 0};
    const unsigned char request[] = {5, 1, 0, 1, 127, 0, 0, 1, static_cast<unsigned char>(port >> 8),
                                     static_cast<unsigned char>(port & 0xFF)};
    unsigned char reply[10];
    if (!orvik_double::sendAll(socket, reinterpret_cast<const char*>(greeting), sizeof greeting)) return -1;
    if (orvik_double::receiveSome(socket, reinterpret_cast<char*>(reply), 2) != 2 || reply[1] != 0) return -1;
    if (!orvik_double::sendAll(socket, reinterpret_cast<const char*>(request), sizeof request)) return -1;
    long got = 0;
    while (got < 10) {
        const long n = orvik_double::receiveSome(socket, reinterpret_cast<char*>(reply) + got, 10 - got);
        if (n <= 0) return -1;
        got += n;
    }
    return reply[1];
}

orvik_double::Socket connectSocksPort() {
    std::string error;
    bool refused = false;
    return orvik_double::connectTo("127.0.0.1", 10808, "", error, refused);
}

TEST_F(DoublesTest, XrayDoubleServesSocksConnectUntilKilled) {
    ASSERT_TRUE(orvik_double::startSockets());
    const orvik_double::Socket busy = connectSocksPort();
    if (busy != orvik_double::kNoSocket) {
        orvik_double::closeSocket(busy);
        GTEST_SKIP() << "something else listens on 127.0.0.1:10808";
    }
    orvik_test::HttpTestServer server([](const orvik_test::HttpRequestRecord&) {
        return orvik_test::HttpReply{200, "through the tunnel", {}, false, -1};
    });
    Json config = validConfig();
    config["outbounds"][0]["streamSettings"]["sockopt"]["interface"] = "";  // no device binding here
    std::string error;
    auto job = runner->createJob(error);
    auto xray = job->launch(kXray, {word("run"), word("-c"), quotedArg(writeConfig(config))}, "", error);
    ASSERT_TRUE(xray) << error;

    orvik_double::Socket socket = orvik_double::kNoSocket;
    for (int i = 0; i < 500 && socket == orvik_double::kNoSocket && xray->isRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        socket = connectSocksPort();
    }
    ASSERT_NE(socket, orvik_double::kNoSocket) << "the double never listened";
    ASSERT_EQ(socksConnect(socket, server.port()), 0);
    const std::string request = "GET /x HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
    ASSERT_TRUE(orvik_double::sendAll(socket, request.data(), request.size()));
    std::string response;
    char buffer[4096];
    for (long n; (n = orvik_double::receiveSome(socket, buffer, sizeof buffer)) > 0;) response.append(buffer, n);
    orvik_double::closeSocket(socket);
    EXPECT_EQ(response.rfind("HTTP/1.1 200", 0), 0u) << response;
    EXPECT_NE(response.find("through the tunnel"), std::string::npos);

    socket = connectSocksPort();
    EXPECT_EQ(socksConnect(socket, orvik_test::unusedLoopbackPort()), 5) << "connection refused";
    orvik_double::closeSocket(socket);
    EXPECT_TRUE(xray->isRunning());
    job->close();
}

}  // namespace
