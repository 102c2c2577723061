#include "app/updates/update_controller.h"

#include <QDesktopServices>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QVersionNumber>

#include <nlohmann/json.hpp>

#include "vpn/files.h"
#include "vpn/runtime_directory.h"

namespace {

const QString kClientVersion = QStringLiteral("0.1.0");
// Our web site: the update channel's manifest and the page shown when no download is named.
const QString kWebSite = QStringLiteral("https://velora.app");
constexpr qint64 kManifestLimit = 256 * 1024;

// A member of the manifest or panel file as trimmed text; empty when missing or not a string.
QString textMember(const nlohmann::ordered_json& object, const char* name) {
    if (!object.is_object()) return {};
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return {};
    return QString::fromStdString(found->get<std::string>()).trimmed();
}

nlohmann::ordered_json parseObject(const QByteArray& bytes) {
    return nlohmann::ordered_json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
}

// The manifest names a page to open in the browser: only web addresses are accepted, so a
// tampered manifest cannot make the client open a local file or another program's scheme.
bool isWebAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

}  // namespace

UpdateController::UpdateController(QObject* parent) : UpdateController(UpdateControllerOptions{}, parent) {}

UpdateController::UpdateController(UpdateControllerOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), network_(new QNetworkAccessManager(this)) {
    if (options_.runtimeDirectory.isEmpty()) {
        options_.runtimeDirectory = QString::fromStdString(vpn::resolveRuntimeDirectory());
    }
    if (options_.defaultManifestUrl.isEmpty()) options_.defaultManifestUrl = QUrl(kWebSite + "/orvik/latest.json");
    if (options_.homePage.isEmpty()) options_.homePage = QUrl(kWebSite + "/");
    if (!options_.openUrl) options_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

UpdateController::~UpdateController() {
    if (activeReply_) {
        QNetworkReply* reply = activeReply_;
        activeReply_ = nullptr;
        reply->abort();
    }
}

QString UpdateController::currentVersion() const {
    return kClientVersion;
}

QUrl UpdateController::manifestUrl() const {
    std::string bytes;
    const QString panelFile = QDir(options_.runtimeDirectory).filePath(QStringLiteral("panel.json"));
    if (vpn::readWholeFile(panelFile.toStdString(), bytes)) {
        const QString configured = textMember(parseObject(QByteArray::fromStdString(bytes)), "updateUrl");
        if (!configured.isEmpty()) return QUrl(configured);
    }
    return options_.defaultManifestUrl;
}

void UpdateController::check(bool quiet) {
    if (busy_) return;
    if (activeReply_) {
        QNetworkReply* previous = activeReply_;
        activeReply_ = nullptr;
        previous->abort();
        previous->deleteLater();
    }
    busy_ = true;
    downloadUrl_.clear();
    statusText_ = quiet ? QString() : QStringLiteral("正在检查更新…");
    emit stateChanged();

    QNetworkRequest request(manifestUrl());
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Orvik/%1").arg(kClientVersion));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // Without a bound a silent server would keep the check busy for good.
    request.setTransferTimeout(options_.timeoutMs);
    QNetworkReply* reply = network_->get(request);
    activeReply_ = reply;
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kManifestLimit) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, quiet] { onFinished(reply, quiet); });
}

void UpdateController::onFinished(QNetworkReply* reply, bool quiet) {
    if (reply != activeReply_) return;
    activeReply_ = nullptr;
    reply->deleteLater();
    // Qt reports progress at most every 100 ms: a reply that arrived faster is measured here.
    const bool received = reply->error() == QNetworkReply::NoError;
    const QByteArray body = received ? reply->read(kManifestLimit + 1) : QByteArray();
    if (!received || body.size() > kManifestLimit) {
        finish(false, quiet ? QString() : QStringLiteral("暂时无法检查更新"));
        return;
    }
    const nlohmann::ordered_json manifest = parseObject(body);
    const QString version = textMember(manifest, "version");
    const QString url = textMember(manifest, "url");
    const QString notes = textMember(manifest, "notes");
    downloadUrl_ = isWebAddress(url) ? url : QString();
    if (version.isEmpty()) {
        finish(false, quiet ? QString() : QStringLiteral("更新通道尚未发布"));
        return;
    }
    if (QVersionNumber::compare(QVersionNumber::fromString(version), QVersionNumber::fromString(kClientVersion)) <= 0) {
        finish(false, quiet ? QString() : QStringLiteral("已是最新版本 %1").arg(kClientVersion));
        return;
    }
    QString text = QStringLiteral("有新版本 %1").arg(version);
    if (!notes.isEmpty()) text += QStringLiteral("：") + notes;
    finish(true, text);
}

void UpdateController::finish(bool available, const QString& text) {
    busy_ = false;
    updateAvailable_ = available;
    statusText_ = text;
    emit stateChanged();
}

void UpdateController::openDownload() {
    options_.openUrl(downloadUrl_.isEmpty() ? options_.homePage : QUrl(downloadUrl_));
}
