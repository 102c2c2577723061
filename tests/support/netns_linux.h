#pragma once
// The network that namespace tests and the tunnel benchmark share: a machine behind a router,
// both network namespaces of our own joined by a veth pair and addressed from 198.18.0.0/15
// only, and beside them a runtime directory for the tunnel (the Xray and tun2socks doubles
// under the names the service looks for, a private resolv.conf). Nothing here touches the
// machine's own interfaces, routes or DNS. Free of any test framework: failures come back
// as text, so GoogleTest and Qt Test use it alike.

#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace orvik_test {

// Empty when this process may build namespaces and TUN devices; otherwise why not.
std::string whyNoNetworkLab();

// Runs a program (searched on PATH, no shell) and waits for it; true for exit code 0.
bool runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// Moves the calling thread into a network namespace until destroyed.
class EnteredNamespace {
public:
    explicit EnteredNamespace(const std::string& ns);
    ~EnteredNamespace();
    EnteredNamespace(const EnteredNamespace&) = delete;
    EnteredNamespace& operator=(const EnteredNamespace&) = delete;
    bool ok() const { return home_ >= 0; }

private:
    int home_ = -1;
};

// The machine's uplink0 (198.18.1.2/24, 2001:db8:1::2/64) is wired to the router's r1
// (198.18.1.1/24, 2001:db8:1::1/64) and its default routes lead there; each node address sits
// on the router's lo. Destroying the lab
// ends every process in its namespaces or running from its runtime directory.
class RouterLab {
public:
    static constexpr const char* kGateway = "198.18.1.1";
    static constexpr const char* kResolvConf = "nameserver 198.18.0.53\nsearch lan\n";

    explicit RouterLab(const std::vector<std::string>& nodes);
    ~RouterLab();
    RouterLab(const RouterLab&) = delete;
    RouterLab& operator=(const RouterLab&) = delete;

    // Empty once the network stands; otherwise what failed.
    const std::string& error() const { return error_; }
    const std::string& machine() const { return machine_; }
    const std::string& router() const { return router_; }
    // A second router, wired to the machine's uplink1 (198.18.2.2/24 to its r2, 198.18.2.1/24),
    // through which every node is reachable too; the default route stays on uplink0.
    bool addSecondUplink(const std::vector<std::string>& nodes);
    // `ip -n <machine> ARGS...`: its output, or "" when it failed.
    std::string ip(const std::vector<std::string>& args) const;

    // Copies the doubles in (again, after a test removed one) and writes kResolvConf.
    bool installTools(const std::string& xrayDouble, const std::string& tun2socksDouble);
    const std::string& root() const { return dir_.path(); }
    std::string xrayDirectory() const { return root() + "/xray"; }
    std::string tun2socksDirectory() const { return root() + "/tun2socks"; }
    std::string xrayExecutable() const { return xrayDirectory() + "/xray"; }
    std::string tun2socksExecutable() const { return tun2socksDirectory() + "/tun2socks-linux-amd64"; }
    std::string configPath() const { return root() + "/session.json.xray.json"; }
    std::string resolvConfPath() const { return root() + "/resolv.conf"; }
    std::string dnsStatePath() const { return root() + "/var-lib/orvik/dns-state"; }
    void write(const std::string& relative, const std::string& text) const { dir_.write(relative, text); }
    std::string read(const std::string& relative) const { return dir_.read(relative); }

    // Live processes running from the tool directories.
    std::vector<long> runningTools() const;
    // The running tool whose process name begins with `name` ("xray", "tun2socks"); -1 for none.
    long runningTool(const std::string& name) const;
    // An earlier installation's tools left running: sleep started from each installed tool's
    // path, which then gets the current tool, as an upgrade replaces a file. Each returned once
    // it runs; -1 for one that did not start.
    std::vector<long> startStrays();

    // Runs `body` on a thread inside the machine (its sockets, TUN devices and children belong
    // there) and waits for it. With `privateFiles` the thread also gets a mount namespace of
    // its own in which /etc/resolv.conf, /etc/hosts and /var/lib are the lab's. False (and
    // error() says why) when the body could not be run there.
    bool inMachine(const std::function<void()>& body, bool privateFiles = false);

    // "" while the tunnel to `node` is up with `tunAddress` (routes, adapter, DNS, both
    // tools); otherwise what is not.
    std::string notUp(const std::string& node, const std::string& tunAddress) const;
    // "" once nothing of a session is left (tools, routes, adapter, DNS); otherwise what is.
    std::string leftOver() const;

private:
    bool build(const std::vector<std::string>& nodes);
    std::string addNamespace();
    bool ipIn(const std::string& ns, const std::vector<std::string>& args);

    TempDir dir_;
    std::string error_;
    std::string machine_;
    std::string router_;
    std::vector<std::string> namespaces_;
    std::vector<long> strays_;
};

}  // namespace orvik_test
