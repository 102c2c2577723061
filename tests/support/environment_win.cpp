#include <windows.h>

#include "tests/support/environment.h"
#include "vpn/text_win.h"

namespace orvik_test {

void unsetEnvironment(const std::string& name) { SetEnvironmentVariableW(vpn::widen(name).c_str(), nullptr); }

}  // namespace orvik_test
