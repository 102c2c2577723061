// What leaves the machine, seen on the wire: probes from the lab's machine (DNS to the LAN
// resolver and to a public one, TCP and UDP to public IPv4 and IPv6 addresses, the node's
// address from a program that is not Xray, a LAN host) captured on the router's side of the
// link, through every phase of a tunnel's life with the real service.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip6.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "tests/net/service_lab.h"

namespace {

constexpr uint16_t kNotXrayPort = 45555;  // the source port of the probe to the node

// Every IPv4/IPv6 TCP or UDP packet that reaches the router's side of the link from the
// machine, as "tcp 198.18.99.1:40001" (the node probe also names its source port).
class Capture {
public:
    explicit Capture(const std::string& ns) : thread_([this, ns] { run(ns); }) {
        while (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~Capture() {
        done_ = true;
        thread_.join();
    }
    std::set<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(seen_, {});
    }

private:
    void run(const std::string& ns) {
        orvik_test::EnteredNamespace inRouter(ns);
        const int fd = ::socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_protocol = htons(ETH_P_ALL);
        link.sll_ifindex = static_cast<int>(::if_nametoindex("r1"));
        ::bind(fd, reinterpret_cast<sockaddr*>(&link), sizeof link);
        ready_ = true;
        unsigned char frame[2048];
        while (!done_) {
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0) continue;
            sockaddr_ll from{};
            socklen_t size = sizeof from;
            const ssize_t length = ::recvfrom(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&from), &size);
            // IP only: an ARP frame read as IPv4 names a port made of its MAC bytes.
            const unsigned type = length > 14 ? (frame[12] << 8 | frame[13]) : 0;
            if ((type == ETH_P_IP || type == ETH_P_IPV6) && from.sll_pkttype != PACKET_OUTGOING)
                record(frame + 14, static_cast<size_t>(length - 14));
        }
        ::close(fd);
    }
    void record(const unsigned char* packet, size_t length) {
        const bool ipv6 = length > 40 && (packet[0] >> 4) == 6;
        const size_t header = ipv6 ? 40 : static_cast<size_t>(packet[0] & 0x0f) * 4;
        const int protocol = ipv6 ? packet[6] : packet[9];
        if ((protocol != IPPROTO_TCP && protocol != IPPROTO_UDP) || length < header + 4) return;
        char address[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(ipv6 ? AF_INET6 : AF_INET, packet + (ipv6 ? 24 : 16), address, sizeof address);
        const unsigned source = packet[header] << 8 | packet[header + 1];
        const unsigned port = packet[header + 2] << 8 | packet[header + 3];
        std::string key = std::string(protocol == IPPROTO_TCP ? "tcp " : "udp ") + address + ":" + std::to_string(port);
        if (source == kNotXrayPort) key += " not xray";
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.insert(key);
    }

    std::atomic<bool> ready_{false};
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::set<std::string> seen_;
    std::thread thread_;
};

struct Probe {
    const char* key;
    const char* address;
    uint16_t port;
    bool tcp;
};

const Probe kProbes[] = {
    {"udp 198.18.1.1:53", "198.18.1.1", 53, false},            // the LAN resolver
    {"tcp 198.18.1.1:53", "198.18.1.1", 53, true},
    {"udp 198.18.99.53:53", "198.18.99.53", 53, false},        // a public resolver
    {"tcp 198.18.99.1:40001", "198.18.99.1", 40001, true},     // public IPv4
    {"udp 198.18.99.1:40002", "198.18.99.1", 40002, false},
    {"tcp 2001:db8:ff::1:40003", "2001:db8:ff::1", 40003, true},  // public IPv6
    {"udp 2001:db8:ff::1:40004", "2001:db8:ff::1", 40004, false},
    {"tcp 198.18.50.1:443 not xray", "198.18.50.1", 443, true},   // the node, not from Xray
    {"tcp 198.18.1.1:8080", "198.18.1.1", 8080, true},         // a LAN host
};
const char* const kLanHost = "tcp 198.18.1.1:8080";
const char* const kXrayToNode = "tcp 198.18.50.1:443";

// Sends every probe once; TCP probes are connects nobody waits for.
void sendProbes() {
    std::vector<int> sockets;
    for (const Probe& probe : kProbes) {
        const bool ipv6 = std::string(probe.address).find(':') != std::string::npos;
        const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, (probe.tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK, 0);
        sockaddr_storage storage{};
        socklen_t size = 0;
        if (ipv6) {
            auto* to = reinterpret_cast<sockaddr_in6*>(&storage);
            to->sin6_family = AF_INET6;
            to->sin6_port = htons(probe.port);
            ::inet_pton(AF_INET6, probe.address, &to->sin6_addr);
            size = sizeof *to;
        } else {
            auto* to = reinterpret_cast<sockaddr_in*>(&storage);
            to->sin_family = AF_INET;
            to->sin_port = htons(probe.port);
            ::inet_pton(AF_INET, probe.address, &to->sin_addr);
            size = sizeof *to;
        }
        if (std::string(probe.key).find("not xray") != std::string::npos) {
            const int reuse = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
            sockaddr_in local{AF_INET, htons(kNotXrayPort), {}, {}};
            ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        if (probe.tcp) ::connect(fd, reinterpret_cast<sockaddr*>(&storage), size);
        else ::sendto(fd, probe.key, std::strlen(probe.key), 0, reinterpret_cast<sockaddr*>(&storage), size);
        sockets.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    for (const int fd : sockets) ::close(fd);
}

std::set<std::string> every() {
    std::set<std::string> keys;
    for (const Probe& probe : kProbes) keys.insert(probe.key);
    return keys;
}

using namespace net_test;

const std::string kBlocked = "{\"ok\":true,\"running\":false,\"error\":\"\",\"blocked\":true}";

std::string connect(bool killSwitch, bool allowLan) {
    return std::string("{\"op\":\"connect\",\"killSwitch\":") + (killSwitch ? "true" : "false") +
           ",\"allowLan\":" + (allowLan ? "true" : "false") + "}";
}

class LeakCapture : public ServiceLab {
protected:
    LeakCapture() : ServiceLab({"198.18.50.1"}) {}
    // What the probes (and Xray, at its start) put on the wire after `action`.
    std::set<std::string> seenAfter(const std::function<void()>& action) {
        capture->take();
        action();
        sendProbes();
        return capture->take();
    }
    // Kills the Xray double for good (its file goes, so it cannot be started again) and waits
    // until the service has given the tunnel up.
    void loseXray(const std::string& expected) {
        killXray();
        std::remove(lab.xrayExecutable().c_str());
        std::string reply;
        for (int i = 0; i < 100 && (reply = ask("{\"op\":\"status\"}")).find("failed") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(reply.substr(0, reply.find(",\"phase\"")), expected);
        EXPECT_TRUE(lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE));
    }
    // Kills the Xray double and waits until it has died (a zombie until the service reaps it).
    void killXray() {
        const long pid = lab.runningTool("xray");
        if (pid < 0) return;
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
        for (int i = 0; i < 500; ++i) {
            std::ifstream file(stat);
            std::string line;
            if (!std::getline(file, line) || line.find(") Z") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::string nft(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"ip", "netns", "exec", lab.machine(), "nft"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string output;
        return orvik_test::runProgram(argv, &output) ? output : "(failed) " + output;
    }

    std::unique_ptr<Capture> capture;
};

TEST_F(LeakCapture, NothingLeavesOutsideTheTunnelAndTheKillSwitchHoldsThroughACrash) {
    capture = std::make_unique<Capture>(lab.router());
    // Someone else's table, which must come through untouched.
    nft({"add", "table", "inet", "someone"});
    nft({"add", "chain", "inet", "someone", "out", "{ type filter hook output priority 10; policy accept; }"});
    nft({"add", "rule", "inet", "someone", "out", "tcp", "dport", "9", "counter", "accept"});
    const std::string theirs = nft({"list", "table", "inet", "someone"});
    const std::set<std::string> nothing;
    ASSERT_TRUE(lab.inMachine(
        [&] {
            auto service = launch();
            EXPECT_EQ(seenAfter([] {}), every()) << "disconnected: the capture sees every probe";
            EXPECT_EQ(seenAfter([&] { EXPECT_EQ(ask(connect(false, true)), kUp); }),
                      (std::set<std::string>{kLanHost, kXrayToNode}));
            EXPECT_EQ(std::filesystem::status(lab.configPath()).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
                << "the configuration with the user's credentials";
            EXPECT_EQ(seenAfter([&] { EXPECT_EQ(ask(connect(false, false)), kUp); }),
                      (std::set<std::string>{kXrayToNode}))
                << "a switch to LAN access off";
            EXPECT_EQ(seenAfter([&] { loseXray(kIdle.substr(0, kIdle.size() - 1)); }), every())
                << "kill switch off: the rules go with the tunnel";

            EXPECT_EQ(ask(connect(true, false)), kUp);
            EXPECT_EQ(seenAfter([&] { loseXray(kBlocked.substr(0, kBlocked.size() - 1)); }), nothing)
                << "kill switch on: a dead tool leaves the network blocked";
            EXPECT_EQ(ask(connect(true, false)), kUp);
            EXPECT_EQ(seenAfter([&] { service->kill(); }), nothing) << "the service killed";
            EXPECT_EQ(seenAfter([&] {
                          service = launch();
                          EXPECT_EQ(ask("{\"op\":\"status\"}"), kBlocked);
                      }),
                      nothing)
                << "the next service keeps the block";
            EXPECT_EQ(seenAfter([&] { EXPECT_EQ(ask("{\"op\":\"disconnect\"}"), kIdle); }), every());
            EXPECT_EQ(ask("{\"op\":\"shutdown\"}"), kIdle);
            EXPECT_EQ(service->wait(10000), 0);
            EXPECT_FALSE(std::filesystem::exists(lab.configPath())) << "the credentials outlived the tunnel";
            EXPECT_EQ(lab.leftOver(), "");
        },
        true))
        << lab.error();
    EXPECT_EQ(nft({"list", "table", "inet", "someone"}), theirs);
}

}  // namespace
