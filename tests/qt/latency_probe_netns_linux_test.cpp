// Nodes that never answer, in the machine of a RouterLab: the neighbour entry for 198.18.1.9
// points at a hardware address nobody has, so SYNs leave and nothing ever comes back. The
// probe runs on this thread while it is inside the machine.
#include <QSignalSpy>
#include <QtTest>

#include "app/routes/latency_probe.h"
#include "tests/support/netns_linux.h"

class LatencyProbeNetnsTest : public QObject {
    Q_OBJECT

private slots:
    // Four silent nodes, two at a time: each pair waits out the time-out, the second pair
    // starts only when the first gave up, and every one is reported unavailable.
    void silentNodesAreUnavailableAfterTheTimeOutAndWaitForFreeSlots() {
        const std::string why = orvik_test::whyNoNetworkLab();
        if (!why.empty()) QSKIP(why.c_str());
        orvik_test::RouterLab lab({});
        QVERIFY2(lab.error().empty(), lab.error().c_str());
        QVERIFY(orvik_test::runProgram({"ip", "-n", lab.machine(), "neigh", "add", "198.18.1.9", "lladdr",
                                        "02:00:5e:00:90:02", "dev", "uplink0", "nud", "permanent"}));
        const orvik_test::EnteredNamespace inMachine(lab.machine());
        QVERIFY(inMachine.ok());

        LatencyProbe probe({.timeoutMs = 500, .parallel = 2, .intervalMs = 60000});
        QSignalSpy measured(&probe, &LatencyProbe::measured);
        QElapsedTimer clock;
        clock.start();
        RouteEndpoints endpoints;
        for (int i = 0; i < 4; ++i) endpoints.append({QStringLiteral("s%1").arg(i), "198.18.1.9", quint16(1000 + i)});
        probe.setEndpoints(endpoints);
        QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 2, 10000);
        QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 4, 10000);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        for (const QList<QVariant>& call : measured) QCOMPARE(call.at(1).toInt(), -1);
        QTRY_VERIFY(probe.idle());
    }
};

QTEST_MAIN(LatencyProbeNetnsTest)
#include "latency_probe_netns_linux_test.moc"
