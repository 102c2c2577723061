#include "app/native/raise_window.h"

namespace desktop {

bool raiseWindowTitled(const std::string&) { return false; }

}  // namespace desktop
