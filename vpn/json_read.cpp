// The look-ups parse the text with nlohmann/json and walk the document in order, so a key is
// matched only where it names a member, never inside a string value.
#include "vpn/json_read.h"

#include <cmath>
#include <exception>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "vpn/number_text.h"

namespace vpn {
namespace {

using Json = nlohmann::ordered_json;

// Deeper documents are treated as not JSON: dumping a found value recurses once per level.
constexpr size_t kMaxDepth = 512;

// Nesting depth of the brackets outside strings, stopping early once it exceeds the limit.
bool nestingWithinLimit(const std::string& text) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxDepth) return false;
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return true;
}

// The parsed document; discarded when the text is not JSON.
Json parseDocument(const std::string& text) {
    if (!nestingWithinLimit(text)) return Json(Json::value_t::discarded);
    try {
        return Json::parse(text, nullptr, false);
    } catch (const std::exception&) {  // out of memory: read as if absent
        return Json(Json::value_t::discarded);
    }
}

// The value of the first member named `key` in document order (depth-first, a member's key
// before its value's contents), or null when there is none. Iterative: depth costs no stack.
const Json* findMember(const Json& root, const std::string& key) {
    std::vector<std::pair<const Json*, const std::string*>> pending{{&root, nullptr}};
    while (!pending.empty()) {
        const auto [value, name] = pending.back();
        pending.pop_back();
        if (name != nullptr && *name == key) return value;
        if (value->is_object()) {
            const auto& members = value->get_ref<const Json::object_t&>();
            for (auto it = members.rbegin(); it != members.rend(); ++it) {
                pending.emplace_back(&it->second, &it->first);
            }
        } else if (value->is_array()) {
            const auto& elements = value->get_ref<const Json::array_t&>();
            for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
                pending.emplace_back(&*it, nullptr);
            }
        }
    }
    return nullptr;
}

std::string dumpText(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A float truncated towards zero, saturating at the limits of int64.
int64_t truncateToInt64(double value) {
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (value >= kLimit) return std::numeric_limits<int64_t>::max();
    if (value < -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(std::trunc(value));
}

int64_t numberValue(const Json& value) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<uint64_t>();
        return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                   ? std::numeric_limits<int64_t>::max()
                   : static_cast<int64_t>(u);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    return truncateToInt64(value.get<double>());
}

// A string made only of ASCII digits, as a number; false when it is anything else or too big.
bool digitString(const std::string& text, int64_t& out) {
    if (text.empty()) return false;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

}  // namespace

std::string jsonString(const std::string& text, const std::string& key) {
    const Json document = parseDocument(text);
    const Json* value = findMember(document, key);
    if (value == nullptr || !value->is_string()) return {};
    return value->get<std::string>();
}

int64_t jsonInt(const std::string& text, const std::string& key, int64_t fallback) {
    const Json document = parseDocument(text);
    const Json* value = findMember(document, key);
    if (value == nullptr) return fallback;
    if (value->is_number()) return numberValue(*value);
    if (value->is_string()) return leadingInt64(value->get_ref<const std::string&>());
    return 0;
}

bool jsonOptionalInt(const std::string& text, const std::string& key, int64_t& out) {
    const Json document = parseDocument(text);
    const Json* value = findMember(document, key);
    if (value == nullptr) return false;
    if (value->is_string()) return digitString(value->get_ref<const std::string&>(), out);
    if (!value->is_number()) return false;
    if (value->is_number_float() && value->get<double>() < 0) return false;
    const int64_t number = numberValue(*value);
    if (number < 0) return false;
    out = number;
    return true;
}

bool jsonFlag(const std::string& text, const std::string& key) {
    const Json document = parseDocument(text);
    const Json* value = findMember(document, key);
    if (value == nullptr) return false;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number_float()) return value->get<double>() != 0;
    if (value->is_number()) return numberValue(*value) != 0;
    return false;
}

std::string jsonObject(const std::string& text, const std::string& key) {
    const Json document = parseDocument(text);
    const Json* value = findMember(document, key);
    if (value == nullptr || !value->is_object()) return {};
    return dumpText(*value);
}

std::vector<std::string> jsonObjectArray(const std::string& text, const std::string& key) {
    const Json document = parseDocument(text);
    const Json* value = findMember(document, key);
    if (value == nullptr) value = findMember(document, "data");
    std::vector<std::string> objects;
    if (value == nullptr || !value->is_array()) return objects;
    for (const Json& element : value->get_ref<const Json::array_t&>()) {
        if (element.is_object()) objects.push_back(dumpText(element));
    }
    return objects;
}

std::string jsonDataObject(const std::string& text) {
    const Json document = parseDocument(text);
    const Json* value = findMember(document, "data");
    if (value == nullptr || !value->is_object()) return text;
    return dumpText(*value);
}

}  // namespace vpn
