#include <windows.h>

#include "tests/support/environment.h"
#include "vpn/text_win.h"

namespace orvik_test {

void setEnvironment(const std::string& name, const std::string& value) {
    SetEnvironmentVariableW(vpn::widen(name).c_str(), vpn::widen(value).c_str());
}

void unsetEnvironment(const std::string& name) {
    SetEnvironmentVariableW(vpn::widen(name).c_str(), nullptr);
}

}  // namespace orvik_test
