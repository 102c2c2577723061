// The panel transport against a real HTTP server on 127.0.0.1: what goes over the wire,
// which results and error texts come back, and the faults a server can inflict on it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/environment.h"
#include "tests/support/http_test_server.h"
#include "tests/support/service_process.h"
#include "vpn/http.h"

namespace {

using orvik_test::HttpReply;
using orvik_test::HttpRequestRecord;
using orvik_test::HttpTestServer;
using Headers = std::vector<std::pair<std::string, std::string>>;

struct Outcome {
    bool ok = false;
    std::string response = "stale";  // every outcome clears it first
    std::string error;
};

Outcome send(const std::string& method, const std::string& url, const std::string& token = {},
             const std::string& body = {}, const std::string& type = {}, const std::string& agent = {}) {
    Outcome outcome;
    outcome.ok = vpn::httpRequest(method, url, token, body, type, outcome.response, outcome.error, agent);
    return outcome;
}

// "面板请求失败 err=" followed by the platform's own error number.
bool isRequestFailure(const Outcome& outcome) {
    const std::string prefix = "面板请求失败 err=";
    return !outcome.ok && outcome.error.rfind(prefix, 0) == 0 && outcome.error.size() > prefix.size() &&
           outcome.error.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

// Every request not routed otherwise gets its own body back.
class HttpRequestTest : public ::testing::Test {
protected:
    std::string url(const std::string& target) const { return server.origin() + target; }
    HttpRequestRecord last() const {
        const std::vector<HttpRequestRecord> requests = server.requests();
        return requests.empty() ? HttpRequestRecord{} : requests.back();
    }

    HttpTestServer server{[](const HttpRequestRecord& request) { return HttpReply{200, request.body, {}}; }};
};

TEST_F(HttpRequestTest, InvalidAddressesAndHeaderInjectionNeverReachTheNetwork) {
    const std::string invalid[] = {"", "127.0.0.1/api/v1/guest/comm/config", "ftp://127.0.0.1/f", "http://",
                                   "http://" + std::string(256, 'a') + "/api",  // host over 255 characters
                                   url("/" + std::string(2047, 'p')),           // path over 2047 characters
                                   url("/" + std::string(1000, 'p') + "?" + std::string(1046, 'q'))};
    for (const std::string& address : invalid) {
        const Outcome outcome = send("GET", address);
        EXPECT_EQ(outcome.error + outcome.response, "面板地址无效") << address.substr(0, 60);
    }
    const Outcome injected[] = {
        send("GET", url("/x"), "t\r\nX-Injected: 1"),
        send("POST", url("/x"), "", "{}", "application/json\r\nX-Injected: 1"),
        send("GET", url("/x"), "", "", "", std::string("Agent\0X-Injected: 1", 19)),
        send("GET /x HTTP/1.1\r\n", url("/x")),
    };
    for (const Outcome& outcome : injected) EXPECT_EQ(outcome.error, "无法创建面板请求");
    EXPECT_TRUE(server.requests().empty());

    // At the limit the request goes out whole.
    const std::string longest = "/" + std::string(1000, 'p') + "?" + std::string(1045, 'q');
    EXPECT_TRUE(send("GET", url(longest)).ok);
    EXPECT_EQ(last().target, longest);
}

// Each fault is a request failure within the time-outs and hands on nothing of the cut reply.
TEST_F(HttpRequestTest, FaultsFailInBoundedTime) {
    const std::string body(100, 'b');
    const struct {
        std::string url;
        HttpReply reply;
        int atLeastSeconds = 0;
        const char* error = nullptr;  // none: a request failure with the platform's number
    } faults[] = {
        {"http://127.0.0.1:" + std::to_string(orvik_test::unusedLoopbackPort()) + "/x", {}},  // refused
        {url("/cut"), {.closeAtOnce = true}},
        {url("/cut"), {.body = body, .closeAfterBodyBytes = 0}},   // the headers only
        {url("/cut"), {.body = body, .closeAfterBodyBytes = 10}},  // a short body
        {url("/cut"), {.body = body, .stallAfterBodyBytes = 10}},
        {url("/cut"), {.neverAnswer = true}, 10},  // the receive time-out is 12 s
        {url("/cut"), {.body = std::string(std::size_t{64} * 1024 * 1024 + 1, 'h')}, 0, "面板回复过大"},
    };
    for (const auto& fault : faults) {
        server.on("GET", "/cut", fault.reply);
        const auto started = std::chrono::steady_clock::now();
        const Outcome outcome = send("GET", fault.url);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_TRUE(fault.error ? outcome.error == fault.error && !outcome.ok : isRequestFailure(outcome))
            << outcome.error;
        EXPECT_EQ(outcome.response, "");
        EXPECT_GE(elapsed, std::chrono::seconds(fault.atLeastSeconds));
        EXPECT_LT(elapsed, std::chrono::seconds(20));
    }
}

// The thread's limit ends a request that is still going (here a panel that never answers,
// well within the 12 s stall time-out) at its deadline, or as soon as it is cancelled; while
// it is spent, later requests fail without going out.
TEST_F(HttpRequestTest, AThreadsLimitEndsItsRequestsAtTheDeadlineOrOnCancel) {
    using namespace std::chrono_literals;
    server.on("GET", "/slow", HttpReply{.neverAnswer = true});
    for (const bool byCancel : {false, true}) {
        std::atomic<bool> cancelled{false};
        const auto started = std::chrono::steady_clock::now();
        const vpn::HttpLimit limit(started + (byCancel ? 60s : 500ms), [&] { return cancelled.load(); });
        std::thread canceller([&] {
            std::this_thread::sleep_for(500ms);
            if (byCancel) cancelled = true;
        });
        const Outcome outcome = send("GET", url("/slow"));
        const auto elapsed = std::chrono::steady_clock::now() - started;
        canceller.join();
        EXPECT_TRUE(isRequestFailure(outcome)) << outcome.error;
        EXPECT_GE(elapsed, 450ms) << byCancel;
        // Wine does not end a waiting WinHTTP call when its handle is closed (Windows does):
        // there a cancel takes effect at the wait's own time-out.
        EXPECT_LT(elapsed, byCancel && orvik_test::underWine() ? 13s : 3s) << byCancel;
        server.clearRequests();
        EXPECT_TRUE(isRequestFailure(send("GET", url("/x"))));
        EXPECT_TRUE(server.requests().empty()) << "a spent limit sends nothing";
    }
}

// 307 repeats the request whole; after 302 and 303 it is asked again with GET and no body.
// The token headers follow on the same host only, and once dropped stay dropped. Relative
// locations resolve against the answering address; a loop ends.
TEST_F(HttpRequestTest, RedirectsKeepOrDropTheBodyAndTheToken) {
    HttpTestServer other({}, "127.0.0.2");
    ASSERT_NE(other.port(), 0);
    other.on("POST", "/landing", HttpReply{307, "", Headers{{"Location", url("/back")}}});
    const struct {
        int status;
        const char* method;
        std::string location;
        const char* arrived;  // method target body|content type|authorization and auth_data
    } cases[] = {
        {302, "GET", "/new", "GET /new ||tt"},
        {307, "POST", url("/new"), "POST /new {\"a\":1}|application/json|tt"},
        {303, "POST", "/new", "GET /new ||tt"},
        {307, "POST", other.origin() + "/landing", "POST /back {\"a\":1}|application/json|"},  // and back
        {302, "GET", "next", "GET /dir/sub/next ||tt"},
        {302, "GET", "../up?q=1", "GET /dir/up?q=1 ||tt"},
        {302, "GET", "/./a/../b#part", "GET /b ||tt"},
        {302, "GET", "//127.0.0.1:" + std::to_string(server.port()) + "/other?x", "GET /other?x ||tt"},
    };
    for (const auto& c : cases) {
        server.on(c.method, "/dir/sub/page", HttpReply{c.status, "", Headers{{"Location", c.location}}});
        const std::string body = std::string(c.method) == "POST" ? "{\"a\":1}" : "";
        EXPECT_TRUE(send(c.method, url("/dir/sub/page"), "t", body, "application/json").ok) << c.location;
        const HttpRequestRecord r = last();
        EXPECT_EQ(r.method + " " + r.target + " " + r.body + "|" + r.header("content-type") + "|" +
                      r.header("authorization") + r.header("auth_data"),
                  c.arrived);
    }
    const HttpRequestRecord there = other.requests().at(0);
    EXPECT_EQ(there.body, "{\"a\":1}");
    EXPECT_FALSE(there.hasHeader("authorization") || there.hasHeader("auth_data"));
    server.on("GET", "/loop", HttpReply{302, "", Headers{{"Location", "/loop"}}});
    server.clearRequests();
    EXPECT_TRUE(isRequestFailure(send("GET", url("/loop"))));
    EXPECT_LE(server.requests().size(), 12u);
}

TEST_F(HttpRequestTest, ProxySettingsOfTheEnvironmentAreIgnored) {
    HttpTestServer proxy([](const HttpRequestRecord&) { return HttpReply{502, "proxy", {}}; });
    const orvik_test::ScopedEnvironment lower("http_proxy", proxy.origin());
    const orvik_test::ScopedEnvironment upper("HTTP_PROXY", proxy.origin());
    const orvik_test::ScopedEnvironment all("ALL_PROXY", proxy.origin());
    const orvik_test::ScopedEnvironment none("NO_PROXY", std::nullopt);
    EXPECT_TRUE(send("GET", url("/direct")).ok);
    EXPECT_EQ(last().path, "/direct");
    EXPECT_TRUE(proxy.requests().empty());
}

}  // namespace
