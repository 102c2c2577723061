#include "service/systemd_unit_linux.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "vpn/files.h"
#include "vpn/system.h"

namespace service {
namespace {

constexpr const char* kServiceName = "OrvikService";
constexpr const char* kDisplayName = "Velora连接服务";
constexpr const char* kDescription = "Velora数据通道：Xray + tun2socks。界面通过命名管道连接。";
constexpr int kSystemctlTimeoutMs = 30000;

bool unitSafe(const std::string& path, std::string& error) {
    if (path.empty() || path.front() != '/') {
        error = "path is not absolute: " + path;
        return false;
    }
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || byte < 0x20 || byte == 0x7F) {
            error = "path cannot be written into a unit: " + path;
            return false;
        }
    }
    return true;
}

// Specifiers (%) and variables ($) would be expanded by systemd inside ExecStart.
std::string quotedForUnit(const std::string& path) {
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '%' || c == '$') quoted += c;
        quoted += c;
    }
    return quoted + "\"";
}

bool systemctl(const SystemdSettings& settings, tunnel::ProcessRunner& runner, const tunnel::CommandArgs& args,
               std::string& error) {
    return runner.runCommand(settings.systemctl, args, kSystemctlTimeoutMs, error);
}

InstallReport failure(const std::string& text) { return {1, {}, text + "\n"}; }

}  // namespace

bool unitCommandLine(const std::string& executable, const std::string& runtimeDirectory, std::string& line,
                     std::string& error) {
    if (!unitSafe(executable, error) || !unitSafe(runtimeDirectory, error)) return false;
    line = quotedForUnit(executable) + " --runtime " + quotedForUnit(runtimeDirectory);
    return true;
}

std::string unitText(const std::string& commandLine) {
    return std::string("# ") + kDescription + "\n" +
           "[Unit]\n"
           "Description=" + kDisplayName + "\n" +
           "Wants=network-online.target\n"
           "After=network-online.target\n"
           "\n"
           "[Service]\n"
           "Type=simple\n"
           "ExecStart=" + commandLine + "\n" +
           "Restart=on-failure\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

InstallReport installUnit(const SystemdSettings& settings, tunnel::ProcessRunner& runner,
                          const std::string& executable, const std::string& runtimeDirectory) {
    std::string line, error;
    if (!unitCommandLine(executable, runtimeDirectory, line, error)) return failure("install failed: " + error);
    const std::string unitPath = vpn::joinPath(settings.unitDirectory, kUnitName);
    if (vpn::isRegularFile(unitPath)) systemctl(settings, runner, {tunnel::word("stop"), tunnel::word(kUnitName)}, error);
    if (!vpn::writeFileAtomically(unitPath, unitText(line)) || ::chmod(unitPath.c_str(), 0644) != 0)
        return failure("cannot write " + unitPath + " err=" + std::to_string(errno) + " (need root)");
    if (!systemctl(settings, runner, {tunnel::word("daemon-reload")}, error))
        return failure("systemctl daemon-reload failed: " + error);
    if (!systemctl(settings, runner, {tunnel::word("enable"), tunnel::word(kUnitName)}, error))
        return failure("systemctl enable failed: " + error);
    if (!systemctl(settings, runner, {tunnel::word("start"), tunnel::word(kUnitName)}, error))
        return failure("systemctl start failed: " + error);
    return {0, std::string("Installed and started ") + kServiceName + "\nbinPath " + line + "\n", {}};
}

InstallReport uninstallUnit(const SystemdSettings& settings, tunnel::ProcessRunner& runner) {
    const std::string unitPath = vpn::joinPath(settings.unitDirectory, kUnitName);
    if (!vpn::isRegularFile(unitPath)) return {0, "Service not installed.\n", {}};
    std::string ignored;
    systemctl(settings, runner, {tunnel::word("stop"), tunnel::word(kUnitName)}, ignored);
    systemctl(settings, runner, {tunnel::word("disable"), tunnel::word(kUnitName)}, ignored);
    if (!vpn::removeFile(unitPath)) return failure("cannot remove " + unitPath + " err=" + std::to_string(errno));
    systemctl(settings, runner, {tunnel::word("daemon-reload")}, ignored);
    return {0, std::string("Uninstalled ") + kServiceName + "\n", {}};
}

}  // namespace service
