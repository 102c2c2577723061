#include <sys/un.h>

#include "vpn/service_pipe.h"
#include "vpn/system.h"

namespace vpn {

std::string servicePipeName() { return servicePipeName(environmentVariable("ORVIK_PIPE").value_or("")); }

std::string servicePipeName(const std::string& requested) {
    // sun_path holds the path and its terminating NUL.
    if (!requested.empty() && requested.front() == '/' && requested.size() < sizeof(sockaddr_un{}.sun_path))
        return requested;
    return defaultServicePipeName();
}

std::string defaultServicePipeName() { return "/run/orvik/OrvikService.sock"; }

}  // namespace vpn
