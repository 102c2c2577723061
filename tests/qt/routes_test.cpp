// The route list (rows from node names in order) and the latency probe under it on loopback:
// every endpoint measured once per round, a few at a time; replaced endpoints never report;
// rounds repeat until the list is cleared.
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

#include "app/routes/latency_probe.h"
#include "app/routes/route_list_model.h"
#include "tests/support/http_test_server.h"

namespace {

const QString kTokyo = QStringLiteral("日本·东京");
const QString kSeoul = QStringLiteral("韩国·首尔");

}  // namespace

class RoutesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTcpServer> listener_;  // answers every handshake on port_
    quint16 port_ = 0;

private slots:
    void init() {
        listener_ = std::make_unique<QTcpServer>();
        QVERIFY(listener_->listen(QHostAddress::LocalHost));
        port_ = listener_->serverPort();
    }

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
            QCOMPARE(model.get(row).value("recommended").toBool(), fields.last() == "推荐");
            QCOMPARE(model.get(row).value("latencyState").toString(), QStringLiteral("measuring"));
        }
        QCOMPARE(seen, rows);
    }

    // A refused port, a name and a missing address or port give their result at once, not
    // after the time-out; more endpoints than slots are all measured, each once. Endpoints
    // replaced while measured never report; one that moved reports its new address.
    void everyEndpointOnce() {
        LatencyProbe probe({60000, 2, 60000});  // the time-out is longer than the test waits
        QSignalSpy measured(&probe, &LatencyProbe::measured);
        const quint16 closed = quint16(orvik_test::unusedLoopbackPort());
        probe.setEndpoints({{"gone", "127.0.0.1", port_}, {"moved", "127.0.0.1", port_}});
        RouteEndpoints endpoints{{"closed", "127.0.0.1", closed}, {"named", "localhost", port_},
                                 {"no-port", "127.0.0.1", 0},      {"no-host", "  ", port_},
                                 {"moved", "127.0.0.1", closed}};
        for (int i = 0; i < 6; ++i) endpoints.append({QStringLiteral("open%1").arg(i), "127.0.0.1", port_});
        probe.setEndpoints(endpoints);
        QCOMPARE(measured.count(), 0);  // results come from the event loop, never from the call
        QTRY_VERIFY_WITH_TIMEOUT(probe.idle(), 10000);
        QHash<QString, int> byRoute;
        for (const QList<QVariant>& call : measured) byRoute.insert(call.at(0).toString(), call.at(1).toInt());
        QCOMPARE(measured.count(), 11);
        QCOMPARE(byRoute.size(), 11);  // each endpoint once
        for (const char* failed : {"closed", "no-port", "no-host", "moved"})
            QCOMPARE(byRoute.value(failed), -1);
        QVERIFY(byRoute.value("named") >= 1);
        for (int i = 0; i < 6; ++i) QVERIFY(byRoute.value(QStringLiteral("open%1").arg(i)) >= 1);
    }

    void roundsRepeatUntilCleared() {
        LatencyProbe probe({60000, 4, 150});
        QSignalSpy measured(&probe, &LatencyProbe::measured);
        probe.setEndpoints({{"a", "127.0.0.1", port_}});
        QTRY_VERIFY_WITH_TIMEOUT(measured.count() >= 3, 10000);
        probe.setEndpoints({});
        QVERIFY(probe.idle());
        const qsizetype after = measured.count();
        QTest::qWait(400);  // more than two intervals
        QCOMPARE(measured.count(), after);
    }
};

QTEST_MAIN(RoutesTest)
#include "routes_test.moc"
