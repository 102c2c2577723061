// Environment switches of the doubles.
#include "tests/support/doubles/double_switches.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace orvik_double {

std::optional<std::string> switchValue(const std::string& tool, const std::string& name) {
    for (const std::string& variable : {"ORVIK_" + tool + "_" + name, "ORVIK_DOUBLE_" + name}) {
        if (const char* value = std::getenv(variable.c_str())) return std::string(value);
    }
    return std::nullopt;
}

bool switchOn(const std::string& tool, const std::string& name) { return switchValue(tool, name) == "1"; }

void applyExitSwitches(const std::string& tool, const std::string& program) {
    if (switchOn(tool, "EXIT_AT_ONCE")) {
        std::fprintf(stderr, "%s: exiting at once as asked\n", program.c_str());
        std::exit(1);
    }
    const auto dieAfter = switchValue(tool, "DIE_AFTER_MS");
    if (!dieAfter) return;
    const long milliseconds = std::strtol(dieAfter->c_str(), nullptr, 10);
    std::thread([milliseconds, program] {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        std::fprintf(stderr, "%s: dying after %ld ms as asked\n", program.c_str(), milliseconds);
        std::fflush(stderr);
        std::_Exit(1);
    }).detach();
}

}  // namespace orvik_double
