#pragma once
// An OpenSSH server on the loopback address for one test, with keys made for it alone.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

/// Runs sshd on 127.0.0.1 at a free port with a fresh host key, and writes a client
/// configuration (for ssh -F, since ssh reads ~/.ssh from the account's home whatever $HOME
/// says) that reaches it under these names:
///  - RemoteHost: logs in with an authorized key; sessions find the service program first on
///    PATH and use the remote root as TASKSCHEDULER_HOME;
///  - NoServiceHost: logs in with a key whose forced command names a program that does not exist;
///  - RefusedHost: offers a key the server does not know;
///  - ClosedHost: a port on which nothing listens.
/// The server and every session process it started end with the object.
class ThrowawaySshServer {
public:
    static QString RemoteHost() { return QStringLiteral("tsremote"); }
    static QString NoServiceHost() { return QStringLiteral("tsnoservice"); }
    static QString RefusedHost() { return QStringLiteral("tsrefused"); }
    static QString ClosedHost() { return QStringLiteral("tsclosed"); }

    /// Why no such server can run here (no sshd or ssh-keygen, not root); empty when it can.
    static QString Unavailable();

    /// A server whose sessions serve `remoteRoot` with the programs of `programDir`.
    ThrowawaySshServer(QString remoteRoot, QString programDir);
    ~ThrowawaySshServer();
    ThrowawaySshServer(const ThrowawaySshServer&) = delete;
    ThrowawaySshServer& operator=(const ThrowawaySshServer&) = delete;

    /// Makes the keys and files and starts the server; waits until it accepts connections.
    bool Start(QString* error);
    /// The client configuration file.
    QString ConfigFile() const { return m_dir.filePath(QStringLiteral("ssh_config")); }
    /// Kills every session process (the server side of every connection, and what runs in
    /// it) and waits until they are gone: each client sees its connection drop.
    void DropSessions();
    /// Ends the sessions and the server; a client connecting meanwhile is refused.
    void Stop();
    /// Whether the server runs (it was started and not stopped).
    bool IsRunning() const { return m_server.state() == QProcess::Running; }
    /// What the server wrote on standard error so far.
    QString Log();

private:
    QString m_remoteRoot;
    QString m_programDir;
    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_log;
};
