#include "ServiceNotifications.h"

#include "DaemonProtocol.h"
#include "ResultCodes.h"
#include "ServiceRoot.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

namespace {

// Notices are small; anything much larger is not one.
constexpr qsizetype MaxNoticeSize = 64 * 1024;

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

ServiceNotifications::ServiceNotifications(QObject* parent) : QObject(parent), m_reader(MaxNoticeSize) {}

ServiceNotifications::~ServiceNotifications() { Unsubscribe(); }

bool ServiceNotifications::IsSubscribed() const { return m_socket && m_socket->state() == QLocalSocket::ConnectedState; }

void ServiceNotifications::Unsubscribe()
{
    if (!m_socket) return;
    QLocalSocket* socket = m_socket;
    m_socket = nullptr;
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    // Possibly called from one of the socket's own signals.
    socket->deleteLater();
    m_reader = FrameReader(MaxNoticeSize);
}

bool ServiceNotifications::Subscribe(const QString& rootPath, int waitMs)
{
    Unsubscribe();
    const QDeadlineTimer deadline(waitMs);
    auto remaining = [&] { return int(std::max<qint64>(deadline.remainingTime(), 0)); };
    auto* socket = new QLocalSocket(this);
    m_socket = socket;
    socket->connectToServer(ServiceRoot(rootPath).SocketPath());
    bool subscribed = socket->waitForConnected(remaining());
    if (subscribed) {
        socket->write(DaemonProtocol::EncodeFrame(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Subscribe}}));
        subscribed = false;
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
                if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(remaining())) waiting = false;
                else m_reader.Append(socket->readAll());
                break;
            }
        }
    }
    if (!subscribed) {
        Unsubscribe();
        return false;
    }
    connect(socket, &QLocalSocket::readyRead, this, &ServiceNotifications::OnReadyRead);
    connect(socket, &QLocalSocket::disconnected, this, &ServiceNotifications::OnDisconnected);
    // Notices that came with the reply are handed out from the event loop, like later ones.
    if (m_reader.Buffered() > 0 || socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ServiceNotifications::OnReadyRead, Qt::QueuedConnection);
    return true;
}

void ServiceNotifications::OnReadyRead()
{
    const QPointer<QLocalSocket> socket = m_socket;
    if (!socket) return;
    m_reader.Append(socket->readAll());
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
        if (const auto notice = ServiceNotice::FromMessage(message)) emit Notified(*notice);
        // A receiver may have ended or renewed the subscription.
        if (m_socket != socket) return;
    }
}

void ServiceNotifications::OnDisconnected()
{
    if (!m_socket) return;
    Unsubscribe();
    emit Lost();
}
