// The service on Linux: systemd service mode and its unit (systemctl recorded, not run), stop
// signals, and what other local users can put in the root service's way: the socket's file, the
// state it reads for the user who asks (found by the socket's peer credentials) and its log.
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "app/engine/engine_client.h"
#include "service/pkexec_start.h"
#include "service/service_log.h"
#include "service/systemd_unit_linux.h"
#include "tests/service/service_fixture.h"
#include "tests/support/process_probe.h"
#include "vpn/service_pipe.h"
#include "vpn/state_location.h"

namespace {

using orvik_test::request;
using namespace service_test;
using namespace std::string_literals;

constexpr uid_t kNobody = 65534;
// Long enough for any answer; a service blocked on a file never answers.
constexpr int kReplyWaitMs = 5000;
const std::string kAccepted = failed("no gateway here");
const std::string kNotSignedIn = failed("not logged in");

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}
void chownTo(const std::string& path, uid_t owner) { ASSERT_EQ(::lchown(path.c_str(), owner, owner), 0) << path; }
void linkTo(const std::string& target, const std::string& path) {
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

// Each stop signal (SIGINT in the table of every platform) ends the modes cleanly; under systemd
// a shutdown stops only the tunnel.
INSTANTIATE_TEST_SUITE_P(
    Linux, RunModes,
    ::testing::Values(
        RunMode{"DaemonHungUp", {"--daemon", "--runtime", "RUNTIME"}, {}, Ending::interrupt, "",
                "daemon mode. runtime=RUNTIME\ndaemon stopped\n", SIGHUP},
        RunMode{"UnderSystemd", {"--runtime", "RUNTIME"}, {kShutdown, kStatus}, Ending::interrupt, "",
                "service running. runtime=RUNTIME\nipc op=shutdown\nservice stopped\n", SIGTERM,
                "0123456789abcdef"}),
    [](const ::testing::TestParamInfo<RunMode>& row) { return row.param.name; });

using LinuxHost = ServiceRun;

TEST_F(LinuxHost, NeitherAFileThatIsNoSocketNorALiveSocketIsTakenOver) {
    const std::string file = pipe.substr(output.path().size() + 1);
    output.write(file, "precious");
    auto waiting = launch({"--console", "--runtime", runtime.path()}, false);
    EXPECT_FALSE(waiting->wait(700)) << "waits for the path to become free";
    EXPECT_EQ(output.read(file), "precious");
    ASSERT_EQ(::unlink(pipe.c_str()), 0);
    ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000));
    orvik_test::TempDir second;
    auto other = launch({"--console", "--runtime", second.path()}, false);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(request(pipe, kStatus), kIdle);
    EXPECT_EQ(second.read("orvik-service.log").find("ipc op"), std::string::npos) << "the second one waits";
    EXPECT_EQ(request(pipe, kShutdown), kIdle);
    EXPECT_EQ(waiting->wait(10000), 0);
    EXPECT_EQ(request(pipe, kShutdown, 10000), kIdle) << "then the second takes over";
    EXPECT_EQ(other->wait(10000), 0);
}

class SystemdUnit : public ::testing::Test {
protected:
    service::InstallReport install(const std::string& runtime) {
        return service::installUnit(settings, runner, "/opt/orvik/orvik_service", runtime);
    }

    orvik_test::TempDir units;
    orvik_test::FakeMachine runner;
    service::SystemdSettings settings{units.path(), "/usr/bin/systemctl"};
};

TEST_F(SystemdUnit, InstallWritesEnablesAndStartsTheUnitAndUninstallTakesItAway) {
    units.write(service::kUnitName, "old");  // an installed unit is stopped and written anew
    const auto report = install("/opt/orvik/运行 时");
    EXPECT_EQ(report.exitCode, 0);
    const std::string line = "\"/opt/orvik/orvik_service\" --runtime \"/opt/orvik/运行 时\"";
    EXPECT_EQ(report.out, "Installed and started OrvikService\nbinPath " + line + "\n");
    const std::string unit = units.read(service::kUnitName);
    EXPECT_NE(unit.find("\nExecStart=" + line + "\n"), std::string::npos) << unit;
    EXPECT_EQ(modeOf(units.file(service::kUnitName)) & 07777, 0644u);
    EXPECT_EQ(service::uninstallUnit(settings, runner).out, "Uninstalled OrvikService\n");
    EXPECT_FALSE(units.exists(service::kUnitName));
    EXPECT_EQ(service::uninstallUnit(settings, runner).out, "Service not installed.\n");
}

TEST_F(SystemdUnit, PathsAreEscapedForSystemdOrRefusedBeforeAnythingIsWrittenAndFailuresExitOne) {
    std::string line, error;
    ASSERT_TRUE(service::unitCommandLine("/opt/100%/svc", "/srv/$HOME", line, error));
    EXPECT_EQ(line, "\"/opt/100%%/svc\" --runtime \"/srv/$$HOME\"");
    for (const std::string& bad : {"/srv/a\"b"s, "/srv/a\\b"s, "/srv/a\nExecStartPre=/bin/sh"s, "relative"s, ""s}) {
        const auto report = install(bad);
        EXPECT_EQ(report.exitCode, 1) << bad;
        EXPECT_EQ(report.err.rfind("install failed: ", 0), 0u) << report.err;
    }
    EXPECT_FALSE(units.exists(service::kUnitName));
    EXPECT_TRUE(runner.commands.empty());
    runner.succeed = false;
    EXPECT_EQ(install("/srv/rt").exitCode, 1);
    EXPECT_EQ(service::installUnit({units.file("missing/dir"), "systemctl"}, runner, "/opt/o", "/srv/rt").exitCode, 1);
}

// The pipe server, the socket and the control plane over the files are the real ones; the
// machine stops the connect at the gateway step, so reaching it means the account was accepted.
class ServiceState : public LocalConnect, public ::testing::Test {
public:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "peer credentials of other users need root";
        machine.gatewayError = "no gateway here";
        writeAccount("198.18.50.1", false);
        vpn::createStateFolder(runtime.path());
        ASSERT_TRUE(serve());
    }

    std::string userFolder(uid_t user) const { return runtime.file("state/" + std::to_string(user)); }
    // The user's folder (the service makes it when the user first asks) and session file,
    // owned by the user as their client makes them.
    void signIn(uid_t user) {
        ASSERT_TRUE(::mkdir(userFolder(user).c_str(), 0700) == 0 || errno == EEXIST);
        runtime.write("state/" + std::to_string(user) + "/session.json", kSession);
        chownTo(userFolder(user) + "/session.json", user);
        chownTo(userFolder(user), user);
    }
    std::string connect() { return orvik_test::request(pipe, kConnect, kReplyWaitMs).value_or("none"); }

    // True when `body`, run in a child process as `user`, returns true.
    static bool asUser(uid_t user, const std::function<bool()>& body) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(2);
            ::_exit(body() ? 0 : 1);
        }
        int status = 1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

// What root's own state folder (the test runs as root) holds in place of a signed-in session:
// each is refused at once (a service blocked on a file would not answer).
TEST_F(ServiceState, BadStatesAreRefusedAtOnce) {
    const std::string folder = userFolder(0), session = folder + "/session.json";
    runtime.write("elsewhere/session.json", kSession);
    signIn(0);
    ASSERT_EQ(::unlink(session.c_str()), 0);
    linkTo(runtime.file("elsewhere/session.json"), session);
    EXPECT_EQ(connect(), kNotSignedIn) << "a session linked elsewhere";
    ASSERT_EQ(::unlink(session.c_str()), 0);
    ASSERT_EQ(::mkfifo(session.c_str(), 0600), 0);
    EXPECT_EQ(connect(), kNotSignedIn) << "a fifo";
    ASSERT_EQ(::unlink(session.c_str()), 0);
}

// What another user put in a user's place before their first sign-in (a folder with a session
// and a link, or a link to a folder) goes, following no link, once the user asks anything: its
// session is never read, the user's own folder replaces it, and sign-in and connect then work.
TEST_F(ServiceState, WhatAnotherUserPutInAUsersPlaceGoesWhenTheUserAsks) {
    constexpr uid_t kIntruder = 65533;
    const std::string folder = userFolder(kNobody);
    runtime.write("elsewhere/session.json", kSession);
    for (const bool link : {false, true}) {
        if (link) {
            linkTo(runtime.file("elsewhere"), folder);
        } else {
            runtime.write("state/65534/deep/session.json", kSession);
            linkTo(runtime.file("elsewhere/session.json"), folder + "/session.json");
            ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
        }
        chownTo(folder, kIntruder);
        EXPECT_TRUE(asUser(kNobody, [this] { return connect() == kNotSignedIn; }));
        struct stat info {};
        ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode) && info.st_uid == kNobody && (info.st_mode & 07777) == 0700) << link;
        const auto entries = std::filesystem::directory_iterator(runtime.file("state"));
        EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << "nothing else left";
        EXPECT_EQ(runtime.read("elsewhere/session.json"), kSession);
        EXPECT_TRUE(asUser(kNobody, [this] {
            return vpn::writeSessionFile(vpn::sessionFilePath(runtime.path()), kSession) && connect() == kAccepted;
        }));
        std::filesystem::remove_all(folder);
    }
    EXPECT_NE(log().find("took away " + folder + ", made by user 65533\n"), std::string::npos) << log();
}

// The tunnel is the user's who connected it: another user can neither end nor replace it,
// nor shut the service down under it, and learns only that it is not theirs; root may end it.
TEST_F(ServiceState, AUsersTunnelIsTheirsAlone) {
    constexpr uid_t kOther = 65533;
    machine.gatewayError.clear();
    signIn(kNobody);
    signIn(kOther);
    EXPECT_TRUE(asUser(kNobody, [this] { return connect() == kUp; }));
    const std::string refused = "{\"ok\":false,\"running\":true,\"error\":\""s + service::kHeldByAnotherUserText +
                                "\",\"mine\":false}";
    EXPECT_TRUE(asUser(kOther, [&] {
        return request(pipe, "{\"op\":\"disconnect\"}", kReplyWaitMs) == refused && connect() == refused &&
               request(pipe, kShutdown, kReplyWaitMs) == refused &&
               request(pipe, kStatus, kReplyWaitMs) == "{\"ok\":true,\"running\":true,\"error\":\"\",\"mine\":false}";
    }));
    EXPECT_EQ(machine.first("stop"), machine.events.size()) << "the owner's tunnel was touched";
    EXPECT_TRUE(asUser(kNobody, [this] { return request(pipe, kStatus, kReplyWaitMs) == kUp; }));
    EXPECT_EQ(request(pipe, "{\"op\":\"disconnect\"}", kReplyWaitMs), kIdle) << "root's";
}

// One user keeps no other out: their fifth connection is closed at once while another user is
// served, and their requests log no more than their allowance while the other's still go in.
TEST_F(ServiceState, OneUserCrowdsOutNoOther) {
    std::vector<std::unique_ptr<orvik_test::ServiceClient>> held;
    for (int i = 0; i < service::kMaxClientsPerUser; ++i) held.push_back(std::make_unique<orvik_test::ServiceClient>(pipe));
    orvik_test::ServiceClient beyond(pipe);
    ASSERT_TRUE(beyond.connected());
    EXPECT_EQ(beyond.receiveUntilClosed(2000), std::string()) << "closed at once, not at its deadline";
    EXPECT_TRUE(asUser(kNobody, [this] { return orvik_test::request(pipe, kStatus, 2000) == kIdle; }));
    held.clear();
    EXPECT_TRUE(asUser(kNobody, [this] {
        for (int i = 0; i < 50; ++i)  // each an op line and an error line
            if (orvik_test::request(pipe, "{\"op\":\"noise\"}", kReplyWaitMs) != failed("op not allowed")) return false;
        return true;
    }));
    connect();  // root's own request, in root's own allowance
    const std::string text = log();
    EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 36) << "51 requests of nobody's:\n" << text;
    EXPECT_NE(text.find("ipc op=connect\n"), std::string::npos) << text;
}

// A start through pkexec: the client's own daemon start of the installation and nothing
// else; the refusal names what it refused.
TEST(PkexecStart, TakesOnlyTheClientsDaemonStartOfTheInstallation) {
    const std::string installed = "/opt/orvik/runtime";
    EXPECT_EQ(service::pkexecRefusal(engine::serviceLaunchArguments(installed, 4242), installed), "");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"--daemon", "--runtime", "/home/eve/runtime"}, "--runtime /home/eve/runtime"},
        {{"--daemon", "--runtime", installed + "/../../../home/eve"}, "--runtime " + installed + "/../../../home/eve"},
        {{"--daemon", "--pipe", "/home/eve/dir/s"}, "--pipe"},
        {{"--daemon", "--panel-url", "https://eve.example"}, "--panel-url"},
        {{"--daemon", "--install"}, "--install"},
        {{"--console"}, "--console"},
        {{"--runtime", installed}, "a start without --daemon"},
        {{"--daemon", "--owner-pid"}, "--owner-pid"},
    };
    for (const auto& [arguments, named] : refused) {
        const std::string text = service::pkexecRefusal(arguments, installed);
        EXPECT_TRUE(text.ends_with("refused: " + named)) << text;
    }
}

// The real program as pkexec starts it, copied to stand for an installation: another start is refused
// (standard error, the installation's log) and makes nothing; the client's own serves on the
// installed socket (in namespaces of the test's own), 0666 in a 0755 folder of root's.
TEST(PkexecStart, TheRealServiceServesOnlyItsInstallation) {
    if (::geteuid() != 0) GTEST_SKIP() << "namespaces need root";
    orvik_test::TempDir installation, elsewhere;
    const std::string program = installation.file("orvik_service");
    std::filesystem::copy_file(ORVIK_SERVICE_EXE, program);
    ASSERT_EQ(::mkdir(installation.file("runtime").c_str(), 0755), 0);
    orvik_test::ScopedEnvironment pkexec{"PKEXEC_UID", "65534"};
    orvik_test::ScopedEnvironment pipe{"ORVIK_PIPE", elsewhere.file("pipe")};  // not the client's word either
    const auto run = orvik_test::runCaptured(program, {"--daemon", "--runtime", elsewhere.path()}, 20000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.starts_with("user 65534 started through pkexec,")) << run.err;
    EXPECT_TRUE(run.err.ends_with("; refused: --runtime " + elsewhere.path() + "\n")) << run.err;
    EXPECT_EQ(installation.read("runtime/orvik-service.log"), run.err);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));

    std::vector<std::string> words = engine::serviceLaunchArguments(installation.file("runtime"), ::getpid());
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t service = ::fork();
    if (service == 0) {
        const bool apart = ::unshare(CLONE_NEWNS | CLONE_NEWNET) == 0 &&
                           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                           ::mount("tmpfs", "/run", "tmpfs", 0, nullptr) == 0 &&
                           ::mount("tmpfs", "/var/lib", "tmpfs", 0, nullptr) == 0;  // its kill-switch state
        if (apart) ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const std::string run_orvik = "/proc/" + std::to_string(service) + "/root/run/orvik";
    EXPECT_EQ(orvik_test::request(run_orvik + "/OrvikService.sock", kStatus, 20000), kIdle);
    EXPECT_EQ(modeOf(run_orvik + "/OrvikService.sock") & 07777, 0666u);
    EXPECT_EQ(modeOf(run_orvik) & 07777, 0755u);
    EXPECT_EQ(orvik_test::request(run_orvik + "/OrvikService.sock", kShutdown), kIdle);
    const bool ended = orvik_test::waitProcessGone(service, 10000);
    if (!ended) ::kill(service, SIGKILL), orvik_test::waitProcessGone(service, 10000);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

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
