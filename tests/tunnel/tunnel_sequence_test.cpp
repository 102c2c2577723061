// The tunnel's start and stop sequence over recording fakes of the process runner, the
// network operations and the tool locator: order of operations, waits, error texts and
// what a failed start or a stop leaves behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service/tunnel/tunnel.h"
#include "vpn/system.h"

namespace {

using namespace tunnel;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using Journal = std::vector<std::string>;

std::string describe(const RouteSpec& r) {
    return r.interfaceAlias + " " + r.destination + "/" + std::to_string(r.prefixLength) + " via " + r.nextHop +
           " metric " + std::to_string(r.metric);
}

std::string render(const CommandArgs& args) {
    std::string line;
    for (const CommandArg& a : args) line += " " + (a.quoted ? "\"" + a.text + "\"" : a.text);
    return line;
}

// What the fakes know about one launched process.
struct ProcessState {
    std::string name;
    bool alive = true;
    bool handleOpen = true;
};

class FakeChild : public ChildProcess {
public:
    FakeChild(Journal& journal, std::shared_ptr<ProcessState> state) : journal_(journal), state_(std::move(state)) {}
    ~FakeChild() override { state_->handleOpen = false; }
    bool isRunning() override {
        journal_.push_back(state_->name + ".isRunning");
        return state_->alive;
    }
    void terminate(int waitMs) override {
        journal_.push_back(state_->name + ".terminate " + std::to_string(waitMs));
        state_->alive = false;
    }

private:
    Journal& journal_;
    std::shared_ptr<ProcessState> state_;
};

// Switches and observations shared by the runner and its jobs.
struct ProcessWorld {
    explicit ProcessWorld(Journal& j) : journal(j) {}
    Journal& journal;
    std::set<std::string> launchFails;  // process names whose launch fails
    std::set<std::string> exitsAtOnce;  // process names that die right after launch
    std::vector<std::shared_ptr<ProcessState>> processes;
    int openJobs = 0;

    std::shared_ptr<ProcessState> find(const std::string& name) const {
        for (auto it = processes.rbegin(); it != processes.rend(); ++it)
            if ((*it)->name == name) return *it;
        return nullptr;
    }
    bool anyAlive() const {
        return std::any_of(processes.begin(), processes.end(), [](const auto& p) { return p->alive; });
    }
    bool anyHandleOpen() const {
        return std::any_of(processes.begin(), processes.end(), [](const auto& p) { return p->handleOpen; });
    }
};

std::string processName(const std::string& executable) {
    return executable.find("tun2socks") != std::string::npos ? "tun2socks" : "xray";
}

class FakeJob : public Job {
public:
    explicit FakeJob(ProcessWorld& world) : world_(world) { ++world_.openJobs; }
    ~FakeJob() override { release(); }

    std::unique_ptr<ChildProcess> launch(const std::string& executable, const CommandArgs& args,
                                         const std::string& workingDirectory, std::string& error) override {
        const std::string name = processName(executable);
        world_.journal.push_back("launch " + executable + render(args) + " in " + workingDirectory);
        if (world_.launchFails.count(name)) {
            error = "CreateProcess failed for " + executable + " err=2";
            return nullptr;
        }
        auto state = std::make_shared<ProcessState>();
        state->name = name;
        state->alive = world_.exitsAtOnce.count(name) == 0;
        world_.processes.push_back(state);
        members_.push_back(state);
        return std::make_unique<FakeChild>(world_.journal, state);
    }
    void close() override {
        world_.journal.push_back("job.close");
        release();
    }

private:
    void release() {
        for (auto& p : members_) p->alive = false;
        members_.clear();
        if (!closed_) --world_.openJobs;
        closed_ = true;
    }
    ProcessWorld& world_;
    std::vector<std::shared_ptr<ProcessState>> members_;
    bool closed_ = false;
};

class FakeRunner : public ProcessRunner {
public:
    explicit FakeRunner(ProcessWorld& world) : world_(world) {}
    bool runCommand(const std::string& program, const CommandArgs& args, int, std::string&) override {
        world_.journal.push_back("run " + program + render(args));
        return true;
    }
    std::unique_ptr<Job> createJob(std::string& error) override {
        world_.journal.push_back("createJob");
        if (!createJobError.empty()) {
            error = createJobError;
            return nullptr;
        }
        return std::make_unique<FakeJob>(world_);
    }
    void terminateByExactName(const std::string& name) override {
        world_.journal.push_back("terminateByExactName " + name);
    }
    void terminateByPrefix(const std::string& prefix) override {
        world_.journal.push_back("terminateByPrefix " + prefix);
    }

    std::string createJobError;

private:
    ProcessWorld& world_;
};

class FakeNetwork : public NetworkOps {
public:
    explicit FakeNetwork(Journal& journal) : journal_(journal) {}

    bool findPhysicalGateway(PhysicalGateway& gateway, std::string& error) override {
        journal_.push_back("findPhysicalGateway");
        if (!gatewayError.empty()) {
            error = gatewayError;
            return false;
        }
        gateway = {"eth0", "198.18.0.1"};
        return true;
    }
    bool addRoute(const RouteSpec& route, std::string& error) override {
        journal_.push_back("addRoute " + describe(route));
        if (route.destination == failRouteTo) {
            error = "CreateIpForwardEntry2 failed 87 for " + route.destination;
            return false;
        }
        routes.insert(describe(route));
        return true;
    }
    void deleteRoute(const RouteSpec& route) override {
        journal_.push_back("deleteRoute " + describe(route));
        routes.erase(describe(route));
    }
    bool routeExists(const std::string& alias, const std::string& destination, uint8_t prefixLength) override {
        journal_.push_back("routeExists " + alias + " " + destination + "/" + std::to_string(prefixLength));
        return destination != missingRoute;
    }
    void removeStaleRoutes() override { journal_.push_back("removeStaleRoutes"); }
    bool waitForTunAdapter(const std::string& fragment, std::string& alias, int timeoutMs) override {
        journal_.push_back("waitForTunAdapter " + fragment + " " + std::to_string(timeoutMs));
        if (!adapterAppears) return false;
        alias = "wintun";
        return true;
    }
    bool waitForIpv4Address(const std::string& alias, int timeoutMs) override {
        journal_.push_back("waitForIpv4Address " + alias + " " + std::to_string(timeoutMs));
        return addressAppears;
    }
    std::vector<std::string> adapterDnsServers(const std::string& alias) override {
        journal_.push_back("adapterDnsServers " + alias);
        return physicalDns;
    }
    bool setTunAddress(const std::string& alias, const std::string& address, std::string& error) override {
        journal_.push_back("setTunAddress " + alias + " " + address);
        if (!setAddressError.empty()) {
            error = setAddressError;
            return false;
        }
        return true;
    }
    void setTunDns(const std::string& alias) override {
        journal_.push_back("setTunDns " + alias);
        tunDnsActive = true;
    }
    void resetAdapterDns(const std::string& alias) override { journal_.push_back("resetAdapterDns " + alias); }
    void restoreDns() override {
        journal_.push_back("restoreDns");
        tunDnsActive = false;
    }

    std::string gatewayError;
    std::string failRouteTo;
    std::string missingRoute;
    std::string setAddressError;
    bool adapterAppears = true;
    bool addressAppears = true;
    std::vector<std::string> physicalDns{"198.18.0.53"};
    std::set<std::string> routes;
    bool tunDnsActive = false;

private:
    Journal& journal_;
};

class FakeLocator : public ToolLocator {
public:
    explicit FakeLocator(Journal& journal) : journal_(journal) {}
    bool locate(const std::string& xrayDirectory, const std::string& tun2socksDirectory, const std::string& configPath,
                TunnelTools& tools, std::string& error) override {
        journal_.push_back("locate " + xrayDirectory + " " + tun2socksDirectory + " " + configPath);
        if (!locateError.empty()) {
            error = locateError;
            return false;
        }
        tools = {xrayDirectory + "/xray", tun2socksDirectory + "/tun2socks-linux-amd64", tun2socksTakesInterface};
        return true;
    }
    std::string locateError;
    bool tun2socksTakesInterface = true;

private:
    Journal& journal_;
};

const std::string kXrayExe = "/rt/xray/xray";
const std::string kTun2socksExe = "/rt/tun2socks/tun2socks-linux-amd64";
const std::string kHost = "eth0 198.18.7.7/32 via 198.18.0.1 metric 1";
const std::string kLower = "wintun 0.0.0.0/1 via 192.168.123.1 metric 5";
const std::string kUpper = "wintun 128.0.0.0/1 via 192.168.123.1 metric 5";

class TunnelSequence : public ::testing::Test {
protected:
    Journal journal;
    ProcessWorld world{journal};
    FakeRunner runner{world};
    FakeNetwork network{journal};
    FakeLocator locator{journal};
    Tunnel tunnel{TunnelSystem{runner, network, locator, [this](int ms) {
                                   journal.push_back("sleep " + std::to_string(ms));
                               }}};
    StartParams params{"/rt/xray", "/rt/tun2socks", "/rt/session.json.xray.json", "198.18.7.7", ""};

    bool start(std::string& error) {
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        return tunnel.start(params, error);
    }
    void startOk() {
        std::string error;
        ASSERT_TRUE(start(error)) << error;
    }
    void stop() {
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        tunnel.stop();
    }
    bool running() {
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        return tunnel.isRunning();
    }
    // Makes a launched process die (or come back) behind the tunnel's back.
    void setAlive(const std::string& name, bool alive) {
        if (auto state = world.find(name)) state->alive = alive;
    }
    bool called(const std::string& prefix) const {
        return std::any_of(journal.begin(), journal.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }
    // Nothing of a session is left: no process, no handle, no job, no route, no tunnel DNS.
    void expectNothingLeft() {
        EXPECT_FALSE(world.anyAlive());
        EXPECT_FALSE(world.anyHandleOpen());
        EXPECT_EQ(world.openJobs, 0);
        EXPECT_THAT(network.routes, IsEmpty());
        EXPECT_FALSE(network.tunDnsActive);
        EXPECT_FALSE(running());
    }
};

const Journal& fullStartJournal() {
    static const Journal calls{
        std::string("terminateByExactName ") + vpn::xrayExecutableName(),
        "terminateByPrefix tun2socks",
        "removeStaleRoutes",
        "sleep 300",
        "locate /rt/xray /rt/tun2socks /rt/session.json.xray.json",
        "findPhysicalGateway",
        "adapterDnsServers eth0",
        "createJob",
        "launch " + kXrayExe + " run -c \"/rt/session.json.xray.json\" in /rt/xray",
        "sleep 800",
        "xray.isRunning",
        "launch " + kTun2socksExe +
            " --loglevel info --device wintun --proxy socks5://127.0.0.1:10808 --interface \"eth0\" in /rt/tun2socks",
        "waitForTunAdapter wintun 15000",
        "tun2socks.isRunning",
        "setTunAddress wintun 192.168.123.1",
        "setTunDns wintun",
        "waitForIpv4Address wintun 4000",
        "deleteRoute " + kHost,
        "addRoute " + kHost,
        "addRoute " + kLower,
        "addRoute " + kUpper,
        "routeExists wintun 0.0.0.0/1",
        "routeExists wintun 128.0.0.0/1",
    };
    return calls;
}

const Journal& fullStopJournal() {
    static const Journal calls{
        "tun2socks.isRunning", "tun2socks.terminate 800", "xray.isRunning", "xray.terminate 800", "job.close",
        "deleteRoute " + kHost, "deleteRoute " + kLower,  "deleteRoute " + kUpper, "restoreDns",
    };
    return calls;
}

TEST_F(TunnelSequence, StartRunsEveryStepInOrderWithItsWaits) {
    startOk();
    EXPECT_THAT(journal, ElementsAreArray(fullStartJournal()));
    EXPECT_TRUE(running());
    EXPECT_EQ(network.routes, (std::set<std::string>{kHost, kLower, kUpper}));
    EXPECT_EQ(world.openJobs, 1);
}

// A tun2socks that must not be bound to the physical adapter (Linux) is not told about it.
TEST_F(TunnelSequence, Tun2socksGetsNoInterfaceWhereItsToolsDoNotTakeOne) {
    locator.tun2socksTakesInterface = false;
    startOk();
    EXPECT_THAT(journal, ::testing::Contains("launch " + kTun2socksExe +
                                             " --loglevel info --device wintun --proxy socks5://127.0.0.1:10808 in "
                                             "/rt/tun2socks"));
}

TEST_F(TunnelSequence, StopEndsProcessesThenRemovesRoutesAndRestoresDns) {
    startOk();
    journal.clear();
    stop();
    EXPECT_THAT(journal, ElementsAreArray(fullStopJournal()));
    expectNothingLeft();
}

TEST_F(TunnelSequence, StopOnStoppedTunnelDoesNothingAlsoTwice) {
    stop();
    EXPECT_THAT(journal, IsEmpty());
    startOk();
    stop();
    journal.clear();
    stop();
    EXPECT_THAT(journal, IsEmpty());
    expectNothingLeft();
}

TEST_F(TunnelSequence, StopSkipsTerminatingProcessesThatAlreadyEnded) {
    startOk();
    setAlive("xray", false);
    journal.clear();
    stop();
    EXPECT_THAT(journal, ElementsAre("tun2socks.isRunning", "tun2socks.terminate 800", "xray.isRunning", "job.close",
                                     "deleteRoute " + kHost, "deleteRoute " + kLower, "deleteRoute " + kUpper,
                                     "restoreDns"));
}

TEST_F(TunnelSequence, ConnectWhileUpStopsTheOldSessionFirst) {
    startOk();
    auto oldXray = world.find("xray");
    auto oldTun2socks = world.find("tun2socks");
    journal.clear();
    startOk();
    Journal expected = fullStopJournal();
    expected.insert(expected.end(), fullStartJournal().begin(), fullStartJournal().end());
    EXPECT_THAT(journal, ElementsAreArray(expected));
    EXPECT_FALSE(oldXray->alive || oldXray->handleOpen || oldTun2socks->alive || oldTun2socks->handleOpen);
    EXPECT_EQ(world.openJobs, 1);
    EXPECT_TRUE(running());
}

TEST_F(TunnelSequence, IsRunningNeedsBothProcessesAlive) {
    EXPECT_FALSE(running());
    startOk();
    EXPECT_TRUE(running());
    setAlive("xray", false);
    EXPECT_FALSE(running());
    setAlive("xray", true);
    setAlive("tun2socks", false);
    EXPECT_FALSE(running());
    // A dead process changes nothing else until the next stop.
    EXPECT_EQ(network.routes.size(), 3u);
    stop();
    expectNothingLeft();
}

TEST_F(TunnelSequence, DestructionStopsARunningTunnel) {
    {
        FakeNetwork net(journal);
        Tunnel local{TunnelSystem{runner, net, locator, [](int) {}}};
        std::string error;
        std::lock_guard<std::mutex> lock(local.mutex());
        ASSERT_TRUE(local.start(params, error)) << error;
        ASSERT_TRUE(world.anyAlive());
    }
    EXPECT_FALSE(world.anyAlive());
    EXPECT_EQ(world.openJobs, 0);
}

TEST_F(TunnelSequence, DefaultsForEmptyTunAndUpstreamAddresses) {
    params.upstreamAddress.clear();
    params.tunAddress.clear();
    startOk();
    EXPECT_TRUE(called("setTunAddress wintun 192.168.123.1"));
    EXPECT_TRUE(called("addRoute eth0 203.0.113.10/32 via 198.18.0.1 metric 1"));

    params.upstreamAddress = "198.18.9.9";
    params.tunAddress = "198.18.200.1";
    journal.clear();
    startOk();
    EXPECT_TRUE(called("setTunAddress wintun 198.18.200.1"));
    EXPECT_TRUE(called("addRoute eth0 198.18.9.9/32 via 198.18.0.1 metric 1"));
    EXPECT_TRUE(called("addRoute wintun 0.0.0.0/1 via 198.18.200.1 metric 5"));
}

// The physical adapter's DNS goes back to DHCP only when 1.1.1.1 is its one and only server.
struct DnsCase {
    std::vector<std::string> servers;
    bool reset;
};

void PrintTo(const DnsCase& c, std::ostream* os) {
    *os << "[";
    for (const std::string& server : c.servers) *os << " " << server;
    *os << " ]";
}

class PhysicalDnsRepair : public TunnelSequence, public ::testing::WithParamInterface<DnsCase> {};

TEST_P(PhysicalDnsRepair, OnlyForExactlyTheTunnelServer) {
    network.physicalDns = GetParam().servers;
    startOk();
    EXPECT_EQ(called("resetAdapterDns eth0"), GetParam().reset);
}

INSTANTIATE_TEST_SUITE_P(Lists, PhysicalDnsRepair,
                         ::testing::Values(DnsCase{{"1.1.1.1"}, true}, DnsCase{{}, false},
                                           DnsCase{{"1.1.1.1", "8.8.8.8"}, false},
                                           DnsCase{{"8.8.8.8", "1.1.1.1"}, false}, DnsCase{{"1.0.0.1"}, false},
                                           DnsCase{{"1.1.1.10"}, false}));

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Failures before the job exists start nothing and change nothing.
struct EarlyFailure {
    const char* name;
    std::function<void(TunnelSequence&, StartParams&, FakeNetwork&, FakeLocator&, FakeRunner&)> arrange;
    const char* error;
};

void PrintTo(const EarlyFailure& c, std::ostream* os) { *os << c.name; }

class StartFailsEarly : public TunnelSequence, public ::testing::WithParamInterface<EarlyFailure> {};

TEST_P(StartFailsEarly, WithItsTextAndNothingStarted) {
    GetParam().arrange(*this, params, network, locator, runner);
    std::string error;
    EXPECT_FALSE(start(error));
    EXPECT_EQ(error, GetParam().error);
    EXPECT_FALSE(called("launch"));
    EXPECT_FALSE(called("addRoute"));
    EXPECT_FALSE(called("setTun"));
    EXPECT_TRUE(world.processes.empty());
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartFailsEarly,
    ::testing::Values(
        EarlyFailure{"NoXrayDirectory", [](auto&, auto& p, auto&, auto&, auto&) { p.xrayDirectory.clear(); },
                     "xray dir, tun2socks dir and config are required"},
        EarlyFailure{"NoTun2socksDirectory", [](auto&, auto& p, auto&, auto&, auto&) { p.tun2socksDirectory.clear(); },
                     "xray dir, tun2socks dir and config are required"},
        EarlyFailure{"NoConfigPath", [](auto&, auto& p, auto&, auto&, auto&) { p.configPath.clear(); },
                     "xray dir, tun2socks dir and config are required"},
        EarlyFailure{"ToolMissing", [](auto&, auto&, auto&, auto& l, auto&) { l.locateError = "tun2socks exe not found"; },
                     "tun2socks exe not found"},
        EarlyFailure{"NoGateway",
                     [](auto&, auto&, auto& n, auto&, auto&) { n.gatewayError = "no physical default gateway"; },
                     "no physical default gateway"},
        EarlyFailure{"JobNotCreated",
                     [](auto&, auto&, auto&, auto&, auto& r) { r.createJobError = "SetInformationJobObject failed"; },
                     "SetInformationJobObject failed"}),
    caseName<EarlyFailure>);

TEST_F(TunnelSequence, MissingParametersFailBeforeToolsAreLookedUpButAfterStraysAreKilled) {
    params.configPath.clear();
    std::string error;
    EXPECT_FALSE(start(error));
    EXPECT_THAT(journal, ElementsAre(std::string("terminateByExactName ") + vpn::xrayExecutableName(),
                                     "terminateByPrefix tun2socks", "removeStaleRoutes", "sleep 300"));
}

// Failures once processes run: the attempt is undone completely, routes it added included.
struct LateFailure {
    const char* name;
    std::function<void(ProcessWorld&, FakeNetwork&)> arrange;
    std::string error;
    Journal undo;  // calls after the failing step
};

void PrintTo(const LateFailure& c, std::ostream* os) { *os << c.name; }

class StartFailsLate : public TunnelSequence, public ::testing::WithParamInterface<LateFailure> {};

TEST_P(StartFailsLate, WithItsTextAndEverythingUndone) {
    GetParam().arrange(world, network);
    std::string error;
    EXPECT_FALSE(start(error));
    EXPECT_EQ(error, GetParam().error);
    const Journal& undo = GetParam().undo;
    ASSERT_GE(journal.size(), undo.size());
    EXPECT_THAT(Journal(journal.end() - static_cast<long>(undo.size()), journal.end()), ElementsAreArray(undo));
    expectNothingLeft();
}

const Journal kStopBoth{"tun2socks.isRunning", "tun2socks.terminate 800", "xray.isRunning", "xray.terminate 800",
                        "job.close"};

Journal concat(Journal a, const Journal& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartFailsLate,
    ::testing::Values(
        LateFailure{"XrayLaunch", [](auto& w, auto&) { w.launchFails.insert("xray"); },
                    "CreateProcess failed for " + kXrayExe + " err=2",
                    {"launch " + kXrayExe + " run -c \"/rt/session.json.xray.json\" in /rt/xray", "job.close"}},
        LateFailure{"XrayExitsImmediately", [](auto& w, auto&) { w.exitsAtOnce.insert("xray"); },
                    "xray exited immediately",
                    {"sleep 800", "xray.isRunning", "xray.isRunning", "job.close"}},
        LateFailure{"Tun2socksLaunch", [](auto& w, auto&) { w.launchFails.insert("tun2socks"); },
                    "CreateProcess failed for " + kTun2socksExe + " err=2",
                    {"xray.isRunning", "xray.terminate 800", "job.close"}},
        LateFailure{"AdapterNeverAppears", [](auto&, auto& n) { n.adapterAppears = false; },
                    "wintun adapter not created", concat({"waitForTunAdapter wintun 15000"}, kStopBoth)},
        LateFailure{"Tun2socksExitsEarly", [](auto& w, auto&) { w.exitsAtOnce.insert("tun2socks"); },
                    "tun2socks exited early",
                    {"tun2socks.isRunning", "tun2socks.isRunning", "xray.isRunning", "xray.terminate 800",
                     "job.close"}},
        LateFailure{"TunAddressRejected",
                    [](auto&, auto& n) { n.setAddressError = "failed to assign TUN address: command exit 1: ip"; },
                    "failed to assign TUN address: command exit 1: ip",
                    concat({"setTunAddress wintun 192.168.123.1"}, kStopBoth)},
        LateFailure{"NoTunAddress", [](auto&, auto& n) { n.addressAppears = false; },
                    "TUN adapter has no IPv4 address",
                    concat(concat({"waitForIpv4Address wintun 4000"}, kStopBoth), {"restoreDns"})},
        LateFailure{"HostRoute", [](auto&, auto& n) { n.failRouteTo = "198.18.7.7"; },
                    "CreateIpForwardEntry2 failed 87 for 198.18.7.7",
                    concat(concat({"addRoute " + kHost}, kStopBoth), {"restoreDns"})},
        LateFailure{"LowerSplitRoute", [](auto&, auto& n) { n.failRouteTo = "0.0.0.0"; },
                    "CreateIpForwardEntry2 failed 87 for 0.0.0.0",
                    concat(concat({"addRoute " + kLower}, kStopBoth), {"deleteRoute " + kHost, "restoreDns"})},
        LateFailure{"UpperSplitRoute", [](auto&, auto& n) { n.failRouteTo = "128.0.0.0"; },
                    "CreateIpForwardEntry2 failed 87 for 128.0.0.0",
                    concat(concat({"addRoute " + kUpper}, kStopBoth),
                           {"deleteRoute " + kHost, "deleteRoute " + kLower, "restoreDns"})},
        LateFailure{"SplitRouteMissing", [](auto&, auto& n) { n.missingRoute = "128.0.0.0"; },
                    "split default routes were not installed on TUN",
                    concat(concat({"routeExists wintun 128.0.0.0/1"}, kStopBoth),
                           {"deleteRoute " + kHost, "deleteRoute " + kLower, "deleteRoute " + kUpper, "restoreDns"})}),
    caseName<LateFailure>);

TEST_F(TunnelSequence, FailedStartLeavesTheTunnelStartableAgain) {
    network.failRouteTo = "0.0.0.0";
    std::string error;
    EXPECT_FALSE(start(error));
    network.failRouteTo.clear();
    journal.clear();
    startOk();
    // The failed attempt was already undone: the new start begins with the leftover sweep.
    EXPECT_THAT(journal, ElementsAreArray(fullStartJournal()));
    EXPECT_TRUE(running());
}

TEST_F(TunnelSequence, LowerSplitFailureNeverTriesTheUpperRoute) {
    network.failRouteTo = "0.0.0.0";
    std::string error;
    EXPECT_FALSE(start(error));
    EXPECT_FALSE(called("addRoute " + kUpper));
    EXPECT_FALSE(called("routeExists"));
}

}  // namespace
