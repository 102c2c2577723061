#pragma once
// A temporary runtime directory for whole-tunnel tests and benchmarks on Linux: the Xray and
// tun2socks doubles copied in under the names the service looks for, the generated
// configuration, a private resolv.conf and DNS state file, and a view of the tool processes
// that run from it. Whatever still runs from the directory is killed when it is destroyed.

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace orvik_test {

class TunnelRuntime {
public:
    TunnelRuntime(std::string xrayDouble, std::string tun2socksDouble);
    ~TunnelRuntime();
    TunnelRuntime(const TunnelRuntime&) = delete;
    TunnelRuntime& operator=(const TunnelRuntime&) = delete;

    // Copies the doubles in (again, after a test removed one). False with error() on failure.
    bool installTools();
    const std::string& error() const { return error_; }

    const std::string& root() const { return root_; }
    std::string xrayDirectory() const { return root_ + "/xray"; }
    std::string tun2socksDirectory() const { return root_ + "/tun2socks"; }
    std::string xrayExecutable() const { return xrayDirectory() + "/xray"; }
    std::string tun2socksExecutable() const { return tun2socksDirectory() + "/tun2socks-linux-amd64"; }
    std::string configPath() const { return root_ + "/session.json.xray.json"; }
    std::string resolvConfPath() const { return root_ + "/resolv.conf"; }
    std::string dnsStatePath() const { return root_ + "/state/dns-state"; }

    void writeFile(const std::string& path, const std::string& bytes) const;
    std::string readFile(const std::string& path) const;

    // Process ids of live (not zombie) processes whose executable lies under `directory`
    // (default: either tool directory).
    std::vector<long> runningTools(const std::string& directory = "") const;
    // True once no process runs from the tool directories any more (zombies count as gone).
    bool waitToolsGone(int timeoutMs) const;

    // Starts long-sleeping processes under the given executable names, from a directory
    // outside the tool directories; their ids (-1 for one that did not start).
    std::vector<long> startStrays(const std::vector<std::string>& names);

private:
    TempDir dir_;
    std::string root_;
    std::string xrayDouble_;
    std::string tun2socksDouble_;
    std::string error_;
    std::vector<long> strays_;
};

}  // namespace orvik_test
