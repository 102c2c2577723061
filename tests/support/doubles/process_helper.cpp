// A small program the process runner tests start in place of real commands:
//   exit CODE            ends with CODE (unsigned, e.g. 3221225477)
//   crash                ends like a crashed program
//   sleep MS             sleeps, then ends with 0
//   stubborn MS          the same, ignoring SIGTERM
//   spawn-sleeper FILE   starts a sleeping child of its own, writes its pid to FILE, sleeps
//   pid-sleep FILE       writes its own pid to FILE, sleeps
//   fds FILE             writes its open descriptors above the standard three to FILE, ends
//   cmdline FILE         writes its command line to FILE, ends
//   cwd FILE             writes its current directory to FILE, ends
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/doubles/process_helper.h"

namespace {

// Written under a temporary name and renamed, so a test polling for the file reads it whole.
void writeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::remove(path.c_str());
    std::rename(temporary.c_str(), path.c_str());
}

[[noreturn]] void sleepFor(long milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string value = argc > 2 ? argv[2] : "";
    if (mode == "exit" && argc > 2) std::exit(static_cast<int>(std::stoul(value)));
    if (mode == "crash") orvik_helper::crash();
    if (mode == "sleep" && argc > 2) sleepFor(std::stol(value));
    if (mode == "stubborn" && argc > 2) {
        std::signal(SIGTERM, SIG_IGN);
        sleepFor(std::stol(value));
    }
    if (mode == "spawn-sleeper" && argc > 2) {
        const long pid = orvik_helper::startSleeper(argv[0]);
        if (pid < 0) return 3;
        writeFile(value, std::to_string(pid));
        sleepFor(600000);
    }
    if (mode == "pid-sleep" && argc > 2) {
        writeFile(value, std::to_string(orvik_helper::currentProcessId()));
        sleepFor(600000);
    }
    if (mode == "fds" && argc > 2) writeFile(value, orvik_helper::openDescriptors());
    else if (mode == "cmdline" && argc > 2) writeFile(value, orvik_helper::rawCommandLine(argc, argv));
    else if (mode == "cwd" && argc > 2) writeFile(value, orvik_helper::currentDirectory());
    else return 2;
    return 0;
}
