// The service on Windows, without changing the machine: its pipe against other local users,
// closing console mode's window, the log file, --uninstall and --install, and what the
// service manager starts and is shown while a stop waits.
#include <windows.h>

#include <aclapi.h>

#include "service/service_context.h"
#include "service/service_host_win.h"
#include "service/service_log.h"
#include "service/service_status_win.h"
#include "service/stop_watch_win.h"
#include "tests/service/service_fixture.h"
#include "tests/support/command_line_split.h"
#include "tests/support/process_probe.h"
#include "tests/support/pseudo_console_win.h"
#include "vpn/text_win.h"

namespace {

using namespace service_test;

// Runs the service with `arguments`; its exit code and what it printed on both streams.
std::pair<int, std::string> runService(const std::vector<std::string>& arguments) {
    const orvik_test::CapturedRun run = orvik_test::runCaptured(ORVIK_SERVICE_EXE, arguments, 30000);
    return {run.exitCode, run.out + run.err};
}

class ServicePipe : public LocalConnect, public ::testing::Test {};

TEST_F(ServicePipe, UsersMayExchangeDataButNeitherAddInstancesNorChangeThePipe) {
    ASSERT_TRUE(serve());
    HANDLE client = CreateFileW(vpn::widen(pipe).c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(client, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) << "clients trust the pipe by its owner";
    constexpr DWORD kOwnership = FILE_CREATE_PIPE_INSTANCE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;
    constexpr DWORD kExchange = FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
    DWORD usersMay = 0;
    ACCESS_ALLOWED_ACE* ace = nullptr;
    for (DWORD index = 0; dacl != nullptr && GetAce(dacl, index, reinterpret_cast<void**>(&ace)); ++index) {
        const PSID sid = &ace->SidStart;
        const bool admin = IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || admin) continue;
        EXPECT_EQ(ace->Mask & kOwnership, 0u) << "ACE " << index << " mask " << std::hex << ace->Mask;
        if (IsWellKnownSid(sid, WinAuthenticatedUserSid)) usersMay |= ace->Mask;
    }
    EXPECT_EQ(usersMay & kExchange, kExchange);
    LocalFree(descriptor);
    CloseHandle(client);
}

TEST_F(ServicePipe, ANameAnotherProcessHoldsEndsTheServerInsteadOfServingBesideIt) {
    if (orvik_test::underWine()) GTEST_SKIP() << "wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE";
    // A squatter's pipe, open to everyone, as an unprivileged user could create it.
    HANDLE squatter = CreateNamedPipeW(vpn::widen(pipe).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    serve();
    ASSERT_EQ(served.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(served.get());
    CloseHandle(squatter);
}

// Console mode with the tunnel up, ended by calling the console control handler as the
// system's console-control thread would (a console cannot be closed on request, and wine
// delivers no close event to a test). The handler may return only once the tunnel is stopped:
// the process may end as soon as it returns. A silent client holding up the server does not
// keep the tunnel past the close.
TEST(ConsoleMode, EveryCloseEventStopsTheTunnelBeforeTheHandlerReturns) {
    for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
        SCOPED_TRACE(event);
        LocalConnect local;
        local.writeAccount("198.18.2.2");
        const std::unique_ptr<service::PipeListener> listener = service::makePipeListener(local.pipe);
        service::ServiceContext context;
        context.pipeName = local.pipe;
        context.runtimeDirectory = vpn::fullPathName(".").value_or(".");  // the server makes it current
        context.listener = listener.get();
        context.engine = &local.engine;
        auto console = std::async(std::launch::async, [&] { return service::runConsoleMode(context); });
        ASSERT_TRUE(orvik_test::waitForPipe(local.pipe, 10000));
        ASSERT_EQ(orvik_test::request(local.pipe, kConnect), kUp);
        orvik_test::ServiceClient silent(local.pipe);
        // The next client gets the instance created when the silent one was handed to a server thread.
        ASSERT_TRUE(orvik_test::request(local.pipe, kStatus));
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(service::kConsoleCloseWaitMs + 1000);
        EXPECT_TRUE(service::handleConsoleControl(event));
        EXPECT_LT(std::chrono::steady_clock::now(), deadline);
        EXPECT_FALSE(local.engine.running()) << "stopped while the server still waits for the silent client";
        silent.close();
        ASSERT_EQ(console.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(console.get(), 0);
    }
}

// A device or a pipe put in the log's place (the name is all the service has) gets nothing.
TEST_F(ServicePipe, OnlyAPlainFileTakesLogLines) {
    EXPECT_TRUE(service::appendLogLine(runtime.file("orvik-service.log"), "ipc op=status"));
    EXPECT_EQ(log(), "ipc op=status\n");
    EXPECT_FALSE(service::appendLogLine("NUL", "ipc op=status"));
    HANDLE reader = CreateNamedPipeW(vpn::widen(pipe).c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0,
                                     nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(service::appendLogLine(pipe, "ipc op=status"));
    DWORD waiting = 0;
    PeekNamedPipe(reader, nullptr, 0, nullptr, &waiting, nullptr);
    EXPECT_EQ(waiting, 0u) << "nothing was written into the pipe";
    CloseHandle(reader);
}

TEST(ServiceHostWin, OnlyAMissingServiceCountsAsNotInstalledAndTheConsoleKeepsItsCodePage) {
    orvik_test::expectConsoleCodePageKept([] {
        EXPECT_EQ(runService({"--uninstall", "--console"}), std::make_pair(0, std::string("Service not installed.\n")));
    });
    const service::HostOutcome denied = service::uninstallOpenFailure(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(denied.exitCode == 1 && denied.toStandardError) << denied.text;
}

TEST(ServiceHostWin, InstallRefusesAnExecutableThatUsersCanReplaceAndQuotesEveryPath) {
    // A build tree belongs to its user (under wine every file does).
    EXPECT_EQ(runService({"--install", "--runtime", "C:\\rt"}),
              std::make_pair(1, "Install refused: " + *vpn::fullPathName(ORVIK_SERVICE_EXE) +
                                    " can be changed by users other than the administrators\n"));
    const std::string executable = R"(C:\Program Files\Velora\orvik_service.exe)";
    EXPECT_EQ(orvik_test::systemCommandLineArguments(service::serviceCommandLine(executable, R"(D:\rt\)")),
              (std::vector<std::string>{executable, "--runtime", R"(D:\rt\)"}));
}

// A checkpoint that stands still past the wait hint makes the service manager call the
// service hung: it keeps moving until the service says it stopped, and nothing comes after.
TEST(ServiceStatusReporter, AWaitingStopAdvancesItsCheckpointUntilTheServiceStopped) {
    std::mutex mutex;
    std::vector<SERVICE_STATUS> seen;
    const auto count = [&] {
        const std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    };
    {
        service::ServiceStatusReporter reporter(
            [&](const SERVICE_STATUS& status) {
                const std::lock_guard<std::mutex> lock(mutex);
                seen.push_back(status);
            },
            std::chrono::milliseconds(5));
        reporter.report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0);
        for (const size_t atLeast : {4, 7}) {  // a second stop control counts on
            reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);
            ASSERT_TRUE(orvik_test::waitUntil([&] { return count() >= atLeast; }));
        }
        reporter.report(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, ERROR_PIPE_BUSY);
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);  // too late: ignored
    }
    ASSERT_GE(seen.size(), 8u);
    for (size_t i = 0; i < seen.size(); ++i) {
        const bool pending = i > 0 && i + 1 < seen.size();
        const DWORD state = pending ? SERVICE_STOP_PENDING : i > 0 ? SERVICE_STOPPED : SERVICE_RUNNING;
        EXPECT_EQ(seen[i].dwCurrentState, state) << i;
        EXPECT_EQ(seen[i].dwCheckPoint, pending ? i : 0) << i;
        EXPECT_EQ(seen[i].dwWaitHint, pending ? 4000u : 0u) << i;
    }
    EXPECT_EQ(seen.back().dwWin32ExitCode, static_cast<DWORD>(ERROR_PIPE_BUSY));
}

}  // namespace
