#include <windows.h>

#include "tests/support/service_client.h"
#include "vpn/text_win.h"

namespace orvik_test {

// WaitNamedPipeW tells whether an instance waits for a client without taking it.
bool pipeListening(const std::string& pipe) { return WaitNamedPipeW(vpn::widen(pipe).c_str(), 1) != 0; }

}  // namespace orvik_test
