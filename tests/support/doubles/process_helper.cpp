// A small program the process runner tests start in place of real commands:
//   exit CODE            ends with CODE (unsigned, e.g. 3221225477)
//   crash                ends like a crashed program
//   sleep MS             sleeps, then ends with 0
//   spawn-sleeper FILE   starts a sleeping child, writes its pid to FILE, sleeps
//   pid-sleep FILE       writes its own pid to FILE, sleeps
//   stubborn FILE        ignores SIGTERM, then as pid-sleep
//   fds / cmdline FILE   writes its open descriptors or command line to FILE
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/support/doubles/process_helper.h"

namespace {

// Written under a temporary name and renamed, so a test waiting for the file reads it whole.
void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path + ".part", std::ios::binary) << text;
    std::remove(path.c_str());
    std::rename((path + ".part").c_str(), path.c_str());
}

[[noreturn]] void sleepFor(long milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    if (mode == "crash") orvik_helper::crash();
    if (argc < 3) return 2;
    const std::string value = argv[2];
    if (mode == "exit") std::exit(static_cast<int>(std::stoul(value)));
    if (mode == "stubborn") std::signal(SIGTERM, SIG_IGN);
    if (mode == "sleep") sleepFor(std::stol(value));
    if (mode == "spawn-sleeper" || mode == "pid-sleep" || mode == "stubborn") {
        const long pid =
            mode == "spawn-sleeper" ? orvik_helper::startSleeper(argv[0]) : orvik_helper::currentProcessId();
        if (pid < 0) return 3;
        writeFile(value, std::to_string(pid));
        sleepFor(600000);
    }
    if (mode == "fds") writeFile(value, orvik_helper::openDescriptors());
    else if (mode == "cmdline") writeFile(value, orvik_helper::rawCommandLine(argc, argv));
    else return 2;
    return 0;
}
