#pragma once
// Brings another process's top-level window forward by its title.

#include <string>

namespace desktop {

// Restores and focuses the top-level window titled `title` (UTF-8). Returns whether one was
// found. On Linux the running client raises itself when knocked on, so nothing is searched.
bool raiseWindowTitled(const std::string& title);

}  // namespace desktop
