#include "DaemonServer.h"

#include "PeerCredentials.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcServer, "taskschedd.server")

DaemonServer::DaemonServer(ClientConnection::Handler handler, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_handler(std::move(handler))
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

void DaemonServer::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (m_clients >= MaxClients) {
            qCWarning(lcServer) << "too many clients; one refused";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const auto peer = PeerCredentials(socket->socketDescriptor());
        const bool allowed = peer && MayConnect(geteuid(), peer->uid);
        if (!allowed) {
            qCWarning(lcServer) << "client of uid" << (peer ? qint64(peer->uid) : -1) << "pid" << (peer ? qint64(peer->pid) : -1)
                                << "is not allowed; its requests are refused";
        }
        auto* client = new ClientConnection(socket, peer.value_or(ClientIdentity{uid_t(-1), gid_t(-1), 0}), allowed, m_handler, this);
        ++m_clients;
        connect(client, &ClientConnection::Closed, this, [this] { --m_clients; });
    }
}
