// login, logout and account: the session of the runtime directory and what the account holds.
#include <cstdio>
#include <ostream>

#include "tools/orvikctl/commands.h"
#include "tools/orvikctl/output.h"
#include "vpn/calendar.h"

namespace orvikctl {
namespace {

// Days from today (UTC) to the "YYYY-MM-DD" that starts `expiresAt`; false when it has none.
bool daysLeft(const std::string& expiresAt, int64_t& days) {
    int year = 0;
    int month = 0;
    int day = 0;
    char rest = 0;
    if (expiresAt.size() < 10 || std::sscanf(expiresAt.substr(0, 10).c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &rest) != 3)
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    const vpn::CivilDate today = vpn::todayUtc();
    days = (vpn::unixFromCivil(year, month, day) - vpn::unixFromCivil(today.year, today.month, today.day)) / 86400;
    return true;
}

std::string membership(const vpn::AccountRecord& account) {
    if (!account.signedIn) return "signed out";
    if (account.expired) return "expired";
    return account.hasPlan ? "active" : "no plan";
}

std::string expiryText(const vpn::AccountRecord& account) {
    if (!account.hasPlan && !account.expired) return "-";
    if (account.expiresAt.empty()) return "never";
    int64_t days = 0;
    if (!daysLeft(account.expiresAt, days) || account.expired) return account.expiresAt;
    return account.expiresAt + " (" + std::to_string(days) + (days == 1 ? " day left)" : " days left)");
}

std::string devicesText(const vpn::AccountRecord& account) {
    const std::string limit = account.deviceLimit > 0 ? std::to_string(account.deviceLimit) : "unlimited";
    if (account.usedDevices > 0) return std::to_string(account.usedDevices) + " of " + limit + " in use";
    return limit + " allowed";
}

std::string endpoint(const vpn::NodeRecord& node) {
    const bool ipv6 = node.address.find(':') != std::string::npos;
    return (ipv6 ? "[" + node.address + "]" : node.address) + ":" + std::to_string(node.port);
}

Json accountJson(const vpn::AccountRecord& account) {
    Json result = Json::object();
    result["signedIn"] = account.signedIn;
    result["email"] = account.email;
    result["membership"] = membership(account);
    result["hasPlan"] = account.hasPlan;
    result["expired"] = account.expired;
    result["expiresAt"] = account.expiresAt;
    int64_t days = 0;
    result["daysLeft"] = daysLeft(account.expiresAt, days) ? Json(days) : Json(nullptr);
    result["usedDevices"] = account.usedDevices;
    result["deviceLimit"] = account.deviceLimit;
    Json nodes = Json::array();
    for (const vpn::NodeRecord& node : account.nodes) {
        Json entry = Json::object();
        entry["name"] = node.name;
        entry["address"] = node.address;
        entry["port"] = node.port;
        nodes.push_back(entry);
    }
    result["nodes"] = nodes;
    return result;
}

void printAccount(std::ostream& out, const vpn::AccountRecord& account) {
    printFields(out, {{"Account", account.email.empty() ? "-" : account.email},
                      {"Membership", membership(account)},
                      {"Expires", expiryText(account)},
                      {"Devices", devicesText(account)},
                      {"Nodes", account.nodes.empty() ? "none" : std::to_string(account.nodes.size())}});
    std::vector<std::vector<std::string>> rows;
    for (const vpn::NodeRecord& node : account.nodes) rows.push_back({node.name, endpoint(node)});
    printTable(out, rows, "  ");
}

}  // namespace

int loginCommand(Context& context, const Invocation& invocation) {
    const std::string email = trimmed(invocation.arguments[0]);
    if (email.empty()) return context.usage("login", "EMAIL is empty");
    std::string password;
    if (!context.readAnswer("Password: ", false, password))
        return context.usage("login", "no password given (type it at the prompt or pass it on standard input)");
    std::string error;
    if (!context.controlPlane().login(email, password, error)) return context.fail(error.empty() ? "登录失败" : error);
    if (context.json()) {
        Json result = Json::object();
        result["email"] = email;
        context.printJson(result);
    } else {
        context.io().out << "Signed in as " << email << ".\n";
    }
    return kExitOk;
}

int logoutCommand(Context& context, const Invocation&) {
    context.controlPlane().logout();
    if (context.json()) {
        context.printJson(Json::object());
    } else {
        context.io().out << "Signed out.\n";
    }
    return kExitOk;
}

int accountCommand(Context& context, const Invocation&) {
    vpn::AccountRecord account;
    std::string error;
    if (!context.controlPlane().fetchAccount(account, error))
        return context.fail(error.empty() ? "无法读取账号" : error);
    if (context.json()) {
        context.printJson(accountJson(account));
    } else {
        printAccount(context.io().out, account);
    }
    return kExitOk;
}

}  // namespace orvikctl
