// The update check against a manifest served on 127.0.0.1: the outcome of each manifest and
// failure, quiet checks, the download page (web addresses only), the manifest named by
// panel.json, and the bounds on a silent or oversized reply.
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "app/updates/update_controller.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"

using orvik_test::HttpReply;
using orvik_test::HttpRequestRecord;
using orvik_test::HttpTestServer;

namespace {

const QString kHome = QStringLiteral("https://home.example/");
const QString kLatest = QStringLiteral("已是最新版本 0.1.0");
const QString kBroken = QStringLiteral("更新通道尚未发布");
const QString kFailed = QStringLiteral("暂时无法检查更新");

// status 0: the server never answers. `opens`: what the download button opens afterwards.
struct Manifest { QByteArray body; QString text; bool available; QString opens; int status; bool quiet; };

}  // namespace

Q_DECLARE_METATYPE(Manifest)

class UpdateControllerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<orvik_test::TempDir> runtime_;
    std::unique_ptr<HttpTestServer> server_;
    QList<QUrl> opened_;

    void serve(const std::string& body, int status = 200) {
        server_ = std::make_unique<HttpTestServer>(
            [body, status](const HttpRequestRecord&) { return HttpReply{status, body, {}, status == 0}; });
    }
    std::unique_ptr<UpdateController> controller() {
        const QUrl manifest(QString::fromStdString(server_->origin() + "/orvik/latest.json"));
        auto open = [this](const QUrl& url) { return opened_.append(url), true; };
        return std::make_unique<UpdateController>(
            UpdateControllerOptions{QString::fromStdString(runtime_->path()), manifest, QUrl(kHome), 1000, open});
    }
    void runCheck(UpdateController& updates, bool quiet = false) {
        QSignalSpy state(&updates, &UpdateController::stateChanged);
        updates.check(quiet);
        QCOMPARE(updates.statusText(), quiet ? QString() : QStringLiteral("正在检查更新…"));
        QTRY_VERIFY_WITH_TIMEOUT(!updates.busy(), 10000);
        QCOMPARE(state.count(), 2);
    }
    QUrl openedByDownload(UpdateController& updates) {
        opened_.clear();
        updates.openDownload();
        return opened_.value(0);
    }

private slots:
    void init() { runtime_ = std::make_unique<orvik_test::TempDir>(); }
    void manifests_data();
    void manifests();
    void manifestFromPanelFile();
};

void UpdateControllerTest::manifests_data() {
    QTest::addColumn<Manifest>("m");
    auto row = [](const char* name, const QByteArray& body, const QString& text, bool available,
                  const QString& opens = kHome, int status = 200, bool quiet = false) {
        QTest::newRow(name) << Manifest{body, text, available, opens, status, quiet};
    };
    row("same version", R"({"version":" 0.1.0 "})", kLatest, false);
    row("newer with notes", R"({"version":"0.2.0","notes":" 修复若干问题 ","extra":1})", "有新版本 0.2.0：修复若干问题", true);
    row("download address", R"({"version":"1.0","url":"  https://dl.example/o.exe  "})", "有新版本 1.0", true,
        "https://dl.example/o.exe");
    row("plain http download", R"({"version":"1.0","url":"http://dl.example/o.exe"})", "有新版本 1.0", true,
        "http://dl.example/o.exe");
    // Something other than a web address is never handed to the desktop.
    for (const char* url : {"file://dl.example/etc/passwd", "ms-settings:network", "javascript:alert(1)", "https://"})
        row(url, QByteArray(R"({"version":"1.0","url":")") + url + "\"}", "有新版本 1.0", true);
    const std::pair<QString, bool> versions[] = {{"0.10.0", true}, {"0.1.0.1", true}, {"0.1.1-beta", true},
                                                 {"0.0.9", false},  {"0.1", false},    {"v2", false}};
    for (const auto& [version, newer] : versions) {
        const QByteArray body = R"({"version":")" + version.toUtf8() + "\"}";
        row(qPrintable(version), body, newer ? "有新版本 " + version : kLatest, newer);
    }
    row("server error", R"({"version":"9.9"})", kFailed, false, kHome, 500);
    row("not json", "not json", kBroken, false);
    row("not an object", R"(["0.2.0"])", kBroken, false);
    row("version not text", R"({"version":2})", kBroken, false);
    row("blank version", R"({"version":"   "})", kBroken, false);
    row("oversized", R"({"version":"9.9","pad":")" + QByteArray(300 * 1024, 'x') + "\"}", kFailed, false);
    row("silent server", "", kFailed, false, kHome, 0);
    row("quiet, latest", R"({"version":"0.1.0"})", QString(), false, kHome, 200, true);
    row("quiet, failure", "oops", QString(), false, kHome, 404, true);
    row("quiet, newer", R"({"version":"0.3.0"})", "有新版本 0.3.0", true, kHome, 200, true);
}

void UpdateControllerTest::manifests() {
    QFETCH(Manifest, m);
    serve(m.body.toStdString(), m.status);
    auto updates = controller();
    runCheck(*updates, m.quiet);
    QCOMPARE(updates->statusText(), m.text);
    QCOMPARE(updates->updateAvailable(), m.available);
    QCOMPARE(openedByDownload(*updates), QUrl(m.opens));
    const std::vector<HttpRequestRecord> requests = server_->requests();
    QCOMPARE(requests.size(), size_t(1));
    QCOMPARE(requests.at(0).method + " " + requests.at(0).path, std::string("GET /orvik/latest.json"));
    QCOMPARE(requests.at(0).header("user-agent"), std::string("Orvik/0.1.0"));
}

// panel.json's updateUrl names the manifest only when it is text; a check while one runs does
// nothing; a check clears the previous outcome's download address.
void UpdateControllerTest::manifestFromPanelFile() {
    serve(R"({"version":"0.4.0","url":"https://dl.example/a"})");
    runtime_->write("panel.json", R"({"updateUrl":7})");
    auto updates = controller();
    QSignalSpy state(updates.get(), &UpdateController::stateChanged);
    updates->check();
    updates->check(true);
    QTRY_VERIFY_WITH_TIMEOUT(!updates->busy(), 10000);
    QCOMPARE(state.count(), 2);
    QCOMPARE(openedByDownload(*updates), QUrl("https://dl.example/a"));  // from the built-in manifest

    serve(R"({"version":"0.4.0"})");
    runtime_->write("panel.json", R"({"updateUrl":" )" + server_->origin() + R"(/channel/beta.json "})");
    runCheck(*updates);
    QCOMPARE(server_->requests().at(0).path, std::string("/channel/beta.json"));
    QCOMPARE(openedByDownload(*updates), QUrl(kHome));
}

QTEST_MAIN(UpdateControllerTest)
#include "update_controller_test.moc"
