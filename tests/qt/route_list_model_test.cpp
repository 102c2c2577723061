// The route list: rows built from node names in their order, the filter, and the measured
// latency and availability arriving in the rows.
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "app/routes/route_list_model.h"
#include "tests/support/http_test_server.h"

namespace {

const QString kTokyo = QStringLiteral("日本·东京");
const QString kSeoul = QStringLiteral("韩国·首尔");
const QString kFrankfurt = QStringLiteral("Germany·Frankfurt");

}  // namespace

class RouteListModelTest : public QObject {
    Q_OBJECT

private slots:
    // Rows as "routeId|country|city|quality|group": the first name is the recommended route,
    // blank names are skipped, ids are trimmed by the rule the service finds nodes by.
    void rows_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("country and city") << QStringList{"  " + kTokyo + " ", kSeoul}
                                          << QStringList{"日本·东京|日本|东京|面板|推荐", "韩国·首尔|韩国|首尔|可用|全部地区"};
        // A leading separator does not split; spaces round the separator stay in the parts.
        QTest::newRow("no usable separator, blank first name")
            << QStringList{"   ", "·香港", "美国 · 洛杉矶", QString()}
            << QStringList{"·香港|·香港|·香港|可用|全部地区", "美国 · 洛杉矶|美国 | 洛杉矶|可用|全部地区"};
        QTest::newRow("unicode spaces trimmed")
            << QStringList{"Osaka", "Tokyo\u2003", "\u3000Kyoto\u00A0"}
            << QStringList{"Osaka|Osaka|Osaka|面板|推荐", "Tokyo|Tokyo|Tokyo|可用|全部地区", "Kyoto|Kyoto|Kyoto|可用|全部地区"};
    }

    void rows() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, rows);
        RouteListModel model;
        model.setNodes(names);
        QStringList seen;
        for (int row = 0; row < model.rowCount(); ++row) {
            QStringList fields;
            for (int role : {RouteListModel::RouteIdRole, RouteListModel::CountryRole, RouteListModel::CityRole,
                             RouteListModel::QualityRole, RouteListModel::GroupRole})
                fields.append(model.data(model.index(row), role).toString());
            seen.append(fields.join(QLatin1Char('|')));
            const QVariantMap values = model.get(row);
            QCOMPARE(values.value("recommended").toBool(), fields.last() == "推荐");
            QCOMPARE(values.value("latencyState").toString(), QStringLiteral("measuring"));
        }
        QCOMPARE(seen, rows);
        model.clear();
        QCOMPARE(model.count(), 0);
    }

    void filter_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("visible");
        QTest::newRow("blank") << " \t" << QStringList{kTokyo, kFrankfurt, kSeoul};
        QTest::newRow("code") << "xb" << QStringList{kTokyo, kFrankfurt, kSeoul};
        QTest::newRow("city, any case, trimmed") << "  frankFURT " << QStringList{kFrankfurt};
        QTest::newRow("country") << "韩国" << QStringList{kSeoul};
        QTest::newRow("nothing") << "nowhere" << QStringList{};
    }

    void filter() {
        QFETCH(QString, text);
        QFETCH(QStringList, visible);
        RouteListModel model;
        model.setNodes({kTokyo, kFrankfurt, kSeoul});
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setFilterText(text);
        QCOMPARE(reset.count(), text.trimmed().isEmpty() ? 0 : 1);
        model.setNodes({kSeoul, kFrankfurt, kTokyo});  // a rebuild keeps the filter
        QCOMPARE(model.count(), int(visible.size()));
        for (const QString& id : visible) QCOMPARE(model.get(model.visibleIndexOf(id)).value("routeId").toString(), id);
    }

    // Only a visible row reports a change; a node that refuses is unavailable; results stay
    // over a rebuild while the node's address stays, and go when it is gone or moved.
    void measurements() {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        const quint16 open = listener.serverPort();
        const quint16 closed = static_cast<quint16>(orvik_test::unusedLoopbackPort());
        RouteListModel model;
        model.setNodes({kTokyo, kSeoul});
        model.setFilterText(QStringLiteral("首尔"));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy measured(&model, &RouteListModel::latencyMeasured);
        model.setEndpoints({{kTokyo, "127.0.0.1", open}, {kSeoul, "127.0.0.1", closed}});
        QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 2, 10000);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 0);
        const QList<int> roles = changed.at(0).at(2).value<QList<int>>();
        QVERIFY(roles.contains(RouteListModel::AvailableRole) && roles.contains(RouteListModel::QualityRole));
        QVERIFY(!roles.contains(RouteListModel::RouteIdRole));

        model.setFilterText(QString());
        model.setNodes({kSeoul, kTokyo});
        const QVariantMap seoul = model.get(0);
        QCOMPARE(seoul.value("available").toBool(), false);
        QCOMPARE(seoul.value("quality").toString(), QStringLiteral("不可用"));
        QCOMPARE(seoul.value("latencyState").toString(), QStringLiteral("ready"));
        QVERIFY(model.get(1).value("available").toBool() && model.get(1).value("latency").toInt() >= 1);

        model.setEndpoints({{kTokyo, "127.0.0.1", closed}});  // tokyo moved, seoul gone
        QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 3, 10000);
        QCOMPARE(model.get(1).value("available").toBool(), false);
        model.setNodes({kSeoul, kTokyo});
        QCOMPARE(model.get(0).value("latencyState").toString(), QStringLiteral("measuring"));
    }
};

QTEST_MAIN(RouteListModelTest)
#include "route_list_model_test.moc"
