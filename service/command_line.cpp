#include "service/command_line.h"

#include <limits>

namespace service {

int32_t numberFrom(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(value == limit ? limit - 1 : value);
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    bool install = false, uninstall = false, clearFirewall = false, daemon = false, console = false;
    CommandLine line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--console") console = true;
        else if (argument == "--daemon") daemon = true;
        else if (argument == "--install") install = true;
        else if (argument == "--uninstall") uninstall = true;
        else if (argument == "--clear-firewall") clearFirewall = true;
        else if (argument == "--runtime" && hasValue) {
            const std::string& value = arguments[++i];
            if (!value.empty()) line.runtimeDirectory = value;
            line.runtimeGiven = true;
        } else if (argument == "--owner-pid" && hasValue) {
            line.ownerPid = numberFrom(arguments[++i]);
        } else if (argument == "--pipe" && hasValue) {
            line.pipeName = arguments[++i];
        } else if (argument == "--panel-url" && hasValue) {
            line.panelUrl = arguments[++i];
        }
    }
    if (install) line.mode = Mode::install;
    else if (uninstall) line.mode = Mode::uninstall;
    else if (clearFirewall) line.mode = Mode::clearFirewall;
    else if (daemon) line.mode = Mode::daemon;
    else if (console) line.mode = Mode::console;
    return line;
}

}  // namespace service
