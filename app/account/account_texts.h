#pragma once
// The membership texts of the header and the account popover, and the days left on a plan.

#include <QDate>
#include <QString>

namespace account_texts {

inline QString membershipTier(bool signedIn, bool active) {
    if (!signedIn) return QStringLiteral("未登录");
    return active ? QStringLiteral("PRO") : QStringLiteral("未开通");
}

inline QString remainingLabel(bool signedIn, bool active, int remainingDays, const QString& expiry) {
    if (!signedIn) return QStringLiteral("尚未登录");
    if (active) {
        if (remainingDays < 0) return QStringLiteral("长期有效");
        return QStringLiteral("剩余 %1 天").arg(remainingDays);
    }
    return expiry.isEmpty() ? QStringLiteral("尚未开通套餐") : QStringLiteral("会员已到期");
}

// Beside the tier in the header's badge: signed out the tier ("未登录") says it all.
inline QString badgeLabel(bool signedIn, bool active, int remainingDays, const QString& expiry) {
    return signedIn ? remainingLabel(signedIn, active, remainingDays, expiry) : QString();
}

// The account popover's "剩余时间": a plan that never was has not expired either.
inline QString remainingTimeLabel(bool signedIn, bool active, int remainingDays, const QString& expiry) {
    if (signedIn && active) return remainingLabel(signedIn, active, remainingDays, expiry);
    return signedIn && !expiry.isEmpty() ? QStringLiteral("已到期") : QStringLiteral("—");
}

// Days from `today` to the date that `expiry` begins with ("yyyy-MM-dd...", negative when
// past); -1 (no end date) for a text shorter than a date; 0 when it is not a date.
inline int remainingDays(const QString& expiry, const QDate& today) {
    if (expiry.size() < 10) return -1;
    const QDate end = QDate::fromString(expiry.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!end.isValid()) return 0;
    return static_cast<int>(today.daysTo(end));
}

}  // namespace account_texts
