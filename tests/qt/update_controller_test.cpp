// The update check against a manifest served on 127.0.0.1: the texts for each outcome, quiet
// checks, the download page, the manifest location from panel.json, and the bounds.

#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "app/updates/update_controller.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"

using orvik_test::HttpReply;
using orvik_test::HttpRequestRecord;
using orvik_test::HttpTestServer;

class UpdateControllerTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void classInformation();
    void sameVersionIsLatest();
    void newerVersionWithNotesOpensHomePage();
    void downloadAddressFromManifest();
    void versionsCompareNumerically();
    void failuresAndBrokenManifests();
    void quietChecks();
    void secondCheckWhileBusyDoesNothing();
    void manifestLocationFromPanelFile();
    void silentServerEndsTheCheck();

private:
    // Serves `body` for every request; `status` 200 unless given.
    void serve(const std::string& body, int status = 200) {
        server_ = std::make_unique<HttpTestServer>([body, status](const HttpRequestRecord&) {
            HttpReply reply;
            reply.status = status;
            reply.body = body;
            reply.headers.push_back({"Content-Type", "application/json"});
            return reply;
        });
    }
    std::unique_ptr<UpdateController> controller(int timeoutMs = 5000) {
        UpdateControllerOptions options;
        options.runtimeDirectory = QString::fromStdString(runtime_->path());
        options.defaultManifestUrl = QUrl(QString::fromStdString(server_->origin() + "/orvik/latest.json"));
        options.homePage = QUrl(QStringLiteral("https://home.example/"));
        options.timeoutMs = timeoutMs;
        options.openUrl = [this](const QUrl& url) {
            opened_.append(url);
            return true;
        };
        return std::make_unique<UpdateController>(options);
    }
    // Runs a check and waits for its end.
    void runCheck(UpdateController& updates, bool quiet = false) {
        QSignalSpy state(&updates, &UpdateController::stateChanged);
        updates.check(quiet);
        QVERIFY(updates.busy());
        QTRY_VERIFY_WITH_TIMEOUT(!updates.busy(), 8000);
        QCOMPARE(state.count(), 2);
    }

    std::unique_ptr<orvik_test::TempDir> runtime_;
    std::unique_ptr<HttpTestServer> server_;
    QList<QUrl> opened_;
};

void UpdateControllerTest::init() {
    runtime_ = std::make_unique<orvik_test::TempDir>();
    server_.reset();
    opened_.clear();
}

void UpdateControllerTest::classInformation() {
    serve("{}");
    auto updates = controller();
    const QMetaObject* meta = updates->metaObject();
    auto info = [meta](const char* name) {
        return QString::fromUtf8(meta->classInfo(meta->indexOfClassInfo(name)).value());
    };
    QCOMPARE(info("QML.Element"), QStringLiteral("auto"));
    QCOMPARE(info("QML.Creatable"), QStringLiteral("false"));
    QCOMPARE(info("QML.UncreatableReason"), QStringLiteral("UpdateController is provided by the application"));
    QVERIFY(meta->property(meta->indexOfProperty("currentVersion")).isConstant());
    QVERIFY(meta->indexOfMethod("check()") >= 0);
    QVERIFY(meta->indexOfMethod("check(bool)") >= 0);
    QVERIFY(meta->indexOfMethod("openDownload()") >= 0);
    QCOMPARE(updates->currentVersion(), QStringLiteral("0.1.0"));
    QCOMPARE(updates->busy(), false);
    QCOMPARE(updates->statusText(), QString());

    // The built-in manifest is served over HTTPS from our site.
    UpdateController builtIn(UpdateControllerOptions{QString::fromStdString(runtime_->path()), {}, {}, 1000, {}});
    QCOMPARE(builtIn.manifestUrl().scheme(), QStringLiteral("https"));
    QCOMPARE(builtIn.manifestUrl().path(), QStringLiteral("/orvik/latest.json"));
}

void UpdateControllerTest::sameVersionIsLatest() {
    serve(R"({"version":" 0.1.0 ","url":"https://dl.example/orvik.exe"})");
    auto updates = controller();
    QSignalSpy state(updates.get(), &UpdateController::stateChanged);
    updates->check();
    QCOMPARE(updates->statusText(), QStringLiteral("正在检查更新…"));
    QTRY_VERIFY_WITH_TIMEOUT(!updates->busy(), 8000);
    QCOMPARE(state.count(), 2);
    QCOMPARE(updates->statusText(), QStringLiteral("已是最新版本 0.1.0"));
    QCOMPARE(updates->updateAvailable(), false);

    const std::vector<HttpRequestRecord> requests = server_->requests();
    QCOMPARE(requests.size(), size_t(1));
    QCOMPARE(requests.at(0).method, std::string("GET"));
    QCOMPARE(requests.at(0).path, std::string("/orvik/latest.json"));
    QCOMPARE(requests.at(0).header("user-agent"), std::string("Orvik/0.1.0"));
}

void UpdateControllerTest::newerVersionWithNotesOpensHomePage() {
    serve(R"({"version":"0.2.0","notes":" 修复若干问题 ","extra":1})");
    auto updates = controller();
    runCheck(*updates);
    QCOMPARE(updates->statusText(), QStringLiteral("有新版本 0.2.0：修复若干问题"));
    QCOMPARE(updates->updateAvailable(), true);
    updates->openDownload();
    QCOMPARE(opened_, QList<QUrl>{QUrl(QStringLiteral("https://home.example/"))});
}

void UpdateControllerTest::downloadAddressFromManifest() {
    serve(R"({"version":"1.0","url":"  https://dl.example/orvik-1.0.exe  "})");
    auto updates = controller();
    runCheck(*updates);
    QCOMPARE(updates->statusText(), QStringLiteral("有新版本 1.0"));
    updates->openDownload();
    QCOMPARE(opened_.value(0), QUrl(QStringLiteral("https://dl.example/orvik-1.0.exe")));

    // Something other than a web address is never handed to the desktop.
    for (const char* url : {"file:///etc/passwd", "ms-settings:network", "javascript:alert(1)", "https://"}) {
        serve(std::string(R"({"version":"1.0","url":")") + url + "\"}");
        auto other = controller();
        runCheck(*other);
        opened_.clear();
        other->openDownload();
        QCOMPARE(opened_.value(0), QUrl(QStringLiteral("https://home.example/")));
    }
}

void UpdateControllerTest::versionsCompareNumerically() {
    const QList<QPair<std::string, bool>> cases = {
        {"0.10.0", true}, {"0.1.0.1", true}, {"0.1.1-beta", true}, {"0.0.9", false}, {"0.1", false}, {"v2", false}};
    for (const auto& [version, newer] : cases) {
        serve(R"({"version":")" + version + "\"}");
        auto updates = controller();
        runCheck(*updates);
        QVERIFY2(updates->updateAvailable() == newer, version.c_str());
    }
}

void UpdateControllerTest::failuresAndBrokenManifests() {
    const QList<QPair<QPair<std::string, int>, QString>> cases = {
        {{R"({"version":"9.9"})", 500}, QStringLiteral("暂时无法检查更新")},
        {{"not json", 200}, QStringLiteral("更新通道尚未发布")},
        {{R"(["0.2.0"])", 200}, QStringLiteral("更新通道尚未发布")},
        {{R"({"version":2})", 200}, QStringLiteral("更新通道尚未发布")},
        {{R"({"version":"   "})", 200}, QStringLiteral("更新通道尚未发布")},
    };
    for (const auto& [reply, text] : cases) {
        serve(reply.first, reply.second);
        auto updates = controller();
        runCheck(*updates);
        QCOMPARE(updates->statusText(), text);
        QCOMPARE(updates->updateAvailable(), false);
    }
    // Nothing listening.
    serve("{}");
    const int closed = orvik_test::unusedLoopbackPort();
    runtime_->write("panel.json", R"({"updateUrl":"http://127.0.0.1:)" + std::to_string(closed) + R"(/latest.json"})");
    auto updates = controller();
    runCheck(*updates);
    QCOMPARE(updates->statusText(), QStringLiteral("暂时无法检查更新"));
}

void UpdateControllerTest::quietChecks() {
    serve(R"({"version":"0.1.0"})");
    auto updates = controller();
    QSignalSpy state(updates.get(), &UpdateController::stateChanged);
    updates->check(true);
    QCOMPARE(updates->statusText(), QString());
    QTRY_VERIFY_WITH_TIMEOUT(!updates->busy(), 8000);
    QCOMPARE(updates->statusText(), QString());

    serve("oops", 404);
    auto failing = controller();
    runCheck(*failing, true);
    QCOMPARE(failing->statusText(), QString());

    serve(R"({"version":"0.3.0"})");
    auto newer = controller();
    runCheck(*newer, true);
    QCOMPARE(newer->statusText(), QStringLiteral("有新版本 0.3.0"));
    QCOMPARE(newer->updateAvailable(), true);

    // The next check clears the previous outcome's download address.
    serve(R"({"version":"0.4.0","url":"https://dl.example/a"})");
    auto again = controller();
    runCheck(*again);
    serve(R"({"version":"0.4.0"})");
    runtime_->write("panel.json", R"({"updateUrl":")" + server_->origin() + R"(/m.json"})");
    runCheck(*again);
    again->openDownload();
    QCOMPARE(opened_.value(0), QUrl(QStringLiteral("https://home.example/")));
}

void UpdateControllerTest::secondCheckWhileBusyDoesNothing() {
    serve(R"({"version":"0.2.0"})");
    auto updates = controller();
    QSignalSpy state(updates.get(), &UpdateController::stateChanged);
    updates->check();
    updates->check();
    updates->check(true);
    QCOMPARE(state.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!updates->busy(), 8000);
    QTest::qWait(100);
    QCOMPARE(state.count(), 2);
    QCOMPARE(server_->requests().size(), size_t(1));
}

void UpdateControllerTest::manifestLocationFromPanelFile() {
    serve(R"({"version":"0.1.0"})");
    auto updates = controller();
    const QUrl builtIn = QUrl(QString::fromStdString(server_->origin() + "/orvik/latest.json"));
    QCOMPARE(updates->manifestUrl(), builtIn);
    runtime_->write("panel.json", R"({"apiBase":"https://panel.example","updateUrl":"  "})");
    QCOMPARE(updates->manifestUrl(), builtIn);
    runtime_->write("panel.json", "{ broken");
    QCOMPARE(updates->manifestUrl(), builtIn);
    runtime_->write("panel.json", R"({"updateUrl":7})");
    QCOMPARE(updates->manifestUrl(), builtIn);

    runtime_->write("panel.json", R"({"updateUrl":" )" + server_->origin() + R"(/channel/beta.json "})");
    runCheck(*updates);
    QCOMPARE(server_->requests().back().path, std::string("/channel/beta.json"));
}

void UpdateControllerTest::silentServerEndsTheCheck() {
    server_ = std::make_unique<HttpTestServer>([](const HttpRequestRecord&) {
        HttpReply reply;
        reply.neverAnswer = true;
        return reply;
    });
    auto updates = controller(400);
    QElapsedTimer clock;
    clock.start();
    runCheck(*updates);
    QVERIFY(clock.elapsed() < 4000);
    QCOMPARE(updates->statusText(), QStringLiteral("暂时无法检查更新"));
}

QTEST_MAIN(UpdateControllerTest)
#include "update_controller_test.moc"
