#pragma once
// The application's six objects for the QML tests, made as main makes them but over test
// parts: the local account or the scripted panel in a temporary directory, the stand-in
// service on a socket of its own, settings in a temporary file, the update manifest on the
// scripted HTTP server. QML reaches it as `app`. The objects live until the next objects()
// call (or the end), so they outlive the windows a test made from them.

#include <QObject>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <vector>

class AppFixture : public QObject {
    Q_OBJECT

public:
    AppFixture();
    ~AppFixture() override;

    // Keys: "panel" (scripted panel instead of the local account), "signedIn", "invite",
    // "emailVerify", "recaptcha" (the panel's registration options), "update" (the manifest
    // offers a newer version), "routes" (the panel lists that many). Returns
    // the objects by their property names in the window: controller, account, routeModel,
    // preferences, tray, updater.
    Q_INVOKABLE QVariantMap objects(const QVariantMap& options = {});
    // The panel's reply to METHOD PATH from now on (`body` is the JSON text of the reply).
    Q_INVOKABLE void panelReply(const QString& method, const QString& path, int status, const QString& body);
    // Bodies of the requests to PATH, in order.
    Q_INVOKABLE QStringList panelBodies(const QString& path) const;
    // The stand-in service: the next connect request takes `delayMs`, and fails with `error`
    // when it is set.
    Q_INVOKABLE void serviceAnswers(int delayMs, const QString& error = {});
    // Pages the account asked to open (payment).
    Q_INVOKABLE QStringList openedPages() const;
    // Destroys the last objects while the application still runs (their threads end, their
    // deferred deletions are carried out).
    void release();

private:
    struct World;
    std::unique_ptr<World> world_;
};
