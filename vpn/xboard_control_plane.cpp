// The panel control plane's construction and its session: the token and e-mail that
// session.json keeps between runs.
#include "vpn/xboard_control_plane.h"

#include <nlohmann/json.hpp>

#include "vpn/files.h"
#include "vpn/json_read.h"
#include "vpn/state_location.h"

namespace vpn {

std::string stripTrailingSeparators(std::string text) {
    while (!text.empty() && (text.back() == '/' || text.back() == '\\')) text.pop_back();
    return text;
}

XboardControlPlane::XboardControlPlane(std::string apiBase, std::string sessionPath, std::string deviceApi)
    : apiBase_(stripTrailingSeparators(std::move(apiBase))),
      sessionPath_(std::move(sessionPath)),
      deviceApi_(stripTrailingSeparators(std::move(deviceApi))) {
    std::string text;
    if (!readWholeFile(sessionPath_, text)) return;  // no saved session: signed out
    token_ = jsonString(text, "auth_data");
    email_ = jsonString(text, "email");
}

void XboardControlPlane::logout() {
    token_.clear();
    email_.clear();
    removeFile(sessionPath_);
}

// The panels differ in where they put the token: inside "data" or at the top, named
// "auth_data" or "token". auth_data is preferred because the API expects it verbatim.
bool XboardControlPlane::extractAuthToken(const std::string& reply) {
    const std::string data = jsonDataObject(reply);
    for (const auto& [text, key] : {std::pair{&data, "auth_data"}, std::pair{&data, "token"},
                                    std::pair{&reply, "auth_data"}, std::pair{&reply, "token"}}) {
        std::string value = jsonString(*text, key);
        if (!value.empty()) {
            token_ = std::move(value);
            return true;
        }
    }
    token_.clear();
    return false;
}

bool XboardControlPlane::saveSession(std::string& error) {
    nlohmann::ordered_json session = nlohmann::ordered_json::object();
    session["email"] = email_;
    session["auth_data"] = token_;
    const std::string text =
        session.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    if (writeSessionFile(sessionPath_, text)) return true;
    error = "无法保存登录状态";
    return false;
}

}  // namespace vpn
