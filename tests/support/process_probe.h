#pragma once
// Looks at processes by id from tests (to see that a grandchild really ended), and waits for
// what a helper process does, with a deadline.

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace orvik_test {

// True when the process `pid` has ended within `timeoutMs` (an ended child or grandchild
// of ours is reaped on the way, so no zombie stays behind).
bool waitProcessGone(long pid, int timeoutMs);

// Makes this process the reaper of its orphaned descendants (Linux; no-op on Windows), so
// that tests can see their grandchildren end.
void becomeSubreaper();

// True once `done()` holds, false when it still does not after `timeoutMs`.
template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The content of a file a helper process writes (whole, under a temporary name, then renamed)
// once it is there; "" when it is not within `timeoutMs`. Under wine the renamed file can
// refuse a reader for a moment, so this waits for content rather than for the name.
inline std::string readWhenWritten(const std::string& path, int timeoutMs = 10000) {
    std::string content;
    waitUntil([&] {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return !(content = text.str()).empty();
    }, timeoutMs);
    return content;
}

}  // namespace orvik_test
