#pragma once
// fork/exec of one child with an argument vector (never a shell), shared by the command
// runner and the job. The child gets its own process group, a parent-death SIGKILL, /dev/null
// as standard input and output, default signal handling, and none of our other descriptors.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tunnel::linux_process {

struct SpawnRequest {
    std::string file;       // executable path, or a program name looked up on PATH
    bool searchPath = false;
    std::vector<std::string> argv;
    std::string workingDirectory;  // empty: inherit
};

struct Spawned {
    pid_t pid = -1;
    int pidfd = -1;  // -1 when the kernel has no pidfd_open
};

// 0 when the program runs; otherwise the errno of the failure (fork, chdir or exec, as the
// child reported it through a close-on-exec pipe), and nothing is left running.
int spawn(const SpawnRequest& request, Spawned& child);

// Waits up to `timeoutMs` (negative: forever) for the child to exit, without reaping it.
bool waitForExit(const Spawned& child, int timeoutMs);

// True while the child has not exited (it is never reaped here).
bool isAlive(const Spawned& child);

// Sends `signal` to the child itself (through its pidfd when there is one).
void signalProcess(const Spawned& child, int signal);

// Collects the child's exit status (blocks until it has exited).
int reap(pid_t pid);

// Opens a pidfd for any process; -1 on failure.
int openPidfd(pid_t pid);

// Closes `fd` when it is valid.
void closeDescriptor(int fd);

}  // namespace tunnel::linux_process
