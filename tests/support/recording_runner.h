#pragma once
// A ProcessRunner for tests of code that runs short commands: it starts nothing, records each
// command (program and arguments as they would be passed) and answers with a set result.

#include <string>
#include <vector>

#include "service/tunnel/command.h"
#include "service/tunnel/process_runner.h"

namespace orvik_test {

struct RecordedCommand {
    std::string program;
    tunnel::CommandArgs args;
    int timeoutMs = 0;
    // The command line as Windows would receive it.
    std::string line() const { return tunnel::commandLine(program, args, false); }
};

class RecordingRunner : public tunnel::ProcessRunner {
public:
    bool succeed = true;
    std::string failureText = "command exit 1: (recorded)";
    std::vector<RecordedCommand> commands;

    bool runCommand(const std::string& program, const tunnel::CommandArgs& args, int timeoutMs,
                    std::string& error) override {
        commands.push_back({program, args, timeoutMs});
        if (!succeed) error = failureText;
        return succeed;
    }
    std::unique_ptr<tunnel::Job> createJob(std::string& error) override {
        error = "no jobs in this test";
        return nullptr;
    }
    void terminateByExactName(const std::string&) override {}
    void terminateByPrefix(const std::string&) override {}

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        for (const RecordedCommand& command : commands) result.push_back(command.line());
        return result;
    }
};

}  // namespace orvik_test
