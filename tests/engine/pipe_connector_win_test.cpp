// The client's end of the named pipe: which servers it talks to, and how long it waits for
// one. Servers are the service's own listener, or a pipe another user could have created.
#include <windows.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/engine/pipe_connector_win.h"
#include "service/pipe_server.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"
#include "vpn/text_win.h"

namespace {

using Clock = std::chrono::steady_clock;
using engine::PipeConnector;

// The service's listener waiting for one client on a fresh name.
struct ServicePipe {
    ServicePipe() {
        accepted = std::async(std::launch::async, [this] {
            service::Caller caller;
            return listener->accept(served, caller);
        });
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
        pipe = CreateNamedPipeW(vpn::widen(name).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, &attributes);
        EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    }
    ~SquattedPipe() { CloseHandle(pipe); }

    orvik_test::TempDir dir;
    std::string name = orvik_test::uniquePipeName(dir.path());
    HANDLE pipe = INVALID_HANDLE_VALUE;
};

std::optional<bool> unelevated(unsigned long) { return false; }
std::optional<bool> tokenUnreadable(unsigned long) { return std::nullopt; }

struct TrustCase {
    const char* what;
    bool squatted;                     // else the service's own listener
    engine::ServerProcessCheck check;  // what the client learns of the server's process
    bool trusted;
};

class ServerTrust : public ::testing::TestWithParam<TrustCase> {};

TEST_P(ServerTrust, TheClientTalksOnlyToTheServiceItself) {
    const TrustCase& row = GetParam();
    std::optional<ServicePipe> service;
    std::optional<SquattedPipe> squatter;
    const std::string name = row.squatted ? squatter.emplace().name : service.emplace().name;
    const auto connector = engine::makeNamedPipeConnector(row.check);
    std::unique_ptr<vpn::ByteStream> connection;
    unsigned long code = 0;
    const PipeConnector::Status status = connector->open(name, connection, code);
    if (row.trusted) {
        EXPECT_EQ(status, PipeConnector::Status::opened);
        return;
    }
    EXPECT_EQ(status, PipeConnector::Status::failed);
    EXPECT_EQ(code, static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(connection, nullptr);
    if (service) {
        EXPECT_TRUE(service->clientLeftSilently());
    }
}

// Wine runs every process elevated: what the client learns of an unelevated server's process,
// or of one whose token it may not read, is handed to the connector.
INSTANTIATE_TEST_SUITE_P(
    Servers, ServerTrust,
    ::testing::Values(TrustCase{"Service", false, engine::processElevatedOrSystem, true},
                      TrustCase{"ServiceRunUnelevated", false, unelevated, false},
                      TrustCase{"SystemServiceSeenUnelevated", false, tokenUnreadable, true},
                      TrustCase{"Squatter", true, engine::processElevatedOrSystem, false},
                      TrustCase{"SquatterOfAnotherUser", true, tokenUnreadable, false}),
    [](const ::testing::TestParamInfo<TrustCase>& row) { return row.param.what; });

// A service that accepts and then neither reads nor answers: the transfer ends at its deadline.
TEST(PipeConnectorDeadline, ATransferToAServiceThatNeverAnswersEndsAtItsDeadline) {
    for (const bool writing : {true, false}) {
        ServicePipe service;
        std::unique_ptr<vpn::ByteStream> connection;
        unsigned long code = 0;
        ASSERT_EQ(engine::makePlatformPipeConnector()->open(service.name, connection, code),
                  PipeConnector::Status::opened);
        connection->setDeadline(200);
        const auto start = Clock::now();
        std::string payload(writing ? vpn::kMaxFramePayload : 16, 'x');  // more than the pipe holds
        const bool done = writing ? vpn::writeFrame(*connection, payload, code)
                                  : vpn::readFrame(*connection, payload, code);
        EXPECT_FALSE(done) << (writing ? "write" : "read");
        EXPECT_EQ(code, static_cast<unsigned long>(ERROR_TIMEOUT)) << (writing ? "write" : "read");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    }
}

}  // namespace
