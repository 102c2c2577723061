#pragma once
// Test doubles around the engine client's seams: a connector that counts what the client
// asks of the real one (or fails), a sleep that records, a scripted launcher, and a client
// whose every seam is one of these.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/engine/engine_client.h"

namespace engine_test {

class CountingConnector : public engine::PipeConnector {
public:
    Status open(const std::string& name, std::unique_ptr<vpn::ByteStream>& connection, unsigned long& code) override {
        ++opens;
        code = forcedCode;
        return forced ? *forced : real_->open(name, connection, code);
    }
    void waitWhileBusy(const std::string& name, int milliseconds) override {
        busyWaits.push_back(milliseconds);
        real_->waitWhileBusy(name, milliseconds);
    }
    unsigned long currentErrorCode() const override { return real_->currentErrorCode(); }

    int opens = 0;
    std::vector<int> busyWaits;
    std::optional<Status> forced;  // answer every open with this instead of opening
    unsigned long forcedCode = 0;

private:
    std::shared_ptr<engine::PipeConnector> real_ = engine::makePlatformPipeConnector();
};

class ScriptedLauncher : public engine::ServiceLauncher {
public:
    Outcome launch(const engine::LaunchCommand& command, unsigned long& errorCode) override {
        commands.push_back(command);
        errorCode = launchCode;
        if (onLaunch) onLaunch();
        return launchOutcome;
    }
    Outcome poll(unsigned long& errorCode) override {
        errorCode = pollCode;
        return ++polls < pollOutcomeAfter ? Outcome::started : pollOutcome;
    }

    Outcome launchOutcome = Outcome::started;
    unsigned long launchCode = 0;
    std::function<void()> onLaunch;
    Outcome pollOutcome = Outcome::started;
    int pollOutcomeAfter = 1;  // the poll from which pollOutcome is reported
    unsigned long pollCode = 0;
    std::vector<engine::LaunchCommand> commands;
    int polls = 0;
};

struct Seams {
    std::shared_ptr<CountingConnector> connector = std::make_shared<CountingConnector>();
    std::shared_ptr<ScriptedLauncher> launcher = std::make_shared<ScriptedLauncher>();
    std::shared_ptr<std::vector<int>> sleeps = std::make_shared<std::vector<int>>();
    std::function<void(int)> onSleep;  // runs after each recorded sleep

    engine::EngineClient client(const std::string& pipe, const std::string& app, const std::string& runtime) const {
        engine::EngineClientOptions options;
        options.pipeName = pipe;
        options.connector = connector;
        options.launcher = launcher;
        options.sleep = [sleeps = sleeps, onSleep = onSleep](int milliseconds) {
            sleeps->push_back(milliseconds);
            if (onSleep) onSleep(milliseconds);
        };
        options.applicationDirectory = app;
        options.runtimeDirectory = runtime;
        return engine::EngineClient(options);
    }
};

// Takes what room the pipe has left while its server is busy with one client (Linux: fills
// the listen queue; Windows: takes the one instance that waits), so that every further open
// is "busy"; returns the function that gives the room back.
std::function<void()> occupyRemainingRoom(const std::string& pipe);

}  // namespace engine_test
