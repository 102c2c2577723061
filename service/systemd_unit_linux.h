#pragma once
// Installing the service as a systemd unit: OrvikService.service, started at boot, running
// the program with "--runtime" and the runtime directory.

#include <string>

#include "service/tunnel/process_runner.h"

namespace service {

inline constexpr const char* kUnitName = "OrvikService.service";

struct SystemdSettings {
    std::string unitDirectory = "/etc/systemd/system";
    std::string systemctl = "systemctl";  // a name on the search path or a full path
};

// What install and uninstall print; the caller writes it to standard output and error.
struct InstallReport {
    int exitCode = 0;
    std::string out;
    std::string err;
};

// The ExecStart command line: both paths between double quotes, '%' and '$' escaped for
// systemd. False with a text for a path that a unit line cannot carry safely (quotes,
// backslashes, control characters) or that is not absolute.
bool unitCommandLine(const std::string& executable, const std::string& runtimeDirectory, std::string& line,
                     std::string& error);

// The unit file's text for that command line.
std::string unitText(const std::string& commandLine);

// Stops a running instance, writes the unit, reloads systemd, enables and starts it.
InstallReport installUnit(const SystemdSettings& settings, tunnel::ProcessRunner& runner,
                          const std::string& executable, const std::string& runtimeDirectory);

// Stops and disables the unit and removes its file; "Service not installed." without one.
InstallReport uninstallUnit(const SystemdSettings& settings, tunnel::ProcessRunner& runner);

}  // namespace service
