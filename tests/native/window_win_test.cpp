// The Win32 side of the tray and the frameless window, on real windows: the frame styles, the
// message decisions, the native menu read back item by item, and raising a window by title.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <tuple>

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

struct DecideCase {
    const char* name;
    bool toOtherWindow;
    UINT message;
    WPARAM wParam;
    frame::Decision decision;
};

TEST(WindowFrameWin, DecidesByMessage) {
    using frame::Decision;
    const DecideCase cases[] = {
        {"minimise with low bits", false, WM_SYSCOMMAND, SC_MINIMIZE | 2, Decision::minimize},
        {"other command", false, WM_SYSCOMMAND, SC_MAXIMIZE, Decision::pass},
        {"other window", true, WM_NCCALCSIZE, 0, Decision::pass},
    };
    TestWindow window;
    TestWindow other;
    ASSERT_NE(window.get(), nullptr);
    ASSERT_NE(other.get(), nullptr);
    for (const DecideCase& c : cases) {
        SCOPED_TRACE(c.name);
        MSG message{};
        message.hwnd = c.toOtherWindow ? other.get() : window.get();
        message.message = c.message;
        message.wParam = c.wParam;
        EXPECT_EQ(frame::decide(window.get(), message), c.decision);
    }
}

// The frame messages answered as the client's tray host answers them.
LRESULT CALLBACK framelessProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (frame::decide(window, MSG{window, message, wParam, lParam, 0, {}}) == frame::Decision::clientArea)
        return frame::calculateClientArea(window, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

// The frame styles are added to the window's own, and the caption among them draws no strip: the
// client area is the whole window, and while maximised exactly the monitor's work area, which the
// system's maximised frame overhangs.
TEST(WindowFrameWin, TheAddedFrameStylesDrawNothingNormalOrMaximised) {
    TestWindow window;
    ASSERT_NE(window.get(), nullptr) << "no window driver (wine_prepare selects the null one)";
    SetWindowLongPtrW(window.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(framelessProc));
    frame::applyNativeFrameStyles(window.get());
    const LONG_PTR added = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    EXPECT_EQ(GetWindowLongPtrW(window.get(), GWL_STYLE) & (added | WS_POPUP), added | WS_POPUP);
    MONITORINFO monitor{sizeof(MONITORINFO), {}, {}, 0};
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window.get(), MONITOR_DEFAULTTONEAREST), &monitor));
    for (const int show : {SW_HIDE, SW_MAXIMIZE, SW_RESTORE}) {
        ShowWindow(window.get(), show);
        RECT client{}, bounds{};
        GetClientRect(window.get(), &client);
        MapWindowPoints(window.get(), nullptr, reinterpret_cast<POINT*>(&client), 2);
        GetWindowRect(window.get(), &bounds);
        const RECT& expected = show == SW_MAXIMIZE ? monitor.rcWork : bounds;
        EXPECT_EQ(std::tuple(client.left, client.top, client.right, client.bottom),
                  std::tuple(expected.left, expected.top, expected.right, expected.bottom)) << "ShowWindow " << show;
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
