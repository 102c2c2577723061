// The plan shop, order placement, the payment page, the order's follow-up and the quiet
// node sync.
#include <QVariantMap>

#include <algorithm>
#include <limits>

#include "app/account/account_controller.h"
#include "app/account/account_worker.h"

namespace {

QString textOr(const std::string& text, const QString& fallback) {
    return text.empty() ? fallback : QString::fromStdString(text);
}

QVariantMap planRow(const vpn::PlanOffer& offer) {
    const int64_t limit = std::clamp<int64_t>(offer.deviceLimit, std::numeric_limits<int>::min(),
                                              std::numeric_limits<int>::max());
    QVariantMap row;
    row.insert(QStringLiteral("id"), offer.planId);
    row.insert(QStringLiteral("name"), QString::fromStdString(offer.planName));
    row.insert(QStringLiteral("period"), QString::fromStdString(offer.periodKey));
    row.insert(QStringLiteral("periodLabel"), QString::fromStdString(offer.periodLabel));
    row.insert(QStringLiteral("durationLabel"), QString::fromStdString(offer.periodText));
    row.insert(QStringLiteral("dailyLabel"), QString::fromStdString(offer.perDayText));
    row.insert(QStringLiteral("badge"), QString::fromStdString(offer.badge));
    row.insert(QStringLiteral("priceLabel"), QString::fromStdString(offer.priceText));
    row.insert(QStringLiteral("trafficLabel"), QString::fromStdString(offer.transferText));
    row.insert(QStringLiteral("deviceLimit"), static_cast<int>(limit));
    return row;
}

// Only web pages are handed to the desktop: the address comes from the panel, and another
// scheme could start any program registered for it.
bool isWebPage(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

}  // namespace

void AccountController::loadShop() {
    if (!controlPlane_ || shopBusy_) return;
    shopBusy_ = true;
    setShopMessage({});
    emit shopChanged();
    runOperation<std::vector<vpn::PlanOffer>>(
        [](vpn::ControlPlane& plane) {
            Outcome<std::vector<vpn::PlanOffer>> outcome;
            outcome.ok = plane.fetchPlans(outcome.record, outcome.error);
            return outcome;
        },
        [this](const Outcome<std::vector<vpn::PlanOffer>>& outcome) { applyPlans(outcome); });
}

void AccountController::applyPlans(const Outcome<std::vector<vpn::PlanOffer>>& outcome) {
    shopBusy_ = false;
    shopPlans_.clear();
    if (outcome.ok) {
        for (const vpn::PlanOffer& offer : outcome.record) shopPlans_.append(planRow(offer));
    } else {
        setShopMessage(textOr(outcome.error, QStringLiteral("无法读取套餐")));
    }
    emit shopChanged();
}

void AccountController::buyPlan(int planId, const QString& period) {
    if (!controlPlane_ || shopBusy_ || planId < 1 || period.isEmpty()) return;
    stopWaitingForPayment();
    shopBusy_ = true;
    setShopMessage(QStringLiteral("正在下单…"));
    emit shopChanged();
    const std::string periodKey = period.toStdString();
    runOperation<vpn::CheckoutResult>(
        [planId, periodKey](vpn::ControlPlane& plane) {
            Outcome<vpn::CheckoutResult> outcome;
            outcome.ok = plane.buyPlan(planId, periodKey, outcome.record, outcome.error);
            return outcome;
        },
        [this](const Outcome<vpn::CheckoutResult>& outcome) { applyOrder(outcome); });
}

void AccountController::applyOrder(const Outcome<vpn::CheckoutResult>& outcome) {
    shopBusy_ = false;
    if (!outcome.ok) {
        setShopMessage(textOr(outcome.error, QStringLiteral("购买失败")));
        emit shopChanged();
        return;
    }
    const vpn::CheckoutResult& result = outcome.record;
    if (result.activated) {
        setShopMessage(QString::fromStdString(result.message));
        emit shopChanged();
        refresh(true);
        return;
    }
    pendingTradeNo_ = QString::fromStdString(result.tradeNo);
    const QUrl page(QString::fromStdString(result.paymentUrl), QUrl::TolerantMode);
    if (result.paymentUrl.empty() || !isWebPage(page)) {
        setShopMessage(QStringLiteral("请到面板完成支付"));
    } else {
        openUrl_(page);  // the message is the same whether or not a browser started
        setShopMessage(QStringLiteral("已打开支付页面，完成付款后会自动更新"));
    }
    emit shopChanged();
    if (!pendingTradeNo_.isEmpty()) {
        pollsLeft_ = orderPolls_;
        orderPollTimer_.start();
    }
}

void AccountController::stopWaitingForPayment() {
    orderPollTimer_.stop();
    pendingTradeNo_.clear();
}

void AccountController::pollPendingOrder() {
    if (pendingTradeNo_.isEmpty() || !controlPlane_) {
        orderPollTimer_.stop();
        return;
    }
    --pollsLeft_;
    if (pollsLeft_ <= 0) {
        orderPollTimer_.stop();
        setShopMessage(QStringLiteral("仍未检测到付款，可稍后点会员信息刷新"));
        emit shopChanged();
        return;
    }
    // Checks may overlap; each result is matched by its trade number.
    const QString tradeNo = pendingTradeNo_;
    const std::string number = tradeNo.toStdString();
    runOperation<bool>(
        [number](vpn::ControlPlane& plane) {
            Outcome<bool> outcome;
            outcome.ok = plane.checkOrder(number, outcome.record, outcome.error);
            return outcome;
        },
        [this, tradeNo](const Outcome<bool>& outcome) { applyOrderCheck(tradeNo, outcome); });
}

void AccountController::applyOrderCheck(const QString& tradeNo, const Outcome<bool>& outcome) {
    if (pendingTradeNo_.isEmpty() || tradeNo != pendingTradeNo_ || !outcome.ok || !outcome.record) return;
    stopWaitingForPayment();
    setShopMessage(QStringLiteral("支付成功，套餐已更新"));
    emit shopChanged();
    refresh(true);
}

void AccountController::syncNodesQuietly() {
    if (!signedIn_ || !controlPlane_ || refreshing_ || busy_) return;
    refreshing_ = true;
    runOperation<vpn::AccountRecord>(
        [](vpn::ControlPlane& plane) {
            Outcome<vpn::AccountRecord> outcome;
            outcome.ok = plane.fetchAccount(outcome.record, outcome.error);
            return outcome;
        },
        [this](const Outcome<vpn::AccountRecord>& outcome) {
            refreshing_ = false;
            if (outcome.ok) applyAccount(outcome.record);
        });
}
