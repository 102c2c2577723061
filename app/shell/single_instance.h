#pragma once
// One client per user. The first start holds a lock file and listens on a local socket; a
// later start finds the lock taken, knocks on the socket (which brings the first window
// forward) and leaves. Both live where only this user can reach them (userOnlyFolder): in a
// shared folder such as /tmp another user could hold the lock or knock.

#include <QLockFile>
#include <QLocalServer>
#include <QString>

#include <memory>

class SingleInstance {
public:
    enum class Claim {
        first,   // this process is the first client; it listens for later starts
        second,  // another client of this user holds the lock
        failed,  // no lock can be had: error() says why
    };

    // `directory` empty: userOnlyFolder().
    explicit SingleInstance(const QString& directory = {});

    Claim acquire();
    // A later start: asks the first client to come forward. Returns whether it answered.
    bool knock();
    // Each connection from a later start (or anyone else of this user) arrives here.
    QLocalServer* server() const { return server_.get(); }
    const QString& error() const { return error_; }

    QString lockPath() const { return directory_ + QStringLiteral("/orvik-tessel.lock"); }
    QString serverName() const;

private:
    QString error_;  // before directory_, which the constructor fills with its help
    QString directory_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};
