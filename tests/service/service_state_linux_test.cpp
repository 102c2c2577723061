// What other local users can put in the root service's way on Linux: the state it reads for
// the user who asks (found by the socket's peer credentials) and its log file. The pipe
// server, the socket and the control plane over the files are the real ones; the machine
// stops the connect at the gateway step, so reaching it means the account was accepted.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "service/connect_node.h"
#include "service/pipe_server.h"
#include "service/service_log.h"
#include "service/tunnel/tunnel.h"
#include "tests/support/recording_runner.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"
#include "vpn/files.h"
#include "vpn/runtime_directory.h"
#include "vpn/state_location.h"
#include "vpn/system.h"

namespace {

constexpr uid_t kNobody = 65534;
// Long enough for any answer; a service blocked on a file never answers.
constexpr int kReplyWaitMs = 5000;

const std::string kAccount = R"({"email":"lab@example.com","password":"pw","expireAt":"2099-12-31",
 "nodeName":"lab","address":"198.18.50.1","port":443,"uuid":"3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b",
 "sni":"www.example.com","publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw"})";
const std::string kSession = "{\"email\":\"lab@example.com\",\"expireAt\":\"2099-12-31\"}\n";

std::string reply(const std::string& error) { return "{\"ok\":false,\"running\":false,\"error\":\"" + error + "\"}"; }
const std::string kAccepted = reply("no gateway here");
const std::string kNotSignedIn = reply("not logged in");

class NoGateway : public tunnel::NetworkOps {
public:
    bool findPhysicalGateway(tunnel::PhysicalGateway&, std::string& error) override {
        error = "no gateway here";
        return false;
    }
    bool addRoute(const tunnel::RouteSpec&, std::string&) override { return false; }
    void deleteRoute(const tunnel::RouteSpec&) override {}
    bool routeExists(const std::string&, const std::string&, uint8_t) override { return false; }
    void removeStaleRoutes() override {}
    bool waitForTunAdapter(const std::string&, std::string&, int) override { return false; }
    bool waitForIpv4Address(const std::string&, int) override { return false; }
    std::vector<std::string> adapterDnsServers(const std::string&) override { return {}; }
    bool setTunAddress(const std::string&, const std::string&, std::string&) override { return false; }
    void setTunDns(const std::string&) override {}
    void resetAdapterDns(const std::string&) override {}
    void restoreDns() override {}
};

struct NoTools : tunnel::ToolLocator {
    bool locate(const std::string&, const std::string&, const std::string&, tunnel::TunnelTools&,
                std::string& error) override {
        error = "no tools here";
        return false;
    }
};

void chownTo(const std::string& path, uid_t owner) { ASSERT_EQ(::lchown(path.c_str(), owner, owner), 0) << path; }

class ServiceState : public ::testing::Test {
public:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "peer credentials of other users need root";
        runtime.write("account.json", kAccount);
        vpn::createStateFolder(runtime.path());
        log.setPath(runtime.file("orvik-service.log"));
        listener = service::makePipeListener(pipe);
        finished = std::async(std::launch::async, [this] { service::runPipeServer(runtime.path(), *listener, context); });
        ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000));
    }
    void TearDown() override {
        if (!finished.valid()) return;
        stopRequested = true;
        listener->wake();
        ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    }

    std::string userFolder(uid_t user) const { return runtime.file("state/" + std::to_string(user)); }
    // The user's folder and session file, owned by the user as their client makes them.
    void signIn(uid_t user, const std::string& session = kSession) {
        ASSERT_EQ(::mkdir(userFolder(user).c_str(), 0700), 0);
        runtime.write("state/" + std::to_string(user) + "/session.json", session);
        chownTo(userFolder(user) + "/session.json", user);
        chownTo(userFolder(user), user);
    }
    std::string connect() { return orvik_test::request(pipe, "{\"op\":\"connect\"}", kReplyWaitMs).value_or("none"); }

    // The reply to a connect sent from a child process running as `user`.
    std::string connectAs(uid_t user) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return "no pipe";
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(1);
            const std::string text = connect();
            ::_exit(::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
        }
        ::close(fds[1]);
        std::string text;
        char buffer[512];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
        ::close(fds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        return text;
    }

    orvik_test::TempDir runtime;
    std::string pipe = orvik_test::uniquePipeName(runtime.path());
    orvik_test::RecordingRunner runner;
    NoGateway network;
    NoTools tools;
    tunnel::Tunnel tunnel{{runner, network, tools, [](int) {}}};
    service::TunnelEngine engine{{runtime.path(),
                                  [](const std::string& directory, const std::string& session) {
                                      return vpn::createControlPlane(directory, session);
                                  },
                                  service::resolveHostIpv4, network, tunnel}};
    service::ServiceLog log;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{false};
    service::RequestContext context{log, engine, stopRequested, shutdownEndsProcess};
    std::unique_ptr<service::PipeListener> listener;
    std::future<void> finished;
};

TEST_F(ServiceState, EachCallerConnectsWithTheStateInTheirOwnFolder) {
    signIn(kNobody);
    EXPECT_EQ(connectAs(kNobody), kAccepted);
    EXPECT_EQ(connect(), reply("请先在Velora登录")) << "root has no folder: nobody's state is not root's";
    signIn(0);
    EXPECT_EQ(connect(), kAccepted);
}

struct BadState {
    const char* name;
    std::function<void(ServiceState&)> plant;  // in root's state, the test's own user
    std::string reply;
};

class BadStates : public ServiceState, public ::testing::WithParamInterface<BadState> {};

TEST_P(BadStates, AreRefusedAtOnceAndTheServiceKeepsServing) {
    GetParam().plant(*this);
    std::string expected = GetParam().reply;
    if (const size_t at = expected.find("RUNTIME"); at != std::string::npos) expected.replace(at, 7, runtime.path());
    EXPECT_EQ(connect(), expected);
    EXPECT_EQ(orvik_test::request(pipe, "{\"op\":\"status\"}", kReplyWaitMs),
              "{\"ok\":true,\"running\":false,\"error\":\"\"}");
}

void plantSession(ServiceState& test, const std::function<void(const std::string& path)>& make) {
    test.signIn(0);
    const std::string path = test.runtime.file("state/0/session.json");
    ::unlink(path.c_str());
    make(path);
}

void linkTo(const std::string& target, const std::string& path) { ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0); }

INSTANTIATE_TEST_SUITE_P(
    Cases, BadStates,
    ::testing::Values(
        BadState{"SessionLinkedElsewhere",
                 [](ServiceState& test) {
                     test.runtime.write("elsewhere.json", kSession);
                     plantSession(test, [&](const std::string& path) { linkTo(test.runtime.file("elsewhere.json"), path); });
                 },
                 kNotSignedIn},
        BadState{"SessionLinkedToDevZero",
                 [](ServiceState& test) { plantSession(test, [](const std::string& path) { linkTo("/dev/zero", path); }); },
                 kNotSignedIn},
        BadState{"SessionIsAFifo",
                 [](ServiceState& test) {
                     plantSession(test, [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); });
                 },
                 kNotSignedIn},
        // Valid JSON up to the padding: only the size refuses it.
        BadState{"SessionOverTheCap",
                 [](ServiceState& test) { test.signIn(0, kSession + std::string(vpn::kMaxStateFileBytes, ' ')); },
                 kNotSignedIn},
        // Even to a folder of root's with a good session in it.
        BadState{"FolderLinkedElsewhere",
                 [](ServiceState& test) {
                     test.runtime.write("elsewhere/session.json", kSession);
                     linkTo(test.runtime.file("elsewhere"), test.userFolder(0));
                 },
                 reply("cannot open the state folder RUNTIME/state/0")},
        BadState{"FolderOfAnotherUser",
                 [](ServiceState& test) {
                     test.signIn(0);
                     chownTo(test.userFolder(0), kNobody);
                 },
                 reply("the state folder RUNTIME/state/0 does not belong to user 0")}),
    [](const ::testing::TestParamInfo<BadState>& row) { return row.param.name; });

TEST(ServiceLogLinux, AFifoOrLinkInTheLogsPlaceTakesNoLineAndBlocksNothing) {
    orvik_test::TempDir dir;
    const std::string log = dir.file("orvik-service.log");
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    EXPECT_FALSE(service::appendLogLine(log, "ipc op=status")) << "no reader: the open does not wait for one";
    const int reader = ::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(service::appendLogLine(log, "ipc op=status")) << "with a reader";
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing was written";
    ::close(reader);

    ::unlink(log.c_str());
    dir.write("elsewhere", "kept\n");
    linkTo(dir.file("elsewhere"), log);
    EXPECT_FALSE(service::appendLogLine(log, "ipc op=status"));
    EXPECT_EQ(dir.read("elsewhere"), "kept\n");
}

}  // namespace
