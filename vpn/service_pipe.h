#pragma once
// Where the service listens and its clients connect.

#include <string>

namespace vpn {

// "\\.\pipe\OrvikService" on Windows, /run/orvik/OrvikService.sock on Linux; the value of
// ORVIK_PIPE instead when it names one of the platform's kind (a "\\.\pipe\" name up to 256
// characters, an absolute socket path that fits a socket address).
std::string servicePipeName();

// `requested` when it names a pipe (socket) of the platform's kind as above, else the default
// name. The service takes its name this way from its command line.
std::string servicePipeName(const std::string& requested);

// The name used when nothing overrides it.
std::string defaultServicePipeName();

}  // namespace vpn
