#pragma once
// The signed-in session of the user running the tests, relative to a runtime directory (for
// TempDir): "session.json" on Windows, "state/<uid>/session.json" on Linux.

#include <string>

#include "vpn/state_location.h"

namespace orvik_test {

inline std::string sessionFile() {
    const std::string runtime = "runtime";
    return vpn::sessionFilePath(runtime).substr(runtime.size() + 1);
}

}  // namespace orvik_test
