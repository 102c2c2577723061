// What other local users can put in the root service's way on Linux: the state it reads for
// the user who asks (found by the socket's peer credentials) and its log file. The pipe
// server, the socket and the control plane over the files are the real ones; the machine
// stops the connect at the gateway step, so reaching it means the account was accepted.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "service/service_log.h"
#include "tests/service/service_fixture.h"
#include "vpn/files.h"
#include "vpn/state_location.h"

namespace {

constexpr uid_t kNobody = 65534;
// Long enough for any answer; a service blocked on a file never answers.
constexpr int kReplyWaitMs = 5000;

std::string reply(const std::string& error) { return "{\"ok\":false,\"running\":false,\"error\":\"" + error + "\"}"; }
const std::string kAccepted = reply("no gateway here");
const std::string kNotSignedIn = reply("not logged in");

void chownTo(const std::string& path, uid_t owner) { ASSERT_EQ(::lchown(path.c_str(), owner, owner), 0) << path; }
void linkTo(const std::string& target, const std::string& path) { ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0); }

class ServiceState : public service_test::LocalConnect, public ::testing::Test {
public:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "peer credentials of other users need root";
        machine.gatewayError = "no gateway here";
        runtime.write("account.json", service_test::localAccount("198.18.50.1"));
        vpn::createStateFolder(runtime.path());
        server.emplace(engine, pipe, runtime.file("orvik-service.log"));
        ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000));
    }

    std::string userFolder(uid_t user) const { return runtime.file("state/" + std::to_string(user)); }
    // The user's folder and session file, owned by the user as their client makes them.
    void signIn(uid_t user, const std::string& session = service_test::kSession) {
        ASSERT_EQ(::mkdir(userFolder(user).c_str(), 0700), 0);
        runtime.write("state/" + std::to_string(user) + "/session.json", session);
        chownTo(userFolder(user) + "/session.json", user);
        chownTo(userFolder(user), user);
    }
    std::string connect() { return orvik_test::request(pipe, "{\"op\":\"connect\"}", kReplyWaitMs).value_or("none"); }

    // True when a connect sent from a child process running as `user` is accepted.
    bool acceptedFor(uid_t user) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(2);
            ::_exit(connect() == kAccepted ? 0 : 1);
        }
        int status = 1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string pipe = orvik_test::uniquePipeName(runtime.path());
    service::TunnelEngine engine{system};
    std::optional<service_test::ServedPipe> server;
};

TEST_F(ServiceState, EachCallerConnectsWithTheStateInTheirOwnFolder) {
    signIn(kNobody);
    EXPECT_TRUE(acceptedFor(kNobody));
    EXPECT_EQ(connect(), reply("请先在Velora登录")) << "root has no folder: nobody's state is not root's";
    signIn(0);
    EXPECT_EQ(connect(), kAccepted);
}

// What root's own state folder (the test runs as root) holds in place of a signed-in session.
enum class Plant { sessionLink, sessionFifo, oversizedSession, folderLink, foreignFolder };
struct BadState {
    const char* name;
    Plant plant;
    std::string reply;  // RUNTIME stands for the runtime directory
};

class BadStates : public ServiceState, public ::testing::WithParamInterface<BadState> {};

TEST_P(BadStates, AreRefusedAtOnceAndTheServiceKeepsServing) {
    const Plant plant = GetParam().plant;
    const std::string session = runtime.file("state/0/session.json");
    runtime.write("elsewhere/session.json", service_test::kSession);
    if (plant == Plant::folderLink) linkTo(runtime.file("elsewhere"), userFolder(0));
    // Valid JSON up to the padding: only the size refuses it.
    const std::string padding(plant == Plant::oversizedSession ? vpn::kMaxStateFileBytes : 0, ' ');
    if (plant != Plant::folderLink) signIn(0, service_test::kSession + padding);
    if (plant == Plant::sessionLink || plant == Plant::sessionFifo) ::unlink(session.c_str());
    if (plant == Plant::sessionLink) linkTo(runtime.file("elsewhere/session.json"), session);
    ASSERT_TRUE(plant != Plant::sessionFifo || ::mkfifo(session.c_str(), 0600) == 0);
    if (plant == Plant::foreignFolder) chownTo(userFolder(0), kNobody);
    std::string expected = GetParam().reply;
    if (const size_t at = expected.find("RUNTIME"); at != std::string::npos) expected.replace(at, 7, runtime.path());
    EXPECT_EQ(connect(), expected);
    EXPECT_EQ(orvik_test::request(pipe, "{\"op\":\"status\"}", kReplyWaitMs),
              "{\"ok\":true,\"running\":false,\"error\":\"\"}");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadStates,
    ::testing::Values(BadState{"SessionLinkedElsewhere", Plant::sessionLink, kNotSignedIn},
                      BadState{"SessionIsAFifo", Plant::sessionFifo, kNotSignedIn},
                      BadState{"SessionOverTheCap", Plant::oversizedSession, kNotSignedIn},
                      // Even to a folder of root's with a good session in it.
                      BadState{"FolderLinkedElsewhere", Plant::folderLink,
                               reply("cannot open the state folder RUNTIME/state/0")},
                      BadState{"FolderOfAnotherUser", Plant::foreignFolder,
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
