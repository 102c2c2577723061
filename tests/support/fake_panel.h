#pragma once
// An Xboard panel in the test process, on 127.0.0.1 over real HTTP. It keeps accounts,
// sessions, servers, plans, orders and payment methods, and answers the way the real panel
// does: its envelopes and status codes (403 for a missing session, 422 for invalid input,
// 429 after five wrong passwords), the subscription's link format chosen by the user agent,
// a server list without connection parameters, checkout without envelope. A device-slot
// service lives on the same server under deviceApi().
//
// Scenarios are switches of the state (FakePanelState::switches, or the accounts, plans and
// methods themselves); edit() changes them under the panel's lock. Every request is recorded.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/http_test_server.h"

namespace orvik_test {

using Json = nlohmann::ordered_json;

struct FakeServer {
    int id = 0;
    std::string type = "vless";  // "vless" (REALITY), "shadowsocks", "vmess"; empty: untyped
    std::string name;
    std::string host;  // an IPv6 literal is bracketed in links
    int port = 443;
    std::string publicKey{};
    std::string shortId{};
    std::string serverName{};
    std::string flow = "xtls-rprx-vision";
    bool show = true;
};

struct FakeUser {
    std::string email;
    std::string password;
    std::string uuid;
    std::string subscriptionToken;
    Json planId = nullptr;      // int or null
    Json expiredAt = nullptr;   // seconds or null; other shapes for panel variants
    Json deviceLimit = nullptr; // int or null
    int64_t transferEnable = 0; // bytes
    int64_t upload = 0;
    int64_t download = 0;
    bool banned = false;
    int wrongPasswords = 0;
    std::set<std::string> devices;  // claimed at the device service
};

struct FakePlan {
    int id = 0;
    std::string name;
    // Price keys ("month_price"...) to cents; a key that is absent is sent as null.
    std::map<std::string, Json> prices;
    Json transferEnable = 100;  // the panel stores gigabytes
    Json deviceLimit = nullptr;
    bool show = true;
    bool sell = true;
};

struct FakeOrder {
    std::string tradeNo;
    std::string email;
    int planId = 0;
    std::string period;
    int64_t totalAmount = 0;
    int status = 0;  // 0 pending, 1 processing, 2 cancelled, 3 completed, 4 discounted
    int paymentId = 0;
    int64_t createdAt = 0;
};

struct FakePaymentMethod {
    int id = 0;
    std::string name;
    std::string payment;  // gateway driver, e.g. "EPay"
    bool enabled = true;
    int checkoutType = 1;  // 0: QR code address, 1: redirect address
    // Checkout's "data"; null means an address made from the trade number.
    Json checkoutData = nullptr;
};

struct FakePanelSwitches {
    bool formOnlyLogin = false;        // JSON bodies are not read (the login sees no fields)
    bool guestConfigMissing = false;   // only /passport/comm/config exists
    bool configMissing = false;        // neither configuration route exists
    bool emailVerify = false;          // registration needs an e-mail code
    bool inviteForce = false;          // registration needs an invite code
    bool recaptcha = false;
    bool pseudoNodes = false;          // informational entries before the servers
    bool subscriptionDisabled = false; // the subscription routes answer 404
    bool serverListWithConnectionDetails = false;  // a modified panel: host, port and keys
    bool orderSaveReturnsObject = false;           // data {"trade_no":...} instead of a string
    bool concurrentOrderOnNextSave = false;        // another device orders just before
    bool englishMessages = false;                  // the request's locale is English
    bool deviceReplyInData = false;                // device service wraps used/limit in data
};

struct FakePanelState {
    FakePanelSwitches switches;
    std::vector<FakeUser> users;
    std::vector<FakeServer> servers;
    std::vector<FakePlan> plans;
    std::vector<FakeOrder> orders;
    std::vector<FakePaymentMethod> paymentMethods;
    std::set<std::string> inviteCodes{"INVITE1"};
    std::map<std::string, std::string> sessions;  // auth_data -> e-mail
    std::map<std::string, std::pair<std::string, int64_t>> emailCodes;  // e-mail -> code, sent at
    int64_t clockOffset = 0;  // seconds added to the real time
    int nextSession = 1;
    int nextOrder = 1;

    FakeUser* user(const std::string& email);
    FakePlan* plan(int id);
    FakeOrder* order(const std::string& tradeNo);
};

class FakePanel {
public:
    // A panel with one active member (kEmail / kPassword, plan 1 for 30 days, three devices),
    // two REALITY servers, plan 1 ("标准版": month 1500, year 15000) and one redirecting payment
    // method.
    FakePanel();
    ~FakePanel();
    FakePanel(const FakePanel&) = delete;
    FakePanel& operator=(const FakePanel&) = delete;

    static constexpr const char* kEmail = "member@example.com";
    static constexpr const char* kPassword = "correct-horse-1";

    std::string apiBase() const;    // "http://127.0.0.1:PORT"
    std::string deviceApi() const;  // apiBase() + "/device-slots"

    void edit(const std::function<void(FakePanelState&)>& change);
    template <class T>
    T read(const std::function<T(const FakePanelState&)>& look) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return look(state_);
    }
    int64_t now() const;  // the panel's clock in seconds since 1970

    // A session for the account, as login would make it ("Bearer N|...").
    std::string openSession(const std::string& email);
    // The e-mail code last sent to the address; empty when none.
    std::string emailCode(const std::string& email) const;
    // The next `times` requests to `path` get `reply` instead of the panel's own answer.
    void overrideNext(const std::string& path, HttpReply reply, int times = 1);

    std::vector<HttpRequestRecord> requests() const { return server_->requests(); }
    std::vector<HttpRequestRecord> requestsTo(const std::string& path) const;
    std::vector<std::string> paths() const;  // "METHOD target" of every request, in order
    void clearRequests() { server_->clearRequests(); }

private:
    struct Override {
        HttpReply reply;
        int times = 0;
    };

    HttpReply handle(const HttpRequestRecord& request);
    HttpReply route(const HttpRequestRecord& request);

    mutable std::mutex mutex_;
    FakePanelState state_;
    std::map<std::string, Override> overrides_;
    std::unique_ptr<HttpTestServer> server_;
};

// ---- Pieces shared by the panel's route files (not for tests) ----
namespace fake_panel {

struct Call {
    const HttpRequestRecord& request;
    Json input;     // query and body members, as the panel's input() merges them
    bool jsonBody;  // the body was sent as application/json
    FakePanelState& state;
    int64_t now;
    std::string origin;  // scheme://host:port the request came to
};

HttpReply success(Json data);
HttpReply fail(int status, const std::string& message);
HttpReply invalid(const std::string& field, const std::string& message);
HttpReply plain(int status, Json body);  // JSON without the envelope
HttpReply notFound(const std::string& path);
std::string text(const Call& call, const char* chinese, const char* english);
// A new session of the account: its auth_data ("Bearer N|secret").
std::string newSession(FakePanelState& state, const std::string& email);
// The account of the request's Authorization header; null when missing or unknown.
FakeUser* sessionUser(const Call& call);
HttpReply notSignedIn(const Call& call);
std::string inputString(const Call& call, const char* key);
std::string base64(const std::string& bytes);
std::string phpUrlEncode(const std::string& bytes);
std::string formatDate(int64_t seconds);

// A plan as the panel lists it (plan/fetch, getSubscribe's "plan").
Json planJson(const FakePlan& plan);

// Route groups; each returns false when the request is not one of its routes.
bool passportRoute(Call& call, HttpReply& reply);
bool accountRoute(Call& call, HttpReply& reply);
bool shopRoute(Call& call, HttpReply& reply);
bool deviceRoute(Call& call, HttpReply& reply);

}  // namespace fake_panel
}  // namespace orvik_test
