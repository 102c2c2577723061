#include "service/ipc_message.h"

#include <nlohmann/json.hpp>

#include "vpn/json_read.h"

namespace service {
namespace {

// Escaped, each byte takes at most six: the reply stays well below the frame limit.
constexpr size_t kMaxErrorBytes = 8192;

// Cuts at a character boundary so that no partial UTF-8 sequence is left at the end.
std::string shortened(const std::string& text) {
    if (text.size() <= kMaxErrorBytes) return text;
    size_t end = kMaxErrorBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

Request parseRequest(const std::string& payload) {
    return {vpn::jsonString(payload, "op"), vpn::jsonString(payload, "node")};
}

std::string buildReply(bool ok, bool running, const std::string& error) {
    nlohmann::ordered_json reply;
    reply["ok"] = ok;
    reply["running"] = running;
    reply["error"] = shortened(error);
    return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace service
