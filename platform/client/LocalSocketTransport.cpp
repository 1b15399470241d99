#include "LocalSocketTransport.h"

#include "DaemonProtocol.h"
#include "FrameReader.h"
#include "ResultCodes.h"
#include "ServiceRoot.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

namespace {

QString NotRunningText()
{
    return QStringLiteral("The Task Scheduler Service is not running.");
}

} // namespace

LocalSocketTransport::LocalSocketTransport(const QString& rootPath)
    : m_socketPath(ServiceRoot(rootPath).SocketPath())
{
}

LocalSocketTransport::~LocalSocketTransport() = default;

bool LocalSocketTransport::IsConnected() const
{
    return m_socket && m_socket->state() == QLocalSocket::ConnectedState;
}

bool LocalSocketTransport::Connect(int waitMs)
{
    if (IsConnected()) {
        // The daemon drops connections that idle: one it dropped reads as closed now, and a
        // fresh one is made. Nothing can be pending on a connection between two calls.
        m_socket->waitForReadyRead(0);
        m_socket->readAll();
        if (IsConnected()) return true;
    }
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        m_socket = std::make_unique<QLocalSocket>();
        m_socket->connectToServer(m_socketPath);
        if (m_socket->waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0)))) return true;
        // Still pending: the daemon is there, but its queue of new connections is full (it is
        // busy, or many clients connect at once). That is not a daemon that is not running.
        if (m_socket->state() == QLocalSocket::ConnectingState && m_socket->waitForConnected(BusyConnectWaitMs)) return true;
        m_socket.reset();
        if (deadline.hasExpired()) return false;
        // The socket appears when the daemon has taken its lock; until then, look again shortly.
        QThread::msleep(std::min<qint64>(20, deadline.remainingTime()));
        if (deadline.hasExpired()) return false;
    }
}

QCborMap LocalSocketTransport::Fail(HRESULT hr, const QString& error)
{
    m_socket.reset();
    return DaemonProtocol::ErrorReply(hr, error);
}

QCborMap LocalSocketTransport::Call(const QCborMap& request)
{
    return Exchange(request, ReplyTimeoutMs);
}

QCborMap LocalSocketTransport::Exchange(const QCborMap& request, int timeoutMs)
{
    if (!Connect(0)) return Fail(SCHED_E_SERVICE_NOT_RUNNING, NotRunningText());
    const QByteArray frame = DaemonProtocol::EncodeFrame(request);
    if (frame.size() - DaemonProtocol::HeaderSize > DaemonProtocol::MaxRequestSize)
        return DaemonProtocol::ErrorReply(E_INVALIDARG, QStringLiteral("The request is too large for the service."));

    const QDeadlineTimer deadline(timeoutMs);
    auto remaining = [&] { return int(std::max<qint64>(deadline.remainingTime(), 0)); };
    m_socket->write(frame);
    while (m_socket->bytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(remaining()))
            return Fail(deadline.hasExpired() ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : SCHED_E_SERVICE_NOT_RUNNING,
                        deadline.hasExpired() ? ResultText(HRESULT_FROM_WIN32(ERROR_TIMEOUT)) : NotRunningText());
    }

    FrameReader reader(DaemonProtocol::MaxReplySize);
    for (;;) {
        QCborMap reply;
        QString error;
        switch (reader.Next(&reply, &error)) {
        case FrameReader::Message:
            if (!reply.value(DaemonProtocol::Key::Hr).isInteger())
                return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), QStringLiteral("The service's reply carries no result code."));
            return reply;
        case FrameReader::BadPayload:
        case FrameReader::BadStream:
            return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), QStringLiteral("The service's reply is unreadable: %1").arg(error));
        case FrameReader::NeedMore:
            break;
        }
        if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(remaining())) {
            if (deadline.hasExpired())
                return Fail(HRESULT_FROM_WIN32(ERROR_TIMEOUT), ResultText(HRESULT_FROM_WIN32(ERROR_TIMEOUT)));
            return Fail(SCHED_E_SERVICE_NOT_RUNNING, NotRunningText());
        }
        reader.Append(m_socket->readAll());
    }
}

bool LocalSocketTransport::Ping(int waitMs)
{
    if (!Connect(0)) return false;
    const QCborMap reply = Exchange(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}}, waitMs);
    return reply.value(DaemonProtocol::Key::Hr).toInteger() == S_OK;
}
