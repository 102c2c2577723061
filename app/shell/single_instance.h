#pragma once
// One client per user. The first start holds a lock file and listens on a local socket; a
// later start finds the lock taken, knocks on the socket (which brings the first window
// forward) and leaves. Both live where only this user can reach them: on Linux the user's
// runtime directory, since a shared /tmp would let another user hold the lock or knock.

#include <QLockFile>
#include <QLocalServer>
#include <QString>

#include <memory>

class SingleInstance {
public:
    // `directory` empty: the user's runtime (Linux) or temporary (Windows) directory.
    explicit SingleInstance(const QString& directory = {});

    // True when this process is the first client; it then listens for later starts.
    bool acquire();
    // A later start: asks the first client to come forward. Returns whether it answered.
    bool knock();
    // Each connection from a later start (or anyone else of this user) arrives here.
    QLocalServer* server() const { return server_.get(); }

    QString lockPath() const { return directory_ + QStringLiteral("/orvik-tessel.lock"); }
    QString serverName() const;

private:
    QString directory_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};
