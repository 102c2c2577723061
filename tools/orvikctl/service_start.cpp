#include "tools/orvikctl/service_start.h"

#include <iostream>

namespace orvikctl {
namespace {

constexpr int kLaunchProbes = 80;  // 250 ms apart: 20 s
constexpr int kLaunchProbeMs = 250;

engine::LaunchCommand ownerlessDaemon(const std::string& executable, const std::string& runtimeDirectory,
                                      const std::string& pipeName) {
    engine::LaunchCommand command;
    command.executable = executable;
    command.arguments = {"--daemon", "--runtime", runtimeDirectory};
    for (std::string& setting : engine::serviceSettingsArguments(pipeName)) command.arguments.push_back(std::move(setting));
    command.workingDirectory = runtimeDirectory;
    return command;
}

engine::ServiceLauncher::Outcome launch(engine::ServiceLauncher& launcher, const engine::LaunchCommand& command,
                                        unsigned long& code) {
    std::cout.flush();
    std::cerr.flush();
    DetachedStandardStreams detached;
    return launcher.launch(command, code);
}

}  // namespace

bool startService(const engine::EngineClient& engine, const std::string& runtimeDirectory, std::string& error) {
    if (engine.pipeExists()) return true;
    const std::string executable = engine.locateServiceExecutable();
    if (executable.empty()) {
        error = engine::serviceMissingText();
        return false;
    }
    engine::ServiceLauncher& launcher = *engine.options().launcher;
    unsigned long code = 0;
    engine::ServiceLauncher::Outcome outcome = launch(launcher, ownerlessDaemon(executable, runtimeDirectory, engine.options().pipeName), code);
    for (int probe = 0; outcome == engine::ServiceLauncher::Outcome::started; ++probe) {
        if (engine.pipeExists()) return true;
        if (probe + 1 == kLaunchProbes) {
            error = "连接进程已启动，但管道未就绪。请查看 orvik-service.log";
            return false;
        }
        engine.options().sleep(kLaunchProbeMs);
        outcome = launcher.poll(code);  // an elevation that ended without a service
    }
    error = outcome == engine::ServiceLauncher::Outcome::declined ? std::string("需要管理员权限才能建立连接。已取消。")
                                                                  : "无法启动连接进程 err=" + std::to_string(code);
    return false;
}

}  // namespace orvikctl
