// Construction, the worker threads, the flags and texts, and the device slot.
#include "app/account/account_controller.h"

#include <QDesktopServices>
#include <QSettings>
#include <QThread>

#include <algorithm>

#include "app/account/account_texts.h"
#include "vpn/runtime_directory.h"
#include "vpn/system.h"

namespace {

constexpr const char* kInteractiveLoginKey = "account/interactiveLogin";

bool openWithDesktop(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

}  // namespace

AccountController::AccountController(QObject* parent) : QObject(parent) {
    const std::string runtimeDirectory = vpn::resolveRuntimeDirectory();
    remotePanel_ = vpn::hasRemotePanel(runtimeDirectory);
    controlPlane_ = vpn::createControlPlane(runtimeDirectory);
    startUp(Options{});
}

AccountController::AccountController(std::unique_ptr<vpn::ControlPlane> controlPlane, Options options,
                                     QObject* parent)
    : QObject(parent), controlPlane_(std::move(controlPlane)), remotePanel_(options.remotePanel) {
    startUp(options);
}

AccountController::~AccountController() {
    orderPollTimer_.stop();
    refreshTimer_.stop();
    // The workers use the control plane; their queued results die with this object.
    for (QThread* thread : running_) thread->wait();
}

void AccountController::startUp(const Options& options) {
    settingsFile_ = options.settingsFile;
    openUrl_ = options.openUrl ? options.openUrl : UrlOpener(openWithDesktop);
    orderPolls_ = options.orderPolls;

    orderPollTimer_.setInterval(options.orderPollIntervalMs);
    connect(&orderPollTimer_, &QTimer::timeout, this, &AccountController::pollPendingOrder);
    refreshTimer_.setInterval(options.nodeSyncIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &AccountController::syncNodesQuietly);

    restoring_ = true;
    QTimer::singleShot(0, this, [this] { refresh(false); });
    updateRefreshTimer();
}

void AccountController::track(QThread* thread) {
    running_.push_back(thread);
    // Connected before deleteLater, so the thread leaves the list before it is deleted.
    connect(thread, &QThread::finished, this, [this, thread] {
        running_.erase(std::remove(running_.begin(), running_.end(), thread), running_.end());
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

QString AccountController::membershipTier() const {
    return account_texts::membershipTier(signedIn_, membershipActive_);
}

QString AccountController::remainingLabel() const {
    return account_texts::remainingLabel(signedIn_, membershipActive_, remainingDays_, expireAt_);
}

QString AccountController::badgeLabel() const {
    return account_texts::badgeLabel(signedIn_, membershipActive_, remainingDays_, expireAt_);
}

QString AccountController::remainingTimeLabel() const {
    return account_texts::remainingTimeLabel(signedIn_, membershipActive_, remainingDays_, expireAt_);
}

void AccountController::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    emit busyChanged();
}

void AccountController::setErrorMessage(const QString& text) {
    if (errorMessage_ == text) return;
    errorMessage_ = text;
    emit errorChanged();
}

void AccountController::setShopMessage(const QString& text) {
    shopMessage_ = text;
}

std::unique_ptr<QSettings> AccountController::openSettings() const {
    if (settingsFile_.isEmpty()) return std::make_unique<QSettings>();
    return std::make_unique<QSettings>(settingsFile_, QSettings::IniFormat);
}

bool AccountController::interactiveLogin() const {
    return openSettings()->value(QString::fromLatin1(kInteractiveLoginKey), false).toBool();
}

void AccountController::writeInteractiveLogin(bool value) {
    std::unique_ptr<QSettings> settings = openSettings();
    settings->setValue(QString::fromLatin1(kInteractiveLoginKey), value);
    settings->sync();
}

bool AccountController::checkDevice(int& usedDevices, int& deviceLimit, QString& error) {
    usedDevices = 0;
    deviceLimit = 0;
    error.clear();
    if (!signedIn_ || !controlPlane_) return true;

    const std::string deviceId = vpn::machineDeviceId();
    int32_t used = 0;
    int32_t limit = 0;
    std::string text;
    bool ok = false;
    {
        ControlPlaneQueue::Turn turn(*queue_, queue_->enqueue());
        try {
            ok = controlPlane_->claimDevice(deviceId, used, limit, text);
        } catch (...) {
            ok = false;
        }
    }
    usedDevices = used;
    deviceLimit = limit;
    if (!ok) error = QString::fromStdString(text);
    return ok;
}

void AccountController::applyDeviceStatus(bool ok, int usedDevices, int deviceLimit, const QString& error) {
    if (!ok) {
        const bool expired = error.contains(QStringLiteral("login expired"), Qt::CaseInsensitive) ||
                             error.contains(QStringLiteral("登录已过期"));
        setErrorMessage(expired ? QStringLiteral("登录已过期，请退出后重新登录") : error);
        return;
    }
    setErrorMessage({});
    if (deviceLimit > 0) deviceLimit_ = deviceLimit;
    if (usedDevices > 0) usedDevices_ = usedDevices;
    emit accountChanged();
}
