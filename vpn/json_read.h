#pragma once
// Flat look-ups in panel replies and state files. Each takes a JSON text, finds the first
// member with the given key in document order at any depth (keys inside string values are
// never matched) and reads its value leniently. None of them fails: text that is not JSON
// reads as if the key were absent.

#include <cstdint>
#include <string>
#include <vector>

namespace vpn {

// The string value of the first member named `key`; empty when absent or not a string.
std::string jsonString(const std::string& text, const std::string& key);

// The first member named `key` as an integer: numbers as they are (fractions truncated),
// strings as strtoll reads them ("5" is 5, "abc" is 0), null and booleans as 0.
// `fallback` when the key is absent.
int64_t jsonInt(const std::string& text, const std::string& key, int64_t fallback);

// True and `out` set when the first member named `key` holds a non-negative integer, given
// as a number or as a string of digits; false when absent, null, negative or not a number.
bool jsonOptionalInt(const std::string& text, const std::string& key, int64_t& out);

// True for `true` and for a non-zero number; false otherwise (also for "1" in quotes).
bool jsonFlag(const std::string& text, const std::string& key);

// The object value of the first member named `key`, as JSON text; empty when absent or not
// an object.
std::string jsonObject(const std::string& text, const std::string& key);

// The object elements of the array held by the first member named `key` (or, when there is
// no such key, by the first member named "data"), each as JSON text.
std::vector<std::string> jsonObjectArray(const std::string& text, const std::string& key);

// The object held by the first member named "data", as JSON text; the whole text when there
// is none (a reply without an envelope).
std::string jsonDataObject(const std::string& text);

}  // namespace vpn
