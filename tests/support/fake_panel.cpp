// The fake panel's core: its default state, the request's input as the panel reads it,
// envelopes, sessions and the dispatch to the route groups.
#include "tests/support/fake_panel.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace orvik_test {
namespace {

constexpr int64_t kDay = 86400;

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// application/x-www-form-urlencoded decoding, as PHP does it.
std::string formDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void mergeForm(const std::string& text, Json& input) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        if (!part.empty()) {
            const std::size_t equals = part.find('=');
            const std::string name = formDecode(part.substr(0, equals));
            input[name] = equals == std::string::npos ? std::string() : formDecode(part.substr(equals + 1));
        }
        start = end + 1;
    }
}

FakeUser defaultMember(int64_t now) {
    FakeUser user;
    user.email = FakePanel::kEmail;
    user.password = FakePanel::kPassword;
    user.uuid = "3f1c0b9e-6a52-4d1e-9b7a-2c5e8f0a1d44";
    user.subscriptionToken = "9b1f2c3d4e5f60718293a4b5c6d7e8f9";
    user.planId = 1;
    user.expiredAt = now + 30 * kDay;
    user.deviceLimit = 3;
    user.transferEnable = int64_t{100} << 30;
    user.upload = int64_t{3} << 30;
    user.download = int64_t{12} << 30;
    return user;
}

FakePanelState defaultState(int64_t now) {
    FakePanelState state;
    state.users.push_back(defaultMember(now));
    state.servers.push_back({1, "vless", "Tokyo A", "203.0.113.10", 443,
                             "hE2bQ7uM0xJ3vN9pK4sL8wR1tY6zC5aD2fG0hJ3kL6m", "6ba85179e30d4fc2",
                             "www.microsoft.com", "xtls-rprx-vision", true});
    state.servers.push_back({2, "vless", "Singapore", "2001:db8::1", 8443,
                             "Qm9vc3RlZEtleUZvclNpbmdhcG9yZU5vZGVYWFhYWFg", "a1",
                             "www.apple.com", "xtls-rprx-vision", true});
    FakePlan plan;
    plan.id = 1;
    plan.name = "标准版";
    plan.prices = {{"month_price", 1500}, {"year_price", 15000}};
    plan.transferEnable = 100;
    plan.deviceLimit = 3;
    state.plans.push_back(plan);
    state.paymentMethods.push_back({1, "支付宝", "EPay", true, 1, nullptr});
    return state;
}

}  // namespace

FakeUser* FakePanelState::user(const std::string& email) {
    for (FakeUser& candidate : users) {
        if (lower(candidate.email) == lower(email)) return &candidate;
    }
    return nullptr;
}

FakePlan* FakePanelState::plan(int id) {
    for (FakePlan& candidate : plans) {
        if (candidate.id == id) return &candidate;
    }
    return nullptr;
}

FakeOrder* FakePanelState::order(const std::string& tradeNo) {
    for (FakeOrder& candidate : orders) {
        if (candidate.tradeNo == tradeNo) return &candidate;
    }
    return nullptr;
}

namespace {

int64_t systemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// The state does not exist yet here, so its clock offset cannot be read: start from real time.
FakePanel::FakePanel() : state_(defaultState(systemSeconds())) {
    server_ = std::make_unique<HttpTestServer>([this](const HttpRequestRecord& request) {
        return handle(request);
    });
}

FakePanel::~FakePanel() { server_.reset(); }  // stop answering before the state goes

std::string FakePanel::apiBase() const { return server_->origin(); }
std::string FakePanel::deviceApi() const { return server_->origin() + "/device-slots"; }

void FakePanel::edit(const std::function<void(FakePanelState&)>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(state_);
}

int64_t FakePanel::now() const { return systemSeconds() + state_.clockOffset; }

std::string FakePanel::openSession(const std::string& email) {
    std::lock_guard<std::mutex> lock(mutex_);
    return fake_panel::newSession(state_, email);
}

std::string FakePanel::emailCode(const std::string& email) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = state_.emailCodes.find(email);
    return found == state_.emailCodes.end() ? std::string() : found->second.first;
}

void FakePanel::overrideNext(const std::string& path, HttpReply reply, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    overrides_[path] = Override{std::move(reply), times};
}

std::vector<HttpRequestRecord> FakePanel::requestsTo(const std::string& path) const {
    std::vector<HttpRequestRecord> matching;
    for (const HttpRequestRecord& request : server_->requests()) {
        if (request.path == path) matching.push_back(request);
    }
    return matching;
}

std::vector<std::string> FakePanel::paths() const {
    std::vector<std::string> lines;
    for (const HttpRequestRecord& request : server_->requests()) {
        lines.push_back(request.method + " " + request.target);
    }
    return lines;
}

HttpReply FakePanel::handle(const HttpRequestRecord& request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = overrides_.find(request.path);
        if (found != overrides_.end() && found->second.times > 0) {
            HttpReply reply = found->second.reply;
            if (--found->second.times == 0) overrides_.erase(found);
            return reply;
        }
    }
    return route(request);
}

HttpReply FakePanel::route(const HttpRequestRecord& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    Json input = Json::object();
    mergeForm(request.query, input);
    const std::string type = lower(request.header("content-type"));
    bool jsonBody = false;
    if (type.rfind("application/json", 0) == 0) {
        const Json body = Json::parse(request.body, nullptr, false);
        jsonBody = true;
        if (body.is_object()) {
            for (const auto& [key, value] : body.items()) input[key] = value;
        }
    } else if (type.rfind("application/x-www-form-urlencoded", 0) == 0) {
        mergeForm(request.body, input);
    }
    fake_panel::Call call{request, std::move(input), jsonBody, state_, now(), server_->origin()};
    HttpReply reply;
    if (fake_panel::passportRoute(call, reply) || fake_panel::accountRoute(call, reply) ||
        fake_panel::shopRoute(call, reply) || fake_panel::deviceRoute(call, reply)) {
        return reply;
    }
    return fake_panel::notFound(request.path);
}

namespace fake_panel {

namespace {
HttpReply jsonReply(int status, const Json& body) {
    HttpReply reply;
    reply.status = status;
    reply.body = body.dump(-1, ' ', false, Json::error_handler_t::replace);
    reply.headers.emplace_back("Content-Type", "application/json");
    return reply;
}
}  // namespace

HttpReply success(Json data) {
    Json body = Json::object();
    body["status"] = "success";
    body["message"] = "操作成功";
    body["data"] = std::move(data);
    body["error"] = nullptr;
    return jsonReply(200, body);
}

HttpReply fail(int status, const std::string& message) {
    Json body = Json::object();
    body["status"] = "fail";
    body["message"] = message;
    body["data"] = nullptr;
    body["error"] = nullptr;
    return jsonReply(status, body);
}

HttpReply invalid(const std::string& field, const std::string& message) {
    Json body = Json::object();
    body["message"] = message;
    body["errors"] = Json::object();
    body["errors"][field] = Json::array({message});
    return jsonReply(422, body);
}

HttpReply plain(int status, Json body) { return jsonReply(status, body); }

HttpReply notFound(const std::string& path) {
    Json body = Json::object();
    body["message"] = "The route " + path.substr(path.empty() ? 0 : 1) + " could not be found.";
    return jsonReply(404, body);
}

std::string text(const Call& call, const char* chinese, const char* english) {
    return call.state.switches.englishMessages ? english : chinese;
}

std::string newSession(FakePanelState& state, const std::string& email) {
    std::mt19937 random(static_cast<unsigned>(state.nextSession) * 7919u);
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string secret;
    for (int i = 0; i < 40; ++i) secret += kAlphabet[random() % (sizeof kAlphabet - 1)];
    const std::string authData = "Bearer " + std::to_string(state.nextSession++) + "|" + secret;
    state.sessions[authData] = email;
    return authData;
}

FakeUser* sessionUser(const Call& call) {
    const std::string authorization = call.request.header("authorization");
    const auto found = call.state.sessions.find(authorization);
    if (authorization.empty() || found == call.state.sessions.end()) return nullptr;
    return call.state.user(found->second);
}

HttpReply notSignedIn(const Call& call) {
    return fail(403, text(call, "未登录或登陆已过期", "Unauthenticated or expired"));
}

std::string inputString(const Call& call, const char* key) {
    const auto found = call.input.find(key);
    if (found == call.input.end()) return {};
    if (found->is_string()) return found->get<std::string>();
    if (found->is_number_integer()) return std::to_string(found->get<int64_t>());
    return {};
}

std::string base64(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], kAlphabet[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
    }
    return out;
}

// PHP's urlencode: letters, digits and "-_." stay, a space becomes '+', the rest "%XX".
std::string phpUrlEncode(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' ||
            c == '_' || c == '.') {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", u);
            out += escape;
        }
    }
    return out;
}

std::string formatDate(int64_t seconds) {
    using namespace std::chrono;
    const year_month_day date{floor<days>(sys_seconds{std::chrono::seconds{seconds}})};
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return out;
}

}  // namespace fake_panel
}  // namespace orvik_test
