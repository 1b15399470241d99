#include "server/StdioBridge.h"

#include "DaemonLauncher.h"
#include "DaemonProtocol.h"
#include "ResultCodes.h"
#include "ServiceRoot.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr qsizetype ReadChunk = 64 * 1024;
constexpr int RetryPauseMs = 20;

QString NotRunningText()
{
    return QStringLiteral("The Task Scheduler Service is not running.");
}

// Whether the other end of `socket` has closed, which the event loop may not have told yet.
bool PeerClosed(const QLocalSocket& socket)
{
    pollfd p{int(socket.socketDescriptor()), POLLRDHUP, 0};
    return p.fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

} // namespace

StdioBridge::StdioBridge(QString rootPath, int inputFd, int outputFd, QObject* parent)
    : QObject(parent), m_rootPath(std::move(rootPath)), m_inputFd(inputFd), m_outputFd(outputFd),
      m_fromClient(DaemonProtocol::MaxRequestSize), m_fromDaemon(DaemonProtocol::MaxReplySize)
{
}

StdioBridge::~StdioBridge() = default;

void StdioBridge::Start()
{
    m_inputNotifier = std::make_unique<QSocketNotifier>(m_inputFd, QSocketNotifier::Read);
    connect(m_inputNotifier.get(), &QSocketNotifier::activated, this, &StdioBridge::OnInput);
}

void StdioBridge::Finish(int status)
{
    if (m_finished) return;
    m_finished = true;
    if (m_inputNotifier) m_inputNotifier->setEnabled(false);
    if (m_daemon) m_daemon->abort();
    emit Finished(status);
}

void StdioBridge::Answer(const QCborMap& message)
{
    const QByteArray frame = DaemonProtocol::EncodeFrame(message);
    qsizetype done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::write(m_outputFd, frame.constData() + done, size_t(frame.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // Nobody reads the answers any more: the connection is gone.
            Finish(1);
            return;
        }
        done += n;
    }
}

void StdioBridge::OnInput()
{
    QByteArray chunk(ReadChunk, Qt::Uninitialized);
    const ssize_t n = ::read(m_inputFd, chunk.data(), size_t(chunk.size()));
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) return;
        Finish(1);
        return;
    }
    if (n == 0) {
        m_inputNotifier->setEnabled(false);
        m_inputEnded = true;
        if (m_outstanding == 0) Finish(0);
        return;
    }
    chunk.truncate(n);
    m_fromClient.Append(chunk);
    for (;;) {
        QCborMap request;
        QString error;
        switch (m_fromClient.Next(&request, &error)) {
        case FrameReader::NeedMore:
            return;
        case FrameReader::Message:
            Forward(request);
            break;
        case FrameReader::BadPayload:
            Answer(DaemonProtocol::ErrorReply(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), error));
            break;
        case FrameReader::BadStream:
            Answer(DaemonProtocol::ErrorReply(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), error));
            Finish(1);
            return;
        }
        if (m_finished) return;
    }
}

void StdioBridge::Forward(const QCborMap& request)
{
    // Asking for notices does not start a daemon, as on the daemon's own socket: a stopped
    // service stays stopped until a request needs it.
    const bool subscribe = request.value(DaemonProtocol::Key::Op).toString() == DaemonProtocol::Op::Subscribe;
    // A daemon that went since the last request, while the news of it still waits in the
    // event loop behind this request: seen now, this request reaches a new daemon instead of
    // being written to a socket that no one reads and answered as lost.
    if (m_daemon && PeerClosed(*m_daemon)) {
        // What it answered before it went is passed on first.
        while (!m_finished && m_daemon && m_daemon->waitForReadyRead(0)) {}
        if (m_finished) return;
        OnDaemonGone();
        if (m_finished) return;
    }
    if (!m_daemon || m_daemon->state() != QLocalSocket::ConnectedState) {
        QString error = NotRunningText();
        if (subscribe ? !TryConnect(RetryPauseMs * 5) : !ConnectDaemon(&error)) {
            Answer(DaemonProtocol::ErrorReply(SCHED_E_SERVICE_NOT_RUNNING, error));
            return;
        }
    }
    ++m_outstanding;
    if (subscribe) m_subscribed = true;
    m_daemon->write(DaemonProtocol::EncodeFrame(request));
}

bool StdioBridge::TryConnect(int waitMs)
{
    m_daemon = std::make_unique<QLocalSocket>();
    m_daemon->connectToServer(ServiceRoot(m_rootPath).SocketPath());
    if (!m_daemon->waitForConnected(waitMs)) {
        m_daemon.reset();
        return false;
    }
    m_fromDaemon = FrameReader(DaemonProtocol::MaxReplySize);
    connect(m_daemon.get(), &QLocalSocket::readyRead, this, &StdioBridge::OnDaemonData);
    // The news of a connection's end may arrive after it was seen to end and another was made:
    // it is for that connection alone.
    const quint64 connection = ++m_connections;
    connect(
        m_daemon.get(), &QLocalSocket::disconnected, this,
        [this, connection] {
            if (connection == m_connections) OnDaemonGone();
        },
        Qt::QueuedConnection);
    return true;
}

bool StdioBridge::ConnectDaemon(QString* error)
{
    if (TryConnect(RetryPauseMs * 5)) return true;
    QString reason;
    if (!DaemonLauncher::Launch(m_rootPath, &reason)) {
        *error = QStringLiteral("%1 (%2)").arg(NotRunningText(), reason);
        return false;
    }
    const QDeadlineTimer deadline(StartWaitMs);
    while (!deadline.hasExpired()) {
        if (TryConnect(int(std::min<qint64>(deadline.remainingTime(), 1000)))) return true;
        QThread::msleep(RetryPauseMs);
    }
    *error = QStringLiteral("%1 (It was started but did not answer within %2 seconds; its log is %3.)")
                 .arg(NotRunningText())
                 .arg(StartWaitMs / 1000)
                 .arg(DaemonLauncher::LogFile(m_rootPath));
    return false;
}

void StdioBridge::OnDaemonData()
{
    if (!m_daemon) return;
    m_fromDaemon.Append(m_daemon->readAll());
    for (;;) {
        QCborMap message;
        QString error;
        switch (m_fromDaemon.Next(&message, &error)) {
        case FrameReader::NeedMore:
            return;
        case FrameReader::Message:
            // Replies carry a result code; whatever else the daemon sends passes through as it is.
            if (message.contains(DaemonProtocol::Key::Hr) && m_outstanding > 0) --m_outstanding;
            Answer(message);
            if (m_finished) return;
            if (m_inputEnded && m_outstanding == 0) {
                Finish(0);
                return;
            }
            break;
        case FrameReader::BadPayload:
        case FrameReader::BadStream:
            m_daemon->abort();
            return;
        }
    }
}

void StdioBridge::OnDaemonGone()
{
    if (m_finished) return;
    if (m_daemon && m_daemon->bytesAvailable() > 0) OnDaemonData();
    m_daemon.reset();
    // The requests it had not answered get an answer all the same; the next one connects anew.
    for (; m_outstanding > 0; --m_outstanding) Answer(DaemonProtocol::ErrorReply(SCHED_E_SERVICE_NOT_RUNNING, NotRunningText()));
    // A subscription ends with the daemon that took it: the client has to hear that the
    // notices stopped, as it would on the daemon's own socket.
    if (m_subscribed) Finish(1);
    else if (m_inputEnded) Finish(0);
}
