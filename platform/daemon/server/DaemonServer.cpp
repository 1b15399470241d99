#include "server/DaemonServer.h"

#include "DaemonProtocol.h"
#include "server/PeerCredentials.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcServer, "taskschedd.server")

DaemonServer::DaemonServer(ClientConnection::Handler handler, QObject* parent, int idleTimeoutMs)
    : QObject(parent), m_server(new QLocalServer(this)), m_handler(std::move(handler)), m_idleTimeoutMs(idleTimeoutMs)
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(64);
    connect(m_server, &QLocalServer::newConnection, this, &DaemonServer::OnNewConnection);
}

DaemonServer::~DaemonServer() { Close(); }

bool DaemonServer::Listen(const QString& socketPath, QString* error)
{
    QLocalServer::removeServer(socketPath);
    if (!m_server->listen(socketPath)) {
        if (error) *error = QStringLiteral("Cannot listen on \"%1\": %2").arg(socketPath, m_server->errorString());
        return false;
    }
    return true;
}

void DaemonServer::Close()
{
    if (!m_server->isListening()) return;
    const QString path = m_server->fullServerName();
    m_server->close();
    QLocalServer::removeServer(path);
}

void DaemonServer::Notify(const QCborMap& message)
{
    QByteArray frame;
    // A copy: a client that reads nothing is dropped on the way, which changes the table.
    const QList<ClientConnection*> clients = m_clients.values();
    for (ClientConnection* client : clients) {
        if (!client->IsSubscribed()) continue;
        if (frame.isEmpty()) frame = DaemonProtocol::EncodeFrame(message);
        client->Notify(frame);
    }
}

void DaemonServer::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        const auto peer = PeerCredentials(socket->socketDescriptor());
        const ClientIdentity identity = peer.value_or(ClientIdentity{uid_t(-1), gid_t(-1), 0});
        QList<ConnectionAdmission::Held> held;
        held.reserve(m_clients.size());
        for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
            held.append(ConnectionAdmission::Held{it.key(), it.value()->Peer().uid, it.value()->IsIdle(), it.value()->IdleSinceMs()});
        const ConnectionAdmission::Decision decision = m_admission.Decide(held, identity.uid);
        qint64 suppressed = 0;
        if (!decision.admit) {
            if (m_complaints.Allow(&suppressed))
                qCWarning(lcServer) << "too many clients busy; client of uid" << qint64(identity.uid) << "pid" << identity.pid << "refused"
                                    << (suppressed ? QStringLiteral("(%1 more complaints left out)").arg(suppressed) : QString());
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (ClientConnection* evicted = m_clients.value(decision.evict)) {
            qCDebug(lcServer) << "idle client pid" << evicted->Peer().pid << "dropped to make room";
            evicted->Drop();
        }
        const bool allowed = peer && MayConnect(geteuid(), peer->uid);
        if (!allowed && m_complaints.Allow(&suppressed)) {
            qCWarning(lcServer) << "client of uid" << (peer ? qint64(peer->uid) : -1) << "pid" << (peer ? qint64(peer->pid) : -1)
                                << "is not allowed; its requests are refused"
                                << (suppressed ? QStringLiteral("(%1 more complaints left out)").arg(suppressed) : QString());
        }
        auto* client = new ClientConnection(socket, identity, allowed, m_handler, m_idleTimeoutMs, &m_complaints, this);
        const int id = ++m_lastId;
        m_clients.insert(id, client);
        connect(client, &ClientConnection::Closed, this, [this, id] { m_clients.remove(id); });
    }
}
