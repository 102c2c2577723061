#pragma once
// Flat look-ups in panel replies and state files. Each takes a JSON text, finds the first
// member with the given key in document order at any depth (depth-first, a member's key
// before its value's contents; of duplicate keys the first; keys inside string values are
// never matched) and reads its value leniently. None of them fails or throws: text that is
// not JSON (also invalid UTF-8, or nesting deeper than 512 levels) reads as if the key were
// absent. Time is linear in the size of the text.

#include <cstdint>
#include <string>
#include <vector>

namespace vpn {

// The string value of the first member named `key`; empty when absent or not a string.
std::string jsonString(const std::string& text, const std::string& key);

// The first member named `key` as an integer: numbers as they are (fractions truncated),
// strings as strtoll reads them ("5" is 5, "abc" is 0), null, booleans, objects and arrays
// as 0; saturating at the limits of int64. `fallback` when the key is absent.
int64_t jsonInt(const std::string& text, const std::string& key, int64_t fallback);

// True and `out` set when the first member named `key` holds a non-negative integer, given
// as a number (fractions truncated) or as a string of ASCII digits ("990" is 990); false
// (and `out` untouched) when absent, null, negative or not a number.
bool jsonOptionalInt(const std::string& text, const std::string& key, int64_t& out);

// True for `true` and for a non-zero number; false otherwise (also for "1" in quotes).
bool jsonFlag(const std::string& text, const std::string& key);

// The object value of the first member named `key`, as compact JSON text; empty when absent
// or not an object (a later object is never taken instead).
std::string jsonObject(const std::string& text, const std::string& key);

// The object elements of the array held by the first member named `key` (or, when there is
// no such key, by the first member named "data"), each as compact JSON text; elements that
// are not objects are skipped. Empty when that member holds no array.
std::vector<std::string> jsonObjectArray(const std::string& text, const std::string& key);

// The object held by the first member named "data", as JSON text; the whole text when there
// is none (a reply without an envelope).
std::string jsonDataObject(const std::string& text);

}  // namespace vpn
