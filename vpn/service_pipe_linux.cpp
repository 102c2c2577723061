#include <sys/un.h>

#include "vpn/service_pipe.h"
#include "vpn/system.h"

namespace vpn {

std::string servicePipeName() {
    const std::string override = environmentVariable("ORVIK_PIPE").value_or("");
    // sun_path holds the path and its terminating NUL.
    if (!override.empty() && override.front() == '/' && override.size() < sizeof(sockaddr_un{}.sun_path))
        return override;
    return "/run/orvik/OrvikService.sock";
}

}  // namespace vpn
