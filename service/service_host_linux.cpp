// Running as a systemd service on Linux, and installing the unit.
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "service/service_context.h"
#include "vpn/state_location.h"
#include "service/systemd_unit_linux.h"
#include "vpn/system.h"

namespace service {
namespace {

std::string executablePath() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
}

int print(const InstallReport& report) {
    std::fputs(report.out.c_str(), stdout);
    std::fputs(report.err.c_str(), stderr);
    return report.exitCode;
}

}  // namespace

std::string builtInRuntimeDirectory() { return "/opt/orvik/runtime"; }

// systemd sets INVOCATION_ID for every process it starts as a unit.
int runServiceMode(ServiceContext& context) {
    if (!vpn::environmentVariable("INVOCATION_ID")) return runConsoleMode(context);
    context.log.setEcho(false);
    context.shutdownEndsProcess = false;
    context.stopRequested = false;
    const std::unique_ptr<StopWatch> signals = watchConsoleStop(context);
    context.log.write("service running. runtime=" + context.runtimeDirectory);
    serve(context);
    context.log.write("service stopped");
    return 0;
}

int installService(const std::string& runtimeDirectory) {
    // Users sign in before the service first runs: their state folders need a home now.
    vpn::createStateFolder(runtimeDirectory);
    const std::unique_ptr<tunnel::ProcessRunner> runner = tunnel::makeProcessRunner();
    return print(installUnit({}, *runner, executablePath(), runtimeDirectory));
}

int uninstallService() {
    const std::unique_ptr<tunnel::ProcessRunner> runner = tunnel::makeProcessRunner();
    return print(uninstallUnit({}, *runner));
}

bool toolsMustBeTrusted(Mode) { return true; }

}  // namespace service
