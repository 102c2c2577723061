#include <cwctype>

#include "vpn/service_pipe.h"
#include "vpn/system.h"

namespace vpn {
namespace {

constexpr const char* kDefaultPipeName = "\\\\.\\pipe\\OrvikService";
constexpr const char* kPipePrefix = "\\\\.\\pipe\\";

bool isPipeName(const std::string& name) {
    const std::string prefix = kPipePrefix;
    if (name.size() <= prefix.size() || name.size() > 256) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::towlower(static_cast<unsigned char>(name[i])) != std::towlower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

}  // namespace

std::string servicePipeName() { return servicePipeName(environmentVariable("ORVIK_PIPE").value_or("")); }

std::string servicePipeName(const std::string& requested) {
    return isPipeName(requested) ? requested : kDefaultPipeName;
}

std::string defaultServicePipeName() { return kDefaultPipeName; }

}  // namespace vpn
