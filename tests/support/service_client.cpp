#include "tests/support/service_client.h"

#include <cstdint>

namespace orvik_test {

std::string frame(const std::string& payload) {
    const auto length = static_cast<uint32_t>(payload.size());
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((length >> shift) & 0xFF);
    return bytes + payload;
}

std::optional<std::string> unframe(const std::string& bytes) {
    if (bytes.size() < 4) return std::nullopt;
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
    if (bytes.size() != 4 + static_cast<size_t>(length)) return std::nullopt;
    return bytes.substr(4);
}

std::optional<std::string> request(const std::string& pipe, const std::string& payload, int timeoutMs) {
    ServiceClient client(pipe);
    if (!client.connected() || !client.send(frame(payload))) return std::nullopt;
    const std::optional<std::string> received = client.receiveUntilClosed(timeoutMs);
    if (!received) return std::nullopt;
    return unframe(*received);
}

}  // namespace orvik_test
