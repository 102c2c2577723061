#pragma once
// The client's one account object: session, sign-in, registration, membership, node list,
// device slot, plan shop and order follow-up, exposed to QML. Every control-plane operation
// runs on a short-lived thread of its own; results are applied on the GUI thread.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/account/control_plane_queue.h"
#include "app/routes/route_endpoint.h"
#include "vpn/control_plane.h"

class QSettings;
class QThread;

class AccountController : public QObject {
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_CLASSINFO("QML.Creatable", "false")
    Q_CLASSINFO("QML.UncreatableReason", "AccountController is provided by the application")

    Q_PROPERTY(bool loggedIn READ loggedIn NOTIFY accountChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool restoring READ restoring NOTIFY restoringChanged)
    Q_PROPERTY(bool remotePanel READ remotePanel CONSTANT)
    Q_PROPERTY(QString email READ email NOTIFY accountChanged)
    Q_PROPERTY(QString expireAt READ expireAt NOTIFY accountChanged)
    Q_PROPERTY(QString membershipTier READ membershipTier NOTIFY accountChanged)
    Q_PROPERTY(int remainingDays READ remainingDays NOTIFY accountChanged)
    Q_PROPERTY(QString remainingLabel READ remainingLabel NOTIFY accountChanged)
    Q_PROPERTY(QString badgeLabel READ badgeLabel NOTIFY accountChanged)
    Q_PROPERTY(QString remainingTimeLabel READ remainingTimeLabel NOTIFY accountChanged)
    Q_PROPERTY(bool membershipActive READ membershipActive NOTIFY accountChanged)
    Q_PROPERTY(int usedDevices READ usedDevices NOTIFY accountChanged)
    Q_PROPERTY(int deviceLimit READ deviceLimit NOTIFY accountChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorChanged)
    Q_PROPERTY(QStringList nodeNames READ nodeNames NOTIFY accountChanged)
    Q_PROPERTY(QVariantList shopPlans READ shopPlans NOTIFY shopChanged)
    Q_PROPERTY(bool shopBusy READ shopBusy NOTIFY shopChanged)
    Q_PROPERTY(QString shopMessage READ shopMessage NOTIFY shopChanged)
    Q_PROPERTY(bool emailVerifyRequired READ emailVerifyRequired NOTIFY registerOptionsChanged)
    Q_PROPERTY(bool inviteRequired READ inviteRequired NOTIFY registerOptionsChanged)
    Q_PROPERTY(bool recaptchaBlocked READ recaptchaBlocked NOTIFY registerOptionsChanged)

public:
    // Opens a payment page; returns whether a handler could be started.
    using UrlOpener = std::function<bool(const QUrl&)>;

    // What the application's constructor takes from the machine; tests inject their own.
    struct Options {
        bool remotePanel = false;
        QString settingsFile;      // empty: the application's QSettings
        UrlOpener openUrl;         // empty: QDesktopServices::openUrl
        int nodeSyncIntervalMs = 720000;  // 12 minutes
        int orderPollIntervalMs = 2000;
        int orderPolls = 45;       // ticks before the wait for a payment gives up
    };

    // The application's account: the control plane of the resolved runtime directory.
    explicit AccountController(QObject* parent = nullptr);
    // `controlPlane` may be null (every operation that needs it then does nothing).
    AccountController(std::unique_ptr<vpn::ControlPlane> controlPlane, Options options,
                      QObject* parent = nullptr);
    // Waits for the operations still running (each ends within the back end's time-outs).
    ~AccountController() override;

    bool loggedIn() const { return signedIn_; }
    bool busy() const { return busy_; }
    bool restoring() const { return restoring_; }
    bool remotePanel() const { return remotePanel_; }
    QString email() const { return email_; }
    QString expireAt() const { return expireAt_; }
    QString membershipTier() const;
    int remainingDays() const { return remainingDays_; }
    QString remainingLabel() const;
    QString badgeLabel() const;
    QString remainingTimeLabel() const;
    bool membershipActive() const { return membershipActive_; }
    int usedDevices() const { return usedDevices_; }
    int deviceLimit() const { return deviceLimit_; }
    QString errorMessage() const { return errorMessage_; }
    QStringList nodeNames() const { return nodeNames_; }
    QVariantList shopPlans() const { return shopPlans_; }
    bool shopBusy() const { return shopBusy_; }
    QString shopMessage() const { return shopMessage_; }
    bool emailVerifyRequired() const { return emailVerifyRequired_; }
    bool inviteRequired() const { return inviteRequired_; }
    bool recaptchaBlocked() const { return recaptchaBlocked_; }

    // Where each node of the last applied account answers (route id = name trimmed);
    // changes together with nodeNames (accountChanged).
    RouteEndpoints nodeEndpoints() const { return nodeEndpoints_; }

    // Claims this computer's device slot. Blocking: call it off the GUI thread. True at once
    // when signed out or without a control plane; outputs start as 0, 0 and empty.
    bool checkDevice(int& usedDevices, int& deviceLimit, QString& error);
    // The outcome of checkDevice, on the GUI thread.
    void applyDeviceStatus(bool ok, int usedDevices, int deviceLimit, const QString& error);

    Q_INVOKABLE void login(const QString& email, const QString& password);
    Q_INVOKABLE void registerAccount(const QString& email, const QString& password,
                                     const QString& inviteCode, const QString& emailCode);
    Q_INVOKABLE void sendRegisterEmail(const QString& email);
    Q_INVOKABLE void loadRegisterOptions();
    Q_INVOKABLE void logout();
    Q_INVOKABLE void refresh(bool reportError);
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void syncNodesQuietly();
    Q_INVOKABLE void loadShop();
    Q_INVOKABLE void buyPlan(int planId, const QString& period);

signals:
    void accountChanged();
    void busyChanged();
    void restoringChanged();
    void errorChanged();
    void shopChanged();
    void registerOptionsChanged();

private slots:
    void pollPendingOrder();

private:
    // What a worker hands back: the operation's success and error text, plus its record.
    template <class Record>
    struct Outcome {
        bool ok = false;
        std::string error;
        Record record{};
    };

    void startUp(const Options& options);
    // Runs `work` on a new thread in its turn on the control plane, then `apply` with its
    // outcome on the GUI thread. An exception from the back end counts as a failure
    // without a text.
    template <class Record>
    void runOperation(std::function<Outcome<Record>(vpn::ControlPlane&)> work,
                      std::function<void(const Outcome<Record>&)> apply);
    void track(QThread* thread);

    void setBusy(bool busy);
    void setErrorMessage(const QString& text);
    void setShopMessage(const QString& text);  // no signal: callers emit shopChanged
    bool interactiveLogin() const;
    void writeInteractiveLogin(bool value);
    std::unique_ptr<QSettings> openSettings() const;

    // Login and registration answers; `followUp` is shown when the back end accepted the
    // sign-in but the account that follows does not come through signed in.
    void finishSignIn(const Outcome<bool>& outcome, const QString& failureText,
                      const QString& followUp);
    void startRefresh(bool reportError, const QString& followUp);
    void applyRefresh(const Outcome<vpn::AccountRecord>& outcome, bool reportError,
                      const QString& followUp);
    void applyAccount(const vpn::AccountRecord& record);
    void clearAccount();
    void updateRefreshTimer();

    void applyPlans(const Outcome<std::vector<vpn::PlanOffer>>& outcome);
    void applyOrder(const Outcome<vpn::CheckoutResult>& outcome);
    void applyOrderCheck(const QString& tradeNo, const Outcome<bool>& outcome);
    void stopWaitingForPayment();

    std::unique_ptr<vpn::ControlPlane> controlPlane_;
    std::shared_ptr<ControlPlaneQueue> queue_ = std::make_shared<ControlPlaneQueue>();
    bool remotePanel_ = false;
    std::atomic<bool> signedIn_{false};
    bool busy_ = false;
    bool restoring_ = true;
    bool membershipActive_ = false;
    int remainingDays_ = 0;
    int usedDevices_ = 0;
    int deviceLimit_ = 0;
    QString email_;
    QString expireAt_;
    QString errorMessage_;
    QStringList nodeNames_;
    RouteEndpoints nodeEndpoints_;
    QVariantList shopPlans_;
    QString shopMessage_;
    bool shopBusy_ = false;
    QString pendingTradeNo_;
    QTimer orderPollTimer_;
    int pollsLeft_ = 0;
    bool emailVerifyRequired_ = false;
    bool inviteRequired_ = false;
    bool recaptchaBlocked_ = false;
    QTimer refreshTimer_;
    bool refreshing_ = false;

    QString settingsFile_;
    UrlOpener openUrl_;
    int orderPolls_ = 45;
    std::vector<QThread*> running_;  // worker threads not yet finished
};
