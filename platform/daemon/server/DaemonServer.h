#pragma once
// The daemon's local socket: accepts clients and learns who they are.

#include "server/ClientConnection.h"
#include "server/ConnectionAdmission.h"
#include "server/LogRateLimit.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <sys/types.h>

class QLocalServer;

/// Listens on the root's socket and hands every client to a ClientConnection. Only the
/// daemon's own user and root may use it; anybody else is answered "Access is denied.".
/// Connections that idle are dropped after a while, or at once when a new client needs the
/// room; no user holds more than its share of the connections.
class DaemonServer : public QObject {
    Q_OBJECT
public:
    /// Clients served at once.
    static constexpr int MaxClients = 256;
    /// Connections one user may hold; the rest are kept for the others.
    static constexpr int PerUserLimit = MaxClients / 2;
    /// How long a connection may wait for its next request.
    static constexpr int IdleTimeoutMs = 60000;
    /// Complaints about clients logged at most in a minute; the rest are counted.
    static constexpr int ComplaintsPerMinute = 20;

    explicit DaemonServer(ClientConnection::Handler handler, QObject* parent = nullptr, int idleTimeoutMs = IdleTimeoutMs);
    ~DaemonServer() override;

    /// Listens on `socketPath`, replacing a socket left behind by a daemon that died (the caller
    /// holds the root's daemon lock). False with `error` filled when that is not possible.
    bool Listen(const QString& socketPath, QString* error);
    /// Stops listening and removes the socket; connected clients are dropped.
    void Close();
    int ClientCount() const { return int(m_clients.size()); }
    /// Sends the notice `message` to every client that subscribed.
    void Notify(const QCborMap& message);

    /// Whether a peer running as `peerUid` may use a daemon running as `daemonUid`.
    static bool MayConnect(uid_t daemonUid, uid_t peerUid) { return peerUid == daemonUid || peerUid == 0; }

private:
    void OnNewConnection();

    QLocalServer* m_server;
    ClientConnection::Handler m_handler;
    int m_idleTimeoutMs;
    ConnectionAdmission m_admission{MaxClients, PerUserLimit};
    LogRateLimit m_complaints{ComplaintsPerMinute, 60000};
    QHash<int, ClientConnection*> m_clients;
    int m_lastId = 0;
};
