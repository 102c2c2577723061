#include "service/service_log.h"

#include <cstdio>

namespace service {

void ServiceLog::setPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
}

void ServiceLog::write(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (echo_) {
        std::fwrite(message.data(), 1, message.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (!path_.empty()) appendLogLine(path_, message);
}

std::string logSafe(const std::string& text) {
    std::string safe = text;
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return safe;
}

}  // namespace service
