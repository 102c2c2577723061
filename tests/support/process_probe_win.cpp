// Process probes with OpenProcess and a wait on the process handle.
#include "tests/support/process_probe.h"

#include <windows.h>

namespace orvik_test {

bool waitProcessGone(long pid, int timeoutMs) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return true;
    const bool ended = WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void becomeSubreaper() {}

}  // namespace orvik_test
