// libFuzzer target for everything that reads panel input: subscription bodies, vless links,
// server-list items, the plan expiry and the JSON look-ups beneath them. Besides "no crash,
// no undefined behaviour, no hang", it checks a few properties that must hold for any input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/base64_encode.h"
#include "vpn/base64.h"
#include "vpn/json_read.h"
#include "vpn/subscription.h"
#include "vpn/url_coding.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool sameNodes(const std::vector<vpn::NodeRecord>& a, const std::vector<vpn::NodeRecord>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].address != b[i].address || a[i].port != b[i].port ||
            a[i].uuid != b[i].uuid || a[i].publicKey != b[i].publicKey) {
            return false;
        }
    }
    return true;
}

void subscription(const std::string& input) {
    std::vector<vpn::NodeRecord> nodes;
    vpn::parseSubscription(input, nodes);
    for (const vpn::NodeRecord& node : nodes) {
        check(!node.address.empty() && node.port >= 1 && !node.uuid.empty() &&
              !node.publicKey.empty());
        check(!node.name.empty() && !node.flow.empty() && !node.fingerprint.empty());
    }
    // Links read the same whether the panel sends them plain or in Base64 (a text that is
    // itself partly Base64 may decode to other links, so only texts that are not).
    std::string ignored;
    if (input.find("vless://") != std::string::npos && !vpn::base64Decode(input, ignored)) {
        std::vector<vpn::NodeRecord> decoded;
        vpn::parseSubscription(orvik_test::base64Encode(input, 76), decoded);
        check(sameNodes(nodes, decoded));
    }
    vpn::NodeRecord node;
    if (vpn::parseVlessLink(input, node)) check(node.port >= 1 && !node.publicKey.empty());
    (void)vpn::queryValue(input, "pbk");
}

void jsonLookups(const std::string& input) {
    for (const char* key : {"data", "plan", "price"}) {
        (void)vpn::jsonString(input, key);
        (void)vpn::jsonInt(input, key, -1);
        int64_t value = -1;
        if (vpn::jsonOptionalInt(input, key, value)) check(value >= 0);
        (void)vpn::jsonFlag(input, key);
        const std::string object = vpn::jsonObject(input, key);
        if (!object.empty()) check(nlohmann::ordered_json::accept(object));
        for (const std::string& item : vpn::jsonObjectArray(input, key)) {
            check(nlohmann::ordered_json::accept(item) && item.front() == '{');
        }
    }
    (void)vpn::jsonDataObject(input);
    const vpn::NodeRecord item = vpn::parseServerItem(input, "uuid");
    check(item.uuid == "uuid");
    (void)vpn::parseExpiry(input);
}

void coding(const std::string& input) {
    check(vpn::urlDecode(vpn::urlEncode(input)) == input);
    std::string bytes;
    check(vpn::base64Decode(orvik_test::base64Encode(input, 64), bytes) && bytes == input);
    if (vpn::base64Decode(input, bytes)) check(bytes.size() <= input.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    subscription(input);
    jsonLookups(input);
    coding(input);
    return 0;
}
