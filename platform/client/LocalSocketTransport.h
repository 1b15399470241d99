#pragma once
// The transport to the daemon of a root, over its local socket.

#include "ComBase.h"
#include "ServiceTransport.h"

#include <QString>
#include <memory>

class QLocalSocket;

/// Talks to taskschedd over the root's socket (ServiceRoot::SocketPath()). Every wait is
/// bounded: a daemon that is not there, stops answering or answers nonsense gives a failure
/// reply, never a hang. A lost connection is made again at the next call.
class LocalSocketTransport : public ServiceTransport {
public:
    /// How long a connection attempt keeps trying while the daemon is still starting.
    static constexpr int DefaultConnectWaitMs = 3000;
    /// How long a request may take to be answered.
    static constexpr int ReplyTimeoutMs = 60000;
    /// How long a connection is waited for while a listening daemon is too busy to accept it.
    static constexpr int BusyConnectWaitMs = 10000;

    explicit LocalSocketTransport(const QString& rootPath);
    ~LocalSocketTransport() override;

    /// Connects, trying again for up to `waitMs` while the socket is missing or refuses (a
    /// daemon that is still starting), and for up to BusyConnectWaitMs while the daemon
    /// listens but has not accepted yet. True when connected.
    bool Connect(int waitMs = DefaultConnectWaitMs);
    bool IsConnected() const;
    /// Sends a request and waits for its reply. Without a connection it first connects
    /// without waiting.
    QCborMap Call(const QCborMap& request) override;
    /// Whether the root's daemon answers a ping within `waitMs`.
    bool Ping(int waitMs = 1000);

    QString SocketPath() const { return m_socketPath; }

private:
    QCborMap Fail(HRESULT hr, const QString& error);
    QCborMap Exchange(const QCborMap& request, int timeoutMs);

    QString m_socketPath;
    std::unique_ptr<QLocalSocket> m_socket;
};
