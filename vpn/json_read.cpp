// STUB: to be written
#include "vpn/json_read.h"

namespace vpn {

std::string jsonString(const std::string&, const std::string&) { return {}; }
int64_t jsonInt(const std::string&, const std::string&, int64_t f) { return f; }
bool jsonOptionalInt(const std::string&, const std::string&, int64_t&) { return false; }
bool jsonFlag(const std::string&, const std::string&) { return false; }
std::string jsonObject(const std::string&, const std::string&) { return {}; }
std::vector<std::string> jsonObjectArray(const std::string&, const std::string&) { return {}; }
std::string jsonDataObject(const std::string& t) { return t; }

}  // namespace vpn
