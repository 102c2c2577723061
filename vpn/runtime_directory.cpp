// Finding the runtime directory and choosing the control plane for it.
#include "vpn/runtime_directory.h"

#include <initializer_list>

#include "vpn/files.h"
#include "vpn/json_read.h"
#include "vpn/local_control_plane.h"
#include "vpn/state_location.h"
#include "vpn/system.h"
#include "vpn/xboard_control_plane.h"

namespace vpn {
namespace {

// The override must fit a Win32 path buffer; counted in UTF-16 units on every platform,
// so one value qualifies or not the same way everywhere.
constexpr size_t kMaxOverrideUnits = 259;

size_t utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) == 0x80) continue;  // continuation byte
        units += byte >= 0xF0 ? 2 : 1;        // four-byte sequences need a surrogate pair
    }
    return units;
}

std::string joinAll(std::string path, std::initializer_list<const char*> names) {
    for (const char* name : names) path = joinPath(path, name);
    return path;
}

struct PanelChoice {
    std::string apiBase;  // empty: no panel, the file-backed mode
    std::string deviceApi;
};

// panel.json wins over the variable, and only panel.json can name a device service.
PanelChoice choosePanel(const std::string& runtimeDirectory) {
    std::string settings;
    if (readWholeFile(joinPath(runtimeDirectory, "panel.json"), settings)) {
        PanelChoice choice{stripTrailingSeparators(jsonString(settings, "apiBase")),
                           stripTrailingSeparators(jsonString(settings, "deviceApi"))};
        if (!choice.apiBase.empty()) return choice;
    }
    return {stripTrailingSeparators(environmentVariable(kPanelUrlVariable).value_or("")), ""};
}

}  // namespace

bool hasXray(const std::string& directory) {
    const char* xray = xrayExecutableName();
    return isRegularFile(joinPath(joinPath(directory, "xray"), xray)) ||
           isRegularFile(joinPath(directory, xray));
}

std::string resolveRuntimeDirectory() {
    const std::optional<std::string> override = environmentVariable("ORVIK_RUNTIME");
    if (override && !override->empty() && utf16Length(*override) <= kMaxOverrideUnits &&
        hasXray(*override)) {
        return *override;
    }
    const std::string exe = executableDirectory();
    const std::string runtime = joinPath(exe, "runtime");
    // Installed layout, tools beside the program, then a developer tree.
    const std::string developerTree = joinAll(exe, {"..", "..", "..", "..", "tools", "phase-b", "local"});
    for (const std::string& candidate : {runtime, exe, developerTree}) {
        const std::optional<std::string> full = fullPathName(candidate);
        if (full && hasXray(*full)) return *full;
    }
    return fullPathName(runtime).value_or(exe);
}

bool hasRemotePanel(const std::string& runtimeDirectory) {
    return !choosePanel(runtimeDirectory).apiBase.empty();
}

std::unique_ptr<ControlPlane> createControlPlane(const std::string& runtimeDirectory) {
    return createControlPlane(runtimeDirectory, sessionFilePath(runtimeDirectory));
}

std::unique_ptr<ControlPlane> createControlPlane(const std::string& runtimeDirectory, const std::string& session) {
    PanelChoice panel = choosePanel(runtimeDirectory);
    if (!panel.apiBase.empty()) {
        return std::make_unique<XboardControlPlane>(std::move(panel.apiBase), session,
                                                    std::move(panel.deviceApi));
    }
    return std::make_unique<LocalControlPlane>(joinPath(runtimeDirectory, "account.json"), session);
}

}  // namespace vpn
