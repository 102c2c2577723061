#pragma once
// Platform parts of the process helper used by the process runner tests.

#include <string>

namespace orvik_helper {

// Ends the process the way a crash does (an access violation's exit code on Windows,
// SIGSEGV without a core file on Linux).
[[noreturn]] void crash();
// Starts ourselves with "sleep 600000" as a child of ours; its process id, or -1.
long startSleeper(const std::string& self);
// Our open descriptors above the standard three, one per line (Linux; empty on Windows).
std::string openDescriptors();
// Our command line as the system handed it over (Windows), or the arguments one per line.
std::string rawCommandLine(int argc, char** argv);
long currentProcessId();

}  // namespace orvik_helper
