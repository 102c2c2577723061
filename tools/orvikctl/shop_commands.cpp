// plans, buy and order: the panel's shop.
#include <charconv>
#include <ostream>

#include "tools/orvikctl/commands.h"
#include "tools/orvikctl/output.h"

namespace orvikctl {
namespace {

Json planJson(const vpn::PlanOffer& offer) {
    Json plan = Json::object();
    plan["id"] = offer.planId;
    plan["name"] = offer.planName;
    plan["period"] = offer.periodKey;
    plan["periodLabel"] = offer.periodLabel;
    plan["periodDays"] = offer.periodDays;
    plan["duration"] = offer.periodText;
    plan["price"] = offer.priceText;
    plan["priceCents"] = offer.priceCents;
    plan["perDay"] = offer.perDayText;
    plan["traffic"] = offer.transferText;
    plan["deviceLimit"] = offer.deviceLimit;
    plan["badge"] = offer.badge;
    return plan;
}

void printPlans(std::ostream& out, const std::vector<vpn::PlanOffer>& offers) {
    if (offers.empty()) {
        out << "No plans on sale.\n";
        return;
    }
    std::vector<std::vector<std::string>> rows{
        {"PLAN", "PERIOD", "NAME", "DURATION", "PRICE", "PER DAY", "TRAFFIC", "DEVICES", "NOTE"}};
    for (const vpn::PlanOffer& offer : offers) {
        rows.push_back({std::to_string(offer.planId), offer.periodKey, offer.planName,
                        offer.periodText.empty() ? offer.periodLabel : offer.periodText, offer.priceText,
                        offer.perDayText.empty() ? "-" : offer.perDayText,
                        offer.transferText.empty() ? "-" : offer.transferText,
                        offer.deviceLimit > 0 ? std::to_string(offer.deviceLimit) : "-", offer.badge});
    }
    printTable(out, rows);
}

// A plan id: decimal digits only, 1 to 2^31 - 1.
bool parsePlanId(const std::string& text, int32_t& id) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), id);
    return problem == std::errc() && end == text.data() + text.size() && id >= 1;
}

}  // namespace

int plansCommand(Context& context, const Invocation&) {
    std::vector<vpn::PlanOffer> offers;
    std::string error;
    if (!context.controlPlane().fetchPlans(offers, error)) return context.fail(error.empty() ? "无法读取套餐" : error);
    if (context.json()) {
        Json plans = Json::array();
        for (const vpn::PlanOffer& offer : offers) plans.push_back(planJson(offer));
        Json result = Json::object();
        result["plans"] = plans;
        context.printJson(result);
    } else {
        printPlans(context.io().out, offers);
    }
    return kExitOk;
}

int buyCommand(Context& context, const Invocation& invocation) {
    int32_t planId = 0;
    if (!parsePlanId(invocation.arguments[0], planId))
        return context.usage("buy", "PLAN_ID must be a whole number from 1 up, not " + invocation.arguments[0]);
    const std::string period = trimmed(invocation.arguments[1]);
    if (period.empty()) return context.usage("buy", "PERIOD is empty");
    vpn::CheckoutResult checkout;
    std::string error;
    if (!context.controlPlane().buyPlan(planId, period, checkout, error))
        return context.fail(error.empty() ? "购买失败" : error);
    if (context.json()) {
        Json result = Json::object();
        result["activated"] = checkout.activated;
        result["tradeNo"] = checkout.tradeNo;
        result["paymentUrl"] = checkout.paymentUrl;
        result["message"] = checkout.message;
        context.printJson(result);
        return kExitOk;
    }
    std::vector<Field> fields;
    if (checkout.activated) fields.push_back({"Result", "activated"});
    if (!checkout.tradeNo.empty()) fields.push_back({"Order", checkout.tradeNo});
    if (!checkout.activated)
        fields.push_back({"Payment", checkout.paymentUrl.empty() ? "请到面板完成支付" : checkout.paymentUrl});
    if (!checkout.message.empty()) fields.push_back({"Message", checkout.message});
    printFields(context.io().out, fields);
    return kExitOk;
}

int orderCommand(Context& context, const Invocation& invocation) {
    const std::string tradeNo = trimmed(invocation.arguments[0]);
    if (tradeNo.empty()) return context.usage("order", "TRADE_NO is empty");
    bool paid = false;
    std::string error;
    if (!context.controlPlane().checkOrder(tradeNo, paid, error)) return context.fail(error.empty() ? "查询订单失败" : error);
    if (context.json()) {
        Json result = Json::object();
        result["tradeNo"] = tradeNo;
        result["paid"] = paid;
        context.printJson(result);
    } else {
        printFields(context.io().out, {{"Order", tradeNo}, {"Status", paid ? "paid" : "not paid"}});
    }
    return kExitOk;
}

}  // namespace orvikctl
