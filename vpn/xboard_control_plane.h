#pragma once
// The control plane of a subscription panel that speaks the Xboard HTTP API.

#include <string>

#include "vpn/control_plane.h"

namespace vpn {

class XboardControlPlane final : public ControlPlane {
public:
    // Trailing '/' and '\' are removed from both bases. A readable session file restores
    // the session (its "auth_data" and "email").
    XboardControlPlane(std::string apiBase, std::string sessionPath, std::string deviceApi);

    bool login(const std::string& email, const std::string& password, std::string& error) override;
    bool fetchAccount(AccountRecord& account, std::string& error) override;
    void logout() override;
    bool fetchRegisterOptions(RegisterOptions& options, std::string& error) override;
    bool sendRegisterEmail(const std::string& email, std::string& error) override;
    bool registerAccount(const std::string& email, const std::string& password,
                         const std::string& inviteCode, const std::string& emailCode,
                         std::string& error) override;
    bool fetchPlans(std::vector<PlanOffer>& offers, std::string& error) override;
    bool buyPlan(int32_t planId, const std::string& periodKey, CheckoutResult& result,
                 std::string& error) override;
    bool checkOrder(const std::string& tradeNo, bool& paid, std::string& error) override;
    bool claimDevice(const std::string& deviceId, int32_t& used, int32_t& limit,
                     std::string& error) override;

    const std::string& apiBase() const { return apiBase_; }
    const std::string& deviceApi() const { return deviceApi_; }
    const std::string& token() const { return token_; }
    const std::string& email() const { return email_; }

private:
    std::string endpoint(const char* path) const { return apiBase_ + path; }
    bool extractAuthToken(const std::string& reply);
    bool saveSession(std::string& error);

    // Account helpers: the two node sources of fetchAccount.
    void fetchSubscriptionNodes(const std::string& data, std::vector<NodeRecord>& nodes,
                                std::string& error) const;
    bool fetchServerListNodes(const std::string& uuid, std::vector<NodeRecord>& nodes,
                              std::string& error) const;

    // Commerce helpers (orders and payment).
    bool saveOrder(int32_t planId, const std::string& period, std::string& tradeNo, std::string& error);
    void cancelOrder(const std::string& tradeNo);
    void cancelPendingOrders();
    bool placeOrder(int32_t planId, const std::string& period, std::string& tradeNo, std::string& error);
    int64_t firstPaymentMethod() const;
    bool checkout(int64_t method, CheckoutResult& result, std::string& error);
    std::string noPaymentMethodText() const;

    std::string apiBase_;
    std::string sessionPath_;
    std::string deviceApi_;
    std::string token_;
    std::string email_;
};

// Strips trailing '/' and '\' characters.
std::string stripTrailingSeparators(std::string text);

}  // namespace vpn
