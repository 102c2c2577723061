#pragma once
// Child processes of the tunnel: short commands with a time-out, long-running processes held
// in a job that kills them when it closes, and the removal of stray tunnel processes.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/tunnel/command.h"

namespace tunnel {

// A watch on a process's end. Destroying it ends the watch; a call in progress finishes first.
class ExitWatch {
public:
    virtual ~ExitWatch() = default;
};

// A process launched in a job. Destroying the object releases its handles but does not end
// the process (closing the job does).
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    // True while the process has not exited.
    virtual bool isRunning() = 0;
    // Ends the process when it still runs and waits up to `waitMs` for it to be gone.
    virtual void terminate(int waitMs) = 0;
    // Calls `exited` once, on a thread of the watch's, when the process ends (at once when it
    // has). Linux: a poll on the process's pidfd; Windows: a wait on its handle. The watch
    // must end before the process object does.
    virtual std::unique_ptr<ExitWatch> watchExit(std::function<void()> exited) = 0;
};

// A group of processes that all end when the job is closed or destroyed, also when the
// service itself dies. Linux: each process leads a process group of its own and gets
// SIGKILL when the job's thread (started in the namespaces of the thread that creates the job)
// ends; close() sends SIGTERM to the groups, waits up to 200 ms, sends SIGKILL and reaps.
class Job {
public:
    virtual ~Job() = default;
    // Starts `executable` with `args` in `workingDirectory` (empty: inherit), inside the job
    // before it runs any code. On failure nothing is left running and `error` says why:
    // "CreateProcess failed for PATH err=N" (Linux: the errno of exec, 2 for a missing file),
    // "AssignProcessToJobObject failed", "ResumeThread failed", "job is closed", or a rejected
    // argument (checkCommand, command.h).
    virtual std::unique_ptr<ChildProcess> launch(const std::string& executable, const CommandArgs& args,
                                                 const std::string& workingDirectory, std::string& error) = 0;
    // Ends every process of the job. Safe to call repeatedly.
    virtual void close() = 0;
};

// How long the end of stray processes is waited for: they release the TUN adapter as they go.
inline constexpr int kStrayExitWaitMs = 300;

class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;
    // Runs `program` (found on the search path) and waits up to `timeoutMs` (negative: no
    // limit). True for exit code 0; otherwise "CreateProcess failed for: CMD err=N", "command
    // timed out: CMD" (the process is killed), "command exit CODE: CMD" (CODE unsigned), on
    // Linux "command killed by signal N: CMD", or a rejected argument (checkCommand, command.h).
    // CMD is commandLine(program, args, false).
    virtual bool runCommand(const std::string& program, const CommandArgs& args, int timeoutMs,
                            std::string& error) = 0;
    // A new empty job; null with "CreateJobObject failed" / "SetInformationJobObject failed".
    virtual std::unique_ptr<Job> createJob(std::string& error) = 0;
    // Ends every other process that runs one of `executables` (those very files) as the user
    // this process runs as (root, SYSTEM), and waits up to kStrayExitWaitMs for them to be
    // gone. A copy elsewhere, or the same file run by another user, is not ours to end.
    // Linux: /proc/PID/exe and the real uid; Windows: the image path (any case) and the
    // token's user.
    virtual void terminateStrays(const std::vector<std::string>& executables) = 0;
};

std::unique_ptr<ProcessRunner> makeProcessRunner();

}  // namespace tunnel
