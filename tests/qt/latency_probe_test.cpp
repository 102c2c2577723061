// The latency probe on the loopback interface: a listener answers, a closed port refuses,
// names are resolved first, more endpoints than slots are all measured, replaced endpoints
// never report, and rounds repeat until the endpoints are cleared.

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include "app/routes/latency_probe.h"
#include "tests/support/http_test_server.h"

namespace {

LatencyProbeOptions options(int timeoutMs, int parallel, int intervalMs) {
    LatencyProbeOptions result;
    result.timeoutMs = timeoutMs;
    result.parallel = parallel;
    result.intervalMs = intervalMs;
    return result;
}

QHash<QString, int> results(const QSignalSpy& spy) {
    QHash<QString, int> byRoute;
    for (const QList<QVariant>& call : spy) byRoute.insert(call.at(0).toString(), call.at(1).toInt());
    return byRoute;
}

}  // namespace

class LatencyProbeTest : public QObject {
    Q_OBJECT

private slots:
    void listenerClosedPortAndNames();
    void moreEndpointsThanSlots();
    void replacedEndpointsDoNotReport();
    void periodicRounds();
};

void LatencyProbeTest::listenerClosedPortAndNames() {
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    const quint16 port = listener.serverPort();
    const quint16 closed = static_cast<quint16>(orvik_test::unusedLoopbackPort());
    LatencyProbe probe(options(2000, 4, 60000));
    QSignalSpy measured(&probe, &LatencyProbe::measured);

    QElapsedTimer clock;
    clock.start();
    probe.setEndpoints({{"open", "127.0.0.1", port},
                        {"closed", "127.0.0.1", closed},
                        {"named", "localhost", port},
                        {"no-port", "127.0.0.1", 0},
                        {"no-host", "  ", port}});
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 5, 5000);
    QVERIFY(probe.idle());
    const QHash<QString, int> byRoute = results(measured);
    QVERIFY2(byRoute.value("open") >= 1 && byRoute.value("open") < 1000, qPrintable(QString::number(byRoute.value("open"))));
    QVERIFY(byRoute.value("named") >= 1);
    QCOMPARE(byRoute.value("closed"), -1);
    QCOMPARE(byRoute.value("no-port"), -1);
    QCOMPARE(byRoute.value("no-host"), -1);
    // A refused port does not wait for the time-out.
    QVERIFY(clock.elapsed() < 1500);
    QTRY_VERIFY(listener.hasPendingConnections());
}

void LatencyProbeTest::moreEndpointsThanSlots() {
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    LatencyProbe probe(options(2000, 2, 60000));
    QSignalSpy measured(&probe, &LatencyProbe::measured);
    RouteEndpoints endpoints;
    for (int i = 0; i < 7; ++i) endpoints.append({QStringLiteral("r%1").arg(i), "127.0.0.1", listener.serverPort()});
    probe.setEndpoints(endpoints);
    QCOMPARE(measured.count(), 0);  // results come from the event loop, never from the call
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 7, 5000);
    int accepted = 0;
    while (listener.hasPendingConnections() || listener.waitForNewConnection(200)) {
        delete listener.nextPendingConnection();
        ++accepted;
    }
    QCOMPARE(accepted, 7);
    QCOMPARE(results(measured).size(), 7);
}

void LatencyProbeTest::replacedEndpointsDoNotReport() {
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    LatencyProbe probe(options(2000, 4, 60000));
    QSignalSpy measured(&probe, &LatencyProbe::measured);
    probe.setEndpoints({{"gone", "127.0.0.1", listener.serverPort()},
                        {"moved", "127.0.0.1", listener.serverPort()},
                        {"kept", "127.0.0.1", listener.serverPort()}});
    const quint16 closed = static_cast<quint16>(orvik_test::unusedLoopbackPort());
    probe.setEndpoints({{"moved", "127.0.0.1", closed}, {"kept", "127.0.0.1", listener.serverPort()}});
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 2, 5000);
    QTest::qWait(200);
    const QHash<QString, int> byRoute = results(measured);
    QCOMPARE(measured.count(), 2);
    QVERIFY(!byRoute.contains("gone"));
    QCOMPARE(byRoute.value("moved"), -1);
    QVERIFY(byRoute.value("kept") >= 1);

    probe.setEndpoints({});
    QVERIFY(probe.idle());
}

void LatencyProbeTest::periodicRounds() {
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    LatencyProbe probe(options(1000, 4, 150));
    QSignalSpy measured(&probe, &LatencyProbe::measured);
    probe.setEndpoints({{"a", "127.0.0.1", listener.serverPort()}});
    QTRY_VERIFY_WITH_TIMEOUT(measured.count() >= 3, 5000);
    probe.setEndpoints({});
    const qsizetype after = measured.count();
    QTest::qWait(400);
    QCOMPARE(measured.count(), after);
}

QTEST_MAIN(LatencyProbeTest)
#include "latency_probe_test.moc"
