// The look-ups run nlohmann/json's event parser over the text, so a key is matched only where
// it names a member, never inside a string value, and members are met in document order.
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

// Deeper documents are treated as not JSON: copying and dumping a value recurse per level.
constexpr size_t kMaxDepth = 512;

// The kind of value a look-up reads; a member holding another kind reads as absent.
enum class Want { Scalar, Object, Array };

// Event handler for nlohmann's SAX parser: finds the first member named `key` in document
// order (the parser's event order) and keeps its value when it is of the wanted kind. The
// whole text is still parsed, so text that is not JSON yields nothing. No document tree is
// built except for the kept value, and members are appended without nlohmann's duplicate
// search, so the time stays linear in the size of the text.
class MemberFinder {
public:
    MemberFinder(std::string key, Want want) : key_(std::move(key)), want_(want) {}

    // The value, or null when the member is absent or of another kind or the text not JSON.
    const Json* find(const std::string& text) {
        bool parsed = false;
        try {
            parsed = Json::sax_parse(text, this);
        } catch (const std::exception&) {  // out of memory: read as if absent
        }
        if (!parsed) found_ = kept_ = false;
        return kept_ ? &value_ : nullptr;
    }

    // After find: the member exists, whatever its kind.
    bool found() const { return found_; }

    bool null() { return scalar(nullptr); }
    bool boolean(bool v) { return scalar(v); }
    bool number_integer(Json::number_integer_t v) { return scalar(v); }
    bool number_unsigned(Json::number_unsigned_t v) { return scalar(v); }
    bool number_float(Json::number_float_t v, const Json::string_t&) { return scalar(v); }
    bool string(Json::string_t& v) { return scalar(v); }
    bool binary(Json::binary_t&) { return true; }
    bool key(Json::string_t& name) {
        if (!open_.empty()) {
            memberName_ = name;
        } else if (!found_ && name == key_) {
            atValue_ = true;
        }
        return true;
    }
    bool start_object(std::size_t) { return open(Json::value_t::object, Want::Object); }
    bool start_array(std::size_t) { return open(Json::value_t::array, Want::Array); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }

private:
    // Adds a value to the innermost container being kept; the address of the added value.
    Json* append(Json&& v) {
        Json& parent = *open_.back();
        if (parent.is_array()) {
            auto& elements = parent.get_ref<Json::array_t&>();
            elements.push_back(std::move(v));
            return &elements.back();
        }
        // Straight onto the member vector: ordered_map's own insertion searches all members.
        auto& members = parent.get_ref<Json::object_t&>();
        members.Json::object_t::Container::emplace_back(memberName_, std::move(v));
        return &members.back().second;
    }

    // Values are made only for the member sought and inside it: most events cost nothing.
    template <typename T>
    bool scalar(T&& v) {
        if (!open_.empty()) {
            append(Json(std::forward<T>(v)));
        } else if (atValue_) {
            take(Json(std::forward<T>(v)), Want::Scalar);
        }
        return true;
    }

    bool open(Json::value_t type, Want kind) {
        if (++depth_ > kMaxDepth) return false;
        if (!open_.empty()) {
            open_.push_back(append(Json(type)));
        } else if (atValue_ && take(Json(type), kind)) {
            open_.push_back(&value_);
        }
        return true;
    }

    bool close() {
        --depth_;
        if (!open_.empty()) open_.pop_back();
        return true;
    }

    // The value of the member that was found; true when it is kept.
    bool take(Json&& v, Want kind) {
        atValue_ = false;
        found_ = true;
        kept_ = kind == want_;
        if (kept_) value_ = std::move(v);
        return kept_;
    }

    std::string key_;
    Want want_;
    size_t depth_ = 0;
    bool atValue_ = false;  // the last key event was the member sought
    bool found_ = false;
    bool kept_ = false;
    Json value_;
    std::vector<Json*> open_;  // containers of the kept value still being filled, innermost last
    std::string memberName_;   // key of the next member inside the kept value
};

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
    MemberFinder finder(key, Want::Scalar);
    const Json* value = finder.find(text);
    if (value == nullptr || !value->is_string()) return {};
    return value->get<std::string>();
}

int64_t jsonInt(const std::string& text, const std::string& key, int64_t fallback) {
    MemberFinder finder(key, Want::Scalar);
    const Json* value = finder.find(text);
    if (value == nullptr) return finder.found() ? 0 : fallback;  // an object or array reads as 0
    if (value->is_number()) return numberValue(*value);
    if (value->is_string()) return leadingInt64(value->get_ref<const std::string&>());
    return 0;
}

bool jsonOptionalInt(const std::string& text, const std::string& key, int64_t& out) {
    MemberFinder finder(key, Want::Scalar);
    const Json* value = finder.find(text);
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
    MemberFinder finder(key, Want::Scalar);
    const Json* value = finder.find(text);
    if (value == nullptr) return false;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number_float()) return value->get<double>() != 0;
    if (value->is_number()) return numberValue(*value) != 0;
    return false;
}

std::string jsonObject(const std::string& text, const std::string& key) {
    MemberFinder finder(key, Want::Object);
    const Json* value = finder.find(text);
    return value == nullptr ? std::string() : dumpText(*value);
}

std::vector<std::string> jsonObjectArray(const std::string& text, const std::string& key) {
    MemberFinder finder(key, Want::Array);
    const Json* value = finder.find(text);
    MemberFinder data("data", Want::Array);
    if (value == nullptr && !finder.found() && key != "data") value = data.find(text);
    std::vector<std::string> objects;
    if (value == nullptr) return objects;
    for (const Json& element : value->get_ref<const Json::array_t&>()) {
        if (element.is_object()) objects.push_back(dumpText(element));
    }
    return objects;
}

std::string jsonDataObject(const std::string& text) {
    MemberFinder finder("data", Want::Object);
    const Json* value = finder.find(text);
    return value == nullptr ? text : dumpText(*value);
}

}  // namespace vpn
