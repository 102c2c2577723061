// The words and texts of the connection states.
#include "app/connection/connection_state.h"

#include <QChar>

QString visualStateWord(ConnectionState state) {
    switch (state) {
    case ConnectionState::Off: return QStringLiteral("off");
    case ConnectionState::Seeking:
    case ConnectionState::Establishing:
    case ConnectionState::Confirming: return QStringLiteral("igniting");
    case ConnectionState::Lit: return QStringLiteral("lit");
    case ConnectionState::Extinguishing: return QStringLiteral("extinguishing");
    case ConnectionState::Fault: return QStringLiteral("fault");
    }
    return QStringLiteral("off");
}

QString statusTitleText(ConnectionState state, const QString& city, bool switching) {
    switch (state) {
    case ConnectionState::Off: return QStringLiteral("尚未连接");
    case ConnectionState::Seeking:
        return switching ? QStringLiteral("正在转向 %1").arg(city) : QStringLiteral("正在寻找 %1").arg(city);
    case ConnectionState::Establishing: return QStringLiteral("正在建立连接");
    case ConnectionState::Confirming: return QStringLiteral("正在确认网络");
    case ConnectionState::Lit: return QStringLiteral("已连接");
    case ConnectionState::Extinguishing: return QStringLiteral("正在断开");
    case ConnectionState::Fault: return QStringLiteral("未能抵达 %1").arg(city);
    }
    return {};
}

int stageIndexOf(ConnectionState state) {
    switch (state) {
    case ConnectionState::Seeking: return 0;
    case ConnectionState::Establishing: return 1;
    case ConnectionState::Confirming: return 2;
    default: return -1;
    }
}

bool isAttemptState(ConnectionState state) {
    return state == ConnectionState::Seeking || state == ConnectionState::Establishing ||
           state == ConnectionState::Confirming;
}

QString elapsedClockText(int seconds) {
    const QChar zero(u'0');
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, zero)
        .arg((seconds / 60) % 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
}

QString deviceRefusedText() { return QStringLiteral("这台电脑未能占用设备位。"); }

QString noAnswerText() { return QStringLiteral("目标节点没有在预期时间内回应。请重试或选择其他线路。"); }

QString restoredNoticeText(const QString& city) { return QStringLiteral("新线路未能连接，已恢复 %1").arg(city); }

QString adoptedNoticeText() { return QStringLiteral("已恢复当前隧道"); }

QString recoveredNoticeText() { return QStringLiteral("已重新连接"); }

QString lostTunnelText() { return QStringLiteral("隧道已中断"); }
