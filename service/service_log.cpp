#include "service/service_log.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace service {
namespace {

constexpr auto kRateWindow = std::chrono::minutes(1);
constexpr int kRateLimitedLinesPerWindow = 10;
// Allowances kept at once; idle ones are forgotten first, and past it the users share one.
constexpr size_t kTrackedUsers = 64;
constexpr uint32_t kSharedAllowance = 0xFFFFFFFF;

}  // namespace

void ServiceLog::setPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
}

void ServiceLog::write(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeLocked(message);
}

void ServiceLog::writeRateLimited(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = now_();
    if (now - windowStart_ >= kRateWindow) {
        windowStart_ = now;
        windowLines_ = 0;
    }
    if (windowLines_ >= kRateLimitedLinesPerWindow) {
        ++dropped_;
        return;
    }
    ++windowLines_;
    if (dropped_ > 0) {
        writeLocked("(" + std::to_string(dropped_) + " similar lines dropped)");
        dropped_ = 0;
    }
    writeLocked(message);
}

void ServiceLog::writeFor(uint32_t userId, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = now_();
    Allowance& allowance = allowanceOf(userId, now);
    if (allowance.next - now > (kUserLineBurst - 1) * kUserLineInterval) {
        ++allowance.dropped;
        return;
    }
    allowance.next = std::max(allowance.next, now) + kUserLineInterval;
    if (allowance.dropped > 0) {
        writeLocked("(" + std::to_string(allowance.dropped) + " lines of user " + std::to_string(userId) +
                    " dropped)");
        allowance.dropped = 0;
    }
    writeLocked(message);
}

ServiceLog::Allowance& ServiceLog::allowanceOf(uint32_t userId, Clock::time_point now) {
    if (users_.size() >= kTrackedUsers && users_.count(userId) == 0) {
        for (auto entry = users_.begin(); entry != users_.end();) {
            const bool idle = entry->second.next <= now && entry->second.dropped == 0;
            entry = idle ? users_.erase(entry) : std::next(entry);
        }
        if (users_.size() >= kTrackedUsers) userId = kSharedAllowance;
    }
    return users_[userId];
}

void ServiceLog::writeLocked(const std::string& message) {
    if (echo_) {
        std::fwrite(message.data(), 1, message.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (!path_.empty()) appendLogLine(path_, message);
}

std::string utf8Prefix(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string logSafe(const std::string& text, size_t maxBytes) {
    std::string safe = text.size() <= maxBytes ? text : utf8Prefix(text, maxBytes) + "...";
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return safe;
}

}  // namespace service
