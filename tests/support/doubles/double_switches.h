#pragma once
// Failure switches of the Xray and tun2socks doubles, read from the environment that the
// service passes on to its children. ORVIK_DOUBLE_<NAME> applies to both doubles;
// ORVIK_XRAY_<NAME> or ORVIK_TUN2SOCKS_<NAME> to one of them only (and wins over the shared one).

#include <optional>
#include <string>

namespace orvik_double {

// "1": print a message and exit with code 1 before doing anything.
inline constexpr const char* kExitAtOnce = "ORVIK_DOUBLE_EXIT_AT_ONCE";
inline constexpr const char* kXrayExitAtOnce = "ORVIK_XRAY_EXIT_AT_ONCE";
inline constexpr const char* kTun2socksExitAtOnce = "ORVIK_TUN2SOCKS_EXIT_AT_ONCE";
// N: exit with code 1 N milliseconds after the start.
inline constexpr const char* kDieAfterMs = "ORVIK_DOUBLE_DIE_AFTER_MS";
inline constexpr const char* kXrayDieAfterMs = "ORVIK_XRAY_DIE_AFTER_MS";
inline constexpr const char* kTun2socksDieAfterMs = "ORVIK_TUN2SOCKS_DIE_AFTER_MS";
// "1" (tun2socks only): keep running but never create the adapter.
inline constexpr const char* kNoAdapter = "ORVIK_DOUBLE_NO_ADAPTER";
inline constexpr const char* kTun2socksNoAdapter = "ORVIK_TUN2SOCKS_NO_ADAPTER";

// `tool` is "XRAY" or "TUN2SOCKS"; `name` the part after the prefix ("EXIT_AT_ONCE").
std::optional<std::string> switchValue(const std::string& tool, const std::string& name);
bool switchOn(const std::string& tool, const std::string& name);

// Applies EXIT_AT_ONCE and DIE_AFTER_MS; `program` names the double in messages.
void applyExitSwitches(const std::string& tool, const std::string& program);

}  // namespace orvik_double
