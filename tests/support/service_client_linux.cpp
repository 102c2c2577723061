#include <fstream>

#include "tests/support/service_client.h"

namespace orvik_test {

// A listening socket shows in /proc/net/unix with the flag __SO_ACCEPTCON (00010000) before
// its path; the file alone appears at bind, before the listen.
bool pipeListening(const std::string& pipe) {
    std::ifstream table("/proc/thread-self/net/unix");  // this thread's namespace
    std::string line;
    while (std::getline(table, line)) {
        if (line.size() > pipe.size() && line.compare(line.size() - pipe.size() - 1, std::string::npos, " " + pipe) == 0 &&
            line.find(" 00010000 ") != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace orvik_test
