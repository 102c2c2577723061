#include "tests/support/environment.h"

#include "vpn/system.h"

namespace orvik_test {

void setEnvironment(const std::string& name, const std::string& value) {
    vpn::setEnvironmentVariable(name.c_str(), value);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), previous_(vpn::environmentVariable(name_.c_str())) {
    if (value) setEnvironment(name_, *value);
    else unsetEnvironment(name_);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) setEnvironment(name_, *previous_);
    else unsetEnvironment(name_);
}

}  // namespace orvik_test
