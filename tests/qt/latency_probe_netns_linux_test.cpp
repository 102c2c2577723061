// A node that never answers: inside a network namespace of the test's own, a veth link
// carries 198.18.90.1/24 and the neighbour entry for 198.18.90.2 points at a hardware
// address nobody has, so SYNs leave and nothing ever comes back. The probe runs on this
// thread after it entered the namespace; nothing outside the machine is addressed.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include "app/routes/latency_probe.h"

namespace {

const QString kSilentNode = QStringLiteral("198.18.90.2");

bool runIp(const QStringList& arguments, QString* output = nullptr) {
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(QStringLiteral("ip"), arguments);
    const bool finished = ip.waitForStarted(5000) && ip.waitForFinished(10000);
    if (output) *output = QString::fromUtf8(ip.readAll());
    return finished && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

// Empty when this process may build a namespace; otherwise why not.
QString whyNoNamespace() {
    if (::geteuid() != 0) return QStringLiteral("needs root to create a network namespace; skipped");
    if (!runIp({QStringLiteral("-V")})) return QStringLiteral("needs the ip command (iproute2); skipped");
    return {};
}

// The namespace with the silent link. The name follows the pattern the other network tests
// clean up after a crashed run ("orvik-<pid>-<n>").
class SilentLink {
public:
    SilentLink() : name_(QStringLiteral("orvik-%1-90").arg(::getpid())) {}
    ~SilentLink() {
        leave();
        if (created_) runIp({QStringLiteral("netns"), QStringLiteral("del"), name_});
    }

    bool create(QString& error) {
        const QList<QStringList> steps = {
            {"netns", "add", name_},
            {"-n", name_, "link", "add", "va", "type", "veth", "peer", "name", "vb"},
            {"-n", name_, "addr", "add", "198.18.90.1/24", "dev", "va"},
            {"-n", name_, "link", "set", "va", "up"},
            {"-n", name_, "link", "set", "vb", "up"},
            {"-n", name_, "neigh", "add", kSilentNode, "lladdr", "02:00:5e:00:90:02", "dev", "va", "nud", "permanent"},
        };
        for (const QStringList& step : steps) {
            QString output;
            if (!runIp(step, &output)) {
                error = QStringLiteral("ip %1: %2").arg(step.join(QLatin1Char(' ')), output);
                return false;
            }
            created_ = true;
        }
        return true;
    }

    // Moves this thread into the namespace; leave() (or the destructor) moves it back.
    bool enter(QString& error) {
        home_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const QByteArray path = QStringLiteral("/run/netns/%1").arg(name_).toLocal8Bit();
        const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        const bool entered = home_ >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
        if (target >= 0) ::close(target);
        if (!entered) error = QStringLiteral("cannot enter %1: %2").arg(name_, QString::fromLocal8Bit(std::strerror(errno)));
        return entered;
    }

    void leave() {
        if (home_ < 0) return;
        if (::setns(home_, CLONE_NEWNET) != 0) qFatal("cannot return to the test's own network namespace");
        ::close(home_);
        home_ = -1;
    }

private:
    QString name_;
    bool created_ = false;
    int home_ = -1;
};

LatencyProbeOptions options(int timeoutMs, int parallel) {
    LatencyProbeOptions result;
    result.timeoutMs = timeoutMs;
    result.parallel = parallel;
    result.intervalMs = 60000;
    return result;
}

}  // namespace

class LatencyProbeNetnsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void silentNodeIsUnavailableAfterTheTimeOut();
    void silentNodesWaitForFreeSlots();

private:
    std::unique_ptr<SilentLink> link_;
};

void LatencyProbeNetnsTest::init() {
    const QString why = whyNoNamespace();
    if (!why.isEmpty()) QSKIP(qPrintable(why));
    link_ = std::make_unique<SilentLink>();
    QString error;
    QVERIFY2(link_->create(error), qPrintable(error));
    QVERIFY2(link_->enter(error), qPrintable(error));
}

void LatencyProbeNetnsTest::cleanup() {
    link_.reset();
}

void LatencyProbeNetnsTest::silentNodeIsUnavailableAfterTheTimeOut() {
    LatencyProbe probe(options(800, 4));
    QSignalSpy measured(&probe, &LatencyProbe::measured);
    QElapsedTimer clock;
    clock.start();
    probe.setEndpoints({{QStringLiteral("silent"), kSilentNode, 443}});
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 1, 4000);
    const qint64 waited = clock.elapsed();
    QCOMPARE(measured.at(0).at(0).toString(), QStringLiteral("silent"));
    QCOMPARE(measured.at(0).at(1).toInt(), -1);
    QVERIFY2(waited >= 750 && waited < 2000, qPrintable(QString::number(waited)));
    QVERIFY(probe.idle());
}

void LatencyProbeNetnsTest::silentNodesWaitForFreeSlots() {
    // Four silent nodes, two at a time: the second pair starts only when the first times out.
    LatencyProbe probe(options(500, 2));
    QSignalSpy measured(&probe, &LatencyProbe::measured);
    QElapsedTimer clock;
    clock.start();
    RouteEndpoints endpoints;
    for (int i = 0; i < 4; ++i) endpoints.append({QStringLiteral("s%1").arg(i), kSilentNode, quint16(1000 + i)});
    probe.setEndpoints(endpoints);
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 2, 3000);
    const qint64 firstPair = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 4, 3000);
    const qint64 secondPair = clock.elapsed();
    QVERIFY2(firstPair >= 450 && firstPair < 900, qPrintable(QString::number(firstPair)));
    QVERIFY2(secondPair >= 950 && secondPair < 1800, qPrintable(QString::number(secondPair)));
    for (const QList<QVariant>& call : measured) QCOMPARE(call.at(1).toInt(), -1);
}

QTEST_MAIN(LatencyProbeNetnsTest)
#include "latency_probe_netns_linux_test.moc"
