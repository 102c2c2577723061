#include "service/tunnel/tool_names.h"

namespace tunnel {

const char* xrayProcessName() { return "xray"; }

}  // namespace tunnel
