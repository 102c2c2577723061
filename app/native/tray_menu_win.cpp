#include "app/native/tray_menu_win.h"

#include "vpn/text_win.h"

namespace tray {

HMENU createPopupMenu(const std::vector<MenuItem>& items) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    for (const MenuItem& item : items) {
        if (item.id == 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        const std::wstring text = vpn::widen(item.text);
        AppendMenuW(menu, MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED), item.id, text.c_str());
    }
    return menu;
}

unsigned trackPopupMenu(HWND owner, const std::vector<MenuItem>& items) {
    HMENU menu = createPopupMenu(items);
    if (!menu) return 0;
    // The owner must be in front, or the menu does not close when the user clicks elsewhere.
    SetForegroundWindow(owner);
    POINT cursor{};
    GetCursorPos(&cursor);
    const BOOL chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_BOTTOMALIGN | TPM_RIGHTALIGN,
                                       cursor.x, cursor.y, 0, owner, nullptr);
    // A posted message lets the owner's queue notice that the menu has gone.
    PostMessageW(owner, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return chosen > 0 ? static_cast<unsigned>(chosen) : 0;
}

}  // namespace tray
