#pragma once
// Interface names that may be handed to a command (resolvectl, resolvconf) as one argument.

#include <string>

namespace tunnel {

// 1 to 15 characters (IFNAMSIZ - 1) of letters, digits, '.', '_' and '-', not starting with
// '-' (it would read as an option) or '.'. The kernel allows more; such names are refused
// rather than passed on.
inline bool isCommandSafeInterfaceName(const std::string& name) {
    if (name.empty() || name.size() > 15 || name[0] == '-' || name[0] == '.') return false;
    for (char c : name) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '.' && c != '_' && c != '-') return false;
    }
    return true;
}

}  // namespace tunnel
