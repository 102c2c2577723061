#include <cstdlib>

#include "tests/support/environment.h"

namespace orvik_test {

void unsetEnvironment(const std::string& name) { ::unsetenv(name.c_str()); }

}  // namespace orvik_test
