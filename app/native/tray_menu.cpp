#include "app/native/tray_menu.h"

namespace tray {

Status statusFor(std::string_view visualState, std::string_view city, bool sessionAllowed, bool quitting) {
    const std::string place(city);
    Status status{"Velora · 未连接", "开始连接", !quitting};
    // The rows are tried in order: a tunnel that is up or coming up wins over a lost session.
    if (visualState == "lit") {
        status.toolTip = "Velora · 已连接 · " + place;
        status.actionLabel = "结束连接";
    } else if (visualState == "igniting") {
        status.toolTip = "Velora · 正在连接 · " + place;
        status.actionLabel = "取消连接";
    } else if (visualState == "extinguishing") {
        status.toolTip = "Velora · 正在断开";
        status.actionLabel = "正在断开";
        status.actionEnabled = false;
    } else if (!sessionAllowed) {
        status.toolTip = "Velora · 未登录";
        status.actionLabel = "登录后连接";
    } else if (visualState == "fault") {
        status.toolTip = "Velora · 连接未完成";
        status.actionLabel = "重新连接";
    }
    return status;
}

std::vector<MenuItem> menuItems(const Status& status, bool quitting) {
    return {{kShowWindow, "显示窗口", true},
            {kPrimaryAction, status.actionLabel, status.actionEnabled},
            {0, {}, true},
            {kQuit, "退出", !quitting}};
}

}  // namespace tray
