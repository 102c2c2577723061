// The route list: records built from node names, the filter, row look-ups, and the
// measured latency arriving in the rows.

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "app/routes/route_list_model.h"
#include "vpn/route_id.h"
#include "tests/support/http_test_server.h"

namespace {

const QString kTokyo = QStringLiteral("日本·东京");
const QString kSeoul = QStringLiteral("韩国·首尔");

LatencyProbeOptions quickProbe() {
    LatencyProbeOptions options;
    options.timeoutMs = 1500;
    options.intervalMs = 60000;
    return options;
}

QVariant roleOf(const RouteListModel& model, int row, RouteListModel::Role role) {
    return model.data(model.index(row), role);
}

}  // namespace

class RouteListModelTest : public QObject {
    Q_OBJECT

private slots:
    void rolesAndMetaObject();
    void recordsFromTwoNames();
    void namesWithoutUsableSeparatorOrFirstName();
    void filterMatchesFieldsCaseInsensitively();
    void blankFilterWhileEmptyEmitsNothing();
    void rowLookUps();
    void emptyListAndClearResetAndCount();
    void measuredLatencyReachesTheRows();
    void unavailableNodeAndDroppedMeasurements();
    void routeIdsTrimLikeTheServiceForEveryCharacter();
};

void RouteListModelTest::rolesAndMetaObject() {
    RouteListModel model;
    const QHash<int, QByteArray> roles = model.roleNames();
    const QList<QByteArray> names = {"routeId", "code",         "country",   "city",   "quality", "latency",
                                     "recommended", "group", "latencyState", "available", "recent"};
    QCOMPARE(roles.size(), 11);
    for (int i = 0; i < names.size(); ++i) QCOMPARE(roles.value(257 + i), names.at(i));

    const QMetaObject* meta = model.metaObject();
    const QMetaEnum role = meta->enumerator(meta->indexOfEnumerator("Role"));
    QVERIFY(role.isValid());
    QCOMPARE(role.keyToValue("RecentRole"), 267);
    QCOMPARE(role.keyToValue("RouteIdRole"), 257);
    auto info = [meta](const char* name) {
        return QString::fromUtf8(meta->classInfo(meta->indexOfClassInfo(name)).value());
    };
    QCOMPARE(info("QML.Element"), QStringLiteral("auto"));
    QCOMPARE(info("QML.Creatable"), QStringLiteral("false"));
    QCOMPARE(info("QML.UncreatableReason"), QStringLiteral("RouteListModel is provided by the application"));
    QVERIFY(meta->indexOfMethod("get(int)") >= 0);
    QVERIFY(meta->indexOfMethod("visibleIndexOf(QString)") >= 0);
    QVERIFY(meta->property(meta->indexOfProperty("filterText")).isWritable());
    QVERIFY(!meta->property(meta->indexOfProperty("count")).isWritable());
}

void RouteListModelTest::recordsFromTwoNames() {
    RouteListModel model;
    model.setNodes({QStringLiteral("  ") + kTokyo + QStringLiteral(" "), kSeoul});
    QCOMPARE(model.count(), 2);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.rowCount(model.index(0)), 0);

    const QVariantMap first = model.get(0);
    QCOMPARE(first.value("routeId").toString(), kTokyo);
    QCOMPARE(first.value("code").toString(), QStringLiteral("XB"));
    QCOMPARE(first.value("country").toString(), QStringLiteral("日本"));
    QCOMPARE(first.value("city").toString(), QStringLiteral("东京"));
    QCOMPARE(first.value("quality").toString(), QStringLiteral("面板"));
    QCOMPARE(first.value("group").toString(), QStringLiteral("推荐"));
    QCOMPARE(first.value("recommended").toBool(), true);
    QCOMPARE(first.value("recent").toBool(), true);
    QCOMPARE(first.value("available").toBool(), true);
    QCOMPARE(first.value("latencyState").toString(), QStringLiteral("measuring"));
    QCOMPARE(first.size(), 11);

    const QVariantMap second = model.get(1);
    QCOMPARE(second.value("country").toString(), QStringLiteral("韩国"));
    QCOMPARE(second.value("city").toString(), QStringLiteral("首尔"));
    QCOMPARE(second.value("quality").toString(), QStringLiteral("可用"));
    QCOMPARE(second.value("group").toString(), QStringLiteral("全部地区"));
    QCOMPARE(second.value("recommended").toBool(), false);
    QCOMPARE(second.value("recent").toBool(), false);

    QCOMPARE(roleOf(model, 1, RouteListModel::CityRole).toString(), QStringLiteral("首尔"));
    QCOMPARE(roleOf(model, 0, RouteListModel::LatencyStateRole).toString(), QStringLiteral("measuring"));
    QVERIFY(!model.data(model.index(1), Qt::DisplayRole).isValid());
    QVERIFY(!model.data(model.index(2), RouteListModel::RouteIdRole).isValid());
}

void RouteListModelTest::namesWithoutUsableSeparatorOrFirstName() {
    RouteListModel model;
    // The first entry is blank: no route is recommended. A leading separator does not split;
    // spaces round the separator stay in the parts.
    model.setNodes({QStringLiteral("   "), QStringLiteral("·香港"), QStringLiteral("美国 · 洛杉矶"), QString()});
    QCOMPARE(model.count(), 2);
    QCOMPARE(model.get(0).value("country").toString(), QStringLiteral("·香港"));
    QCOMPARE(model.get(0).value("city").toString(), QStringLiteral("·香港"));
    QCOMPARE(model.get(1).value("country").toString(), QStringLiteral("美国 "));
    QCOMPARE(model.get(1).value("city").toString(), QStringLiteral(" 洛杉矶"));
    for (int row = 0; row < model.count(); ++row) {
        QCOMPARE(model.get(row).value("recommended").toBool(), false);
        QCOMPARE(model.get(row).value("group").toString(), QStringLiteral("全部地区"));
        QCOMPARE(model.get(row).value("quality").toString(), QStringLiteral("可用"));
    }
}

void RouteListModelTest::filterMatchesFieldsCaseInsensitively() {
    RouteListModel model;
    model.setNodes({kTokyo, QStringLiteral("Germany·Frankfurt"), kSeoul});
    QSignalSpy filterSpy(&model, &RouteListModel::filterTextChanged);
    QSignalSpy countSpy(&model, &RouteListModel::countChanged);
    QSignalSpy resetSpy(&model, &QAbstractItemModel::modelReset);

    model.setFilterText(QStringLiteral("xb"));
    QCOMPARE(model.count(), 3);
    model.setFilterText(QStringLiteral("  frankFURT "));
    QCOMPARE(model.filterText(), QStringLiteral("frankFURT"));
    QCOMPARE(model.count(), 1);
    QCOMPARE(model.get(0).value("routeId").toString(), QStringLiteral("Germany·Frankfurt"));
    model.setFilterText(QStringLiteral("东京"));
    QCOMPARE(model.count(), 1);
    QCOMPARE(model.get(0).value("routeId").toString(), kTokyo);
    QCOMPARE(filterSpy.count(), 3);
    QCOMPARE(countSpy.count(), 3);
    QCOMPARE(resetSpy.count(), 3);

    model.setFilterText(QStringLiteral("nowhere"));
    QCOMPARE(model.count(), 0);
    QCOMPARE(model.rowCount(), 0);
    model.setFilterText(QString());
    QCOMPARE(model.count(), 3);

    // A rebuild keeps the filter.
    model.setFilterText(QStringLiteral("韩国"));
    model.setNodes({kSeoul, kTokyo});
    QCOMPARE(model.count(), 1);
    QCOMPARE(model.get(0).value("recommended").toBool(), true);
}

void RouteListModelTest::blankFilterWhileEmptyEmitsNothing() {
    RouteListModel model;
    model.setNodes({kTokyo});
    QSignalSpy filterSpy(&model, &RouteListModel::filterTextChanged);
    QSignalSpy countSpy(&model, &RouteListModel::countChanged);
    QSignalSpy resetSpy(&model, &QAbstractItemModel::modelReset);
    model.setFilterText(QStringLiteral("   "));
    QVERIFY(model.setProperty("filterText", QStringLiteral("\t")));
    QCOMPARE(filterSpy.count(), 0);
    QCOMPARE(countSpy.count(), 0);
    QCOMPARE(resetSpy.count(), 0);
}

void RouteListModelTest::rowLookUps() {
    RouteListModel model;
    model.setNodes({kTokyo, kSeoul, QStringLiteral("Germany·Frankfurt")});
    QCOMPARE(model.visibleIndexOf(kSeoul), 1);
    QCOMPARE(model.visibleIndexOf(QStringLiteral("germany·frankfurt")), -1);
    QCOMPARE(model.visibleIndexOf(QString()), -1);
    model.setFilterText(QStringLiteral("Germany"));
    QCOMPARE(model.visibleIndexOf(kSeoul), -1);
    QCOMPARE(model.visibleIndexOf(QStringLiteral("Germany·Frankfurt")), 0);

    QVERIFY(model.get(-1).isEmpty());
    QVERIFY(model.get(model.count()).isEmpty());
    QVariantMap viaMeta;
    QVERIFY(QMetaObject::invokeMethod(&model, "get", Q_RETURN_ARG(QVariantMap, viaMeta), Q_ARG(int, 0)));
    QCOMPARE(viaMeta.value("city").toString(), QStringLiteral("Frankfurt"));
}

void RouteListModelTest::emptyListAndClearResetAndCount() {
    RouteListModel model;
    QSignalSpy countSpy(&model, &RouteListModel::countChanged);
    QSignalSpy resetSpy(&model, &QAbstractItemModel::modelReset);
    model.setNodes({});
    QCOMPARE(countSpy.count(), 1);
    QCOMPARE(resetSpy.count(), 1);
    model.setNodes({kTokyo, kSeoul});
    model.clear();
    QCOMPARE(model.count(), 0);
    QCOMPARE(countSpy.count(), 3);
    QCOMPARE(resetSpy.count(), 3);
    QVERIFY(model.get(0).isEmpty());
}

void RouteListModelTest::measuredLatencyReachesTheRows() {
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    RouteListModel model(quickProbe());
    model.setNodes({kTokyo, kSeoul});
    model.setFilterText(QStringLiteral("首尔"));  // the first route is hidden
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy measured(&model, &RouteListModel::latencyMeasured);

    model.setEndpoints({{kTokyo, QStringLiteral("127.0.0.1"), listener.serverPort()},
                        {kSeoul, QStringLiteral("127.0.0.1"), listener.serverPort()}});
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 2, 5000);
    for (const QList<QVariant>& call : measured) QVERIFY(call.at(1).toInt() >= 1);

    // Only the visible row changes, and only the roles that did.
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 0);
    const QList<int> roles = changed.at(0).at(2).value<QList<int>>();
    QVERIFY(roles.contains(RouteListModel::LatencyRole));
    QVERIFY(roles.contains(RouteListModel::LatencyStateRole));
    QVERIFY(!roles.contains(RouteListModel::RouteIdRole));
    QVERIFY(!roles.contains(RouteListModel::AvailableRole));

    model.setFilterText(QString());
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(model.get(row).value("latencyState").toString(), QStringLiteral("ready"));
        QVERIFY(model.get(row).value("latency").toInt() >= 1);
        QCOMPARE(model.get(row).value("available").toBool(), true);
    }
    // A rebuild from the same names keeps the measurements.
    model.setNodes({kSeoul, kTokyo});
    QCOMPARE(model.get(0).value("latencyState").toString(), QStringLiteral("ready"));
    QCOMPARE(model.get(0).value("quality").toString(), QStringLiteral("面板"));
}

void RouteListModelTest::unavailableNodeAndDroppedMeasurements() {
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    const quint16 closedPort = static_cast<quint16>(orvik_test::unusedLoopbackPort());
    RouteListModel model(quickProbe());
    model.setNodes({kTokyo, kSeoul});
    QSignalSpy measured(&model, &RouteListModel::latencyMeasured);

    model.setEndpoints({{kTokyo, QStringLiteral("127.0.0.1"), closedPort}});
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 1, 5000);
    QCOMPARE(measured.at(0).at(1).toInt(), -1);
    const QVariantMap down = model.get(0);
    QCOMPARE(down.value("available").toBool(), false);
    QCOMPARE(down.value("quality").toString(), QStringLiteral("不可用"));
    QCOMPARE(down.value("latencyState").toString(), QStringLiteral("ready"));
    // The route without an address is still waiting for one.
    QCOMPARE(model.get(1).value("latencyState").toString(), QStringLiteral("measuring"));

    // The node moves: the old result goes, the next one replaces it.
    model.setEndpoints({{kTokyo, QStringLiteral("127.0.0.1"), listener.serverPort()}});
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 2, 5000);
    QCOMPARE(model.get(0).value("available").toBool(), true);
    QCOMPARE(model.get(0).value("quality").toString(), QStringLiteral("面板"));

    // Without an endpoint the route's result is forgotten at the next rebuild.
    model.setEndpoints({});
    model.setNodes({kTokyo});
    QCOMPARE(model.get(0).value("latencyState").toString(), QStringLiteral("measuring"));
}

// The service finds the node by the route id the window shows: a character that one end
// trims and the other keeps would connect another node than the one picked.
void RouteListModelTest::routeIdsTrimLikeTheServiceForEveryCharacter() {
    for (char32_t code = 1; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        const QString c = QString::fromUcs4(&code, 1);
        const QString name = c + QStringLiteral("Tokyo") + c;
        const QString qt = name.trimmed();
        const std::string library = vpn::routeIdOf(name.toStdString());
        if (library != qt.toStdString()) QFAIL(qPrintable(QStringLiteral("U+%1").arg(quint32(code), 4, 16, QChar('0'))));
    }
    RouteListModel model;
    model.setNodes({QStringLiteral("Osaka"), QStringLiteral("Tokyo\u2003")});
    QCOMPARE(model.get(1).value(QStringLiteral("routeId")).toString(), QStringLiteral("Tokyo"));
}

QTEST_MAIN(RouteListModelTest)
#include "route_list_model_test.moc"
