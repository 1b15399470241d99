#pragma once
// One client of the daemon: reads its requests off the socket and writes the replies.

#include "FrameReader.h"
#include "RequestRouter.h"

#include <QObject>
#include <QTimer>
#include <functional>

class QLocalSocket;

/// Serves one connected client. Requests are answered one at a time, in order. A client that
/// sends garbage gets an error reply and, where the stream is lost, is disconnected; a client
/// that stops in the middle of a message or stops reading its replies is dropped, so that no
/// client can hold the daemon's memory or its attention.
class ClientConnection : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QCborMap(const QCborMap& request, const ClientIdentity& peer)>;

    /// How long a client may take to finish a message it has begun.
    static constexpr int StallTimeoutMs = 5000;
    /// Unsent reply bytes above which no further request of the client is read.
    static constexpr qsizetype WriteBacklogLimit = 8 * 1024 * 1024;

    /// Takes over `socket`. `allowed` false answers every request with "Access is denied.".
    ClientConnection(QLocalSocket* socket, ClientIdentity peer, bool allowed, Handler handler, QObject* parent = nullptr);

    const ClientIdentity& Peer() const { return m_peer; }

signals:
    /// The client is gone; the connection deletes itself afterwards.
    void Closed();

private:
    void Pump();
    void Reply(const QCborMap& reply);
    void Refuse(const QString& reason);
    void OnStalled();
    void Finish();

    QLocalSocket* m_socket;
    ClientIdentity m_peer;
    bool m_allowed;
    Handler m_handler;
    FrameReader m_reader;
    QTimer m_stallTimer;
    bool m_closing = false;
    bool m_finished = false;
};
