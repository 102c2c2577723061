#include "service/pkexec_start.h"

#include "service/service_log.h"
#include "vpn/system.h"

namespace service {

std::string installedRuntimeDirectory() { return vpn::joinPath(vpn::executableDirectory(), "runtime"); }

std::string pkexecRefusal(const std::vector<std::string>& arguments, const std::string& installedRuntime) {
    const auto refused = [&](const std::string& what) {
        return "started through pkexec, orvik_service takes only --daemon, --owner-pid PID and --runtime " +
               installedRuntime + "; refused: " + logSafe(what, 200);
    };
    bool daemon = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--daemon") {
            daemon = true;
        } else if (argument == "--owner-pid" && hasValue) {
            ++i;
        } else if (argument == "--runtime" && hasValue) {
            const std::string& value = arguments[++i];
            if (vpn::fullPathName(value).value_or("") != installedRuntime) return refused("--runtime " + value);
        } else {
            return refused(argument);
        }
    }
    return daemon ? std::string() : refused("a start without --daemon");
}

}  // namespace service
