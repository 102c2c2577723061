#include "service/tunnel/leak_guard.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <utility>

#include "vpn/files.h"

namespace tunnel {

using Json = nlohmann::json;

std::string killSwitchIntentText(const FirewallPolicy& policy, const std::optional<std::string>& owner) {
    if (!policy.killSwitch) return {};
    Json networks = Json::array();
    for (const IpPrefix& network : policy.localNetworks)
        networks.push_back({{"address", network.address}, {"length", network.length}, {"ipv6", network.ipv6}});
    Json intent = {{"killSwitch", true},
                   {"allowLan", policy.allowLan},
                   {"tunInterface", policy.tunInterface},
                   {"tunAddress", policy.tunAddress},
                   {"xrayExecutable", policy.xrayExecutable},
                   {"xrayMark", policy.xrayMark},
                   {"localNetworks", networks}};
    if (owner) intent["owner"] = *owner;
    return intent.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool parseKillSwitchIntent(const std::string& text, FirewallPolicy& policy, std::optional<std::string>& owner) {
    const Json intent = Json::parse(text, nullptr, false);
    if (!intent.is_object() || intent.value("killSwitch", false) != true) return false;
    try {
        FirewallPolicy read;
        read.killSwitch = true;
        read.allowLan = intent.at("allowLan").get<bool>();
        read.tunInterface = intent.at("tunInterface").get<std::string>();
        read.tunAddress = intent.at("tunAddress").get<std::string>();
        read.xrayExecutable = intent.at("xrayExecutable").get<std::string>();
        read.xrayMark = intent.at("xrayMark").get<uint32_t>();
        for (const Json& network : intent.at("localNetworks"))
            read.localNetworks.push_back({network.at("address").get<std::string>(),
                                          network.at("length").get<uint8_t>(), network.at("ipv6").get<bool>()});
        const auto storedOwner = intent.find("owner");
        owner = storedOwner == intent.end() ? std::nullopt : std::optional(storedOwner->get<std::string>());
        policy = std::move(read);
        return true;
    } catch (const Json::exception&) {
        return false;
    }
}

LeakGuard::LeakGuard(Firewall& firewall, std::string intentPath, Log log)
    : firewall_(firewall), intentPath_(std::move(intentPath)), log_(std::move(log)) {}

bool LeakGuard::engage(const FirewallPolicy& policy, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!firewall_.apply(policy, error)) {
        log_("firewall apply failed: " + error);
        return false;
    }
    log_(std::string("firewall applied: lan ") + (policy.allowLan ? "allowed" : "blocked") + ", kill switch " +
         (policy.killSwitch ? "on" : "off"));
    policy_ = policy;
    engaged_ = true;
    blocking_ = false;
    storeIntent(policy);
    return true;
}

void LeakGuard::tunnelLost() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!engaged_) return;
    if (policy_.killSwitch) {
        blocking_ = true;
        log_("firewall kept: the kill switch blocks the network until the user disconnects or reconnects");
        return;
    }
    clearRules();
}

bool LeakGuard::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool cleared = !engaged_ && !firewall_.present() ? true : clearRules();
    storeIntent({});
    return cleared;
}

void LeakGuard::reconcile(bool mayRemove) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    FirewallPolicy stored;
    std::optional<std::string> owner;
    if (vpn::readWholeFile(intentPath_, text) && parseKillSwitchIntent(text, stored, owner)) {
        std::string error;
        if (firewall_.apply(stored, error)) {
            log_("firewall kept from an earlier run: the kill switch still holds");
            policy_ = stored;
            owner_ = owner;
            engaged_ = true;
            blocking_ = true;
            return;
        }
        log_("firewall apply failed: " + error);
    }
    if (!mayRemove) return;
    if (firewall_.present()) clearRules();
    storeIntent({});
}

bool LeakGuard::blocking() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocking_;
}

void LeakGuard::setOwner(const std::string& user) {
    std::lock_guard<std::mutex> lock(mutex_);
    owner_ = user;
}

std::optional<std::string> LeakGuard::blockOwner() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocking_ ? owner_ : std::nullopt;
}

// The intent file exists exactly while a kill switch holds.
void LeakGuard::storeIntent(const FirewallPolicy& policy) {
    const std::string text = killSwitchIntentText(policy, owner_);
    if (text.empty()) {
        if (!vpn::removeFile(intentPath_)) log_("cannot remove " + intentPath_);
        return;
    }
    std::error_code ignored;
    const std::filesystem::path parent = std::filesystem::u8path(intentPath_).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    if (!vpn::writeFileAtomically(intentPath_, text)) log_("cannot write " + intentPath_);
}

bool LeakGuard::clearRules() {
    std::string error;
    const bool cleared = firewall_.clear(error);
    log_(cleared ? "firewall removed" : "firewall remove failed: " + error);
    engaged_ = false;
    blocking_ = false;
    return cleared;
}

}  // namespace tunnel
