#pragma once
// The client's end of the service pipe: one blocking request/reply exchange, a presence
// probe, and the launch of the service when its pipe is missing. Called only from one
// worker thread (the client's engine worker, or orvikctl's main thread); nothing here is
// shared between calls.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/pipe_connector.h"
#include "app/engine/service_launcher.h"

namespace engine {

struct RequestResult {
    bool ok = false;                  // the reply's "ok" was true
    bool running = false;             // the reply's "running" was true
    bool mine = true;                 // false when the reply says the tunnel is another user's
    bool blocked = false;             // the reply's "blocked" was true: a kill switch holds
    std::string phase;                // "recovering", "waiting", "failed", or empty (up or off)
    std::string reason;               // what the phase is about, for the user
    bool serviceUnavailable = false;  // the pipe was missing or busy through every attempt
    std::string error;                // the reply's "error", or one of the client's own texts
};

// Everything the client depends on, replaceable for tests. Defaults: the platform's pipe
// (vpn::servicePipeName), connector and elevated launcher, a real sleep, the executable's
// directory and the resolved runtime directory.
struct EngineClientOptions {
    std::string pipeName;
    std::shared_ptr<PipeConnector> connector;
    std::shared_ptr<ServiceLauncher> launcher;
    std::function<void(int milliseconds)> sleep;
    std::string applicationDirectory;
    std::string runtimeDirectory;
};

// The user's leak protection choices, sent with every "connect".
struct ConnectPreferences {
    bool killSwitch = false;
    bool allowLan = true;
};

// The options with every empty member filled with its default.
EngineClientOptions defaultEngineClientOptions(EngineClientOptions options = {});

class EngineClient {
public:
    explicit EngineClient(EngineClientOptions options = {});

    // One exchange: op is "connect", "disconnect", "status" or "shutdown" (anything else
    // fails with "unsupported ipc op" and opens nothing); attempts below 1 count as 1; an
    // empty node sends no "node" member; `preferences` go with "connect" only.
    RequestResult sendRequest(const std::string& op, int attempts, const std::string& node = {},
                              const ConnectPreferences& preferences = {}) const;

    // True when the service's pipe exists (opens, is busy, or refuses us); an opened connection is
    // closed at once.
    bool pipeExists() const;

    // True when the pipe exists or the service was launched and its pipe appeared within
    // 20 s; false with a user-readable text otherwise.
    bool ensureServiceRunning(std::string& error) const;

    // Full path of the service executable next to the client (or in the build tree's
    // service folder), or empty.
    std::string locateServiceExecutable() const;

    const EngineClientOptions& options() const { return options_; }

private:
    EngineClientOptions options_;
};

// The request payload: {"op":"...","node":"..."} without spaces, written as JSON; a
// "connect" also carries "killSwitch" and "allowLan".
std::string buildRequestPayload(const std::string& op, const std::string& node,
                                const ConnectPreferences& preferences = {});

// Reads a reply payload; a payload that is not a JSON object gives ok false and an error.
RequestResult parseReplyPayload(const std::string& payload);

// The arguments with which the client starts the service: --daemon --runtime DIR
// --owner-pid PID, then the settings of serviceSettingsArguments.
std::vector<std::string> serviceLaunchArguments(const std::string& runtimeDirectory, unsigned long ownerPid,
                                                const std::string& pipeName = {});

// What a started service must be told because an elevated start (UAC, pkexec, systemd) does
// not pass our environment on: --pipe NAME when `pipeName` is not the default one, and
// --panel-url URL when ORVIK_XBOARD_URL is set.
std::vector<std::string> serviceSettingsArguments(const std::string& pipeName);

}  // namespace engine
