#include "service/pipe_server.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "vpn/state_location.h"

namespace service {
namespace {

constexpr auto kCreateRetryPause = std::chrono::milliseconds(500);
// How often a server with every slot taken looks at the stop flag.
constexpr auto kSlotWaitSlice = std::chrono::milliseconds(100);

// Counts the connections being served, so that the loop can wait for a free slot and, at the
// end, for the last one to finish before the tunnel is stopped.
class ClientSlots {
public:
    // Waits for a free slot and takes it; false when the stop flag was set first.
    bool acquire(const std::atomic<bool>& stopRequested) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (busy_ >= kMaxConcurrentClients) {
            if (stopRequested) return false;
            changed_.wait_for(lock, kSlotWaitSlice);
        }
        ++busy_;
        return true;
    }

    // Counts the connection against its user; false, counting nothing, when that user already
    // has kMaxClientsPerUser. Callers of unknown users count only in the total.
    bool admit(const Caller& caller) {
        if (!caller.known) return true;
        std::lock_guard<std::mutex> lock(mutex_);
        int& held = perUser_[caller.userId];
        if (held >= kMaxClientsPerUser) return false;
        ++held;
        return true;
    }

    // The last thing a connection's thread does (an admitted caller's slots, or the total's
    // alone for Caller{}). The notice goes out under the lock: once it is released, the loop
    // may return and this object be gone.
    void release(const Caller& caller) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (caller.known && --perUser_[caller.userId] == 0) perUser_.erase(caller.userId);
        --busy_;
        changed_.notify_all();
    }

    void waitUntilIdle() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return busy_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int busy_ = 0;
    std::map<uint32_t, int> perUser_;  // at most kMaxConcurrentClients entries
};

// Serves one connection on a thread of its own, so that a client that takes its time (up to
// its deadline) delays nobody else. A "shutdown" that ended the service wakes the loop, which
// is waiting for the next client meanwhile.
void serveDetached(std::unique_ptr<ByteStream> connection, const Caller& caller, const std::string& runtimeDirectory,
                   RequestContext& context, PipeListener& listener, ClientSlots& slots) {
    std::thread([connection = std::move(connection), caller, &runtimeDirectory, &context, &listener, &slots]() mutable {
        if (caller.known) {
            const std::string taken = vpn::claimUserFolder(runtimeDirectory, caller.userId, caller.groupId);
            if (!taken.empty()) context.log.write(taken);
        }
        handleRequest(*connection, caller, context);
        connection.reset();
        if (context.stopRequested) listener.wake();
        slots.release(caller);
    }).detach();
}

}  // namespace

bool runPipeServer(const std::string& runtimeDirectory, PipeListener& listener, RequestContext& context) {
    setCurrentDirectory(runtimeDirectory);
    ClientSlots slots;
    bool nameHeld = true;
    while (!context.stopRequested && nameHeld) {
        if (!slots.acquire(context.stopRequested)) break;
        std::unique_ptr<ByteStream> connection;
        Caller caller;
        const PipeListener::Result result = listener.accept(connection, caller);
        // A stop request's own wake-up connection arrives with the flag already set.
        if (result == PipeListener::Result::connected && !context.stopRequested) {
            if (slots.admit(caller)) {
                serveDetached(std::move(connection), caller, runtimeDirectory, context, listener, slots);
                continue;
            }
            connection.reset();  // that user's fifth: closed unread
            context.log.writeFor(caller.userId, "ipc refused: " + caller.user + " has " +
                                                    std::to_string(kMaxClientsPerUser) + " connections open");
        }
        slots.release({});
        nameHeld = result != PipeListener::Result::nameTaken;
        if (result == PipeListener::Result::pause && !context.stopRequested)
            std::this_thread::sleep_for(kCreateRetryPause);
    }
    // The first stop also ends node fetches in progress, so that no connect keeps the service;
    // the second takes down what a connect that was already past its fetch put up.
    context.engine.stop();
    slots.waitUntilIdle();
    context.engine.stop();
    return nameHeld;
}

}  // namespace service
