// The service's named pipe against other local users: its security read back from a client
// handle, a name another process holds, and closing console mode's window.
#include <windows.h>

#include <aclapi.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "service/pipe_server.h"
#include "service/service_context.h"
#include "service/stop_watch_win.h"
#include "tests/service/fakes.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"
#include "vpn/text_win.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPipeOwnership = FILE_CREATE_PIPE_INSTANCE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;

bool isSystemOrAdministrators(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

TEST(ServicePipe, UsersMayExchangeDataButNeitherAddInstancesNorChangeThePipe) {
    orvik_test::TempDir dir;
    const std::string pipe = orvik_test::uniquePipeName(dir.path());
    const std::unique_ptr<service::PipeListener> listener = service::makePipeListener(pipe);
    std::unique_ptr<vpn::ByteStream> served;
    auto accepted = std::async(std::launch::async, [&] {
        service::Caller caller;
        return listener->accept(served, caller);
    });
    ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000));
    HANDLE client = CreateFileW(vpn::widen(pipe).c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_EQ(accepted.get(), service::PipeListener::Result::connected);

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(client, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) << "clients trust the pipe by its owner";
    ASSERT_NE(dacl, nullptr);
    DWORD usersMay = 0;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, index, reinterpret_cast<void**>(&ace)));
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        const PSID sid = &allowed->SidStart;
        if (isSystemOrAdministrators(sid)) continue;
        EXPECT_EQ(allowed->Mask & kPipeOwnership, 0u) << "ACE " << index << " mask " << std::hex << allowed->Mask;
        if (IsWellKnownSid(sid, WinAuthenticatedUserSid)) usersMay |= allowed->Mask;
    }
    EXPECT_EQ(usersMay & (FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES),
              static_cast<DWORD>(FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES));
    LocalFree(descriptor);
    CloseHandle(client);
}

TEST(ServicePipe, ANameAnotherProcessHoldsEndsTheServerInsteadOfServingBesideIt) {
    if (orvik_test::underWine()) GTEST_SKIP() << "wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE";
    orvik_test::TempDir dir;
    const std::string pipe = orvik_test::uniquePipeName(dir.path());
    // A squatter's pipe, open to everyone, as an unprivileged user could create it.
    HANDLE squatter = CreateNamedPipeW(vpn::widen(pipe).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    service::ServiceLog log;
    log.setPath(dir.file("service.log"));
    service_test::FakeEngine engine;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{false};
    service::RequestContext context{log, engine, stopRequested, shutdownEndsProcess};
    const std::unique_ptr<service::PipeListener> listener = service::makePipeListener(pipe);
    const std::string here = vpn::fullPathName(".").value_or(".");
    auto served = std::async(std::launch::async, [&] { return service::runPipeServer(here, *listener, context); });
    ASSERT_EQ(served.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(served.get());
    CloseHandle(squatter);
}

// Console mode over a recording engine, with the tunnel up, ended by a console control event
// delivered by calling the handler as the system's console-control thread would: a console
// cannot be closed on request, and wine delivers no close event to a test.
class ConsoleMode : public ::testing::Test {
protected:
    void SetUp() override {
        context.pipeName = orvik_test::uniquePipeName(dir.path());
        context.runtimeDirectory = vpn::fullPathName(".").value_or(".");  // the server makes it current
        context.log.setPath(dir.file("service.log"));
        listener = service::makePipeListener(context.pipeName);
        context.listener = listener.get();
        context.engine = &engine;
        console = std::async(std::launch::async, [this] { return service::runConsoleMode(context); });
        ASSERT_TRUE(orvik_test::waitForPipe(context.pipeName, 10000));
        ASSERT_EQ(orvik_test::request(context.pipeName, "{\"op\":\"connect\"}"),
                  "{\"ok\":true,\"running\":true,\"error\":\"\"}");
    }
    void TearDown() override {
        if (!console.valid()) return;
        service::requestStop(context);  // when the test failed early
        console.wait();
    }

    orvik_test::TempDir dir;
    service_test::FakeEngine engine;
    service::ServiceContext context;
    std::unique_ptr<service::PipeListener> listener;
    std::future<int> console;
};

class ConsoleEnding : public ConsoleMode, public ::testing::WithParamInterface<DWORD> {};

TEST_P(ConsoleEnding, TheHandlerReturnsOnlyOnceTheServiceHasStoppedTheTunnel) {
    EXPECT_TRUE(service::handleConsoleControl(GetParam()));
    EXPECT_FALSE(engine.running()) << "the process may end as soon as the handler returns";
    EXPECT_EQ(console.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(console.get(), 0);
}

INSTANTIATE_TEST_SUITE_P(Events, ConsoleEnding, ::testing::Values(CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT),
                         [](const ::testing::TestParamInfo<DWORD>& event) {
                             return event.param == CTRL_CLOSE_EVENT    ? "Close"
                                    : event.param == CTRL_LOGOFF_EVENT ? "Logoff"
                                                                       : "Shutdown";
                         });

TEST_F(ConsoleMode, AClientHoldingUpTheServerDoesNotKeepTheTunnelPastTheClose) {
    orvik_test::ServiceClient silent(context.pipeName);
    ASSERT_TRUE(silent.connected());
    // The next client gets the instance created when the silent one was handed to a server thread.
    ASSERT_TRUE(orvik_test::request(context.pipeName, "{\"op\":\"status\"}"));
    const auto start = Clock::now();
    EXPECT_TRUE(service::handleConsoleControl(CTRL_CLOSE_EVENT));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(service::kConsoleCloseWaitMs + 1000));
    EXPECT_FALSE(engine.running()) << "stopped while the server still waits for the silent client";
    silent.close();
}

}  // namespace
