#pragma once
// Running the real orvikctl executable on a temporary runtime directory, with a service pipe
// of its own (so no service of the machine is ever reached) and no panel from the
// environment.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/captured_process.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace orvik_test {

class OrvikctlTest : public ::testing::Test {
protected:
    // orvikctl --runtime <runtime> ARGS..., with `input` as its standard input.
    CapturedRun run(const std::vector<std::string>& args, const std::string& input = {}) const {
        std::vector<std::string> all{"--runtime", runtime.path()};
        all.insert(all.end(), args.begin(), args.end());
        return runCaptured(ORVIKCTL_EXE, all, input);
    }
    // The same with --json; the parsed standard output (discarded when it is not JSON).
    nlohmann::ordered_json runJson(const std::vector<std::string>& args, CapturedRun* result = nullptr,
                                   const std::string& input = {}) const {
        std::vector<std::string> all{"--json"};
        all.insert(all.end(), args.begin(), args.end());
        const CapturedRun done = run(all, input);
        if (result != nullptr) *result = done;
        return nlohmann::ordered_json::parse(done.out, nullptr, false);
    }

    TempDir runtime;
    std::string pipe = uniquePipeName(runtime.path());
    ScopedEnvironment pipeVariable{"ORVIK_PIPE", pipe};
    ScopedEnvironment panelVariable{"ORVIK_XBOARD_URL", std::nullopt};
    ScopedEnvironment runtimeVariable{"ORVIK_RUNTIME", std::nullopt};
};

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace orvik_test
