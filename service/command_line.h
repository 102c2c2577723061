#pragma once
// The service's command line: arguments compared whole and case-sensitively, unknown ones
// ignored, value options consuming the next argument (ignored as the last one), the last
// value of a repeated option winning.

#include <cstdint>
#include <string>
#include <vector>

namespace service {

enum class Mode { service, console, daemon, install, uninstall, clearFirewall };

struct CommandLine {
    // install, then uninstall, then clearFirewall (--clear-firewall), then daemon, then console
    Mode mode = Mode::service;
    bool runtimeGiven = false;  // "--runtime" took a value, even an empty one
    std::string runtimeDirectory;  // the last non-empty value taken
    int32_t ownerPid = 0;
    // Settings the client has from its environment, which an elevated launch (UAC, pkexec,
    // systemd) does not pass on: the pipe's name and the panel address override.
    std::string pipeName;   // empty: the platform's default (or ORVIK_PIPE)
    std::string panelUrl;   // empty: none given
};

// `arguments` without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// Reads a number the way the C runtime's atoi does: leading blanks, a sign, digits up to the
// first other character; 0 when there are none; clamped to the 32-bit range.
int32_t numberFrom(const std::string& text);

}  // namespace service
