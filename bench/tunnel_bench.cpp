// A whole tunnel start and stop on a real kernel (network namespaces, the Xray and tun2socks
// doubles), broken down by the seam calls of the sequence. Every seam is wrapped in a timing
// decorator; the table printed at the end shows where the time of a start and a stop goes,
// next to the sequence's fixed waits (300 ms after the stray sweep, 800 ms for Xray).
// Needs root; without it the program says why and exits successfully.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "service/tunnel/firewall.h"
#include "service/tunnel/network.h"
#include "service/tunnel/process_runner.h"
#include "service/tunnel/tunnel.h"
#include "service/tunnel/tunnel_tools.h"
#include "service/tunnel/xray_config.h"
#include "tests/support/netns_linux.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// Durations of every seam call, per phase ("start" / "stop") and per call in order, so the
// third addRoute of a start is told apart from the first.
class Timeline {
public:
    void beginPhase(const std::string& phase) {
        phase_ = phase;
        seen_.clear();
    }
    template <typename Call>
    auto time(const std::string& label, Call&& call) {
        const auto begin = Clock::now();
        struct Record {
            Timeline& timeline;
            const std::string& label;
            Clock::time_point begin;
            ~Record() { timeline.add(label, msSince(begin)); }
        } record{*this, label, begin};
        return call();
    }
    void add(const std::string& label, double ms) {
        const int occurrence = ++seen_[label];
        const std::string key = phase_ + "  " + label + (occurrence > 1 ? " #" + std::to_string(occurrence) : "");
        if (samples_.find(key) == samples_.end()) order_.push_back(key);
        samples_[key].push_back(ms);
    }
    void print() const {
        std::printf("\n%-52s %10s %10s %10s\n", "step (seam call)", "mean ms", "min ms", "max ms");
        for (const std::string& key : order_) {
            const std::vector<double>& v = samples_.at(key);
            double sum = 0;
            for (double x : v) sum += x;
            std::printf("%-52s %10.3f %10.3f %10.3f\n", key.c_str(), sum / static_cast<double>(v.size()),
                        *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
        }
    }

private:
    std::string phase_;
    std::map<std::string, int> seen_;
    std::map<std::string, std::vector<double>> samples_;
    std::vector<std::string> order_;
};

class TimedChild : public tunnel::ChildProcess {
public:
    TimedChild(Timeline& t, std::string name, std::unique_ptr<tunnel::ChildProcess> inner)
        : t_(t), name_(std::move(name)), inner_(std::move(inner)) {}
    bool isRunning() override { return t_.time(name_ + ".isRunning", [&] { return inner_->isRunning(); }); }
    void terminate(int waitMs) override {
        t_.time(name_ + ".terminate", [&] { inner_->terminate(waitMs); });
    }
    std::unique_ptr<tunnel::ExitWatch> watchExit(std::function<void()> exited) override {
        return inner_->watchExit(std::move(exited));
    }

private:
    Timeline& t_;
    std::string name_;
    std::unique_ptr<tunnel::ChildProcess> inner_;
};

class TimedJob : public tunnel::Job {
public:
    TimedJob(Timeline& t, std::unique_ptr<tunnel::Job> inner) : t_(t), inner_(std::move(inner)) {}
    std::unique_ptr<tunnel::ChildProcess> launch(const std::string& executable, const tunnel::CommandArgs& args,
                                                 const std::string& workingDirectory, std::string& error) override {
        const std::string name = executable.find("tun2socks") != std::string::npos ? "tun2socks" : "xray";
        auto child = t_.time("launch " + name, [&] { return inner_->launch(executable, args, workingDirectory, error); });
        if (!child) return nullptr;
        return std::make_unique<TimedChild>(t_, name, std::move(child));
    }
    void close() override {
        t_.time("job.close", [&] { inner_->close(); });
    }

private:
    Timeline& t_;
    std::unique_ptr<tunnel::Job> inner_;
};

class TimedRunner : public tunnel::ProcessRunner {
public:
    TimedRunner(Timeline& t, tunnel::ProcessRunner& inner) : t_(t), inner_(inner) {}
    bool runCommand(const std::string& program, const tunnel::CommandArgs& args, int timeoutMs,
                    std::string& error) override {
        return t_.time("run " + program, [&] { return inner_.runCommand(program, args, timeoutMs, error); });
    }
    std::unique_ptr<tunnel::Job> createJob(std::string& error) override {
        auto job = t_.time("createJob", [&] { return inner_.createJob(error); });
        if (!job) return nullptr;
        return std::make_unique<TimedJob>(t_, std::move(job));
    }
    void terminateStrays(const std::vector<std::string>& executables) override {
        t_.time("terminateStrays", [&] { inner_.terminateStrays(executables); });
    }

private:
    Timeline& t_;
    tunnel::ProcessRunner& inner_;
};

class TimedNetwork : public tunnel::NetworkOps {
public:
    TimedNetwork(Timeline& t, tunnel::NetworkOps& inner) : t_(t), inner_(inner) {}
    bool findPhysicalGateway(tunnel::PhysicalGateway& gateway, std::string& error) override {
        return t_.time("findPhysicalGateway", [&] { return inner_.findPhysicalGateway(gateway, error); });
    }
    bool addRoute(const tunnel::RouteSpec& route, std::string& error) override {
        return t_.time("addRoute", [&] { return inner_.addRoute(route, error); });
    }
    void deleteRoute(const tunnel::RouteSpec& route) override {
        t_.time("deleteRoute", [&] { inner_.deleteRoute(route); });
    }
    bool routeExists(const std::string& alias, const std::string& destination, uint8_t prefixLength) override {
        return t_.time("routeExists", [&] { return inner_.routeExists(alias, destination, prefixLength); });
    }
    void removeStaleRoutes() override {
        t_.time("removeStaleRoutes", [&] { inner_.removeStaleRoutes(); });
    }
    bool waitForTunAdapter(const std::string& fragment, std::string& alias, int timeoutMs) override {
        return t_.time("waitForTunAdapter", [&] { return inner_.waitForTunAdapter(fragment, alias, timeoutMs); });
    }
    bool localPortAccepts(uint16_t port) override {
        return t_.time("localPortAccepts", [&] { return inner_.localPortAccepts(port); });
    }
    bool waitForIpv4Address(const std::string& alias, int timeoutMs) override {
        return t_.time("waitForIpv4Address", [&] { return inner_.waitForIpv4Address(alias, timeoutMs); });
    }
    std::vector<tunnel::IpPrefix> onLinkNetworks(const std::string& alias) override {
        return t_.time("onLinkNetworks", [&] { return inner_.onLinkNetworks(alias); });
    }
    std::vector<std::string> adapterDnsServers(const std::string& alias) override {
        return t_.time("adapterDnsServers", [&] { return inner_.adapterDnsServers(alias); });
    }
    bool setTunAddress(const std::string& alias, const std::string& address, std::string& error) override {
        return t_.time("setTunAddress", [&] { return inner_.setTunAddress(alias, address, error); });
    }
    void setTunDns(const std::string& alias) override {
        t_.time("setTunDns", [&] { inner_.setTunDns(alias); });
    }
    void resetAdapterDns(const std::string& alias) override {
        t_.time("resetAdapterDns", [&] { inner_.resetAdapterDns(alias); });
    }
    void restoreDns() override {
        t_.time("restoreDns", [&] { inner_.restoreDns(); });
    }

private:
    Timeline& t_;
    tunnel::NetworkOps& inner_;
};

class TimedLocator : public tunnel::ToolLocator {
public:
    TimedLocator(Timeline& t, tunnel::ToolLocator& inner) : t_(t), inner_(inner) {}
    bool locate(const std::string& xrayDirectory, const std::string& tun2socksDirectory, const std::string& configPath,
                tunnel::TunnelTools& tools, std::string& error) override {
        return t_.time("locate", [&] {
            return inner_.locate(xrayDirectory, tun2socksDirectory, configPath, tools, error);
        });
    }

private:
    Timeline& t_;
    tunnel::ToolLocator& inner_;
};

Timeline timeline;

bool prepareRuntime(orvik_test::RouterLab& lab, std::string& error) {
    if (!lab.error().empty() || !lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE)) {
        error = lab.error();
        return false;
    }
    vpn::NodeRecord node;
    node.name = "bench";
    node.address = "198.18.50.1";
    node.port = 443;
    node.uuid = "3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b";
    node.serverName = "www.example.com";
    node.publicKey = "Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw";
    node.shortId = "6ba85179e30d4fc2";
    return tunnel::writeXrayConfig(node, {"uplink0", "198.18.1.1"}, 0, lab.configPath(), error);
}

void BM_TunnelStartStop(benchmark::State& state) {
    orvik_test::RouterLab lab({"198.18.50.1"});
    std::string error;
    if (!prepareRuntime(lab, error)) {
        state.SkipWithError(("lab not ready: " + error).c_str());
        return;
    }
    const tunnel::StartParams params{lab.xrayDirectory(), lab.tun2socksDirectory(), lab.configPath(),
                                     "198.18.50.1", "198.19.123.1"};
    lab.inMachine([&] {
        auto runner = tunnel::makeProcessRunner();
        auto network = tunnel::makeNetworkOps(
            *runner, {tunnel::DnsBackend::file, lab.resolvConfPath(), lab.dnsStatePath()});
        auto tools = tunnel::makeToolLocator(false);
        TimedRunner timedRunner(timeline, *runner);
        TimedNetwork timedNetwork(timeline, *network);
        TimedLocator timedTools(timeline, *tools);
        tunnel::Tunnel tunnel({timedRunner, timedNetwork, timedTools, [](int ms) {
                                   timeline.time("sleep " + std::to_string(ms), [ms] {
                                       std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                                   });
                               }});
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        double startMs = 0;
        double stopMs = 0;
        for ([[maybe_unused]] auto _ : state) {
            timeline.beginPhase("start");
            auto begin = Clock::now();
            if (!tunnel.start(params, error)) {
                state.SkipWithError(("start failed: " + error).c_str());
                break;
            }
            startMs += msSince(begin);
            timeline.beginPhase("stop ");
            begin = Clock::now();
            tunnel.stop();
            stopMs += msSince(begin);
        }
        const double n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
        state.counters["start_ms"] = startMs / n;
        state.counters["stop_ms"] = stopMs / n;
        state.counters["fixed_waits_ms"] = 1100;
        state.counters["start_beyond_waits_ms"] = startMs / n - 1100;
    });
}

BENCHMARK(BM_TunnelStartStop)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the firewall adds to a connect (its rules put in place) and to a disconnect (removed),
// through libnftables in the lab's machine.
void BM_FirewallApplyClear(benchmark::State& state) {
    orvik_test::RouterLab lab({"198.18.50.1"});
    if (!lab.error().empty()) {
        state.SkipWithError(("lab not ready: " + lab.error()).c_str());
        return;
    }
    lab.inMachine([&] {
        const auto firewall = tunnel::makeFirewall();
        tunnel::FirewallPolicy policy;
        policy.tunInterface = tunnel::kTunInterfaceName;
        policy.tunAddress = "198.19.123.1";
        policy.localNetworks = {{"198.18.1.0", 24, false}};
        double applyMs = 0, clearMs = 0;
        std::string error;
        for ([[maybe_unused]] auto _ : state) {
            auto begin = Clock::now();
            if (!firewall->apply(policy, error)) {
                state.SkipWithError(error.c_str());
                break;
            }
            applyMs += msSince(begin);
            begin = Clock::now();
            firewall->clear(error);
            clearMs += msSince(begin);
        }
        const double n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
        state.counters["apply_ms"] = applyMs / n;
        state.counters["clear_ms"] = clearMs / n;
    });
}

BENCHMARK(BM_FirewallApplyClear)->Iterations(50)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const std::string whyNot = orvik_test::whyNoNetworkLab();
    if (!whyNot.empty()) {
        std::printf("tunnel_bench skipped: %s\n", whyNot.c_str());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    timeline.print();
    return 0;
}
