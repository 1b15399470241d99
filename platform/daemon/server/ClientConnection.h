#pragma once
// One client of the daemon: reads its requests off the socket and writes the replies.

#include "FrameReader.h"
#include "RequestRouter.h"

#include <QObject>
#include <QTimer>
#include <functional>

class LogRateLimit;
class QLocalSocket;

/// Serves one connected client. Requests are answered one at a time, in order. A client that
/// sends garbage gets an error reply and, where the stream is lost, is disconnected; a client
/// that stops in the middle of a message or stops reading its replies is dropped, so that no
/// client can hold the daemon's memory or its attention. A client that sends nothing for
/// long is dropped as idle; clients connect again when they have something to ask. A client
/// that subscribed waits for notices and is not dropped for idling; one that does not read
/// them is dropped like one that does not read its replies.
class ClientConnection : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QCborMap(const QCborMap& request, const ClientIdentity& peer)>;

    /// How long a client may take to finish a message it has begun.
    static constexpr int StallTimeoutMs = 5000;
    /// Unsent reply bytes above which no further request of the client is read.
    static constexpr qsizetype WriteBacklogLimit = 8 * 1024 * 1024;

    /// Takes over `socket`. `allowed` false answers every request with "Access is denied.".
    /// Complaints about the client go to the log as far as `complaints` (when given) lets them.
    ClientConnection(QLocalSocket* socket, ClientIdentity peer, bool allowed, Handler handler, int idleTimeoutMs,
                     LogRateLimit* complaints = nullptr, QObject* parent = nullptr);

    const ClientIdentity& Peer() const { return m_peer; }
    /// Waiting for a request, with nothing half-received, unread or unsent.
    bool IsIdle() const { return m_idle; }
    /// When it became idle, on the monotonic clock in milliseconds.
    qint64 IdleSinceMs() const { return m_idleSinceMs; }
    /// Ends the connection at once (to make room for another client); it deletes itself.
    void Drop();
    /// The client asked for notices.
    bool IsSubscribed() const { return m_subscribed; }
    /// Sends `frame` (an encoded notice) when the client subscribed.
    void Notify(const QByteArray& frame);

signals:
    /// The client is gone; the connection deletes itself afterwards.
    void Closed();

private:
    void Pump();
    void Reply(const QCborMap& reply);
    void Refuse(const QString& reason);
    void OnStalled();
    void OnIdle();
    void SetIdle(bool idle);
    bool MayComplain() const;
    void Finish();

    QLocalSocket* m_socket;
    ClientIdentity m_peer;
    bool m_allowed;
    Handler m_handler;
    FrameReader m_reader;
    QTimer m_stallTimer;
    QTimer m_idleTimer;
    LogRateLimit* m_complaints;
    qint64 m_idleSinceMs = 0;
    bool m_idle = false;
    bool m_closing = false;
    bool m_finished = false;
    bool m_subscribed = false;
};
