#include "app/shell/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

const QString kKey = QStringLiteral("OrvikTessel.SingleInstance");

QString defaultDirectory() {
#ifdef Q_OS_WIN
    return QDir::tempPath();
#else
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
#endif
}

}  // namespace

SingleInstance::SingleInstance(const QString& directory)
    : directory_(directory.isEmpty() ? defaultDirectory() : directory) {}

QString SingleInstance::serverName() const {
#ifdef Q_OS_WIN
    return kKey;  // a pipe name; UserAccessOption keeps other users out
#else
    return directory_ + QLatin1Char('/') + kKey;  // a socket in the user's own directory
#endif
}

bool SingleInstance::acquire() {
    lock_ = std::make_unique<QLockFile>(lockPath());
    lock_->setStaleLockTime(2000);
    if (!lock_->tryLock(200)) return false;
    QLocalServer::removeServer(serverName());  // left by a client that crashed
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(serverName());  // without it a later start only finds no one to knock on
    return true;
}

bool SingleInstance::knock() {
    QLocalSocket socket;
    socket.connectToServer(serverName(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(400)) return false;
    socket.write("raise");
    socket.waitForBytesWritten(400);
    socket.waitForDisconnected(400);
    return true;
}
