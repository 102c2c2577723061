// The fake panel's anonymous routes: login, registration, the e-mail code and the guest
// configuration.
#include <string>

#include "tests/support/fake_panel.h"

namespace orvik_test::fake_panel {
namespace {

constexpr int kPasswordLimit = 5;
constexpr int64_t kEmailCodeInterval = 60;

bool looksLikeEmail(const std::string& email) {
    const std::size_t at = email.find('@');
    return at != std::string::npos && at > 0 && email.find('.', at) != std::string::npos &&
           email.back() != '.';
}

// The credentials' validation of login and registration; false with the 422 reply.
bool validCredentials(const Call& call, HttpReply& reply) {
    const std::string email = inputString(call, "email");
    const std::string password = inputString(call, "password");
    if (email.empty()) {
        reply = invalid("email", text(call, "邮箱不能为空", "The email field is required."));
    } else if (!looksLikeEmail(email)) {
        reply = invalid("email", text(call, "邮箱格式不正确", "The email must be a valid email address."));
    } else if (password.empty()) {
        reply = invalid("password", text(call, "密码不能为空", "The password field is required."));
    } else if (password.size() < 8) {
        reply = invalid("password", text(call, "密码必须大于8位数", "The password must be at least 8 characters."));
    } else {
        return true;
    }
    return false;
}

Json authData(Call& call, const FakeUser& user) {
    Json data = Json::object();
    data["token"] = user.subscriptionToken;
    data["auth_data"] = newSession(call.state, user.email);
    data["is_admin"] = false;
    return data;
}

HttpReply login(Call& call) {
    // A panel behind a proxy that drops JSON bodies sees only the query.
    if (call.jsonBody && call.state.switches.formOnlyLogin) call.input = Json::object();
    HttpReply reply;
    if (!validCredentials(call, reply)) return reply;
    FakeUser* user = call.state.user(inputString(call, "email"));
    if (user != nullptr && user->wrongPasswords >= kPasswordLimit) {
        return fail(429, text(call, "密码错误次数过多，请 60 分钟后再试",
                              "There are too many password errors, please try again after 60 minutes."));
    }
    if (user == nullptr || user->password != inputString(call, "password")) {
        if (user != nullptr) ++user->wrongPasswords;
        return fail(400, text(call, "邮箱或密码错误", "Incorrect email or password"));
    }
    if (user->banned) return fail(400, text(call, "该账户已被停止使用", "Your account has been suspended"));
    user->wrongPasswords = 0;
    return success(authData(call, *user));
}

std::string hexId(unsigned start, std::size_t length) {
    std::string out;
    unsigned value = start * 2654435761u + 12345u;
    while (out.size() < length) {
        value = value * 1103515245u + 12345u;
        out += "0123456789abcdef"[(value >> 16) & 15];
    }
    return out;
}

// The registration's own checks in the panel's order; false with the refusal.
bool registrationAllowed(Call& call, HttpReply& reply) {
    const FakePanelSwitches& switches = call.state.switches;
    const std::string email = inputString(call, "email");
    const std::string invite = inputString(call, "invite_code");
    const std::string code = inputString(call, "email_code");
    if (switches.recaptcha && inputString(call, "recaptcha_data").empty()) {
        reply = fail(400, text(call, "验证码有误", "Invalid code is incorrect"));
    } else if (switches.inviteForce && invite.empty()) {
        reply = invalid("invite_code", text(call, "必须使用邀请码才可以注册",
                                            "You must use the invitation code to register"));
    } else if (switches.emailVerify && code.empty()) {
        reply = invalid("email_code", text(call, "邮箱验证码不能为空", "The email code field is required."));
    } else if (switches.emailVerify && (call.state.emailCodes.count(email) == 0 ||
                                        call.state.emailCodes[email].first != code)) {
        reply = fail(400, text(call, "邮箱验证码有误", "Incorrect email verification code"));
    } else if (call.state.user(email) != nullptr) {
        reply = fail(400, text(call, "邮箱已在系统中存在", "Email already exists"));
    } else if (switches.inviteForce && call.state.inviteCodes.count(invite) == 0) {
        reply = fail(400, text(call, "邀请码无效", "Invalid invitation code"));
    } else {
        return true;
    }
    return false;
}

HttpReply registerAccount(Call& call) {
    HttpReply reply;
    if (!validCredentials(call, reply) || !registrationAllowed(call, reply)) return reply;
    const auto ordinal = static_cast<unsigned>(call.state.users.size() + 1);
    FakeUser user;
    user.email = inputString(call, "email");
    user.password = inputString(call, "password");
    const std::string id = hexId(ordinal, 32);
    user.uuid = id.substr(0, 8) + "-" + id.substr(8, 4) + "-4" + id.substr(13, 3) + "-a" +
                id.substr(17, 3) + "-" + id.substr(20, 12);
    user.subscriptionToken = hexId(ordinal + 1000, 32);
    call.state.emailCodes.erase(user.email);
    call.state.users.push_back(user);
    return success(authData(call, call.state.users.back()));
}

HttpReply sendEmailVerify(Call& call) {
    const std::string email = inputString(call, "email");
    if (email.empty()) return invalid("email", text(call, "邮箱不能为空", "The email field is required."));
    if (!looksLikeEmail(email)) {
        return invalid("email", text(call, "邮箱格式不正确", "The email must be a valid email address."));
    }
    const auto sent = call.state.emailCodes.find(email);
    if (sent != call.state.emailCodes.end() && call.now - sent->second.second < kEmailCodeInterval) {
        return fail(400, text(call, "验证码已发送，请过一会再请求",
                              "Email verification code has been sent, please request again later"));
    }
    const std::string code = std::to_string(100000 + (call.now * 7 + static_cast<int64_t>(email.size())) % 900000);
    call.state.emailCodes[email] = {code, call.now};
    return success(true);
}

HttpReply guestConfig(const Call& call) {
    const FakePanelSwitches& switches = call.state.switches;
    Json data = Json::object();
    data["tos_url"] = nullptr;
    data["is_email_verify"] = switches.emailVerify ? 1 : 0;
    data["is_invite_force"] = switches.inviteForce ? 1 : 0;
    data["email_whitelist_suffix"] = 0;
    data["is_captcha"] = switches.recaptcha ? 1 : 0;
    data["captcha_type"] = "recaptcha";
    data["recaptcha_site_key"] = switches.recaptcha ? Json("6LcTestKey") : Json(nullptr);
    data["recaptcha_v3_site_key"] = nullptr;
    data["recaptcha_v3_score_threshold"] = 0.5;
    data["turnstile_site_key"] = nullptr;
    data["app_description"] = "Velora 会员中心";
    data["app_url"] = call.origin;
    data["logo"] = nullptr;
    data["is_recaptcha"] = switches.recaptcha ? 1 : 0;
    return success(std::move(data));
}

}  // namespace

bool passportRoute(Call& call, HttpReply& reply) {
    const std::string& method = call.request.method;
    const std::string& path = call.request.path;
    const FakePanelSwitches& switches = call.state.switches;
    if (method == "POST" && path == "/api/v1/passport/auth/login") {
        reply = login(call);
    } else if (method == "POST" && path == "/api/v1/passport/auth/register") {
        reply = registerAccount(call);
    } else if (method == "POST" && path == "/api/v1/passport/comm/sendEmailVerify") {
        reply = sendEmailVerify(call);
    } else if (method == "GET" && path == "/api/v1/guest/comm/config" && !switches.guestConfigMissing &&
               !switches.configMissing) {
        reply = guestConfig(call);
    } else if (method == "GET" && path == "/api/v1/passport/comm/config" && switches.guestConfigMissing &&
               !switches.configMissing) {
        reply = guestConfig(call);
    } else {
        return false;
    }
    return true;
}

}  // namespace orvik_test::fake_panel
