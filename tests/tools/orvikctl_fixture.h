#pragma once
// orvikctl on a temporary runtime directory, with a service pipe of its own (so no service
// of the machine is ever reached) and no panel from the environment, in this process through
// its entry point.

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"
#include "tools/orvikctl/orvikctl.h"

namespace orvik_test {

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class OrvikctlTest : public ::testing::Test {
protected:
    // orvikctl --runtime <runtime> ARGS... with `input` as its standard input; `ask`, when
    // given, answers the prompts of an interactive terminal.
    CapturedRun run(const std::vector<std::string>& args, const std::string& input = {},
                    std::function<bool(const std::string&, bool, std::string&)> ask = {}) const {
        std::vector<std::string> all{"--runtime", runtime.path()};
        all.insert(all.end(), args.begin(), args.end());
        std::istringstream in(input);
        std::ostringstream out, err;
        orvikctl::Io io{in, out, err, static_cast<bool>(ask), ask};
        const int code = orvikctl::runOrvikctl(all, io);
        return {code, out.str(), err.str()};
    }
    // The same with --json; the parsed standard output (discarded when it is not JSON).
    nlohmann::ordered_json runJson(std::vector<std::string> args) const {
        args.insert(args.begin(), "--json");
        return nlohmann::ordered_json::parse(run(args).out, nullptr, false);
    }

    TempDir runtime;
    std::string pipe = uniquePipeName(runtime.path());
    ScopedEnvironment pipeVariable{"ORVIK_PIPE", pipe};
    ScopedEnvironment panelVariable{"ORVIK_XBOARD_URL", std::nullopt};
    ScopedEnvironment runtimeVariable{"ORVIK_RUNTIME", std::nullopt};
};

}  // namespace orvik_test
