#include "app/shell/single_instance.h"

#include <QLocalSocket>

#include "app/shell/user_folder.h"

namespace {

const QString kKey = QStringLiteral("OrvikTessel.SingleInstance");

}  // namespace

SingleInstance::SingleInstance(const QString& directory)
    : directory_(directory.isEmpty() ? userOnlyFolder(error_) : directory) {}

QString SingleInstance::serverName() const {
#ifdef Q_OS_WIN
    return kKey;  // a pipe name; UserAccessOption keeps other users out
#else
    return directory_ + QLatin1Char('/') + kKey;  // a socket in the user's own directory
#endif
}

SingleInstance::Claim SingleInstance::acquire() {
    if (directory_.isEmpty()) return Claim::failed;
    lock_ = std::make_unique<QLockFile>(lockPath());
    lock_->setStaleLockTime(2000);
    if (!lock_->tryLock(200)) {
        if (lock_->error() == QLockFile::LockFailedError) return Claim::second;
        error_ = QStringLiteral("Velora无法启动：无法创建单实例锁 %1").arg(lockPath());
        return Claim::failed;
    }
    QLocalServer::removeServer(serverName());  // left by a client that crashed
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(serverName());  // without it a later start only finds no one to knock on
    return Claim::first;
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
