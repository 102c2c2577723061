// The service's named pipe against other local users: its security read back from a client
// handle, a name another process holds, closing console mode's window, and the log file.
#include <windows.h>

#include <aclapi.h>

#include "service/service_context.h"
#include "service/service_log.h"
#include "service/stop_watch_win.h"
#include "tests/service/service_fixture.h"
#include "vpn/text_win.h"

namespace {

TEST(ServicePipe, UsersMayExchangeDataButNeitherAddInstancesNorChangeThePipe) {
    orvik_test::TempDir dir;
    const std::string pipe = orvik_test::uniquePipeName(dir.path());
    const std::unique_ptr<service::PipeListener> listener = service::makePipeListener(pipe);
    std::unique_ptr<vpn::ByteStream> served;
    service::Caller caller;
    auto accepted = std::async(std::launch::async, [&] { return listener->accept(served, caller); });
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
    constexpr DWORD kOwnership = FILE_CREATE_PIPE_INSTANCE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;
    constexpr DWORD kExchange = FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
    DWORD usersMay = 0;
    ACCESS_ALLOWED_ACE* ace = nullptr;
    for (DWORD index = 0; dacl != nullptr && GetAce(dacl, index, reinterpret_cast<void**>(&ace)); ++index) {
        const PSID sid = &ace->SidStart;
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || IsWellKnownSid(sid, WinLocalSystemSid) ||
            IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
            continue;
        EXPECT_EQ(ace->Mask & kOwnership, 0u) << "ACE " << index << " mask " << std::hex << ace->Mask;
        if (IsWellKnownSid(sid, WinAuthenticatedUserSid)) usersMay |= ace->Mask;
    }
    EXPECT_EQ(usersMay & kExchange, kExchange);
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
    service_test::FakeEngine engine;
    EXPECT_EQ(service_test::ServedPipe(engine, pipe, dir.file("service.log")).ended(10000), false);
    CloseHandle(squatter);
}

// Console mode over a recording engine with the tunnel up, ended by calling the console
// control handler as the system's console-control thread would (a console cannot be closed
// on request, and wine delivers no close event to a test). The handler may return only once
// the tunnel is stopped: the process may end as soon as it returns. A silent client holding
// up the server does not keep the tunnel past the close.
TEST(ConsoleMode, EveryCloseEventStopsTheTunnelBeforeTheHandlerReturns) {
    for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
        SCOPED_TRACE(event);
        orvik_test::TempDir dir;
        service_test::FakeEngine engine;
        service::ServiceContext context;
        context.pipeName = orvik_test::uniquePipeName(dir.path());
        context.runtimeDirectory = vpn::fullPathName(".").value_or(".");  // the server makes it current
        context.log.setPath(dir.file("service.log"));
        const std::unique_ptr<service::PipeListener> listener = service::makePipeListener(context.pipeName);
        context.listener = listener.get();
        context.engine = &engine;
        auto console = std::async(std::launch::async, [&] { return service::runConsoleMode(context); });
        ASSERT_TRUE(orvik_test::waitForPipe(context.pipeName, 10000));
        ASSERT_EQ(orvik_test::request(context.pipeName, "{\"op\":\"connect\"}"),
                  "{\"ok\":true,\"running\":true,\"error\":\"\"}");
        orvik_test::ServiceClient silent(context.pipeName);
        // The next client gets the instance created when the silent one was handed to a server thread.
        ASSERT_TRUE(orvik_test::request(context.pipeName, "{\"op\":\"status\"}"));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(service::handleConsoleControl(event));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(service::kConsoleCloseWaitMs + 1000));
        EXPECT_FALSE(engine.running()) << "stopped while the server still waits for the silent client";
        silent.close();
        ASSERT_EQ(console.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(console.get(), 0);
    }
}

// A device or a pipe put in the log's place (the name is all the service has) gets nothing.
TEST(ServiceLogWin, OnlyAPlainFileTakesLines) {
    orvik_test::TempDir dir;
    EXPECT_TRUE(service::appendLogLine(dir.file("orvik-service.log"), "ipc op=status"));
    EXPECT_EQ(dir.read("orvik-service.log"), "ipc op=status\n");
    EXPECT_FALSE(service::appendLogLine("NUL", "ipc op=status"));
    const std::string pipe = orvik_test::uniquePipeName(dir.path());
    HANDLE server = CreateNamedPipeW(vpn::widen(pipe).c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(service::appendLogLine(pipe, "ipc op=status"));
    DWORD waiting = 0;
    PeekNamedPipe(server, nullptr, 0, nullptr, &waiting, nullptr);
    EXPECT_EQ(waiting, 0u) << "nothing was written into the pipe";
    CloseHandle(server);
}

}  // namespace
