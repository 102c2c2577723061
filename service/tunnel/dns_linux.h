#pragma once
// The tunnel's DNS on Linux. One resolver configuration serves the whole machine, so three
// mechanisms are tried in a fixed order: systemd-resolved (resolvectl) when it manages
// resolv.conf, else resolvconf when installed, else resolv.conf itself, edited in place (a
// rename fails on a bind-mounted file). What was changed is recorded in a state file before
// the change; restore() undoes it, and a state file found later means a session ended
// without restoring (a crash), so it is undone first.

#include <functional>
#include <string>
#include <vector>

#include "service/tunnel/command.h"
#include "service/tunnel/network.h"
#include "service/tunnel/process_runner.h"

namespace tunnel {

// What the automatic choice looks at.
struct DnsProbe {
    bool resolvedManagesResolvConf = false;  // resolvectl installed, resolv.conf is resolved's
    bool resolvconfInstalled = false;
};

DnsProbe probeDns(const std::string& resolvConfPath);
// The requested backend, or for `automatic` the first that the probe allows.
DnsBackend chooseDnsBackend(DnsBackend requested, const DnsProbe& probe);
const char* dnsBackendName(DnsBackend backend);

// The IPv4 "nameserver" entries of a resolv.conf text, in order.
std::vector<std::string> nameserversOf(const std::string& resolvConf);

// Runs `program` (searched on PATH) with `input` on its standard input and waits up to
// `timeoutMs`; the same texts as ProcessRunner::runCommand on failure.
using InputCommand = std::function<bool(const std::string& program, const CommandArgs& args,
                                        const std::string& input, int timeoutMs, std::string& error)>;
bool runCommandWithInput(const std::string& program, const CommandArgs& args, const std::string& input,
                         int timeoutMs, std::string& error);

inline constexpr const char* kTunDnsServer = "1.1.1.1";
inline constexpr int kDnsCommandTimeoutMs = 2500;
inline constexpr const char* kResolvedUpstreamPath = "/run/systemd/resolve/resolv.conf";

struct DnsSettings {
    DnsBackend backend = DnsBackend::automatic;
    std::string resolvConfPath;
    std::string statePath;
    std::string resolvedUpstreamPath = kResolvedUpstreamPath;  // resolved's own list of servers
};

class LinuxDns {
public:
    LinuxDns(ProcessRunner& runner, InputCommand withInput, DnsSettings settings);

    // Makes 1.1.1.1 the tunnel's DNS server through the chosen backend. `alias` is a checked
    // interface name. Failures are ignored: the tunnel works, with the old servers.
    void setTunDns(const std::string& alias);
    // Undoes what the state file records (this session's change or a crashed one's) and
    // removes the state file. A resolv.conf that someone else rewrote since is left alone.
    // False when a saved resolv.conf could not be written back (the state file stays).
    bool restore();
    // The IPv4 servers the machine resolves with (resolved: its upstream servers).
    std::vector<std::string> servers();
    // The backend setTunDns would use now.
    DnsBackend currentBackend() const;

private:
    bool writeState(DnsBackend backend, const std::string& alias, const std::string& saved);
    void setFileDns();
    bool restoreFile(const std::string& saved);

    ProcessRunner& runner_;
    InputCommand withInput_;
    DnsSettings settings_;
};

}  // namespace tunnel
