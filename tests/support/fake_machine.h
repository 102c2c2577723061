#pragma once
// A stateful stand-in for the machine under the tunnel: processes in jobs (and strays of an
// earlier run), routes, the TUN adapter's address, DNS, and the short commands run. Tests look
// at the resulting state; `events` keeps the changes in order for the few ordering rules that
// matter (strays go before anything starts, host route before split routes, processes stop
// before routes go, DNS is restored last). Faults are switched on through its fields.

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service/tunnel/command.h"
#include "service/tunnel/firewall.h"
#include "service/tunnel/network.h"
#include "service/tunnel/process_runner.h"
#include "service/tunnel/tunnel_tools.h"

namespace orvik_test {

struct RecordedCommand {
    std::string program;
    tunnel::CommandArgs args;
    int timeoutMs = 0;
};

class FakeMachine : public tunnel::ProcessRunner,
                    public tunnel::NetworkOps,
                    public tunnel::ToolLocator,
                    public tunnel::Firewall {
public:
    struct Process {
        std::string name;  // lower case, without a directory
        bool alive = true;
        std::function<void()> exited;  // the watch on its end, while there is one
        std::string file;              // the executable it runs
        bool ours = true;              // run by the service's own user
    };

    // State.
    std::vector<std::shared_ptr<Process>> processes;
    int openJobs = 0;
    std::set<std::string> routes;  // "ALIAS DEST/LEN via HOP metric M"
    std::string tunAddress;
    bool tunDns = false;
    std::vector<std::string> physicalDns{"198.18.0.53"};
    std::vector<std::string> events;  // "kill N", "launch N ARGS", "stop N", "route+ R", "route- R", "dns ..."
    std::vector<RecordedCommand> commands;
    bool firewallUp = false;
    tunnel::FirewallPolicy firewallPolicy;

    // Faults.
    bool succeed = true;  // of runCommand
    std::string failureText = "command exit 1: (recorded)";
    std::string jobError, locateError, gatewayError, addressError, failingRoute, lostRoute;
    std::set<std::string> failingLaunches, exitingAtOnce;
    bool adapterAppears = true, addressAppears = true, tun2socksTakesInterface = true;

    std::shared_ptr<Process> addStray(const std::string& file, bool ours = true) {
        const std::string name = lowered(file.substr(file.find_last_of("/\\") + 1));
        return processes.emplace_back(std::make_shared<Process>(Process{name, true, {}, file, ours}));
    }
    // The latest process named `name` dies, and its watch (if any) hears of it.
    void exit(const std::string& name) {
        const std::shared_ptr<Process> process = find(name);
        if (!process) return;
        process->alive = false;
        if (process->exited) process->exited();
    }
    std::shared_ptr<Process> find(const std::string& name) const {
        for (auto it = processes.rbegin(); it != processes.rend(); ++it)
            if ((*it)->name == name) return *it;
        return nullptr;
    }
    // Position of the first event from `from` on starting with `prefix`; events.size() when
    // there is none.
    size_t first(const std::string& prefix, size_t from = 0) const {
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].starts_with(prefix)) return i;
        return events.size();
    }
    size_t last(const std::string& prefix) const {
        for (size_t i = events.size(); i-- > 0;)
            if (events[i].starts_with(prefix)) return i;
        return events.size();
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        for (const RecordedCommand& c : commands) result.push_back(tunnel::commandLine(c.program, c.args, false));
        return result;
    }

    // ProcessRunner
    bool runCommand(const std::string& program, const tunnel::CommandArgs& args, int timeoutMs,
                    std::string& error) override {
        commands.push_back({program, args, timeoutMs});
        if (!succeed) error = failureText;
        return succeed;
    }
    std::unique_ptr<tunnel::Job> createJob(std::string& error) override;
    void terminateStrays(const std::vector<std::string>& executables) override {
        for (const auto& process : processes) {
            if (!process->alive || !process->ours ||
                std::find(executables.begin(), executables.end(), process->file) == executables.end())
                continue;
            process->alive = false;
            events.push_back("kill " + process->name);
        }
    }

    // ToolLocator
    bool locate(const std::string& xrayDirectory, const std::string& tun2socksDirectory, const std::string&,
                tunnel::TunnelTools& tools, std::string& error) override {
        tools = {xrayDirectory + "/xray", tun2socksDirectory + "/tun2socks-linux-amd64", tun2socksTakesInterface};
        return (error = locateError).empty();
    }

    // Firewall
    bool apply(const tunnel::FirewallPolicy& policy, std::string&) override {
        firewallUp = true;
        firewallPolicy = policy;
        events.push_back("firewall on");
        return true;
    }
    bool clear(std::string&) override {
        if (firewallUp) events.push_back("firewall off");
        firewallUp = false;
        return true;
    }
    bool present() override { return firewallUp; }

    // NetworkOps
    bool findPhysicalGateway(tunnel::PhysicalGateway& gateway, std::string& error) override {
        gateway = {"eth0", "198.18.0.1"};
        return (error = gatewayError).empty();
    }
    bool addRoute(const tunnel::RouteSpec& route, std::string& error) override {
        if (route.destination == failingRoute) {
            error = "route refused: " + route.destination;
            return false;
        }
        routes.insert(text(route));
        added_.insert(text(route));
        events.push_back("route+ " + text(route));
        return true;
    }
    void deleteRoute(const tunnel::RouteSpec& route) override {
        if (routes.erase(text(route))) events.push_back("route- " + text(route));
    }
    bool routeExists(const std::string& alias, const std::string& destination, uint8_t length) override {
        const std::string prefix = alias + " " + destination + "/" + std::to_string(length) + " ";
        return destination != lostRoute &&
               std::any_of(routes.begin(), routes.end(), [&](const std::string& r) { return r.starts_with(prefix); });
    }
    // Stale: a route a crashed service left (put in `routes` by the test). Routes a session
    // of this tunnel added are its stop's to delete.
    void removeStaleRoutes() override {
        for (auto it = routes.begin(); it != routes.end();) {
            if (added_.count(*it)) {
                ++it;
                continue;
            }
            events.push_back("route- " + *it);
            it = routes.erase(it);
        }
    }
    bool waitForTunAdapter(const std::string&, std::string& alias, int) override {
        alias = "wintun";
        return adapterAppears;
    }
    bool localPortAccepts(uint16_t) override { return true; }
    bool waitForIpv4Address(const std::string&, int) override { return addressAppears && !tunAddress.empty(); }
    std::vector<tunnel::IpPrefix> onLinkNetworks(const std::string&) override { return {{"198.18.0.0", 24, false}}; }
    std::vector<std::string> adapterDnsServers(const std::string&) override {
        return tunDns ? std::vector<std::string>{"1.1.1.1"} : physicalDns;
    }
    bool setTunAddress(const std::string&, const std::string& address, std::string& error) override {
        if ((error = addressError).empty()) tunAddress = address;
        return error.empty();
    }
    void setTunDns(const std::string&) override {
        tunDns = true;
        events.push_back("dns set");
    }
    void resetAdapterDns(const std::string& alias) override { events.push_back("dns reset " + alias); }
    void restoreDns() override {
        tunDns = false;
        events.push_back("dns restored");
    }

    static std::string lowered(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }
    static std::string text(const tunnel::RouteSpec& r) {
        return r.interfaceAlias + " " + r.destination + "/" + std::to_string(r.prefixLength) + " via " + r.nextHop +
               " metric " + std::to_string(r.metric);
    }

private:
    std::set<std::string> added_;
};

class FakeChild : public tunnel::ChildProcess {
public:
    FakeChild(FakeMachine& machine, std::shared_ptr<FakeMachine::Process> process)
        : machine_(machine), process_(std::move(process)) {}
    bool isRunning() override { return process_->alive; }
    // The watch is the process's own: FakeMachine::exit() calls it.
    std::unique_ptr<tunnel::ExitWatch> watchExit(std::function<void()> exited) override {
        process_->exited = std::move(exited);
        struct Watch : tunnel::ExitWatch {
            explicit Watch(std::shared_ptr<FakeMachine::Process> p) : process(std::move(p)) {}
            ~Watch() override { process->exited = nullptr; }
            std::shared_ptr<FakeMachine::Process> process;
        };
        return std::make_unique<Watch>(process_);
    }
    void terminate(int) override {
        if (process_->alive) machine_.events.push_back("stop " + process_->name);
        process_->alive = false;
    }

private:
    FakeMachine& machine_;
    std::shared_ptr<FakeMachine::Process> process_;
};

class FakeJob : public tunnel::Job {
public:
    explicit FakeJob(FakeMachine& machine) : machine_(machine) { ++machine_.openJobs; }
    ~FakeJob() override { close(); }
    std::unique_ptr<tunnel::ChildProcess> launch(const std::string& executable, const tunnel::CommandArgs& args,
                                                 const std::string&, std::string& error) override {
        const std::string name = FakeMachine::lowered(executable.substr(executable.find_last_of("/\\") + 1));
        if (closed_ || machine_.failingLaunches.count(name)) {
            error = "CreateProcess failed for " + executable + " err=2";
            return nullptr;
        }
        machine_.processes.push_back(std::make_shared<FakeMachine::Process>(
            FakeMachine::Process{name, machine_.exitingAtOnce.count(name) == 0, {}, executable}));
        machine_.events.push_back("launch " + tunnel::commandLine(name, args, false));
        members_.push_back(machine_.processes.back());
        return std::make_unique<FakeChild>(machine_, members_.back());
    }
    void close() override {
        if (closed_) return;
        for (const auto& member : members_) {
            if (member->alive) machine_.events.push_back("stop " + member->name);
            member->alive = false;
        }
        closed_ = true;
        --machine_.openJobs;
    }

private:
    FakeMachine& machine_;
    std::vector<std::shared_ptr<FakeMachine::Process>> members_;
    bool closed_ = false;
};

inline std::unique_ptr<tunnel::Job> FakeMachine::createJob(std::string& error) {
    return (error = jobError).empty() ? std::make_unique<FakeJob>(*this) : nullptr;
}

}  // namespace orvik_test
