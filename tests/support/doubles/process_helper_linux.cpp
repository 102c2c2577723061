// Linux parts of the process helper.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/doubles/process_helper.h"

namespace orvik_helper {

void crash() {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
    std::abort();
}

long startSleeper(const std::string& self) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(self.c_str(), self.c_str(), "sleep", "600000", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

std::string openDescriptors() {
    std::string list;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        // The listing's own descriptor shows as a directory under /proc.
        if (fd > 2 && !target.string().starts_with("/proc/")) list += std::to_string(fd) + " " + target.string() + "\n";
    }
    return list;
}

std::string rawCommandLine(int argc, char** argv) {
    std::string lines;
    for (int i = 0; i < argc; ++i) lines += std::string(argv[i]) + "\n";
    return lines;
}

long currentProcessId() { return static_cast<long>(::getpid()); }

}  // namespace orvik_helper
