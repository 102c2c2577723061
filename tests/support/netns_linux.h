#pragma once
// Hosts for network tests: network namespaces that the test creates, joined by veth pairs,
// addressed from 198.18.0.0/15 only. Nothing here touches the machine's own interfaces,
// routes or DNS: every `ip` command names a namespace of ours. Everything is removed when
// the lab is destroyed, also after failed assertions.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace orvik_test {

// Empty when this process may build namespaces and TUN devices; otherwise why not.
std::string whyNoNetworkLab();

// Skips the current test with a clear message when whyNoNetworkLab() says so. Call it from
// SetUp() (the body then does not run), or use ORVIK_SKIP_UNLESS_ROOT() inside a test body.
void skipUnlessRoot();

#define ORVIK_SKIP_UNLESS_ROOT()                                               \
    do {                                                                       \
        const std::string orvikWhyNot = ::orvik_test::whyNoNetworkLab();       \
        if (!orvikWhyNot.empty()) GTEST_SKIP() << orvikWhyNot;                 \
    } while (false)

// Runs a program (searched on PATH, no shell) and waits for it. True for exit code 0;
// `output` (when given) receives its standard output and error.
bool runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// True when `cidr` ("198.18.0.1/24") or a bare address lies in 198.18.0.0/15.
bool isTestAddress(const std::string& cidrOrAddress);

class NetnsLab {
public:
    // Makes this process the reaper of orphaned descendants and removes namespaces that
    // earlier runs of dead test processes left behind.
    NetnsLab();
    // Ends every process inside our namespaces and deletes them (veths go with them).
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    // A new namespace "orvik-<pid>-<n>" with lo up; empty (and a test failure) on failure.
    std::string addNamespace();
    // A veth pair: `ifA` in `nsA` and `ifB` in `nsB`, both up.
    bool addVeth(const std::string& nsA, const std::string& ifA, const std::string& nsB, const std::string& ifB);
    // Adds `cidr`, which must lie in 198.18.0.0/15, to `dev` in `ns`.
    bool addAddress(const std::string& ns, const std::string& dev, const std::string& cidr);
    // `ip -n ns route add ARGS...`; any "via" address must lie in 198.18.0.0/15.
    bool addRoute(const std::string& ns, const std::vector<std::string>& args);
    // `ip -n ns ARGS...`; a failure is reported as a test failure with ip's output.
    bool ip(const std::string& ns, const std::vector<std::string>& args, std::string* output = nullptr);
    // The output of `ip -n ns ARGS...` (empty, and a test failure, when it fails).
    std::string ipText(const std::string& ns, const std::vector<std::string>& args);

    // A machine behind a router, the shape the tunnel tests share: the machine's uplink0
    // (198.18.1.2/24) is wired to the router's r1 (198.18.1.1/24) and its default route goes
    // through the router; each of `nodes` (addresses) sits on the router's lo. False (and a
    // test failure) when any step fails.
    bool addMachineBehindRouter(std::string& machine, std::string& router, const std::vector<std::string>& nodes);

    // Runs `body` on a thread that has entered `ns` (sockets, TUN devices and child
    // processes it creates belong to `ns`) and waits for it. Assertions inside report as
    // usual; a fatal one ends `body`. Exceptions become test failures.
    void run(const std::string& ns, const std::function<void()>& body);

    // Runs `body` in a forked child that has entered `ns`; assertion failures inside come
    // back as failures of the current test. Returns the child's wait status (-1 when it
    // could not be started); a child still running after `timeoutMs` is killed.
    int runInChild(const std::string& ns, const std::function<void()>& body, int timeoutMs = 60000);

    const std::vector<std::string>& namespaces() const { return namespaces_; }

private:
    std::vector<std::string> namespaces_;
    int counter_ = 0;
};

// A TUN interface created in the calling thread's namespace and held open; it disappears
// when the object is destroyed or close() is called (unless made persistent).
class TunDevice {
public:
    explicit TunDevice(const std::string& name, bool persistent = false);
    ~TunDevice();
    TunDevice(const TunDevice&) = delete;
    TunDevice& operator=(const TunDevice&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    void close();

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace orvik_test
