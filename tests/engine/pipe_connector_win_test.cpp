// The client's end of the named pipe: which servers it talks to, and how long it waits for
// one. Servers are the service's own listener, or a pipe another user could have created.
#include <windows.h>

#include <sddl.h>

#include <chrono>
#include <future>
#include <optional>

#include <gtest/gtest.h>

#include "app/engine/pipe_connector_win.h"
#include "service/pipe_server.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"
#include "vpn/text_win.h"

namespace {

using engine::PipeConnector;

// The service's listener waiting for one client on a fresh name.
struct ServicePipe {
    ServicePipe() {
        accepted = std::async(std::launch::async, [this] { return listener->accept(served, caller); });
        EXPECT_TRUE(orvik_test::waitForPipe(name, 10000));
    }
    ~ServicePipe() {
        listener->wake();
        if (accepted.valid()) accepted.wait();
    }
    // The client went away without sending anything.
    bool clientLeftSilently() {
        if (accepted.get() != service::PipeListener::Result::connected) return false;
        served->setDeadline(5000);
        char byte = 0;
        return served->read(&byte, 1) == 0 && served->lastError() == ERROR_BROKEN_PIPE;
    }

    orvik_test::TempDir dir;
    std::string name = orvik_test::uniquePipeName(dir.path());
    std::unique_ptr<service::PipeListener> listener = service::makePipeListener(name);
    std::unique_ptr<vpn::ByteStream> served;
    service::Caller caller;  // valid once `accepted` is ready
    std::future<service::PipeListener::Result> accepted;
};

// A pipe as a user who got to the name first would create it: owned by that user, open to all.
struct SquattedPipe {
    SquattedPipe() {
        HANDLE token = nullptr;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        alignas(TOKEN_USER) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, user, sizeof user, &size);
        CloseHandle(token);
        SECURITY_DESCRIPTOR descriptor;
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorOwner(&descriptor, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, FALSE);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
        const std::wstring wide = vpn::widen(name);
        pipe = CreateNamedPipeW(wide.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0,
                                &attributes);
        EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    }
    ~SquattedPipe() { CloseHandle(pipe); }

    orvik_test::TempDir dir;
    std::string name = orvik_test::uniquePipeName(dir.path());
    HANDLE pipe = INVALID_HANDLE_VALUE;
};

std::optional<bool> unelevated(unsigned long) { return false; }
std::optional<bool> tokenUnreadable(unsigned long) { return std::nullopt; }

// Wine runs every process elevated: what the client learns of an unelevated server's process,
// or of one whose token it may not read, is handed to the connector. The owner decides first.
TEST(ServerTrust, TheClientTalksOnlyToTheServiceItself) {
    const struct {
        const char* what;
        bool squatted;                     // else the service's own listener
        engine::ServerProcessCheck check;  // what the client learns of the server's process
        bool trusted;
    } rows[] = {{"service", false, engine::processElevatedOrSystem, true},
                {"service run unelevated", false, unelevated, false},
                {"system service seen unelevated", false, tokenUnreadable, true},
                {"squatter of another user", true, tokenUnreadable, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::optional<ServicePipe> service;
        std::optional<SquattedPipe> squatter;
        const std::string name = row.squatted ? squatter.emplace().name : service.emplace().name;
        std::unique_ptr<vpn::ByteStream> connection;
        unsigned long code = 0;
        const auto status = engine::makeNamedPipeConnector(row.check)->open(name, connection, code);
        EXPECT_EQ(status, row.trusted ? PipeConnector::Status::opened : PipeConnector::Status::failed);
        EXPECT_EQ(connection != nullptr, row.trusted);
        if (row.trusted) continue;
        EXPECT_EQ(code, static_cast<unsigned long>(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(!service || service->clientLeftSilently());
    }
}

// The service knows the client by its user's SID. Wine runs every process as one user, an
// elevated administrator: only real Windows shows another user's SID, or a filtered token.
TEST(PipeCaller, TheServiceKnowsTheUserOfTheClient) {
    ServicePipe service;
    std::unique_ptr<vpn::ByteStream> connection;
    unsigned long code = 0;
    ASSERT_EQ(engine::makePlatformPipeConnector()->open(service.name, connection, code), PipeConnector::Status::opened);
    ASSERT_EQ(service.accepted.get(), service::PipeListener::Result::connected);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    alignas(TOKEN_USER) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    CloseHandle(token);
    wchar_t* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
    EXPECT_EQ(service.caller.user, vpn::narrow(sid));
    LocalFree(sid);
    EXPECT_TRUE(service.caller.known && service.caller.privileged);
}

// A service that accepts and then reads nothing: a request larger than the pipe holds ends at
// its deadline (the service's own reads end at theirs the same way).
TEST(PipeConnectorDeadline, AWriteToAServiceThatNeverReadsEndsAtItsDeadline) {
    ServicePipe service;
    std::unique_ptr<vpn::ByteStream> connection;
    unsigned long code = 0;
    const auto status = engine::makePlatformPipeConnector()->open(service.name, connection, code);
    ASSERT_EQ(status, PipeConnector::Status::opened);
    connection->setDeadline(200);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(vpn::writeFrame(*connection, std::string(vpn::kMaxFramePayload, 'x'), code));
    EXPECT_EQ(code, static_cast<unsigned long>(ERROR_TIMEOUT));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
