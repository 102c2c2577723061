// STUB: to be written
#include "vpn/local_control_plane.h"

namespace vpn {

LocalControlPlane::LocalControlPlane(std::string a, std::string s) : accountPath_(std::move(a)), sessionPath_(std::move(s)) {}
bool LocalControlPlane::login(const std::string&, const std::string&, std::string&) { return false; }
bool LocalControlPlane::fetchAccount(AccountRecord&, std::string&) { return false; }
void LocalControlPlane::logout() {}
bool LocalControlPlane::fetchRegisterOptions(RegisterOptions&, std::string&) { return false; }
bool LocalControlPlane::sendRegisterEmail(const std::string&, std::string&) { return false; }
bool LocalControlPlane::registerAccount(const std::string&, const std::string&, const std::string&, const std::string&, std::string&) { return false; }
bool LocalControlPlane::fetchPlans(std::vector<PlanOffer>&, std::string&) { return false; }
bool LocalControlPlane::buyPlan(int32_t, const std::string&, CheckoutResult&, std::string&) { return false; }
bool LocalControlPlane::checkOrder(const std::string&, bool&, std::string&) { return false; }
bool LocalControlPlane::claimDevice(const std::string&, int32_t&, int32_t&, std::string&) { return false; }
bool isDateExpired(const std::string&) { return true; }

}  // namespace vpn
