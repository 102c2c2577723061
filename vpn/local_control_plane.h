#pragma once
// A control plane for one account and one node kept in account.json, without a panel.
// Signed in exactly while session.json exists and names the account's e-mail. Every call
// rereads the files; nothing is kept in memory.

#include "vpn/control_plane.h"

namespace vpn {

class LocalControlPlane final : public ControlPlane {
public:
    LocalControlPlane(std::string accountPath, std::string sessionPath);

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

private:
    std::string accountPath_;
    std::string sessionPath_;
};

// True when `text` ("Y-M-D") is missing, unparsable or a UTC day before today.
bool isDateExpired(const std::string& text);

}  // namespace vpn
