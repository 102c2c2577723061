// The file-backed control plane: one account and one node in account.json, the session in
// session.json. Every call rereads both files.
#include "vpn/local_control_plane.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>

#include "vpn/calendar.h"
#include "vpn/files.h"
#include "vpn/state_location.h"

namespace vpn {
namespace {

using Json = nlohmann::ordered_json;

bool readText(const std::string& path, std::string& text, std::string& error) {
    if (!readWholeFile(path, text)) {
        error = "cannot read " + path;
        return false;
    }
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // editors' BOM
    return true;
}

// The file as a JSON object; false with "cannot parse" when it is not one.
bool readObject(const std::string& path, Json& object, std::string& error) {
    std::string text;
    if (!readText(path, text, error)) return false;
    object = Json::parse(text, nullptr, false);
    if (object.is_object()) return true;
    error = "cannot parse " + path;
    return false;
}

std::string stringValue(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

// Numbers only, fractions truncated and clamped to 32 bits; a quoted number, null or a
// boolean reads as 0, an absent key as the fallback.
int32_t intValue(const Json& object, const char* key, int32_t fallback) {
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    constexpr int32_t high = std::numeric_limits<int32_t>::max();
    constexpr int32_t low = std::numeric_limits<int32_t>::min();
    if (it->is_number_unsigned()) return static_cast<int32_t>(std::min<uint64_t>(it->get<uint64_t>(), high));
    if (it->is_number_integer()) return static_cast<int32_t>(std::clamp<int64_t>(it->get<int64_t>(), low, high));
    if (it->is_number_float()) return static_cast<int32_t>(std::clamp<double>(it->get<double>(), low, high));
    return 0;
}

NodeRecord nodeFromAccount(const Json& account) {
    NodeRecord node;
    node.name = stringValue(account, "nodeName");
    node.address = stringValue(account, "address");
    node.port = intValue(account, "port", 0);
    node.uuid = stringValue(account, "uuid");
    if (std::string flow = stringValue(account, "flow"); !flow.empty()) node.flow = std::move(flow);
    node.serverName = stringValue(account, "sni");
    if (std::string fp = stringValue(account, "fingerprint"); !fp.empty()) node.fingerprint = std::move(fp);
    node.publicKey = stringValue(account, "publicKey");
    node.shortId = stringValue(account, "shortId");
    return node;
}

// One decimal field as "%d" reads it: blanks, an optional sign, at least one digit.
std::optional<int64_t> readNumber(const char*& p) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return std::nullopt;
    int64_t value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), int64_t{1} << 40);  // no overflow
    }
    return negative ? -value : value;
}

}  // namespace

bool isDateExpired(const std::string& text) {
    const char* p = text.c_str();
    int64_t fields[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && *p++ != '-') return true;
        const std::optional<int64_t> value = readNumber(p);
        if (!value) return true;
        fields[i] = *value;
    }
    const CivilDate today = todayUtc();
    const int64_t now[3] = {today.year, today.month, today.day};
    for (int i = 0; i < 3; ++i) {
        if (now[i] != fields[i]) return now[i] > fields[i];
    }
    return false;  // the named day itself is still valid
}

LocalControlPlane::LocalControlPlane(std::string accountPath, std::string sessionPath)
    : accountPath_(std::move(accountPath)), sessionPath_(std::move(sessionPath)) {}

bool LocalControlPlane::login(const std::string& email, const std::string& password, std::string& error) {
    Json account;
    if (!readObject(accountPath_, account, error)) return false;
    if (email != stringValue(account, "email") || password != stringValue(account, "password")) {
        error = "email or password is incorrect";
        return false;
    }
    const std::string expireAt = stringValue(account, "expireAt");
    if (isDateExpired(expireAt)) {
        error = "account expired";
        return false;
    }
    Json session = Json::object();
    session["email"] = email;
    session["expireAt"] = expireAt;
    const std::string text = session.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    if (writeSessionFile(sessionPath_, text)) return true;
    error = "cannot write " + sessionPath_;
    return false;
}

bool LocalControlPlane::fetchAccount(AccountRecord& account, std::string& error) {
    std::string sessionText;
    if (!readText(sessionPath_, sessionText, error)) {
        error = "not logged in";
        return false;
    }
    Json stored;
    if (!readObject(accountPath_, stored, error)) return false;
    // A damaged session file names nobody, so it reads as a session of someone else.
    const Json session = Json::parse(sessionText, nullptr, false);
    const std::string sessionEmail = session.is_object() ? stringValue(session, "email") : std::string();

    account.email = sessionEmail;
    account.expiresAt = stringValue(stored, "expireAt");
    account.expired = isDateExpired(account.expiresAt);
    account.hasPlan = !account.expired;
    account.deviceLimit = intValue(stored, "deviceLimit", 1);
    account.usedDevices = 1;
    account.signedIn = !sessionEmail.empty() && sessionEmail == stringValue(stored, "email");
    if (!account.signedIn) {
        error = "session does not match account";
        return false;
    }
    if (account.expired) {
        error = "account expired";
        account.nodes.clear();
        return false;
    }
    account.nodes = {nodeFromAccount(stored)};
    const NodeRecord& node = account.nodes.front();
    if (!node.address.empty() && !node.uuid.empty() && node.port != 0) return true;
    error = "account.json is missing node fields";
    return false;
}

void LocalControlPlane::logout() { removeFile(sessionPath_); }

bool LocalControlPlane::fetchRegisterOptions(RegisterOptions& options, std::string& error) {
    options = RegisterOptions{};
    error = "当前环境不支持注册";
    return false;
}

bool LocalControlPlane::sendRegisterEmail(const std::string&, std::string& error) {
    error = "当前环境不支持发送验证码";
    return false;
}

bool LocalControlPlane::registerAccount(const std::string&, const std::string&, const std::string&,
                                        const std::string&, std::string& error) {
    error = "当前环境不支持注册";
    return false;
}

bool LocalControlPlane::fetchPlans(std::vector<PlanOffer>& offers, std::string& error) {
    offers.clear();
    error = "当前环境不支持购买套餐";
    return false;
}

bool LocalControlPlane::buyPlan(int32_t, const std::string&, CheckoutResult& result, std::string& error) {
    result = CheckoutResult{};
    error = "当前环境不支持购买套餐";
    return false;
}

bool LocalControlPlane::checkOrder(const std::string&, bool& paid, std::string& error) {
    paid = false;
    error = "当前环境不支持查询订单";
    return false;
}

// Without a device service there is nothing to count: this computer is the one device.
bool LocalControlPlane::claimDevice(const std::string&, int32_t& used, int32_t& limit, std::string&) {
    used = 1;
    limit = 1;
    return true;
}

}  // namespace vpn
