// STUB: to be written
#include "vpn/files.h"

namespace vpn {

bool readWholeFile(const std::string&, std::string&) { return false; }
bool writeFileAtomically(const std::string&, const std::string&) { return false; }
bool removeFile(const std::string&) { return false; }
bool isRegularFile(const std::string&) { return false; }

}  // namespace vpn
