// The Win32 side of the tray and the frameless window, on real windows: the frame styles, the
// message decisions, the native menu read back item by item, and raising a window by title.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/native/raise_window.h"
#include "app/native/tray_menu_win.h"
#include "app/native/window_frame_win.h"
#include "vpn/text_win.h"

namespace {

// A hidden top-level popup window, destroyed with the object.
class TestWindow {
public:
    explicit TestWindow(const std::string& title = "Orvik window test") {
        static const ATOM windowClass = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"OrvikWindowTest";
            return RegisterClassW(&wc);
        }();
        if (windowClass)
            hwnd_ = CreateWindowExW(0, L"OrvikWindowTest", vpn::widen(title).c_str(), WS_POPUP, 10, 10, 300, 200,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~TestWindow() {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

TEST(WindowFrameWin, AddsTheNativeFrameStylesAndKeepsTheOthers) {
    TestWindow window;
    ASSERT_NE(window.get(), nullptr) << "no window driver (wine_prepare selects the null one)";
    const LONG_PTR before = GetWindowLongPtrW(window.get(), GWL_STYLE);
    frame::applyNativeFrameStyles(window.get());
    const LONG_PTR after = GetWindowLongPtrW(window.get(), GWL_STYLE);
    const LONG_PTR added = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    EXPECT_EQ(after & added, added);
    EXPECT_EQ(after & before, before);
    EXPECT_NE(before & WS_POPUP, 0);
}

struct DecideCase {
    const char* name;
    bool maximised;
    bool toOtherWindow;
    UINT message;
    WPARAM wParam;
    frame::Decision decision;
};

TEST(WindowFrameWin, DecidesByMessageAndWindowState) {
    using frame::Decision;
    const DecideCase cases[] = {
        // Normal rows first: the window is maximised for the last one.
        {"frame calculation", false, false, WM_NCCALCSIZE, 0, Decision::clientAreaOnly},
        {"minimise with low bits", false, false, WM_SYSCOMMAND, SC_MINIMIZE | 2, Decision::minimize},
        {"other command", false, false, WM_SYSCOMMAND, SC_MAXIMIZE, Decision::pass},
        {"other window", false, true, WM_NCCALCSIZE, 0, Decision::pass},
        {"frame calculation, maximised", true, false, WM_NCCALCSIZE, 0, Decision::pass},
    };
    TestWindow window;
    TestWindow other;
    ASSERT_NE(window.get(), nullptr);
    ASSERT_NE(other.get(), nullptr);
    frame::applyNativeFrameStyles(window.get());
    for (const DecideCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.maximised && !IsZoomed(window.get())) ShowWindow(window.get(), SW_MAXIMIZE);
        ASSERT_EQ(IsZoomed(window.get()) != FALSE, c.maximised);
        MSG message{};
        message.hwnd = c.toOtherWindow ? other.get() : window.get();
        message.message = c.message;
        message.wParam = c.wParam;
        EXPECT_EQ(frame::decide(window.get(), message), c.decision);
    }
}

TEST(TrayMenuWin, PopupMenuHoldsTheItemsInOrder) {
    const std::vector<tray::MenuItem> items = {
        {tray::kShowWindow, "显示窗口", true},
        {tray::kPrimaryAction, "正在断开", false},
        {0, {}, true},
        {tray::kQuit, "Quit Velora", true},
    };
    HMENU menu = tray::createPopupMenu(items);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(items.size()));
    for (UINT position = 0; position < items.size(); ++position) {
        const tray::MenuItem& item = items[position];
        SCOPED_TRACE(position);
        const UINT state = GetMenuState(menu, position, MF_BYPOSITION);
        EXPECT_EQ(GetMenuItemID(menu, static_cast<int>(position)), item.id);
        EXPECT_EQ((state & MF_SEPARATOR) != 0, item.id == 0);
        if (item.id == 0) continue;  // the system reports separators as grayed
        EXPECT_EQ((state & MF_GRAYED) != 0, !item.enabled);
        wchar_t text[64] = {};
        const int length = GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
        EXPECT_EQ(vpn::narrow(text, length), item.text);
    }
    DestroyMenu(menu);
}

TEST(RaiseWindowWin, RestoresTheWindowWithTheTitle) {
    const std::string title = "Velora 测试 " + std::to_string(GetCurrentProcessId());
    TestWindow window(title);
    ASSERT_NE(window.get(), nullptr);
    ShowWindow(window.get(), SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(window.get()));
    EXPECT_TRUE(desktop::raiseWindowTitled(title));
    EXPECT_FALSE(IsIconic(window.get()));
    EXPECT_FALSE(desktop::raiseWindowTitled(title + " (none)"));
}

}  // namespace
