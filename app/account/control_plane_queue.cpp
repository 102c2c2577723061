#include "app/account/control_plane_queue.h"

uint64_t ControlPlaneQueue::enqueue() {
    std::lock_guard<std::mutex> lock(mutex_);
    return nextTicket_++;
}

ControlPlaneQueue::Turn::Turn(ControlPlaneQueue& queue, uint64_t ticket) : queue_(queue) {
    std::unique_lock<std::mutex> lock(queue_.mutex_);
    queue_.changed_.wait(lock, [&] { return queue_.serving_ == ticket; });
}

ControlPlaneQueue::Turn::~Turn() {
    {
        std::lock_guard<std::mutex> lock(queue_.mutex_);
        ++queue_.serving_;
    }
    queue_.changed_.notify_all();
}
