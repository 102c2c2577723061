#include "service/tunnel/xray_config.h"

namespace tunnel {}
