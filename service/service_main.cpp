#include "service/service_main.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "service/command_line.h"
#include "service/connect_node.h"
#include "service/pkexec_start.h"
#include "service/tunnel_supervisor.h"
#include "service/service_context.h"
#include "service/tunnel/leak_guard.h"
#include "service/tunnel/network_watch.h"
#include "service/tunnel/tunnel.h"
#include "vpn/runtime_directory.h"
#include "vpn/state_location.h"
#include "vpn/system.h"

namespace service {
namespace {

// The runtime directory: a "--runtime" value (made absolute, since the pipe server changes
// the current directory) or the library's rule when none was given.
std::string chooseRuntimeDirectory(const CommandLine& line) {
    if (!line.runtimeGiven) return vpn::resolveRuntimeDirectory();
    if (line.runtimeDirectory.empty()) return {};
    return vpn::fullPathName(line.runtimeDirectory).value_or(line.runtimeDirectory);
}

// The tunnel over this platform's processes and network, and the firewall that outlives its
// sessions, for the life of the process.
struct TunnelParts {
    TunnelParts(bool requireTrustedTools, ServiceContext& context)
        : processes(tunnel::makeProcessRunner()),
          network(tunnel::makeNetworkOps(*processes)),
          tools(tunnel::makeToolLocator(requireTrustedTools)),
          firewall(tunnel::makeFirewall()),
          guard(*firewall, tunnel::killSwitchIntentPath(context.runtimeDirectory),
                [&context](const std::string& line) { context.log.write(line); }),
          tunnel({*processes, *network, *tools,
                  [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }}) {}
    std::unique_ptr<tunnel::ProcessRunner> processes;
    std::unique_ptr<tunnel::NetworkOps> network;
    std::unique_ptr<tunnel::ToolLocator> tools;
    std::unique_ptr<tunnel::Firewall> firewall;
    tunnel::LeakGuard guard;
    tunnel::Tunnel tunnel;
};

// Uninstalling and the package's removal: no rule of ours and no kill switch stays.
int clearFirewall(ServiceContext& context) {
    const std::unique_ptr<tunnel::Firewall> firewall = tunnel::makeFirewall();
    tunnel::LeakGuard guard(*firewall, tunnel::killSwitchIntentPath(context.runtimeDirectory),
                            [&context](const std::string& line) { context.log.write(line); });
    return guard.release() ? 0 : 1;
}

int runMode(Mode mode, ServiceContext& context) {
    prepareRunningProcess();
    TunnelParts parts(toolsMustBeTrusted(mode), context);
    // A kill switch a killed service or the last boot left holds from the start. The rest of
    // what an earlier run left goes once this service serves (TunnelEngine).
    parts.guard.reconcile(false);
    vpn::createStateFolder(context.runtimeDirectory);  // where users keep their sessions
    const auto controlPlane = [](const std::string& runtime, const std::string& session) {
        return vpn::createControlPlane(runtime, session);
    };
    TunnelEngine engine({context.runtimeDirectory, controlPlane, resolveHostIpv4, *parts.network, parts.tunnel,
                        parts.guard});
    const std::unique_ptr<PipeListener> listener = makePipeListener(context.pipeName);
    // Tools that end on their own are started again; the watches only report.
    TunnelSupervisor supervisor(engine, [&context](const std::string& line) { context.log.write(line); });
    parts.tunnel.onToolExit([&supervisor](const std::string& tool) { supervisor.toolExited(tool); });
    const auto networkWatch = tunnel::watchNetwork([&supervisor] { supervisor.networkChanged(); });
    context.resumed = [&supervisor] { supervisor.networkChanged(); };
    context.engine = &engine;
    context.listener = listener.get();
    int code = 0;
    if (mode == Mode::daemon) code = runDaemonMode(context);
    else if (mode == Mode::console) code = runConsoleMode(context);
    else code = runServiceMode(context);
    context.listener = nullptr;
    context.engine = nullptr;
    context.resumed = nullptr;
    return code;
}

// Started by pkexec for `user`: the installation's daemon or nothing (see pkexec_start.h).
int runForPkexec(const std::vector<std::string>& arguments, const std::string& user, ServiceContext& context) {
    const std::string installed = installedRuntimeDirectory();
    setRuntimeDirectory(context, installed);
    const std::string refusal = pkexecRefusal(arguments, installed);
    if (!refusal.empty()) {
        const std::string line = "user " + logSafe(user, 16) + " " + refusal;
        context.log.write(line);
        std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    }
    context.ownerPid = parseCommandLine(arguments).ownerPid;
    context.pipeName = vpn::defaultServicePipeName();
    vpn::setEnvironmentVariable(vpn::kPanelUrlVariable, "");  // panel.json alone names the panel
    return runMode(Mode::daemon, context);
}

}  // namespace

int runService(const std::vector<std::string>& arguments) {
    prepareConsole();
    ServiceContext context;
    setRuntimeDirectory(context, builtInRuntimeDirectory());
    if (const std::optional<std::string> user = vpn::environmentVariable(kPkexecUserVariable))
        return runForPkexec(arguments, *user, context);
    const CommandLine line = parseCommandLine(arguments);
    setRuntimeDirectory(context, chooseRuntimeDirectory(line));
    context.ownerPid = line.ownerPid;
    context.pipeName = line.pipeName.empty() ? servicePipeName() : vpn::servicePipeName(line.pipeName);
    // The library reads the override where the client does: in the environment.
    if (!line.panelUrl.empty()) vpn::setEnvironmentVariable(vpn::kPanelUrlVariable, line.panelUrl);
    if (line.mode == Mode::install) return installService(context.runtimeDirectory);
    if (line.mode == Mode::uninstall) {
        const int removed = uninstallService();
        return clearFirewall(context) == 0 ? removed : 1;
    }
    if (line.mode == Mode::clearFirewall) return clearFirewall(context);
    return runMode(line.mode, context);
}

}  // namespace service
