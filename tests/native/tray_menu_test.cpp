// What the tray shows for each connection state: the rows are tried in order, so a tunnel
// that is up or coming up is shown even when the session has gone, and a lost session wins
// over a failed attempt. The menu's items follow the status and the quit.
#include <gtest/gtest.h>

#include "app/native/tray_menu.h"

namespace {

struct StatusCase {
    const char* state;
    bool session;
    bool quitting;
    const char* toolTip;
    const char* actionLabel;
    bool actionEnabled;
};

TEST(TrayMenu, StatusFollowsTheFirstMatchingState) {
    const StatusCase cases[] = {
        {"lit", false, false, "Velora · 已连接 · 东京", "结束连接", true},
        {"igniting", false, false, "Velora · 正在连接 · 东京", "取消连接", true},
        {"extinguishing", true, false, "Velora · 正在断开", "正在断开", false},
        {"fault", false, false, "Velora · 未登录", "登录后连接", true},
        {"fault", true, false, "Velora · 连接未完成", "重新连接", true},
        {"off", true, false, "Velora · 未连接", "开始连接", true},
        {"lit", true, true, "Velora · 已连接 · 东京", "结束连接", false},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(std::string(c.state) + (c.session ? " with session" : " without session") +
                     (c.quitting ? " quitting" : ""));
        const tray::Status status = tray::statusFor(c.state, "东京", c.session, c.quitting);
        EXPECT_EQ(status.toolTip, c.toolTip);
        EXPECT_EQ(status.actionLabel, c.actionLabel);
        EXPECT_EQ(status.actionEnabled, c.actionEnabled);
        const std::vector<tray::MenuItem> items = tray::menuItems(status, c.quitting);
        ASSERT_EQ(items.size(), 4u);
        EXPECT_EQ(items[0].id, tray::kShowWindow);
        EXPECT_TRUE(items[0].enabled);
        EXPECT_EQ(items[1].id, tray::kPrimaryAction);
        EXPECT_EQ(items[1].text, status.actionLabel);
        EXPECT_EQ(items[1].enabled, c.actionEnabled);
        EXPECT_EQ(items[2].id, 0u);
        EXPECT_EQ(items[3].id, tray::kQuit);
        EXPECT_EQ(items[3].enabled, !c.quitting);
    }
}

}  // namespace
