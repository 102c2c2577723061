#include "tests/support/netns_linux.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include <gtest/gtest-spi.h>

extern char** environ;

namespace orvik_test {
namespace {

constexpr const char* kNetnsDir = "/run/netns";

std::string joined(const std::vector<std::string>& argv) {
    std::string text;
    for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
    return text;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            return text;
        }
    }
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// "orvik-<pid>-<n>" of a test process that no longer runs.
bool isLeftOverName(const std::string& name) {
    unsigned long pid = 0;
    int used = 0;
    if (std::sscanf(name.c_str(), "orvik-%lu-%*u%n", &pid, &used) != 1) return false;
    if (static_cast<size_t>(used) != name.size() || pid == 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Ends whatever still runs inside `ns` so that deleting it frees its interfaces at once.
void killProcessesIn(const std::string& ns) {
    std::string pids;
    if (!runProgram({"ip", "netns", "pids", ns}, &pids)) return;
    std::istringstream lines(pids);
    long pid = 0;
    while (lines >> pid) {
        if (pid > 1 && pid != ::getpid()) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

void removeNamespace(const std::string& ns) {
    killProcessesIn(ns);
    runProgram({"ip", "netns", "del", ns});
}

bool enterNamespace(const std::string& ns, std::string& error) {
    const std::string path = std::string(kNetnsDir) + "/" + ns;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const int result = ::setns(fd, CLONE_NEWNET);
    const int savedErrno = errno;
    ::close(fd);
    if (result != 0) error = "setns " + ns + ": " + std::strerror(savedErrno);
    return result == 0;
}

// Sends failed assertions of a forked child to the parent through a pipe: line, file
// length, file, message length, message. Returns how many failed.
int forwardFailures(int fd, const ::testing::TestPartResultArray& results) {
    int failed = 0;
    for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& result = results.GetTestPartResult(i);
        if (!result.failed()) continue;
        ++failed;
        const std::string file = result.file_name() ? result.file_name() : "";
        const std::string message = result.message();
        const int32_t line = result.line_number();
        const uint32_t fileSize = static_cast<uint32_t>(file.size());
        const uint32_t messageSize = static_cast<uint32_t>(message.size());
        writeAll(fd, &line, sizeof line);
        writeAll(fd, &fileSize, sizeof fileSize);
        writeAll(fd, file.data(), file.size());
        writeAll(fd, &messageSize, sizeof messageSize);
        writeAll(fd, message.data(), message.size());
    }
    return failed;
}

void reportForwardedFailures(const std::string& bytes) {
    size_t at = 0;
    auto take = [&](void* out, size_t size) {
        if (bytes.size() - at < size) return false;
        std::memcpy(out, bytes.data() + at, size);
        at += size;
        return true;
    };
    for (;;) {
        int32_t line = 0;
        uint32_t size = 0;
        if (!take(&line, sizeof line) || !take(&size, sizeof size) || bytes.size() - at < size) return;
        const std::string file = bytes.substr(at, size);
        at += size;
        if (!take(&size, sizeof size) || bytes.size() - at < size) return;
        const std::string message = bytes.substr(at, size);
        at += size;
        ADD_FAILURE_AT(file.empty() ? "(child)" : file.c_str(), line) << "in namespace child: " << message;
    }
}

[[noreturn]] void childMain(const std::string& ns, const std::function<void()>& body, int failureFd) {
    // Capture every assertion of the child, on this thread and on any it starts, instead of
    // the reporters inherited from the parent (which may be intercepting for an EXPECT_*_FAILURE).
    ::testing::TestPartResultArray thisThread;
    ::testing::TestPartResultArray otherThreads;
    int failed = 0;
    {
        ::testing::ScopedFakeTestPartResultReporter all(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &otherThreads);
        ::testing::ScopedFakeTestPartResultReporter mine(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &thisThread);
        std::string error;
        if (!enterNamespace(ns, error)) {
            ADD_FAILURE() << error;
        } else {
            try {
                body();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "exception: " << e.what();
            } catch (...) {
                ADD_FAILURE() << "unknown exception";
            }
        }
    }
    failed += forwardFailures(failureFd, thisThread);
    failed += forwardFailures(failureFd, otherThreads);
    ::_exit(failed > 0 ? 1 : 0);
}

}  // namespace

std::string whyNoNetworkLab() {
    if (::geteuid() != 0) return "network tests need root (network namespaces, veth and TUN devices); skipped";
    if (::access("/dev/net/tun", R_OK | W_OK) != 0) return "network tests need /dev/net/tun; skipped";
    std::string output;
    if (!runProgram({"ip", "-V"}, &output)) return "network tests need the ip command (iproute2); skipped";
    return "";
}

void skipUnlessRoot() {
    const std::string why = whyNoNetworkLab();
    if (!why.empty()) GTEST_SKIP() << why;
}

bool runProgram(const std::vector<std::string>& argv, std::string* output) {
    int pipeFds[2];
    if (argv.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    } else {
        // Nothing to read: a program that leaves a daemon behind must not keep us waiting.
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    const std::string text = spawned == 0 ? readAll(pipeFds[0]) : "";
    ::close(pipeFds[0]);
    if (output) *output = spawned == 0 ? text : std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
    if (spawned != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool isTestAddress(const std::string& cidrOrAddress) {
    const std::string address = cidrOrAddress.substr(0, cidrOrAddress.find('/'));
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
    return (ntohl(parsed.s_addr) & 0xFFFE0000u) == 0xC6120000u;  // 198.18.0.0/15
}

NetnsLab::NetnsLab() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    DIR* dir = ::opendir(kNetnsDir);
    if (!dir) return;
    std::vector<std::string> leftOver;
    while (dirent* entry = ::readdir(dir)) {
        if (isLeftOverName(entry->d_name)) leftOver.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& ns : leftOver) removeNamespace(ns);
}

NetnsLab::~NetnsLab() {
    // Ended orphans are not reaped here: a blanket wait could take a child that a process
    // runner of the test still watches. Zombies hold no namespace.
    for (const std::string& ns : namespaces_) removeNamespace(ns);
}

std::string NetnsLab::addNamespace() {
    const std::string ns = "orvik-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++);
    std::string output;
    if (!runProgram({"ip", "netns", "add", ns}, &output)) {
        ADD_FAILURE() << "ip netns add " << ns << ": " << output;
        return "";
    }
    namespaces_.push_back(ns);
    if (!ip(ns, {"link", "set", "lo", "up"})) return "";
    return ns;
}

bool NetnsLab::addVeth(const std::string& nsA, const std::string& ifA, const std::string& nsB,
                       const std::string& ifB) {
    // Created inside nsA with its peer placed straight into nsB: never in our own namespace.
    return ip(nsA, {"link", "add", ifA, "type", "veth", "peer", "name", ifB, "netns", nsB}) &&
           ip(nsA, {"link", "set", ifA, "up"}) && ip(nsB, {"link", "set", ifB, "up"});
}

bool NetnsLab::addAddress(const std::string& ns, const std::string& dev, const std::string& cidr) {
    if (!isTestAddress(cidr)) {
        ADD_FAILURE() << "test addresses must lie in 198.18.0.0/15: " << cidr;
        return false;
    }
    return ip(ns, {"address", "add", cidr, "dev", dev});
}

bool NetnsLab::addRoute(const std::string& ns, const std::vector<std::string>& args) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "via" && !isTestAddress(args[i + 1])) {
            ADD_FAILURE() << "test gateways must lie in 198.18.0.0/15: " << args[i + 1];
            return false;
        }
    }
    std::vector<std::string> full{"route", "add"};
    full.insert(full.end(), args.begin(), args.end());
    return ip(ns, full);
}

bool NetnsLab::addMachineBehindRouter(std::string& machine, std::string& router,
                                      const std::vector<std::string>& nodes) {
    machine = addNamespace();
    router = addNamespace();
    if (machine.empty() || router.empty()) return false;
    if (!addVeth(machine, "uplink0", router, "r1") || !addAddress(machine, "uplink0", "198.18.1.2/24") ||
        !addAddress(router, "r1", "198.18.1.1/24"))
        return false;
    for (const std::string& node : nodes) {
        if (!addAddress(router, "lo", node + "/32")) return false;
    }
    return addRoute(machine, {"default", "via", "198.18.1.1", "dev", "uplink0"});
}

std::string NetnsLab::ipText(const std::string& ns, const std::vector<std::string>& args) {
    std::string text;
    ip(ns, args, &text);
    return text;
}

bool NetnsLab::ip(const std::string& ns, const std::vector<std::string>& args, std::string* output) {
    if (ns.empty()) {
        ADD_FAILURE() << "ip without a namespace refused: " << joined(args);
        return false;
    }
    std::vector<std::string> argv{"ip", "-n", ns};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string text;
    const bool ok = runProgram(argv, &text);
    if (!ok) ADD_FAILURE() << joined(argv) << ": " << text;
    if (output) *output = text;
    return ok;
}

void NetnsLab::run(const std::string& ns, const std::function<void()>& body) {
    std::thread worker([&] {
        std::string error;
        if (!enterNamespace(ns, error)) {
            ADD_FAILURE() << error;
            return;
        }
        try {
            body();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "exception: " << e.what();
        } catch (...) {
            ADD_FAILURE() << "unknown exception";
        }
    });
    worker.join();
}

int NetnsLab::runInChild(const std::string& ns, const std::function<void()>& body, int timeoutMs) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return -1;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        childMain(ns, body, pipeFds[1]);
    }
    ::close(pipeFds[1]);
    std::string failures;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{pipeFds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) == 0) {
            ADD_FAILURE() << "namespace child still running after " << timeoutMs << " ms; killed";
            ::kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got > 0) failures.append(buffer, static_cast<size_t>(got));
        if (got == 0 || (got < 0 && errno != EINTR)) break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    reportForwardedFailures(failures);
    return status;
}

TunDevice::TunDevice(const std::string& name, bool persistent) {
    fd_ = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::string("open /dev/net/tun: ") + std::strerror(errno);
        return;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    if (::ioctl(fd_, TUNSETIFF, &request) != 0 || (persistent && ::ioctl(fd_, TUNSETPERSIST, 1) != 0)) {
        error_ = "TUNSETIFF " + name + ": " + std::strerror(errno);
        close();
    }
}

TunDevice::~TunDevice() { close(); }

void TunDevice::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace orvik_test
