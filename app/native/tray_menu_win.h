#pragma once
// The tray's context menu as a native Win32 popup menu.

#include <windows.h>

#include <vector>

#include "app/native/tray_menu.h"

namespace tray {

// A popup menu holding the items in order (grayed where not enabled); the caller destroys it.
HMENU createPopupMenu(const std::vector<MenuItem>& items);

// Shows the menu at the cursor, owned by `owner`, and returns the chosen item's id (0: none).
unsigned trackPopupMenu(HWND owner, const std::vector<MenuItem>& items);

}  // namespace tray
