// Process probes with /proc, waitpid and signal 0.
#include "tests/support/process_probe.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

namespace orvik_test {
namespace {

// A zombie still answers signal 0, so its state letter decides.
bool isZombie(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

bool gone(long pid) {
    const pid_t id = static_cast<pid_t>(pid);
    if (::waitpid(id, nullptr, WNOHANG) == id) return true;  // our child or orphan: reaped now
    if (::kill(id, 0) != 0 && errno == ESRCH) return true;
    return isZombie(pid);
}

}  // namespace

bool waitProcessGone(long pid, int timeoutMs) { return waitUntil([pid] { return gone(pid); }, timeoutMs); }

void becomeSubreaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

}  // namespace orvik_test
