#pragma once
// Linux only: the pkexec launcher whatever the effective user, so that tests running as root
// can drive the pkexec path with a stand-in pkexec on PATH.

#include <memory>

#include "app/engine/service_launcher.h"

namespace engine {

std::shared_ptr<ServiceLauncher> makePkexecServiceLauncher();

}  // namespace engine
