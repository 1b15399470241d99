#include "server/ClientConnection.h"

#include "DaemonProtocol.h"
#include "server/LogRateLimit.h"
#include "ResultCodes.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcClient, "taskschedd.client")

namespace {
constexpr qsizetype ReadChunk = 256 * 1024;
}

ClientConnection::ClientConnection(QLocalSocket* socket, ClientIdentity peer, bool allowed, Handler handler, int idleTimeoutMs,
                                   LogRateLimit* complaints, QObject* parent)
    : QObject(parent), m_socket(socket), m_peer(peer), m_allowed(allowed), m_handler(std::move(handler)),
      m_reader(DaemonProtocol::MaxRequestSize), m_complaints(complaints)
{
    m_socket->setParent(this);
    // Bounded so that a flooding client is held back by the kernel, not by our memory.
    m_socket->setReadBufferSize(ReadChunk);
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(StallTimeoutMs);
    connect(&m_stallTimer, &QTimer::timeout, this, &ClientConnection::OnStalled);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleTimeoutMs);
    connect(&m_idleTimer, &QTimer::timeout, this, &ClientConnection::OnIdle);
    connect(m_socket, &QLocalSocket::readyRead, this, &ClientConnection::Pump);
    connect(m_socket, &QLocalSocket::bytesWritten, this, &ClientConnection::Pump);
    connect(m_socket, &QLocalSocket::disconnected, this, &ClientConnection::Finish);
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError error) {
        if (error != QLocalSocket::PeerClosedError) qCDebug(lcClient) << "client" << m_peer.pid << m_socket->errorString();
        if (m_socket->state() != QLocalSocket::UnconnectedState) m_socket->abort();
        Finish();
    });
    QMetaObject::invokeMethod(this, &ClientConnection::Pump, Qt::QueuedConnection);
}

void ClientConnection::Pump()
{
    SetIdle(false);
    while (!m_closing) {
        if (m_socket->bytesToWrite() > WriteBacklogLimit) {
            m_stallTimer.start();   // restarted by every bit of progress; resumed by bytesWritten
            return;
        }
        QCborMap request;
        QString error;
        switch (m_reader.Next(&request, &error)) {
        case FrameReader::NeedMore:
            if (m_socket->bytesAvailable() == 0) {
                // The replies go out now, not on a later turn of the event loop after whatever
                // else is due: a caller that waits for each answer sends its next request sooner.
                if (m_socket->bytesToWrite() > 0) m_socket->flush();
                if (m_reader.HasPartialFrame()) {
                    if (!m_stallTimer.isActive()) m_stallTimer.start();
                } else {
                    m_stallTimer.stop();
                    // Idle once its replies are out too; bytesWritten pumps again until then.
                    SetIdle(m_socket->bytesToWrite() == 0);
                }
                return;
            }
            m_reader.Append(m_socket->read(ReadChunk));
            continue;
        case FrameReader::BadPayload:
            if (MayComplain()) qCWarning(lcClient) << "malformed request from pid" << m_peer.pid << "uid" << m_peer.uid << ":" << error;
            Reply(DaemonProtocol::ErrorReply(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), error));
            continue;
        case FrameReader::BadStream:
            if (MayComplain()) qCWarning(lcClient) << "unreadable stream from pid" << m_peer.pid << "uid" << m_peer.uid << ":" << error;
            Refuse(error);
            return;
        case FrameReader::Message:
            m_stallTimer.stop();
            if (!m_allowed) {
                Reply(DaemonProtocol::ErrorReply(E_ACCESSDENIED, ResultText(E_ACCESSDENIED)));
            } else if (!request.value(DaemonProtocol::Key::Op).isString()) {
                if (MayComplain()) qCWarning(lcClient) << "request without an operation from pid" << m_peer.pid;
                Reply(DaemonProtocol::ErrorReply(E_INVALIDARG, QStringLiteral("The request names no operation.")));
            } else if (request.value(DaemonProtocol::Key::Op).toString() == DaemonProtocol::Op::Subscribe) {
                m_subscribed = true;
                Reply(QCborMap{{DaemonProtocol::Key::Hr, qint64(S_OK)}});
            } else {
                Reply(m_handler(request, m_peer));
            }
            continue;
        }
    }
}

void ClientConnection::Reply(const QCborMap& reply)
{
    if (m_closing) return;
    m_socket->write(DaemonProtocol::EncodeFrame(reply));
}

void ClientConnection::Notify(const QByteArray& frame)
{
    if (!m_subscribed || m_closing || m_finished) return;
    if (m_socket->bytesToWrite() > WriteBacklogLimit) {
        if (MayComplain()) qCWarning(lcClient) << "client pid" << m_peer.pid << "reads no notices; dropped";
        Drop();
        return;
    }
    m_socket->write(frame);
}

void ClientConnection::Refuse(const QString& reason)
{
    Reply(DaemonProtocol::ErrorReply(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), reason));
    m_closing = true;
    m_stallTimer.stop();
    m_socket->disconnectFromServer();   // after the reply has been written
}

void ClientConnection::OnStalled()
{
    if (m_socket->bytesToWrite() > WriteBacklogLimit) {
        if (MayComplain()) qCWarning(lcClient) << "client pid" << m_peer.pid << "reads no replies; dropped";
        m_socket->abort();
        Finish();
        return;
    }
    if (MayComplain()) qCWarning(lcClient) << "client pid" << m_peer.pid << "left a message unfinished; dropped";
    Refuse(QStringLiteral("The message is incomplete."));
}

void ClientConnection::SetIdle(bool idle)
{
    if (idle == m_idle) return;
    m_idle = idle;
    if (idle) {
        m_idleSinceMs = QDeadlineTimer::current().deadline();
        m_idleTimer.start();
    } else {
        m_idleTimer.stop();
    }
}

void ClientConnection::OnIdle()
{
    // A request that arrived just now is served, not cut off. A subscriber idles by design.
    if (m_subscribed) return;
    if (!m_idle || m_socket->bytesAvailable() > 0) {
        Pump();
        return;
    }
    qCDebug(lcClient) << "client pid" << m_peer.pid << "sent nothing for" << m_idleTimer.interval() / 1000 << "s; dropped";
    Drop();
}

void ClientConnection::Drop()
{
    if (m_finished) return;
    m_closing = true;
    m_stallTimer.stop();
    SetIdle(false);
    m_socket->abort();
    Finish();
}

bool ClientConnection::MayComplain() const
{
    qint64 suppressed = 0;
    if (m_complaints && !m_complaints->Allow(&suppressed)) return false;
    if (suppressed > 0) qCWarning(lcClient) << suppressed << "more complaints about clients were left out of the log";
    return true;
}

void ClientConnection::Finish()
{
    if (m_finished || m_socket->state() != QLocalSocket::UnconnectedState) return;
    m_finished = true;
    m_closing = true;
    m_stallTimer.stop();
    m_idleTimer.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    emit Closed();
    deleteLater();
}
