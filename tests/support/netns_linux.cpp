#include "tests/support/netns_linux.h"

#include "tests/support/process_probe.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace orvik_test {
namespace {

namespace fs = std::filesystem;

const char* const kElsewhere = "198.18.99.9";  // any address that is neither node nor uplink

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<long> processIds() {
    std::vector<long> ids;
    for (const auto& entry : fs::directory_iterator("/proc", fs::directory_options::skip_permission_denied)) {
        char* end = nullptr;
        const std::string name = entry.path().filename().string();
        const long pid = std::strtol(name.c_str(), &end, 10);
        if (pid > 0 && *end == '\0') ids.push_back(pid);
    }
    return ids;
}

std::string executableOf(long pid) {
    std::error_code error;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
}

bool under(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() && path.starts_with(directory) && path[directory.size()] == '/';
}

bool copyExecutable(const std::string& from, const std::string& to) {
    std::error_code failure;
    fs::create_directories(fs::path(to).parent_path(), failure);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, failure);
    if (!failure) fs::permissions(to, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec, failure);
    return !failure;
}

// Runs `file` as `name`. Returns once the child runs the program (the close-on-exec pipe
// closes on exec): a look for processes by name must find it under its name, not under ours.
long spawnAs(const std::string& file, const std::string& name) {
    int ran[2];
    if (::pipe2(ran, O_CLOEXEC) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        const char* argv[] = {name.c_str(), "600", nullptr};
        ::execv(file.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(ran[1]);
    char ignored;
    while (child > 0 && ::read(ran[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::close(ran[0]);
    return child;
}

// "orvik-<pid>-<n>" of a test process that no longer runs.
bool leftBehind(const std::string& name) {
    unsigned long pid = 0;
    int used = 0;
    if (std::sscanf(name.c_str(), "orvik-%lu-%*u%n", &pid, &used) != 1 || static_cast<size_t>(used) != name.size())
        return false;
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

void removeNamespace(const std::string& ns) {
    std::string pids;
    if (runProgram({"ip", "netns", "pids", ns}, &pids)) {
        std::istringstream ids(pids);
        for (long pid = 0; ids >> pid;) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    runProgram({"ip", "netns", "del", ns});
}

bool runIp(const std::string& ns, const std::vector<std::string>& args, std::string& output) {
    std::vector<std::string> argv{"ip", "-n", ns};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, &output);
}

bool bindOver(const std::string& source, const char* target) {
    return ::mount(source.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
}

}  // namespace

std::string whyNoNetworkLab() {
    if (::geteuid() != 0) return "network tests need root (namespaces, veth and TUN devices); skipped";
    if (::access("/dev/net/tun", R_OK | W_OK) != 0) return "network tests need /dev/net/tun; skipped";
    if (!runProgram({"ip", "-V"})) return "network tests need the ip command (iproute2); skipped";
    return "";
}

bool runProgram(const std::vector<std::string>& argv, std::string* output) {
    int pipeFds[2];
    if (argv.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; spawned == 0 && (got = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0) text.append(buffer, static_cast<size_t>(got));
        else if (errno != EINTR) break;
    }
    ::close(pipeFds[0]);
    if (output) *output = text;
    int status = 0;
    while (spawned == 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

EnteredNamespace::EnteredNamespace(const std::string& ns) {
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (home >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0) {
        home_ = home;
    } else if (home >= 0) {
        ::close(home);
    }
    if (target >= 0) ::close(target);
}

EnteredNamespace::~EnteredNamespace() {
    if (home_ < 0) return;
    if (::setns(home_, CLONE_NEWNET) != 0) std::abort();  // a thread left in a test namespace
    ::close(home_);
}

RouterLab::RouterLab(const std::vector<std::string>& nodes) {
    // Orphans of the test (a daemon the service made of itself) are reaped by us.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/run/netns", ignored)) {
        if (leftBehind(entry.path().filename().string())) removeNamespace(entry.path().filename().string());
    }
    if (!build(nodes) && error_.empty()) error_ = "the lab network could not be built";
}

RouterLab::~RouterLab() {
    for (long pid : processIds()) {
        if (under(executableOf(pid), root())) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    for (const std::string& ns : namespaces_) removeNamespace(ns);
    for (long pid : strays_) ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
}

bool RouterLab::build(const std::vector<std::string>& nodes) {
    machine_ = addNamespace();
    router_ = addNamespace();
    const std::string& router = router_;
    if (machine_.empty() || router.empty() ||
        !ipIn(machine_, {"link", "add", "uplink0", "type", "veth", "peer", "name", "r1", "netns", router}) ||
        !ipIn(machine_, {"link", "set", "uplink0", "up"}) || !ipIn(router, {"link", "set", "r1", "up"}) ||
        !ipIn(machine_, {"address", "add", "198.18.1.2/24", "dev", "uplink0"}) ||
        !ipIn(router, {"address", "add", "198.18.1.1/24", "dev", "r1"}) ||
        !ipIn(machine_, {"-6", "address", "add", "2001:db8:1::2/64", "dev", "uplink0", "nodad"}) ||
        !ipIn(router, {"-6", "address", "add", "2001:db8:1::1/64", "dev", "r1", "nodad"}) ||
        !ipIn(machine_, {"-6", "route", "add", "default", "via", "2001:db8:1::1", "dev", "uplink0"}))
        return false;
    for (const std::string& node : nodes) {
        if (!ipIn(router, {"address", "add", node + "/32", "dev", "lo"})) return false;
    }
    std::error_code ignored;
    fs::create_directories(root() + "/var-lib", ignored);
    dir_.write("hosts", "127.0.0.1 localhost\n" + (nodes.empty() ? "" : nodes.front() + " node.lab.test\n"));
    return ipIn(machine_, {"route", "add", "default", "via", kGateway, "dev", "uplink0"});
}

bool RouterLab::addSecondUplink(const std::vector<std::string>& nodes) {
    const std::string router = addNamespace();
    if (router.empty() ||
        !ipIn(machine_, {"link", "add", "uplink1", "type", "veth", "peer", "name", "r2", "netns", router}) ||
        !ipIn(machine_, {"link", "set", "uplink1", "up"}) || !ipIn(router, {"link", "set", "r2", "up"}) ||
        !ipIn(machine_, {"address", "add", "198.18.2.2/24", "dev", "uplink1"}) ||
        !ipIn(router, {"address", "add", "198.18.2.1/24", "dev", "r2"}))
        return false;
    for (const std::string& node : nodes) {
        if (!ipIn(router, {"address", "add", node + "/32", "dev", "lo"})) return false;
    }
    return true;
}

std::string RouterLab::addNamespace() {
    const std::string ns = "orvik-" + std::to_string(::getpid()) + "-" + std::to_string(namespaces_.size());
    std::string output;
    if (!runProgram({"ip", "netns", "add", ns}, &output)) {
        error_ = "ip netns add " + ns + ": " + output;
        return "";
    }
    namespaces_.push_back(ns);
    return ipIn(ns, {"link", "set", "lo", "up"}) ? ns : "";
}

bool RouterLab::ipIn(const std::string& ns, const std::vector<std::string>& args) {
    std::string text;
    const bool ok = runIp(ns, args, text);
    if (!ok && error_.empty()) error_ = "ip -n " + ns + " " + args.front() + "...: " + text;
    return ok;
}

std::string RouterLab::ip(const std::vector<std::string>& args) const {
    std::string text;
    return runIp(machine_, args, text) ? text : "";
}

bool RouterLab::installTools(const std::string& xrayDouble, const std::string& tun2socksDouble) {
    dir_.write("resolv.conf", kResolvConf);
    return copyExecutable(xrayDouble, xrayExecutable()) && copyExecutable(tun2socksDouble, tun2socksExecutable());
}

std::vector<long> RouterLab::runningTools() const {
    std::vector<long> found;
    for (long pid : processIds()) {
        const std::string exe = executableOf(pid);
        if (under(exe, xrayDirectory()) || under(exe, tun2socksDirectory())) found.push_back(pid);
    }
    return found;
}

long RouterLab::runningTool(const std::string& name) const {
    for (long pid : runningTools()) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string line;
        if (std::getline(comm, line) && line.starts_with(name)) return pid;
    }
    return -1;
}

std::vector<long> RouterLab::startStrays() {
    std::vector<long> ids;
    for (const std::string& tool : {xrayExecutable(), tun2socksExecutable()}) {
        const std::string current = tool + ".current";
        std::error_code failure;
        fs::rename(tool, current, failure);
        const bool ran = !failure && copyExecutable("/bin/sleep", tool);
        ids.push_back(ran ? spawnAs(tool, fs::path(tool).filename().string()) : -1);
        fs::rename(current, tool, failure);  // the upgrade: a new file at the path
        if (ids.back() > 0) strays_.push_back(ids.back());
    }
    return ids;
}

bool RouterLab::inMachine(const std::function<void()>& body, bool privateFiles) {
    bool ran = false;
    std::thread([&] {
        const EnteredNamespace entered(machine_);
        if (!entered.ok()) {
            error_ = "cannot enter " + machine_;
            return;
        }
        // A mount namespace of this thread's own (unshare implies its own file system
        // context): the binds never reach the machine or the other threads.
        if (privateFiles && (::unshare(CLONE_NEWNS) != 0 ||
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                             !bindOver(resolvConfPath(), "/etc/resolv.conf") ||
                             !bindOver(dir_.file("hosts"), "/etc/hosts") ||
                             !bindOver(root() + "/var-lib", "/var/lib"))) {
            error_ = std::string("private files: ") + std::strerror(errno);
            return;
        }
        body();
        ran = true;
    }).join();
    return ran;
}

std::string RouterLab::notUp(const std::string& node, const std::string& tunAddress) const {
    const std::string table = ip({"route", "show"});
    std::string problems;
    auto need = [&](bool ok, const std::string& what) {
        if (!ok) problems += what + "; ";
    };
    need(contains(table, node + " via 198.18.1.1 dev uplink0 proto 167 metric 1"), "no host route to " + node);
    need(contains(table, "0.0.0.0/1 dev wintun proto 167 scope link metric 5"), "no lower split route");
    need(contains(table, "128.0.0.0/1 dev wintun proto 167 scope link metric 5"), "no upper split route");
    need(contains(ip({"route", "get", kElsewhere}), "dev wintun"), "traffic does not enter the TUN");
    need(contains(ip({"route", "get", node}), "via 198.18.1.1 dev uplink0"), "the node is not reached directly");
    need(contains(ip({"-4", "address", "show", "dev", "wintun"}), "inet " + tunAddress + "/24"), "TUN address");
    const std::string resolvConf = dir_.read("resolv.conf");
    need(contains(resolvConf, "nameserver 1.1.1.1\n") && !contains(resolvConf, "198.18.0.53"), "DNS not the tunnel's");
    need(runningTools().size() == 2, std::to_string(runningTools().size()) + " tools running");
    return problems.empty() ? "" : problems + "routes:\n" + table;
}

std::string RouterLab::leftOver() const {
    // Tools of a killed service die on their own signal: give them time to be gone.
    waitUntil([this] { return runningTools().empty(); });
    const std::string table = ip({"route", "show"});
    std::string problems;
    if (!runningTools().empty()) problems += "tools still running; ";
    if (contains(table, "proto 167") || contains(table, "wintun")) problems += "routes left: " + table;
    if (runProgram({"ip", "-n", machine_, "link", "show", "dev", "wintun"})) problems += "TUN left; ";
    if (dir_.read("resolv.conf") != kResolvConf) problems += "DNS not restored: " + dir_.read("resolv.conf");
    if (!contains(ip({"route", "get", kElsewhere}), "via 198.18.1.1 dev uplink0")) problems += "default route lost; ";
    if (runProgram({"ip", "netns", "exec", machine_, "nft", "list", "table", "inet", "orvik"})) problems += "firewall left; ";
    return problems;
}

}  // namespace orvik_test
