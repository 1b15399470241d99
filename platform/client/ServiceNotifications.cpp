#include "ServiceNotifications.h"

#include "DaemonProtocol.h"
#include "ResultCodes.h"
#include "ServiceRoot.h"
#include "SshCommand.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QProcess>

namespace {

// Notices are small; anything much larger is not one.
constexpr qsizetype MaxNoticeSize = 64 * 1024;
// A killed ssh is gone at once; this only bounds the wait for it.
constexpr int EndWaitMs = 2000;

int Remaining(const QDeadlineTimer& deadline) { return int(std::max<qint64>(deadline.remainingTime(), 0)); }

QByteArray SubscribeFrame()
{
    return DaemonProtocol::EncodeFrame(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Subscribe}});
}

} // namespace

std::optional<ServiceNotice> ServiceNotice::FromMessage(const QCborMap& message)
{
    using namespace DaemonProtocol;
    if (!IsNotice(message)) return std::nullopt;
    static const QList<std::pair<QLatin1StringView, Kind>> kinds{
        {Notice::TaskAdded, TaskAdded},   {Notice::TaskChanged, TaskChanged}, {Notice::TaskDeleted, TaskDeleted},
        {Notice::RunStarted, RunStarted}, {Notice::RunEnded, RunEnded},
    };
    const QString name = message.value(Key::Notice).toString();
    const auto kind = std::find_if(kinds.cbegin(), kinds.cend(), [&](const auto& k) { return name == k.first; });
    const qint64 generation = message.value(Key::Generation).toInteger();
    const QString path = message.value(Key::Path).toString();
    if (kind == kinds.cend() || (generation != 1 && generation != 2) || path.isEmpty()) return std::nullopt;
    ServiceNotice notice;
    notice.kind = kind->second;
    notice.generation = int(generation);
    notice.path = path;
    notice.result = quint32(message.value(Key::Result).toInteger());
    return notice;
}

ServiceNotifications::ServiceNotifications(QObject* parent) : QObject(parent), m_reader(MaxNoticeSize)
{
    m_pendingLimit.setSingleShot(true);
    connect(&m_pendingLimit, &QTimer::timeout, this, [this] {
        if (m_pending) EndPending(false);
    });
}

ServiceNotifications::~ServiceNotifications() { Unsubscribe(); }

bool ServiceNotifications::IsSubscribed() const
{
    if (m_pending) return false;
    if (const auto* socket = qobject_cast<const QLocalSocket*>(m_channel.data()))
        return socket->state() == QLocalSocket::ConnectedState;
    if (const auto* ssh = qobject_cast<const QProcess*>(m_channel.data())) return ssh->state() == QProcess::Running;
    return false;
}

void ServiceNotifications::Unsubscribe()
{
    m_pending = false;
    m_pendingLimit.stop();
    if (!m_channel) return;
    QIODevice* channel = m_channel;
    m_channel = nullptr;
    disconnect(channel, nullptr, this, nullptr);
    // Ending ssh ends the connection, and with it the bridge on the other computer.
    if (auto* socket = qobject_cast<QLocalSocket*>(channel)) socket->abort();
    else if (auto* ssh = qobject_cast<QProcess*>(channel)) {
        ssh->kill();
        ssh->waitForFinished(EndWaitMs);
    }
    // Possibly called from one of the channel's own signals.
    channel->deleteLater();
    m_reader = FrameReader(MaxNoticeSize);
}

bool ServiceNotifications::Subscribe(const QString& rootPath, int waitMs)
{
    Unsubscribe();
    const QDeadlineTimer deadline(waitMs);
    auto* socket = new QLocalSocket(this);
    m_channel = socket;
    socket->connectToServer(ServiceRoot(rootPath).SocketPath());
    const bool subscribed = socket->waitForConnected(Remaining(deadline))
        && Handshake(socket, Remaining(deadline));
    if (!subscribed) {
        Unsubscribe();
        return false;
    }
    connect(socket, &QLocalSocket::disconnected, this, &ServiceNotifications::OnDisconnected);
    return true;
}

QProcess* ServiceNotifications::StartSsh(const QString& host, const QString& user)
{
    if (!SshCommand::IsValidHost(host) || (!user.isEmpty() && !SshCommand::IsValidUser(user))) return nullptr;
    auto* ssh = new QProcess(this);
    m_channel = ssh;
    SshCommand::Prepare(*ssh, host, user);
    // Why a subscription fails is not reported: the requests say it in ssh's words.
    ssh->setStandardErrorFile(QProcess::nullDevice());
    ssh->start();
    return ssh;
}

bool ServiceNotifications::SubscribeRemote(const QString& host, const QString& user, int waitMs)
{
    Unsubscribe();
    const QDeadlineTimer deadline(waitMs);
    QProcess* ssh = StartSsh(host, user);
    const bool subscribed = ssh && ssh->waitForStarted(Remaining(deadline)) && Handshake(ssh, Remaining(deadline));
    if (!subscribed) {
        Unsubscribe();
        return false;
    }
    connect(ssh, &QProcess::finished, this, &ServiceNotifications::OnDisconnected);
    return true;
}

void ServiceNotifications::SubscribeRemoteInBackground(const QString& host, const QString& user, int waitMs)
{
    Unsubscribe();
    QProcess* ssh = StartSsh(host, user);
    m_pending = true;
    m_pendingLimit.start(waitMs);
    if (!ssh) {
        // Told from the event loop, like every other outcome.
        QMetaObject::invokeMethod(this, [this] { if (m_pending) EndPending(false); }, Qt::QueuedConnection);
        return;
    }
    connect(ssh, &QProcess::started, this, [ssh] { ssh->write(SubscribeFrame()); });
    connect(ssh, &QIODevice::readyRead, this, &ServiceNotifications::OnReadyRead);
    connect(ssh, &QProcess::finished, this, &ServiceNotifications::OnDisconnected);
    connect(ssh, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) OnDisconnected();
    });
}

void ServiceNotifications::EndPending(bool subscribed)
{
    m_pending = false;
    m_pendingLimit.stop();
    if (!subscribed) Unsubscribe();
    emit Renewed(subscribed);
}

bool ServiceNotifications::Handshake(QIODevice* channel, int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    channel->write(SubscribeFrame());
    bool subscribed = false;
    for (bool waiting = true; waiting;) {
        QCborMap reply;
        QString error;
        switch (m_reader.Next(&reply, &error)) {
        case FrameReader::Message:
            subscribed = reply.value(DaemonProtocol::Key::Hr).toInteger() == S_OK;
            waiting = false;
            break;
        case FrameReader::BadPayload:
        case FrameReader::BadStream:
            waiting = false;
            break;
        case FrameReader::NeedMore:
            if (channel->bytesAvailable() == 0
                && !channel->waitForReadyRead(Remaining(deadline)))
                waiting = false;
            else
                m_reader.Append(channel->readAll());
            break;
        }
    }
    if (!subscribed) return false;
    connect(channel, &QIODevice::readyRead, this, &ServiceNotifications::OnReadyRead);
    // Notices that came with the reply are handed out from the event loop, like later ones.
    if (m_reader.Buffered() > 0 || channel->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ServiceNotifications::OnReadyRead, Qt::QueuedConnection);
    return true;
}

void ServiceNotifications::OnReadyRead()
{
    const QPointer<QIODevice> channel = m_channel;
    if (!channel) return;
    m_reader.Append(channel->readAll());
    for (;;) {
        QCborMap message;
        QString error;
        const FrameReader::Status status = m_reader.Next(&message, &error);
        if (status == FrameReader::NeedMore) return;
        if (status == FrameReader::BadStream) {
            OnDisconnected();
            return;
        }
        if (status != FrameReader::Message) continue;
        if (m_pending) {
            // The answer to a subscription asked for in the background.
            EndPending(message.value(DaemonProtocol::Key::Hr).toInteger() == S_OK);
        } else if (const auto notice = ServiceNotice::FromMessage(message)) {
            emit Notified(*notice);
        }
        // A receiver may have ended or renewed the subscription.
        if (m_channel != channel) return;
    }
}

void ServiceNotifications::OnDisconnected()
{
    if (!m_channel) return;
    if (m_pending) {
        EndPending(false);
        return;
    }
    // What came before the end is still reported.
    if (m_channel->bytesAvailable() > 0) {
        const QPointer<QIODevice> channel = m_channel;
        OnReadyRead();
        if (m_channel != channel) return;
    }
    Unsubscribe();
    emit Lost();
}
