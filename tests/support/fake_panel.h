#pragma once
// A scripted Xboard panel on the test HTTP server. Out of the box every route the client uses
// answers one member (kEmail / kPassword, session kSession) with the real panel's reply
// shapes: plan 1 for 30 more days, three devices, two REALITY nodes, plan 1 ("标准版": month
// 1500, year 15000), one payment method that redirects, unpaid orders. A test replaces a
// route's reply with on() / queue() and checks the request log. The builders below give
// the real shapes (envelope, failures, subscription body).

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/http_test_server.h"

namespace orvik_test {

using Json = nlohmann::ordered_json;

namespace panel {

inline constexpr const char* kLogin = "/api/v1/passport/auth/login";
inline constexpr const char* kRegister = "/api/v1/passport/auth/register";
inline constexpr const char* kEmailCode = "/api/v1/passport/comm/sendEmailVerify";
inline constexpr const char* kGuestConfig = "/api/v1/guest/comm/config";
inline constexpr const char* kPassportConfig = "/api/v1/passport/comm/config";
inline constexpr const char* kGetSubscribe = "/api/v1/user/getSubscribe";
inline constexpr const char* kSubscription = "/api/v1/client/subscribe";
inline constexpr const char* kServerList = "/api/v1/user/server/fetch";
inline constexpr const char* kPlans = "/api/v1/user/plan/fetch";
inline constexpr const char* kOrders = "/api/v1/user/order/fetch";
inline constexpr const char* kSave = "/api/v1/user/order/save";
inline constexpr const char* kCancel = "/api/v1/user/order/cancel";
inline constexpr const char* kMethods = "/api/v1/user/order/getPaymentMethod";
inline constexpr const char* kCheckout = "/api/v1/user/order/checkout";
inline constexpr const char* kCheck = "/api/v1/user/order/check";
inline constexpr const char* kClaim = "/device-slots/claim";

inline constexpr const char* kToken = "9b1f2c3d4e5f60718293a4b5c6d7e8f9";  // the subscription's
inline constexpr const char* kUuid = "3f1c0b9e-6a52-4d1e-9b7a-2c5e8f0a1d44";
inline constexpr const char* kPayPage = "https://pay.example.com/submit.php?out_trade_no=";

HttpReply success(Json data);                       // 200 {"status":"success",...,"data":D}
HttpReply fail(int status, const std::string& message);  // {"status":"fail","message":M,...}
HttpReply plain(int status, const Json& body);      // JSON without the envelope
// getSubscribe's data for the member; `expiredAt` in seconds (or another panel's shape).
Json member(Json expiredAt);
Json plan(int id, const std::string& name, const Json& prices);  // prices: {"month_price":1500,...}
Json guestConfig(bool emailVerify, bool inviteForce, bool recaptcha);
// A REALITY link as the panel writes it (PHP-encoded name, bracketed IPv6 host).
std::string vlessLink(const std::string& name, const std::string& host, int port);
// The general format: Base64 of the links, each ended by CR LF, with the usage header.
HttpReply subscription(const std::vector<std::string>& links);
int64_t now();  // seconds since 1970

}  // namespace panel

class FakePanel : public HttpTestServer {
public:
    static constexpr const char* kEmail = "member@example.com";
    static constexpr const char* kPassword = "correct-horse-1";
    static constexpr const char* kSession = "Bearer 1|aB3dE5gH7jK9mN1pQ3sT5vX7zA9cE1gI3kM5oQ7s";

    FakePanel();

    std::string apiBase() const { return origin(); }
    std::string deviceApi() const { return origin() + "/device-slots"; }
};

}  // namespace orvik_test
