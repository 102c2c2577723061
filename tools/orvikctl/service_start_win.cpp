// The elevated start (ShellExecuteExW "runas") inherits no handles: nothing to detach.
#include "tools/orvikctl/service_start.h"

namespace orvikctl {

DetachedStandardStreams::DetachedStandardStreams() = default;
DetachedStandardStreams::~DetachedStandardStreams() = default;

}  // namespace orvikctl
