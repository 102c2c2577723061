#pragma once
// How the Xray and tun2socks doubles give up: a message on stderr and an exit code.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvik_double {

[[noreturn]] inline void fail(const char* program, int code, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    std::exit(code);
}

}  // namespace orvik_double
