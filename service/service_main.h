#pragma once
// The service's whole run after the platform's entry point has its arguments as UTF-8.

#include <string>
#include <vector>

namespace service {

// `arguments` without the program name; returns the process exit code.
int runService(const std::vector<std::string>& arguments);

}  // namespace service
