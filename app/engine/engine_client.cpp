#include "app/engine/engine_client.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "vpn/runtime_directory.h"
#include "vpn/service_pipe.h"
#include "vpn/system.h"
#include "vpn/files.h"

namespace engine {
namespace {

constexpr int kBusyWaitMs = 500;        // WaitNamedPipeW on a busy pipe
constexpr int kMissingPipeSleepMs = 150;  // between attempts while the pipe does not exist
constexpr int kLaunchProbes = 80;
constexpr int kLaunchProbeSleepMs = 250;
// A "connect" lasts as long as the tunnel start; a service that stays silent far longer than
// that must not hold the worker (and the client's exit) for ever.
constexpr int kExchangeDeadlineMs = 120000;

bool isKnownOp(const std::string& op) {
    return op == "connect" || op == "disconnect" || op == "status" || op == "shutdown";
}

std::string withCode(const char* text, unsigned long code) { return text + std::to_string(code); }

RequestResult failure(std::string error, bool serviceUnavailable = false) {
    RequestResult result;
    result.serviceUnavailable = serviceUnavailable;
    result.error = std::move(error);
    return result;
}

}  // namespace

EngineClientOptions defaultEngineClientOptions(EngineClientOptions options) {
    if (options.pipeName.empty()) options.pipeName = vpn::servicePipeName();
    if (!options.connector) options.connector = makePlatformPipeConnector();
    if (!options.launcher) options.launcher = makePlatformServiceLauncher();
    if (!options.sleep)
        options.sleep = [](int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); };
    if (options.applicationDirectory.empty()) options.applicationDirectory = vpn::executableDirectory();
    if (options.runtimeDirectory.empty()) options.runtimeDirectory = vpn::resolveRuntimeDirectory();
    return options;
}

EngineClient::EngineClient(EngineClientOptions options) : options_(defaultEngineClientOptions(std::move(options))) {}

RequestResult EngineClient::sendRequest(const std::string& op, int attempts, const std::string& node,
                                        const ConnectPreferences& preferences) const {
    if (!isKnownOp(op)) return failure("unsupported ipc op");
    PipeConnector& connector = *options_.connector;
    std::unique_ptr<vpn::ByteStream> connection;
    const int count = std::max(1, attempts);
    for (int i = 0; i < count && !connection;) {
        unsigned long code = 0;
        switch (connector.open(options_.pipeName, connection, code)) {
            case PipeConnector::Status::opened:
                break;
            case PipeConnector::Status::busy:
                connector.waitWhileBusy(options_.pipeName, kBusyWaitMs);
                ++i;
                break;
            case PipeConnector::Status::notFound:
                if (i + 1 < count) options_.sleep(kMissingPipeSleepMs);
                ++i;
                break;
            case PipeConnector::Status::failed:
                return failure(withCode("无法连接Velora服务 err=", code));
        }
    }
    if (!connection) return failure("Velora服务未运行", true);

    connection->setDeadline(kExchangeDeadlineMs);
    unsigned long code = 0;
    // A frame the protocol refuses (too long, bad length) carries no code of its own.
    if (!vpn::writeFrame(*connection, buildRequestPayload(op, node, preferences), code))
        return failure(withCode("Velora服务写入失败 err=", code != 0 ? code : connector.currentErrorCode()));
    std::string reply;
    if (!vpn::readFrame(*connection, reply, code))
        return failure(withCode("Velora服务读取失败 err=", code != 0 ? code : connector.currentErrorCode()));
    return parseReplyPayload(reply);
}

bool EngineClient::pipeExists() const {
    std::unique_ptr<vpn::ByteStream> connection;
    unsigned long code = 0;
    const PipeConnector::Status status = options_.connector->open(options_.pipeName, connection, code);
    // A pipe that refuses us (a server we do not trust, no access) is there too: a service
    // launched now could not take its name, and the request's own error says why.
    return status != PipeConnector::Status::notFound;
}

bool EngineClient::ensureServiceRunning(std::string& error) const {
    if (pipeExists()) return true;
    LaunchCommand command;
    command.executable = locateServiceExecutable();
    if (command.executable.empty()) {
        error = serviceMissingText();
        return false;
    }
    const unsigned long pid = currentProcessId();
    command.arguments = serviceLaunchArguments(options_.runtimeDirectory, pid, options_.pipeName);
    command.workingDirectory = options_.runtimeDirectory;

    ServiceLauncher& launcher = *options_.launcher;
    unsigned long code = 0;
    ServiceLauncher::Outcome outcome = launcher.launch(command, code);
    for (int probe = 0; outcome == ServiceLauncher::Outcome::started; ++probe) {
        if (pipeExists()) return true;
        if (probe + 1 == kLaunchProbes) {
            error = "连接进程已启动，但管道未就绪。请查看 orvik-service.log";
            return false;
        }
        options_.sleep(kLaunchProbeSleepMs);
        outcome = launcher.poll(code);  // an elevation that ended without a service
    }
    error = outcome == ServiceLauncher::Outcome::declined ? std::string("需要管理员权限才能建立连接。已取消。")
                                                          : withCode("无法启动连接进程 err=", code);
    return false;
}

std::string serviceMissingText() {
    return std::string("找不到 ") + serviceExecutableName() + "。请放在界面同一目录。";
}

std::string EngineClient::locateServiceExecutable() const {
    const std::string& directory = options_.applicationDirectory;
    const std::string name = serviceExecutableName();
    const std::string candidates[] = {
        vpn::joinPath(directory, name),
        vpn::joinPath(vpn::joinPath(vpn::joinPath(directory, ".."), "svc"), name),
        vpn::joinPath(vpn::joinPath(vpn::joinPath(vpn::joinPath(vpn::joinPath(directory, ".."), ".."), ".."), "svc"),
                      name),
    };
    for (const std::string& candidate : candidates) {
        const std::optional<std::string> full = vpn::fullPathName(candidate);
        if (full && vpn::isRegularFile(*full)) return *full;
    }
    return {};
}

std::string buildRequestPayload(const std::string& op, const std::string& node,
                                const ConnectPreferences& preferences) {
    nlohmann::ordered_json request;
    request["op"] = op;
    if (!node.empty()) request["node"] = node;
    if (op == "connect") {
        request["killSwitch"] = preferences.killSwitch;
        request["allowLan"] = preferences.allowLan;
    }
    return request.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

RequestResult parseReplyPayload(const std::string& payload) {
    const auto reply = nlohmann::ordered_json::parse(payload, nullptr, false);
    if (!reply.is_object()) return failure("Velora服务回复无法识别");
    RequestResult result;
    const auto flag = [&](const char* name) {
        const auto found = reply.find(name);
        return found != reply.end() && found->is_boolean() && found->get<bool>();
    };
    result.ok = flag("ok");
    result.running = flag("running");
    result.blocked = flag("blocked");
    const auto mine = reply.find("mine");
    result.mine = mine == reply.end() || !mine->is_boolean() || mine->get<bool>();
    const auto text = [&](const char* name) {
        const auto found = reply.find(name);
        return found != reply.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    result.phase = text("phase");
    result.reason = text("reason");
    const auto error = reply.find("error");
    if (error != reply.end() && error->is_string()) result.error = error->get<std::string>();
    return result;
}

std::vector<std::string> serviceLaunchArguments(const std::string& runtimeDirectory, unsigned long ownerPid,
                                                const std::string& pipeName) {
    std::vector<std::string> arguments = {"--daemon", "--runtime", runtimeDirectory, "--owner-pid",
                                          std::to_string(ownerPid)};
    for (std::string& setting : serviceSettingsArguments(pipeName)) arguments.push_back(std::move(setting));
    return arguments;
}

std::vector<std::string> serviceSettingsArguments(const std::string& pipeName) {
    std::vector<std::string> arguments;
    if (!pipeName.empty() && pipeName != vpn::defaultServicePipeName()) {
        arguments.push_back("--pipe");
        arguments.push_back(pipeName);
    }
    const std::string panelUrl = vpn::environmentVariable(vpn::kPanelUrlVariable).value_or("");
    if (!panelUrl.empty()) {
        arguments.push_back("--panel-url");
        arguments.push_back(panelUrl);
    }
    return arguments;
}

}  // namespace engine
