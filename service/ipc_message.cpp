#include "service/ipc_message.h"

#include <nlohmann/json.hpp>

#include "service/service_log.h"
#include "vpn/json_read.h"

namespace service {
namespace {

// Escaped, each byte takes at most six: the reply stays well below the frame limit.
constexpr size_t kMaxErrorBytes = 8192;


}  // namespace

Request parseRequest(const std::string& payload) {
    return {vpn::jsonString(payload, "op"), vpn::jsonString(payload, "node")};
}

std::string buildReply(bool ok, bool running, const std::string& error) {
    nlohmann::ordered_json reply;
    reply["ok"] = ok;
    reply["running"] = running;
    reply["error"] = utf8Prefix(error, kMaxErrorBytes);
    return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace service
