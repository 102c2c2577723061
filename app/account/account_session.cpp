// Sign-in, registration, the session refresh, the account record and sign-out.
#include <QDate>

#include "app/account/account_controller.h"
#include "app/account/account_texts.h"
#include "app/account/account_worker.h"
#include "vpn/route_id.h"

namespace {

QString textOr(const std::string& text, const QString& fallback) {
    return text.empty() ? fallback : QString::fromStdString(text);
}

quint16 portOf(int32_t port) {
    return port >= 1 && port <= 65535 ? static_cast<quint16>(port) : 0;
}

}  // namespace

void AccountController::login(const QString& email, const QString& password) {
    if (busy_ || !controlPlane_) return;
    setBusy(true);
    setErrorMessage({});
    const std::string mail = email.trimmed().toStdString();
    const std::string secret = password.toStdString();
    runOperation<bool>(
        [mail, secret](vpn::ControlPlane& plane) {
            Outcome<bool> outcome;
            outcome.ok = plane.login(mail, secret, outcome.error);
            return outcome;
        },
        [this](const Outcome<bool>& outcome) {
            finishSignIn(outcome, QStringLiteral("登录失败"), QStringLiteral("登录成功，但未能读取套餐或节点"));
        });
}

void AccountController::registerAccount(const QString& email, const QString& password,
                                        const QString& inviteCode, const QString& emailCode) {
    if (busy_ || !controlPlane_) return;
    if (recaptchaBlocked_) {
        setErrorMessage(QStringLiteral("面板开启了人机验证，请到网站注册"));
        return;
    }
    if (password.size() < 8) {
        setErrorMessage(QStringLiteral("密码至少 8 位"));
        return;
    }
    setBusy(true);
    setErrorMessage({});
    const std::string mail = email.trimmed().toStdString();
    const std::string secret = password.toStdString();
    const std::string invite = inviteCode.trimmed().toStdString();
    const std::string code = emailCode.trimmed().toStdString();
    runOperation<bool>(
        [mail, secret, invite, code](vpn::ControlPlane& plane) {
            Outcome<bool> outcome;
            outcome.ok = plane.registerAccount(mail, secret, invite, code, outcome.error);
            return outcome;
        },
        [this](const Outcome<bool>& outcome) {
            finishSignIn(outcome, QStringLiteral("注册失败"), QStringLiteral("注册成功，但未能读取账号"));
        });
}

void AccountController::finishSignIn(const Outcome<bool>& outcome, const QString& failureText,
                                     const QString& followUp) {
    setBusy(false);
    if (!outcome.ok) {
        setErrorMessage(textOr(outcome.error, failureText));
        return;
    }
    writeInteractiveLogin(true);
    // A refresh still running was queued on the control plane after the sign-in, so it
    // reads the new session; this one is then dropped like any second refresh.
    startRefresh(true, followUp);
}

void AccountController::sendRegisterEmail(const QString& email) {
    if (busy_ || !controlPlane_) return;
    const QString address = email.trimmed();
    if (!address.contains(QLatin1Char('@'))) {
        setErrorMessage(QStringLiteral("请先填写邮箱"));
        return;
    }
    setBusy(true);
    setErrorMessage({});
    const std::string mail = address.toStdString();
    runOperation<bool>(
        [mail](vpn::ControlPlane& plane) {
            Outcome<bool> outcome;
            outcome.ok = plane.sendRegisterEmail(mail, outcome.error);
            return outcome;
        },
        [this](const Outcome<bool>& outcome) {
            setBusy(false);
            setErrorMessage(outcome.ok ? QString() : textOr(outcome.error, QStringLiteral("验证码发送失败")));
        });
}

void AccountController::loadRegisterOptions() {
    if (!controlPlane_ || !remotePanel_) return;
    runOperation<vpn::RegisterOptions>(
        [](vpn::ControlPlane& plane) {
            Outcome<vpn::RegisterOptions> outcome;
            outcome.ok = plane.fetchRegisterOptions(outcome.record, outcome.error);
            return outcome;
        },
        [this](const Outcome<vpn::RegisterOptions>& outcome) {
            if (!outcome.ok) return;
            emailVerifyRequired_ = outcome.record.emailVerify;
            inviteRequired_ = outcome.record.inviteForce;
            recaptchaBlocked_ = outcome.record.recaptcha;
            emit registerOptionsChanged();
            if (recaptchaBlocked_) setErrorMessage(QStringLiteral("面板开启了人机验证，请到网站注册"));
        });
}

void AccountController::refresh() {
    refresh(false);
}

void AccountController::refresh(bool reportError) {
    startRefresh(reportError, {});
}

void AccountController::startRefresh(bool reportError, const QString& followUp) {
    if (!controlPlane_ || refreshing_) return;
    refreshing_ = true;
    runOperation<vpn::AccountRecord>(
        [](vpn::ControlPlane& plane) {
            Outcome<vpn::AccountRecord> outcome;
            outcome.ok = plane.fetchAccount(outcome.record, outcome.error);
            return outcome;
        },
        [this, reportError, followUp](const Outcome<vpn::AccountRecord>& outcome) {
            applyRefresh(outcome, reportError, followUp);
        });
}

void AccountController::applyRefresh(const Outcome<vpn::AccountRecord>& outcome, bool reportError,
                                      const QString& followUp) {
    refreshing_ = false;
    if (restoring_) {
        restoring_ = false;
        emit restoringChanged();
    }
    if (outcome.ok) {
        applyAccount(outcome.record);
        if (!followUp.isEmpty() && !signedIn_ && errorMessage_.isEmpty()) setErrorMessage(followUp);
    } else {
        clearAccount();
        if (reportError) {
            const QString fallback = followUp.isEmpty() ? QStringLiteral("无法读取账号") : followUp;
            setErrorMessage(textOr(outcome.error, fallback));
        }
        emit accountChanged();
        updateRefreshTimer();
    }
}

void AccountController::applyAccount(const vpn::AccountRecord& record) {
    email_ = QString::fromStdString(record.email);
    expireAt_ = QString::fromStdString(record.expiresAt);
    const bool interactive = interactiveLogin();
    const bool signedIn = record.signedIn && interactive;
    signedIn_ = signedIn;
    membershipActive_ = signedIn && record.hasPlan && !record.expired;
    remainingDays_ = membershipActive_ ? account_texts::remainingDays(expireAt_, QDate::currentDate()) : 0;
    if (!record.hasPlan) expireAt_.clear();

    if (record.usedDevices > 0) {
        usedDevices_ = record.usedDevices;
    } else if (!signedIn) {
        usedDevices_ = 0;
    }
    deviceLimit_ = record.deviceLimit;

    nodeNames_.clear();
    nodeEndpoints_.clear();
    if (signedIn) {
        for (const vpn::NodeRecord& node : record.nodes) {
            if (node.name.empty()) continue;
            const QString name = QString::fromStdString(node.name);
            nodeNames_.append(name);
            nodeEndpoints_.append({QString::fromStdString(vpn::routeIdOf(node.name)), QString::fromStdString(node.address), portOf(node.port)});
        }
    }
    emit accountChanged();
    updateRefreshTimer();
}

void AccountController::clearAccount() {
    signedIn_ = false;
    membershipActive_ = false;
    remainingDays_ = 0;
    usedDevices_ = 0;
    deviceLimit_ = 0;
    email_.clear();
    expireAt_.clear();
    nodeNames_.clear();
    nodeEndpoints_.clear();
}

void AccountController::updateRefreshTimer() {
    if (signedIn_) {
        if (!refreshTimer_.isActive()) refreshTimer_.start();
    } else {
        refreshTimer_.stop();
    }
}

void AccountController::logout() {
    // The back end forgets the session in its turn after the calls already running, so the
    // GUI thread never waits behind a request.
    if (controlPlane_) {
        runOperation<bool>(
            [](vpn::ControlPlane& plane) {
                plane.logout();
                return Outcome<bool>{true, {}, true};
            },
            [](const Outcome<bool>&) {});
    }
    writeInteractiveLogin(false);
    clearAccount();
    emit accountChanged();
    updateRefreshTimer();
}
