// The panel transport against a real HTTP server on 127.0.0.1: what goes over the wire,
// which results and error texts come back, and how long a silent server can hold it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/environment.h"
#include "tests/support/http_test_server.h"
#include "vpn/http.h"

namespace {

using orvik_test::HttpReply;
using orvik_test::HttpRequestRecord;
using orvik_test::HttpTestServer;

constexpr const char* kRequestFailed = "面板请求失败 err=";
constexpr const char* kInvalidUrl = "面板地址无效";

struct Outcome {
    bool ok = false;
    std::string response;
    std::string error;
};

Outcome send(const std::string& method, const std::string& url, const std::string& token = {},
             const std::string& body = {}, const std::string& contentType = {}, const std::string& userAgent = {}) {
    Outcome outcome;
    outcome.ok = vpn::httpRequest(method, url, token, body, contentType, outcome.response, outcome.error, userAgent);
    return outcome;
}

HttpReply replyWith(int status, std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers = std::move(headers);
    return reply;
}

// "面板请求失败 err=" followed by a decimal number (the platform's own error code).
void expectRequestFailure(const Outcome& outcome) {
    EXPECT_FALSE(outcome.ok);
    const std::string prefix = kRequestFailed;
    ASSERT_EQ(outcome.error.rfind(prefix, 0), 0u) << outcome.error;
    const std::string number = outcome.error.substr(prefix.size());
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << outcome.error;
}

// Answers each path with the reply set by route(); other paths echo the request body.
class HttpRequestTest : public ::testing::Test {
protected:
    void route(const std::string& path, HttpReply reply) {
        std::lock_guard lock(mutex_);
        routes_[path] = std::move(reply);
    }
    std::string url(const std::string& target) const { return server_.origin() + target; }
    int port() const { return server_.port(); }
    std::vector<HttpRequestRecord> received() const { return server_.requests(); }
    HttpRequestRecord onlyRequest() const {
        const std::vector<HttpRequestRecord> requests = server_.requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? HttpRequestRecord{} : requests.front();
    }

private:
    HttpReply answer(const HttpRequestRecord& request) {
        std::lock_guard lock(mutex_);
        const auto found = routes_.find(request.path);
        return found != routes_.end() ? found->second : replyWith(200, request.body);
    }

    std::mutex mutex_;
    std::map<std::string, HttpReply> routes_;
    HttpTestServer server_{[this](const HttpRequestRecord& request) { return answer(request); }};
};

TEST_F(HttpRequestTest, ErrorStatusFailsAndKeepsThePanelsBody) {
    route("/fail", replyWith(500, R"({"message":"x"})"));
    const Outcome outcome = send("POST", url("/fail"), "t", "{}", "application/json");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "面板 HTTP 500");
    EXPECT_EQ(outcome.response, R"({"message":"x"})");

    for (const int status : {400, 403, 404, 422}) {
        SCOPED_TRACE(status);
        route("/fail", replyWith(status, "{}"));
        const Outcome failed = send("GET", url("/fail"));
        EXPECT_FALSE(failed.ok);
        EXPECT_EQ(failed.error, "面板 HTTP " + std::to_string(status));
        EXPECT_EQ(failed.response, "{}");
    }
}

TEST_F(HttpRequestTest, StatusBelow400Succeeds) {
    for (const int status : {200, 201, 204, 399}) {
        SCOPED_TRACE(status);
        const std::string body = status == 204 ? "" : R"({"data":)" + std::to_string(status) + "}";
        route("/ok", replyWith(status, body));
        const Outcome outcome = send("GET", url("/ok"));
        EXPECT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(outcome.response, body);
    }
}

TEST_F(HttpRequestTest, BodilessGetSendsAcceptAndDefaultAgentOnly) {
    ASSERT_TRUE(send("GET", url("/plain"), "", "", "application/json").ok);
    const HttpRequestRecord request = onlyRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.header("accept"), "application/json");
    EXPECT_EQ(request.header("user-agent"), vpn::kDefaultUserAgent);
    EXPECT_FALSE(request.hasHeader("content-type")) << "a GET without a body carries no Content-Type";
    EXPECT_FALSE(request.hasHeader("authorization"));
    EXPECT_FALSE(request.hasHeader("auth_data"));
    EXPECT_FALSE(request.hasHeader("expect"));
    EXPECT_TRUE(request.body.empty());
}

TEST_F(HttpRequestTest, TokenGoesBareIntoBothHeadersOnce) {
    const std::string token = "abc.DEF-123=";
    ASSERT_TRUE(send("POST", url("/auth"), token, "a=1", "application/x-www-form-urlencoded", "Velora/2.0").ok);
    const HttpRequestRecord request = onlyRequest();
    EXPECT_EQ(request.header("authorization"), token);
    EXPECT_EQ(request.header("auth_data"), token);
    EXPECT_EQ(request.headers.count("authorization"), 1u);
    EXPECT_EQ(request.headers.count("auth_data"), 1u);
    EXPECT_EQ(request.header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.headers.count("content-type"), 1u);
    EXPECT_EQ(request.header("accept"), "application/json");
    EXPECT_EQ(request.header("user-agent"), "Velora/2.0");
    EXPECT_EQ(request.body, "a=1");
}

TEST_F(HttpRequestTest, BodilessPostHasNoContentType) {
    ASSERT_TRUE(send("POST", url("/empty"), "", "", "application/json").ok);
    const HttpRequestRecord request = onlyRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_FALSE(request.hasHeader("content-type"));
    EXPECT_TRUE(request.body.empty());
    if (request.hasHeader("content-length")) {
        EXPECT_EQ(request.header("content-length"), "0");
    }
}

TEST_F(HttpRequestTest, BodyBytesArriveIntactAndComeBack) {
    std::string binary;
    for (int round = 0; round < 4; ++round)
        for (int byte = 0; byte < 256; ++byte) binary.push_back(static_cast<char>(byte));
    const std::string utf8 = R"({"email":"用户@例子.中国","note":"引号\" 反斜杠\\ ✓"})";
    const std::string large(3 * 1024 * 1024 + 7, 'z');  // beyond any send buffer
    for (const std::string* body : std::vector<const std::string*>{&utf8, &binary, &large}) {
        SCOPED_TRACE(body->size());
        const Outcome outcome = send("POST", url("/echo"), "", *body, "application/octet-stream");
        ASSERT_TRUE(outcome.ok) << outcome.error;
        EXPECT_TRUE(outcome.response == *body) << "the echoed reply differs";
    }
    const std::vector<HttpRequestRecord> requests = received();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].body, utf8);
    EXPECT_TRUE(requests[1].body == binary);
    EXPECT_EQ(requests[2].body.size(), large.size());
    EXPECT_EQ(requests[2].header("content-length"), std::to_string(large.size()));
    EXPECT_FALSE(requests[2].hasHeader("expect")) << "no 100-continue round trip";
}

TEST_F(HttpRequestTest, TargetReachesTheServerAsWritten) {
    ASSERT_TRUE(send("GET", url("/api/v1/user/info?token=a%2Bb&lang=zh-CN")).ok);
    const HttpRequestRecord request = onlyRequest();
    EXPECT_EQ(request.path, "/api/v1/user/info");
    EXPECT_EQ(request.query, "token=a%2Bb&lang=zh-CN");

    ASSERT_TRUE(send("GET", url("")).ok) << "an address without a path asks for /";
    EXPECT_EQ(received().back().target, "/");
}

TEST_F(HttpRequestTest, ResponseIsClearedBeforeAnyOutcome) {
    route("/nothing", replyWith(204, ""));
    Outcome outcome;
    outcome.response = "stale";
    EXPECT_TRUE(vpn::httpRequest("GET", url("/nothing"), "", "", "", outcome.response, outcome.error));
    EXPECT_EQ(outcome.response, "");

    outcome.response = "stale";
    EXPECT_FALSE(vpn::httpRequest("GET", "nonsense", "", "", "", outcome.response, outcome.error));
    EXPECT_EQ(outcome.response, "");

    outcome.response = "stale";
    const std::string refused = "http://127.0.0.1:" + std::to_string(orvik_test::unusedLoopbackPort()) + "/";
    EXPECT_FALSE(vpn::httpRequest("GET", refused, "", "", "", outcome.response, outcome.error));
    EXPECT_EQ(outcome.response, "");
}

TEST(HttpRequest, ConnectionRefusedIsARequestFailure) {
    const int port = orvik_test::unusedLoopbackPort();
    ASSERT_NE(port, 0);
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = send("GET", "http://127.0.0.1:" + std::to_string(port) + "/api");
    expectRequestFailure(outcome);
    EXPECT_TRUE(outcome.response.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
}

TEST_F(HttpRequestTest, InvalidAddressesNeverReachTheNetwork) {
    const std::vector<std::string> invalid = {
        "",
        "127.0.0.1/api/v1/guest/comm/config",  // no scheme
        "ftp://127.0.0.1/file",
        "http://",
        "http://" + std::string(256, 'a') + "/api",                 // host beyond 255 characters
        url("/" + std::string(2047, 'p')),                          // path beyond 2047 characters
        url("/" + std::string(1000, 'p') + "?" + std::string(1046, 'q')),  // path and query together
    };
    for (const std::string& address : invalid) {
        SCOPED_TRACE(address.substr(0, 60));
        const Outcome outcome = send("GET", address);
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.error, kInvalidUrl);
    }
    EXPECT_TRUE(received().empty());

    // At the limit the request goes out whole.
    const std::string longest = "/" + std::string(1000, 'p') + "?" + std::string(1045, 'q');
    ASSERT_EQ(longest.size(), 2047u);
    const Outcome outcome = send("GET", url(longest));
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(onlyRequest().target, longest);
}

TEST_F(HttpRequestTest, HeaderValuesCannotInjectHeaders) {
    const std::vector<Outcome> outcomes = {
        send("GET", url("/x"), "t\r\nX-Injected: 1"),
        send("POST", url("/x"), "", "{}", "application/json\r\nX-Injected: 1"),
        send("GET", url("/x"), "", "", "", "Agent\nX-Injected: 1"),
        send("GET /x HTTP/1.1\r\n", url("/x")),
    };
    for (const Outcome& outcome : outcomes) {
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.error, "无法创建面板请求");
    }
    EXPECT_TRUE(received().empty());
}

TEST_F(HttpRequestTest, ServerThatNeverAnswersEndsInBoundedTime) {
    HttpReply silent;
    silent.neverAnswer = true;
    route("/silent", silent);
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = send("POST", url("/silent"), "t", "{}", "application/json");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    expectRequestFailure(outcome);
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    std::printf("silent server: request ended after %lld ms with \"%s\"\n", ms, outcome.error.c_str());
    EXPECT_GE(ms, 10000) << "the receive time-out is 12 s";
    EXPECT_LT(ms, 20000);
}

TEST(HttpRequest, ServerClosingWithoutAnswerFailsAndStopsPromptly) {
    auto server = std::make_unique<HttpTestServer>([](const HttpRequestRecord&) {
        HttpReply silent;
        silent.neverAnswer = true;
        return silent;
    });
    Outcome outcome;
    std::thread client([&outcome, url = server->origin() + "/wait"] { outcome = send("GET", url); });
    while (server->requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto stopping = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(1));
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(5));
    expectRequestFailure(outcome);
}

TEST_F(HttpRequestTest, ReplyThatStallsMidBodyFails) {
    HttpReply stalling = replyWith(200, std::string(100, 'b'));
    stalling.stallAfterBodyBytes = 10;
    route("/stall", stalling);
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = send("GET", url("/stall"));
    const auto elapsed = std::chrono::steady_clock::now() - started;
    expectRequestFailure(outcome);
    EXPECT_TRUE(outcome.response.empty()) << "a cut-off reply is not handed on";
    EXPECT_LT(elapsed, std::chrono::seconds(20));
}

TEST_F(HttpRequestTest, ReplyCutShortByTheServerFails) {
    route("/short", replyWith(200, std::string(10, 's'), {{"Content-Length", "100"}}));
    const Outcome outcome = send("GET", url("/short"));
    expectRequestFailure(outcome);
    EXPECT_TRUE(outcome.response.empty());
}

TEST_F(HttpRequestTest, OversizedReplyIsRefused) {
    const std::size_t limit = std::size_t{64} * 1024 * 1024;
    route("/huge", replyWith(200, std::string(limit + 1, 'h')));
    const Outcome outcome = send("GET", url("/huge"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "面板回复过大");
    EXPECT_TRUE(outcome.response.empty());
}

TEST_F(HttpRequestTest, RedirectsAreFollowed) {
    route("/old", replyWith(302, "", {{"Location", "/new"}}));
    route("/new", replyWith(200, R"({"data":"new"})"));
    Outcome outcome = send("GET", url("/old"), "t");
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.response, R"({"data":"new"})");
    std::vector<HttpRequestRecord> requests = received();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, "/new");
    EXPECT_EQ(requests[1].header("authorization"), "t") << "the same host keeps the token headers";
    EXPECT_EQ(requests[1].header("auth_data"), "t");

    // 307 repeats the POST with its body.
    route("/again", replyWith(307, "", {{"Location", url("/new")}}));
    outcome = send("POST", url("/again"), "", "{\"a\":1}", "application/json");
    EXPECT_TRUE(outcome.ok) << outcome.error;
    requests = received();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].path, "/new");
    EXPECT_EQ(requests[3].method, "POST");
    EXPECT_EQ(requests[3].body, "{\"a\":1}");
    EXPECT_EQ(requests[3].header("content-type"), "application/json");

    // After 303 the body is never posted again.
    route("/see", replyWith(303, "", {{"Location", "/new"}}));
    outcome = send("POST", url("/see"), "", "{\"a\":1}", "application/json");
    EXPECT_TRUE(outcome.ok) << outcome.error;
    requests = received();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[5].method, "GET");
    EXPECT_EQ(requests[5].body, "");
    EXPECT_FALSE(requests[5].hasHeader("content-type"));
}

TEST_F(HttpRequestTest, TokenHeadersNeverFollowToAnotherHost) {
    HttpTestServer other([this](const HttpRequestRecord&) { return replyWith(307, "", {{"Location", url("/back")}}); },
                         "127.0.0.2");
    ASSERT_NE(other.port(), 0);
    route("/away", replyWith(307, "", {{"Location", other.origin() + "/landing"}}));
    const Outcome outcome = send("POST", url("/away"), "secret", "{\"a\":1}", "application/json");
    EXPECT_TRUE(outcome.ok) << outcome.error;
    const std::vector<HttpRequestRecord> there = other.requests();
    ASSERT_EQ(there.size(), 1u);
    EXPECT_EQ(there[0].body, "{\"a\":1}");
    EXPECT_FALSE(there[0].hasHeader("authorization"));
    EXPECT_FALSE(there[0].hasHeader("auth_data"));
    const std::vector<HttpRequestRecord> here = received();
    ASSERT_EQ(here.size(), 2u);
    EXPECT_EQ(here[0].header("auth_data"), "secret");
    EXPECT_EQ(here[1].path, "/back");
    EXPECT_FALSE(here[1].hasHeader("authorization")) << "once dropped, the token stays dropped";
    EXPECT_FALSE(here[1].hasHeader("auth_data"));
}

TEST_F(HttpRequestTest, RelativeLocationsResolveAgainstTheAnsweringAddress) {
    const std::string sameServer = "//127.0.0.1:" + std::to_string(port());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"next", "/dir/sub/next"},
        {"../up?q=1", "/dir/up?q=1"},
        {"/./a/../b#part", "/b"},
        {sameServer + "/other?x", "/other?x"},
    };
    for (const auto& [location, target] : cases) {
        SCOPED_TRACE(location);
        route("/dir/sub/page", replyWith(302, "", {{"Location", location}}));
        const Outcome outcome = send("GET", url("/dir/sub/page"));
        EXPECT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(received().back().target, target);
    }
}

TEST_F(HttpRequestTest, EndlessRedirectsFail) {
    route("/loop", replyWith(302, "", {{"Location", "/loop"}}));
    const Outcome outcome = send("GET", url("/loop"));
    expectRequestFailure(outcome);
    EXPECT_LE(received().size(), 12u);
}

TEST_F(HttpRequestTest, ProxySettingsOfTheEnvironmentAreIgnored) {
    HttpTestServer proxy([](const HttpRequestRecord&) { return replyWith(502, "proxy"); });
    const orvik_test::ScopedEnvironment lower("http_proxy", proxy.origin());
    const orvik_test::ScopedEnvironment upper("HTTP_PROXY", proxy.origin());
    const orvik_test::ScopedEnvironment all("ALL_PROXY", proxy.origin());
    const orvik_test::ScopedEnvironment none("NO_PROXY", std::nullopt);
    const Outcome outcome = send("GET", url("/direct"));
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(onlyRequest().path, "/direct");
    EXPECT_TRUE(proxy.requests().empty());
}

TEST_F(HttpRequestTest, ParallelRequestsStayApart) {
    constexpr int kThreads = 6;
    constexpr int kEach = 5;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &failures] {
            for (int i = 0; i < kEach; ++i) {
                const std::string body = "thread " + std::to_string(t) + " request " + std::to_string(i);
                const Outcome outcome = send("POST", url("/echo?t=" + std::to_string(t)), "tok" + std::to_string(t),
                                             body, "text/plain");
                if (!outcome.ok || outcome.response != body) ++failures[static_cast<std::size_t>(t)];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[static_cast<std::size_t>(t)], 0) << "thread " << t;
    const std::vector<HttpRequestRecord> requests = received();
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(kThreads * kEach));
    for (const HttpRequestRecord& request : requests)
        EXPECT_EQ(request.header("authorization"), "tok" + request.query.substr(2));
}

}  // namespace
