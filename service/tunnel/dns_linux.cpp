#include "service/tunnel/dns_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "service/tunnel/gateway_choice.h"
#include "service/tunnel/interface_name_linux.h"
#include "vpn/files.h"

extern char** environ;

namespace tunnel {
namespace {

// First line of a resolv.conf that we wrote; its absence at restore time means that somebody
// else (a DHCP client, the administrator) has rewritten the file since, and theirs stays.
constexpr const char* kOurMarker = "# Orvik tunnel DNS: the previous file comes back when the tunnel stops\n";
constexpr const char* kStateHeader = "orvik-dns 1";

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The service may run with a short PATH (systemd): the sbin directories are searched as well.
bool isInstalled(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string directories = std::string(path ? path : "") + ":/usr/local/sbin:/usr/sbin:/sbin:/usr/bin:/bin";
    std::istringstream list(directories);
    std::string directory;
    while (std::getline(list, directory, ':')) {
        if (!directory.empty() && isExecutableFile(directory + "/" + program)) return true;
    }
    return false;
}

std::string readOrEmpty(const std::string& path) {
    std::string bytes;
    return vpn::readWholeFile(path, bytes) ? bytes : std::string();
}

// Replaces the file's content without replacing the file: resolv.conf may be a bind mount
// (a rename onto it fails with EBUSY) or a symbolic link that must stay one.
bool overwriteInPlace(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// resolv.conf with our server in place of every "nameserver" line; other lines stay.
std::string tunnelResolvConf(const std::string& original) {
    std::string result = std::string(kOurMarker) + "nameserver " + kTunDnsServer + "\n";
    std::istringstream lines(original);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first != "nameserver") result += line + "\n";
    }
    return result;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

DnsBackend backendNamed(const std::string& name) {
    if (name == "resolved") return DnsBackend::resolved;
    if (name == "resolvconf") return DnsBackend::resolvconf;
    if (name == "file") return DnsBackend::file;
    return DnsBackend::automatic;  // unknown
}

// Waits for `pid` up to `timeoutMs`; kills it when it is still running then.
bool waitForCommand(pid_t pid, int timeoutMs, const std::string& line, std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            error = "command lost: " + line;
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            error = "command timed out: " + line;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    error = WIFEXITED(status) ? "command exit " + std::to_string(WEXITSTATUS(status)) + ": " + line
                              : "command killed by signal " + std::to_string(WTERMSIG(status)) + ": " + line;
    return false;
}

}  // namespace

DnsProbe probeDns(const std::string& resolvConfPath) {
    DnsProbe probe;
    std::error_code ignored;
    const std::string target = std::filesystem::canonical(resolvConfPath, ignored).string();
    const std::vector<std::string> servers = nameserversOf(readOrEmpty(resolvConfPath));
    const bool stub = servers.size() == 1 && servers.front() == "127.0.0.53";
    probe.resolvedManagesResolvConf =
        isInstalled("resolvectl") && (startsWith(target, "/run/systemd/resolve/") || stub);
    probe.resolvconfInstalled = isInstalled("resolvconf");
    return probe;
}

DnsBackend chooseDnsBackend(DnsBackend requested, const DnsProbe& probe) {
    if (requested != DnsBackend::automatic) return requested;
    if (probe.resolvedManagesResolvConf) return DnsBackend::resolved;
    if (probe.resolvconfInstalled) return DnsBackend::resolvconf;
    return DnsBackend::file;
}

const char* dnsBackendName(DnsBackend backend) {
    switch (backend) {
    case DnsBackend::resolved: return "resolved";
    case DnsBackend::resolvconf: return "resolvconf";
    case DnsBackend::file: return "file";
    case DnsBackend::automatic: break;
    }
    return "automatic";
}

std::vector<std::string> nameserversOf(const std::string& resolvConf) {
    std::vector<std::string> servers;
    std::istringstream lines(resolvConf);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword;
        std::string address;
        uint32_t parsed = 0;
        if (words >> keyword >> address && keyword == "nameserver" && parseIpv4(address, parsed))
            servers.push_back(address);
    }
    return servers;
}

bool runCommandWithInput(const std::string& program, const CommandArgs& args, const std::string& input,
                         int timeoutMs, std::string& error) {
    if (!checkCommand(program, args, error)) return false;
    const std::string line = commandLine(program, args, false);
    // A socket rather than a pipe: sending to a child that never reads cannot raise SIGPIPE.
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
        error = "CreateProcess failed for: " + line + " err=" + std::to_string(errno);
        return false;
    }
    std::vector<std::string> argv{program};
    for (const CommandArg& arg : args) argv.push_back(plainArgument(arg));
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, channel[1], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(channel[1]);
    if (spawned != 0) {
        ::close(channel[0]);
        error = "CreateProcess failed for: " + line + " err=" + std::to_string(spawned);
        return false;
    }
    ::send(channel[0], input.data(), input.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(channel[0]);
    return waitForCommand(pid, timeoutMs, line, error);
}

LinuxDns::LinuxDns(ProcessRunner& runner, InputCommand withInput, DnsSettings settings)
    : runner_(runner), withInput_(std::move(withInput)), settings_(std::move(settings)) {}

DnsBackend LinuxDns::currentBackend() const {
    if (settings_.backend != DnsBackend::automatic) return settings_.backend;
    return chooseDnsBackend(DnsBackend::automatic, probeDns(settings_.resolvConfPath));
}

void LinuxDns::setTunDns(const std::string& alias) {
    // A state file here was left by a session that never restored. If it cannot be undone,
    // change nothing: a new state file would replace the only copy of the original.
    if (!restore()) return;
    std::string ignored;
    const DnsBackend backend = currentBackend();
    if (backend == DnsBackend::file) return setFileDns();
    if (!isCommandSafeInterfaceName(alias) || !writeState(backend, alias, "")) return;
    if (backend == DnsBackend::resolved) {
        runner_.runCommand("resolvectl", {word("dns"), word(alias), word(kTunDnsServer)}, kDnsCommandTimeoutMs, ignored);
        // "~." routes every look-up to this link's server.
        runner_.runCommand("resolvectl", {word("domain"), word(alias), word("~.")}, kDnsCommandTimeoutMs, ignored);
    } else {
        withInput_("resolvconf", {word("-a"), word(alias)}, std::string("nameserver ") + kTunDnsServer + "\n",
                   kDnsCommandTimeoutMs, ignored);
    }
}

void LinuxDns::setFileDns() {
    std::string original;
    if (!vpn::readWholeFile(settings_.resolvConfPath, original)) return;  // nothing we could put back
    if (!writeState(DnsBackend::file, "-", original)) return;
    overwriteInPlace(settings_.resolvConfPath, tunnelResolvConf(original));
}

bool LinuxDns::writeState(DnsBackend backend, const std::string& alias, const std::string& saved) {
    std::error_code ignored;
    const std::filesystem::path parent = std::filesystem::path(settings_.statePath).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    const std::string header = std::string(kStateHeader) + " " + dnsBackendName(backend) + " " + alias + "\n";
    return vpn::writeFileAtomically(settings_.statePath, header + saved);
}

bool LinuxDns::restore() {
    std::string state;
    if (!vpn::readWholeFile(settings_.statePath, state)) return !vpn::isRegularFile(settings_.statePath);
    const size_t end = state.find('\n');
    std::istringstream header(state.substr(0, end));
    std::string magic;
    std::string version;
    std::string backend;
    std::string alias;
    header >> magic >> version >> backend >> alias;
    const bool known = magic + " " + version == kStateHeader && end != std::string::npos;
    std::string ignored;
    if (known && backendNamed(backend) == DnsBackend::file) {
        if (!restoreFile(state.substr(end + 1))) return false;  // keep the saved file for a later try
    } else if (known && isCommandSafeInterfaceName(alias)) {
        if (backendNamed(backend) == DnsBackend::resolved)
            runner_.runCommand("resolvectl", {word("revert"), word(alias)}, kDnsCommandTimeoutMs, ignored);
        if (backendNamed(backend) == DnsBackend::resolvconf)
            runner_.runCommand("resolvconf", {word("-d"), word(alias)}, kDnsCommandTimeoutMs, ignored);
    }
    return vpn::removeFile(settings_.statePath);
}

// False only when our resolv.conf is still in place and could not be overwritten.
bool LinuxDns::restoreFile(const std::string& saved) {
    std::string current;
    if (!vpn::readWholeFile(settings_.resolvConfPath, current) || !startsWith(current, kOurMarker)) return true;
    return overwriteInPlace(settings_.resolvConfPath, saved);
}

std::vector<std::string> LinuxDns::servers() {
    const bool resolved = currentBackend() == DnsBackend::resolved;
    return nameserversOf(readOrEmpty(resolved ? settings_.resolvedUpstreamPath : settings_.resolvConfPath));
}

}  // namespace tunnel
