#pragma once
// Test doubles around the engine client's seams: a connector that counts what the client
// asks of the real one (or plays "busy"), a sleep that records, a scripted launcher.

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/engine/engine_client.h"

namespace engine_test {

class CountingConnector : public engine::PipeConnector {
public:
    explicit CountingConnector(std::shared_ptr<engine::PipeConnector> real = engine::makePlatformPipeConnector())
        : real_(std::move(real)) {}

    Status open(const std::string& name, std::unique_ptr<vpn::ByteStream>& connection,
                unsigned long& errorCode) override {
        ++opens;
        if (forced) {
            errorCode = forcedCode;
            return *forced;
        }
        return real_->open(name, connection, errorCode);
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
    std::shared_ptr<engine::PipeConnector> real_;
};

// Records each sleep; really sleeps `realMs` (capped by the request) so a service started
// meanwhile has time to appear.
struct RecordingSleep {
    std::shared_ptr<std::vector<int>> calls = std::make_shared<std::vector<int>>();
    int realMs = 0;

    std::function<void(int)> function() const {
        return [calls = calls, realMs = realMs](int milliseconds) {
            calls->push_back(milliseconds);
            if (realMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(realMs, milliseconds)));
        };
    }
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
        ++polls;
        if (polls < pollOutcomeAfter) return Outcome::started;
        errorCode = pollCode;
        return pollOutcome;
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

}  // namespace engine_test
