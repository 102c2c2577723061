#pragma once
// What the tray shows for the connection: the tooltip and the menu's items. Shared by the
// native Windows menu and the Qt menu on Linux, so both offer the same items, ids and graying.

#include <string>
#include <string_view>
#include <vector>

namespace tray {

enum MenuId : unsigned { kShowWindow = 1, kPrimaryAction = 2, kQuit = 3 };

struct Status {
    std::string toolTip;
    std::string actionLabel;  // the second item: what the main button would do now
    bool actionEnabled = true;
};

struct MenuItem {
    unsigned id = 0;  // 0: a separator
    std::string text;
    bool enabled = true;
};

// From the controller's visual state ("off", "igniting", "lit", "extinguishing", "fault"),
// the selected route's city and whether a session exists.
Status statusFor(std::string_view visualState, std::string_view city, bool sessionAllowed, bool quitting);
std::vector<MenuItem> menuItems(const Status& status, bool quitting);

}  // namespace tray
