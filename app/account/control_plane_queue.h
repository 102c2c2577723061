#pragma once
// One call into the control plane at a time, in the order the calls were asked for. The
// control plane is not thread-safe and a sign-in or sign-out must not overlap any other
// call; first-come order also keeps a sign-out ahead of a sign-in requested after it.

#include <condition_variable>
#include <cstdint>
#include <mutex>

class ControlPlaneQueue {
public:
    // Takes the next place in line; cheap, never blocks. Every place taken must be served
    // by exactly one Turn, or the calls behind it wait for ever.
    uint64_t enqueue();

    // Holds the control plane for the place `ticket`, waiting until the places before it
    // are done; released when it goes out of scope.
    class Turn {
    public:
        Turn(ControlPlaneQueue& queue, uint64_t ticket);
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        ControlPlaneQueue& queue_;
    };

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t nextTicket_ = 0;
    uint64_t serving_ = 0;
};
