#pragma once
// The runtime directory: tools, panel.json, account.json and the service log live there, and
// the session files (see state_location.h).

#include <memory>
#include <string>

#include "vpn/control_plane.h"

namespace vpn {

// ORVIK_RUNTIME when it names a directory with Xray; else the first of <exe>/runtime, <exe>
// and a developer tree's tools directory that holds Xray; else <exe>/runtime.
std::string resolveRuntimeDirectory();

// True when the directory holds xray/<xray> or <xray> as a file.
bool hasXray(const std::string& directory);

// True when panel.json names an "apiBase" or ORVIK_XBOARD_URL is set and not empty.
bool hasRemotePanel(const std::string& runtimeDirectory);

// The panel client when panel.json or ORVIK_XBOARD_URL names a panel, else the file-backed
// control plane, with the session file of the user running this process. Never null.
std::unique_ptr<ControlPlane> createControlPlane(const std::string& runtimeDirectory);

// The same with the session file given: the service's, for the user who asks.
std::unique_ptr<ControlPlane> createControlPlane(const std::string& runtimeDirectory, const std::string& sessionPath);

}  // namespace vpn
