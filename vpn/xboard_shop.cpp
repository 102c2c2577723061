// STUB: to be written
#include "vpn/xboard_control_plane.h"

namespace vpn {

bool XboardControlPlane::fetchPlans(std::vector<PlanOffer>&, std::string&) { return false; }
bool XboardControlPlane::buyPlan(int32_t, const std::string&, CheckoutResult&, std::string&) { return false; }
bool XboardControlPlane::checkOrder(const std::string&, bool&, std::string&) { return false; }
bool XboardControlPlane::claimDevice(const std::string&, int32_t&, int32_t&, std::string&) { return false; }
bool XboardControlPlane::saveOrder(int32_t, const std::string&, std::string&, std::string&) { return false; }
void XboardControlPlane::cancelOrder(const std::string&) {}
void XboardControlPlane::cancelPendingOrders() {}
std::string XboardControlPlane::noPaymentMethodText() const { return {}; }

}  // namespace vpn
