#pragma once
// Tells whether a newer client has been released: on request it fetches a small JSON
// manifest, compares its version with ours and offers to open the download page. Nothing
// is downloaded or installed by the client itself.

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

struct UpdateControllerOptions {
    // Where panel.json may name another manifest ("updateUrl"); empty: the resolved runtime
    // directory.
    QString runtimeDirectory;
    // Empty: our web site's /orvik/latest.json and its root page.
    QUrl defaultManifestUrl;
    QUrl homePage;
    // A check that has not finished by then fails.
    int timeoutMs = 15000;
    // Empty: QDesktopServices::openUrl.
    std::function<bool(const QUrl&)> openUrl;
};

class UpdateController : public QObject {
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_CLASSINFO("QML.Creatable", "false")
    Q_CLASSINFO("QML.UncreatableReason", "UpdateController is provided by the application")
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(bool busy READ busy NOTIFY stateChanged)
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY stateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY stateChanged)

public:
    explicit UpdateController(QObject* parent = nullptr);
    explicit UpdateController(UpdateControllerOptions options, QObject* parent = nullptr);
    ~UpdateController() override;

    QString currentVersion() const;
    bool busy() const { return busy_; }
    bool updateAvailable() const { return updateAvailable_; }
    QString statusText() const { return statusText_; }

    // A quiet check shows no text unless it finds a newer version.
    Q_INVOKABLE void check(bool quiet);
    Q_INVOKABLE void check() { check(false); }
    Q_INVOKABLE void openDownload();

    // The manifest to fetch: panel.json's "updateUrl" when set, else the built-in one.
    QUrl manifestUrl() const;

signals:
    void stateChanged();

private:
    void onFinished(QNetworkReply* reply, bool quiet);
    void finish(bool available, const QString& text);

    UpdateControllerOptions options_;
    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* activeReply_ = nullptr;
    QString statusText_;
    QString downloadUrl_;
    bool busy_ = false;
    bool updateAvailable_ = false;
};
