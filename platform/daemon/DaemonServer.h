#pragma once
// The daemon's local socket: accepts clients and learns who they are.

#include "ClientConnection.h"

#include <QObject>
#include <QString>
#include <sys/types.h>

class QLocalServer;

/// Listens on the root's socket and hands every client to a ClientConnection. Only the
/// daemon's own user and root may use it; anybody else is answered "Access is denied.".
class DaemonServer : public QObject {
    Q_OBJECT
public:
    /// Clients served at once; a further one is disconnected at once.
    static constexpr int MaxClients = 256;

    explicit DaemonServer(ClientConnection::Handler handler, QObject* parent = nullptr);
    ~DaemonServer() override;

    /// Listens on `socketPath`, replacing a socket left behind by a daemon that died (the caller
    /// holds the root's daemon lock). False with `error` filled when that is not possible.
    bool Listen(const QString& socketPath, QString* error);
    /// Stops listening and removes the socket; connected clients are dropped.
    void Close();
    int ClientCount() const { return m_clients; }

    /// Whether a peer running as `peerUid` may use a daemon running as `daemonUid`.
    static bool MayConnect(uid_t daemonUid, uid_t peerUid) { return peerUid == daemonUid || peerUid == 0; }

private:
    void OnNewConnection();

    QLocalServer* m_server;
    ClientConnection::Handler m_handler;
    int m_clients = 0;
};
