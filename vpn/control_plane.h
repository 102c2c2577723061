#pragma once
// The account back end as both executables see it: records and the abstract control plane.
// Texts are UTF-8 throughout.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vpn {

// One VLESS+REALITY node. `name` is also the node's identifier (route id, pipe "node").
struct NodeRecord {
    std::string name;
    std::string address;  // host name or IP literal, without brackets
    int32_t port = 0;
    std::string uuid;
    std::string flow = "xtls-rprx-vision";
    std::string serverName;
    std::string fingerprint = "chrome";
    std::string publicKey;
    std::string shortId;
};

struct AccountRecord {
    bool signedIn = false;
    bool expired = false;
    bool hasPlan = false;
    int32_t deviceLimit = 0;
    int32_t usedDevices = 0;
    std::string email;
    std::string expiresAt;  // "YYYY-MM-DD" (panel) or as account.json holds it; empty: no expiry
    std::vector<NodeRecord> nodes;
};

struct RegisterOptions {
    bool emailVerify = false;
    bool inviteForce = false;
    bool recaptcha = false;
};

// One purchasable period of one plan.
struct PlanOffer {
    int32_t planId = 0;
    int32_t periodDays = 0;  // 0 for a one-time offer
    int64_t deviceLimit = 0;
    std::string planName;
    std::string periodKey;  // the panel's price key, passed back to buyPlan
    std::string periodLabel;
    std::string periodText;
    std::string perDayText;
    std::string badge;
    std::string priceText;
    std::string transferText;
    int64_t priceCents = 0;
};

struct CheckoutResult {
    bool activated = false;
    std::string tradeNo;
    std::string paymentUrl;
    std::string message;
};

// Every operation blocks for as long as its requests take, returns success as a bool and,
// on failure, a text for the user in `error`. Callers pass an empty error text: several
// operations fill it only while it is still empty. Operations take no locks; a caller that
// runs them on several threads must not overlap a session-changing one (login,
// registerAccount, logout) with any other on the same instance.
class ControlPlane {
public:
    virtual ~ControlPlane() = default;

    virtual bool login(const std::string& email, const std::string& password, std::string& error) = 0;
    virtual bool fetchAccount(AccountRecord& account, std::string& error) = 0;
    virtual void logout() = 0;
    virtual bool fetchRegisterOptions(RegisterOptions& options, std::string& error) = 0;
    virtual bool sendRegisterEmail(const std::string& email, std::string& error) = 0;
    virtual bool registerAccount(const std::string& email, const std::string& password,
                                 const std::string& inviteCode, const std::string& emailCode,
                                 std::string& error) = 0;
    virtual bool fetchPlans(std::vector<PlanOffer>& offers, std::string& error) = 0;
    virtual bool buyPlan(int32_t planId, const std::string& periodKey, CheckoutResult& result,
                         std::string& error) = 0;
    virtual bool checkOrder(const std::string& tradeNo, bool& paid, std::string& error) = 0;
    virtual bool claimDevice(const std::string& deviceId, int32_t& used, int32_t& limit,
                             std::string& error) = 0;
};

}  // namespace vpn
