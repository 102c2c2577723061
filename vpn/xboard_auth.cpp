// Signing in and registering with the panel: login (JSON body, then a form body for panels
// that read only forms), registration with its options and the e-mail code.
#include <string>

#include "vpn/http.h"
#include "vpn/json_read.h"
#include "vpn/url_coding.h"
#include "vpn/xboard_control_plane.h"
#include "vpn/xboard_wire.h"

namespace vpn {
namespace {

using xboard::jsonBody;
using xboard::kFormType;
using xboard::kJsonType;
using xboard::panelMessage;

constexpr const char* kLoginPath = "/api/v1/passport/auth/login";

std::string credentialsJson(const std::string& email, const std::string& password) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["email"] = email;
    body["password"] = password;
    return jsonBody(body);
}

std::string registrationJson(const std::string& email, const std::string& password,
                             const std::string& inviteCode, const std::string& emailCode) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["email"] = email;
    body["password"] = password;
    if (!inviteCode.empty()) body["invite_code"] = inviteCode;
    if (!emailCode.empty()) body["email_code"] = emailCode;
    return jsonBody(body);
}

}  // namespace

bool XboardControlPlane::login(const std::string& email, const std::string& password,
                               std::string& error) {
    const std::string url = endpoint(kLoginPath);
    std::string reply;
    bool signedIn = httpRequest("POST", url, {}, credentialsJson(email, password), kJsonType,
                                reply, error) &&
                    extractAuthToken(reply);
    if (!signedIn) {
        // Some panels read only form bodies; their refusal of the JSON body says nothing.
        error.clear();
        const std::string form = "email=" + urlEncode(email) + "&password=" + urlEncode(password);
        signedIn = httpRequest("POST", url, {}, form, kFormType, reply, error) &&
                   extractAuthToken(reply);
    }
    if (!signedIn) {
        const std::string message = panelMessage(reply);
        if (!message.empty()) {
            error = message;
        } else if (error.empty()) {
            error = "登录失败，请检查邮箱密码或面板地址";
        }
        token_.clear();
        return false;
    }
    email_ = email;
    return saveSession(error);
}

bool XboardControlPlane::registerAccount(const std::string& email, const std::string& password,
                                         const std::string& inviteCode,
                                         const std::string& emailCode, std::string& error) {
    std::string reply;
    if (httpRequest("POST", endpoint("/api/v1/passport/auth/register"), {},
                    registrationJson(email, password, inviteCode, emailCode), kJsonType, reply,
                    error) &&
        extractAuthToken(reply)) {
        email_ = email;
        return saveSession(error);
    }
    const std::string message = panelMessage(reply);
    if (!message.empty()) {
        error = message;
    } else if (error.empty()) {
        error = "注册失败";
    }
    token_.clear();
    return false;
}

bool XboardControlPlane::sendRegisterEmail(const std::string& email, std::string& error) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["email"] = email;
    std::string reply;
    if (httpRequest("POST", endpoint("/api/v1/passport/comm/sendEmailVerify"), {}, jsonBody(body),
                    kJsonType, reply, error)) {
        return true;
    }
    const std::string message = panelMessage(reply);
    if (!message.empty()) error = message;
    return false;
}

bool XboardControlPlane::fetchRegisterOptions(RegisterOptions& options, std::string& error) {
    options = RegisterOptions{};
    std::string reply;
    std::string firstError;
    if (!httpRequest("GET", endpoint("/api/v1/guest/comm/config"), {}, {}, kJsonType, reply,
                     firstError) &&
        !httpRequest("GET", endpoint("/api/v1/passport/comm/config"), {}, {}, kJsonType, reply,
                     error)) {
        if (error.empty()) error = firstError;
        return false;
    }
    const std::string data = jsonDataObject(reply);
    options.emailVerify = jsonFlag(data, "is_email_verify");
    options.inviteForce = jsonFlag(data, "is_invite_force");
    options.recaptcha = jsonFlag(data, "is_recaptcha");
    return true;
}

}  // namespace vpn
