// The latency probe on the loopback interface: every endpoint is measured once per round,
// a few at a time; replaced endpoints never report; rounds repeat until the list is cleared.
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

#include "app/routes/latency_probe.h"
#include "tests/support/http_test_server.h"

namespace {

// The time-out is longer than the test waits: every result here is an answer.
LatencyProbeOptions options(int parallel, int intervalMs) { return {60000, parallel, intervalMs}; }

QHash<QString, int> results(const QSignalSpy& spy) {
    QHash<QString, int> byRoute;
    for (const QList<QVariant>& call : spy) byRoute.insert(call.at(0).toString(), call.at(1).toInt());
    return byRoute;
}

}  // namespace

class LatencyProbeTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTcpServer> listener_;  // answers every handshake on port_
    quint16 port_ = 0;

private slots:
    void init() {
        listener_ = std::make_unique<QTcpServer>();
        QVERIFY(listener_->listen(QHostAddress::LocalHost));
        port_ = listener_->serverPort();
    }

    // A refused port, a name and a missing address or port give their result at once, not
    // after the time-out; more endpoints than slots are all measured, each once. Endpoints
    // replaced while measured never report; one that moved reports its new address.
    void everyEndpointOnce() {
        LatencyProbe probe(options(2, 60000));
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
        QCOMPARE(measured.count(), 11);
        const QHash<QString, int> byRoute = results(measured);
        QCOMPARE(byRoute.size(), 11);
        for (const char* failed : {"closed", "no-port", "no-host", "moved"})
            QCOMPARE(byRoute.value(failed), -1);
        QVERIFY(byRoute.value("named") >= 1);
        for (int i = 0; i < 6; ++i) QVERIFY(byRoute.value(QStringLiteral("open%1").arg(i)) >= 1);
    }

    void roundsRepeatUntilCleared() {
        LatencyProbe probe(options(4, 150));
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

QTEST_MAIN(LatencyProbeTest)
#include "latency_probe_test.moc"
