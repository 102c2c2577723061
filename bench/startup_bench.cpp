// The real Orvik program from a cold process: time from the start of the process to the
// window's first frame (median of several starts), resident memory once idle, CPU time and
// frames over a quiet spell. Offscreen with software rendering; frames are read from the
// render loop's own timing log, so the program runs unchanged.
//
//   build/linux/bench/startup_bench [starts] [quiet-seconds]   (default 7 and 10)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr char kFrameLine[] = "Frame rendered with";

QProcessEnvironment quietEnvironment(const QTemporaryDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Its own runtime, settings and temporary folders: no other client, service or settings.
    for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "TMPDIR"}) env.insert(name, dir.path());
    env.insert("ORVIK_PIPE", dir.filePath("no-service.sock"));
    env.insert("ORVIK_RUNTIME", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_QUICK_BACKEND", "software");
    env.insert("QT_LOGGING_RULES", "qt.scenegraph.time.renderloop=true");
    return env;
}

// Process start to the first frame line, or -1.
qint64 startToFirstFrame(QProcess& client, const QTemporaryDir& dir, QByteArray& firstFrame) {
    QFile::copy(QStringLiteral(ORVIK_LOCAL_ACCOUNT), dir.filePath("account.json"));
    client.setProcessEnvironment(quietEnvironment(dir));
    client.setReadChannel(QProcess::StandardError);  // where the render loop logs
    QElapsedTimer clock;
    clock.start();
    client.start(QStringLiteral(ORVIK_PROGRAM), {});
    while (clock.elapsed() < 20000 && client.waitForReadyRead(20000)) {
        for (QByteArray line = client.readLine(); !line.isEmpty(); line = client.readLine()) {
            if (line.contains(kFrameLine)) {
                firstFrame = line.trimmed();
                return clock.elapsed();
            }
        }
    }
    return -1;
}

// What the program logged over `ms` milliseconds.
QByteArray logOver(QProcess& client, int ms) {
    QElapsedTimer clock;
    clock.start();
    QByteArray log;
    while (clock.elapsed() < ms) {
        client.waitForReadyRead(int(std::max<qint64>(1, ms - clock.elapsed())));
        log += client.readAllStandardError();
    }
    return log;
}

void stop(QProcess& client) {
    client.terminate();
    if (!client.waitForFinished(5000)) client.kill();
    client.waitForFinished(2000);
}

long statusKiB(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// User plus system CPU time of the process, in milliseconds.
double cpuMs(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int quietSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    std::vector<qint64> firstFrames;
    QByteArray firstFrame;
    for (int i = 0; i < starts; ++i) {
        QTemporaryDir dir;
        QProcess client;
        const qint64 ms = startToFirstFrame(client, dir, firstFrame);
        stop(client);
        if (ms < 0) {
            std::fprintf(stderr, "start %d: no frame (%s)\n", i + 1, client.readAllStandardError().constData());
            return 1;
        }
        firstFrames.push_back(ms);
    }
    std::sort(firstFrames.begin(), firstFrames.end());
    std::printf("process start to first frame, %d starts: median %lld ms (min %lld, max %lld)\n", starts,
                static_cast<long long>(firstFrames[firstFrames.size() / 2]),
                static_cast<long long>(firstFrames.front()), static_cast<long long>(firstFrames.back()));
    std::printf("last first frame: %s\n", firstFrame.constData());

    // One more start, left alone: the window settles, then a quiet spell is measured.
    QTemporaryDir dir;
    QProcess client;
    if (startToFirstFrame(client, dir, firstFrame) < 0) return 1;
    const qint64 pid = client.processId();
    logOver(client, 3000);
    const long rss = statusKiB(pid, "VmRSS:");
    const double cpuBefore = cpuMs(pid);
    const long frames = logOver(client, quietSeconds * 1000).count(kFrameLine);
    const double cpu = cpuMs(pid) - cpuBefore;
    std::printf("idle (signed out, sign-in overlay open): resident %ld KiB (peak %ld KiB); over %d s: CPU %.0f ms, "
                "%ld frames\n", rss, statusKiB(pid, "VmHWM:"), quietSeconds, cpu, frames);
    stop(client);
    return 0;
}
