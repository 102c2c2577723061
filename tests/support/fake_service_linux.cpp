#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "tests/support/fake_service.h"

namespace orvik_test {

// The socket file appears at bind; listen follows within microseconds.
bool fakePipeListening(const std::string& pipe) {
    struct stat info;
    if (::stat(pipe.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

}  // namespace orvik_test
