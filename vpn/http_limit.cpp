#include "vpn/http.h"

namespace vpn {
namespace {

thread_local HttpLimit* active = nullptr;

}  // namespace

HttpLimit::HttpLimit(Clock::time_point deadline, std::function<bool()> cancelled)
    : deadline_(deadline), cancelled_(std::move(cancelled)), outer_(active) {
    active = this;
}

HttpLimit::~HttpLimit() { active = outer_; }

const HttpLimit* HttpLimit::current() { return active; }

bool HttpLimit::spent() const { return Clock::now() >= deadline_ || (cancelled_ && cancelled_()); }

bool HttpLimit::reached() { return active != nullptr && active->spent(); }

long HttpLimit::remainingMs(long fallback) {
    if (active == nullptr) return fallback;
    if (active->spent()) return 0;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(active->deadline_ - Clock::now()).count();
    return left < fallback ? static_cast<long>(left) : fallback;
}

}  // namespace vpn
