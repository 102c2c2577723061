#pragma once
// Reading the desktop's animation switch on Linux. GNOME (and desktops built on its
// settings schema) keep it in org.gnome.desktop.interface enable-animations, read with
// `gsettings get`; other desktops have no setting we can read, which means animations on.

#include <optional>
#include <string>
#include <vector>

namespace desktop {

// Runs `argv` (argv[0] an absolute path; no shell) with standard input and error on
// /dev/null, for at most `timeoutMs`. True with its standard output when it exited with
// code 0 in time; a program still running at the deadline is killed.
bool runForOutput(const std::vector<std::string>& argv, int timeoutMs, std::string& output);

// The absolute path of an executable `name` on PATH; empty when there is none.
std::string findOnPath(const std::string& name);

// gsettings' answer for a boolean key ("true" / "false", surrounded by white space); empty
// for anything else.
std::optional<bool> parseBooleanSetting(const std::string& text);

}  // namespace desktop
