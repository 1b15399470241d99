#pragma once
// Changes to the tasks of a service, as its daemon reports them to the clients that ask.

#include "FrameReader.h"

#include <QCborMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <optional>

class QIODevice;
class QProcess;

/// One change the service reported.
struct ServiceNotice {
    enum Kind : quint8 { TaskAdded, TaskChanged, TaskDeleted, RunStarted, RunEnded };
    Kind kind = TaskChanged;
    /// 2 for a task of the folder tree, 1 for a ".job" task.
    int generation = 2;
    /// The 2.0 path ("\Reports\Daily") or the 1.0 file name ("Backup.job").
    QString path;
    /// RunEnded: the run's result code.
    quint32 result = 0;

    /// The notice a frame's map carries; nothing for a map that is not a well-formed notice.
    static std::optional<ServiceNotice> FromMessage(const QCborMap& message);
};

/// Keeps a connection of its own to the daemon of a root, on which the daemon sends notices
/// whenever a task is added, changed, deleted, starts or ends. The daemon is this computer's,
/// reached on its socket, or another computer's, reached through ssh and the service
/// program's bridge there. Nothing is polled: the notices arrive through the event loop as
/// the daemon sends them. The request connection of the client's objects is not touched, so
/// replies and notices never mix.
class ServiceNotifications : public QObject {
    Q_OBJECT
public:
    /// How long Subscribe waits for the daemon to connect and answer, by default.
    static constexpr int DefaultWaitMs = 3000;
    /// How long SubscribeRemote waits, by default: ssh logs in first.
    static constexpr int DefaultRemoteWaitMs = 15000;

    explicit ServiceNotifications(QObject* parent = nullptr);
    ~ServiceNotifications() override;

    /// Connects to the daemon of `rootPath` and subscribes, waiting at most `waitMs`. True
    /// when subscribed; false when no daemon answers or it refuses (any earlier subscription
    /// is ended either way).
    bool Subscribe(const QString& rootPath, int waitMs = DefaultWaitMs);
    /// Subscribes to the service of the computer `host` as `user` (empty: ssh's own choice),
    /// through the user's ssh like the client's requests, waiting at most `waitMs`; as Subscribe.
    bool SubscribeRemote(const QString& host, const QString& user = {}, int waitMs = DefaultRemoteWaitMs);
    /// SubscribeRemote without waiting: `Renewed` tells, at most `waitMs` later, how it went.
    /// Until then IsSubscribed is false.
    void SubscribeRemoteInBackground(const QString& host, const QString& user = {}, int waitMs = DefaultRemoteWaitMs);
    /// Ends the subscription; no further signal is sent for it.
    void Unsubscribe();
    bool IsSubscribed() const;

signals:
    /// The daemon reported `notice`.
    void Notified(const ServiceNotice& notice);
    /// The daemon ended the subscription (it stopped, or dropped the connection, or the
    /// connection to its computer dropped): changes after this are not reported until the
    /// next Subscribe.
    void Lost();
    /// A subscription asked for in the background is in place (true), or could not be made (false).
    void Renewed(bool subscribed);

private:
    /// Starts ssh to the bridge of `host` as the channel; null for a name ssh must not see.
    QProcess* StartSsh(const QString& host, const QString& user);
    /// Sends the subscription on the channel just opened and waits for its answer.
    bool Handshake(QIODevice* channel, int waitMs);
    /// The subscription asked for in the background ends: in place, or not.
    void EndPending(bool subscribed);
    void OnReadyRead();
    void OnDisconnected();

    /// A QLocalSocket or the QProcess of ssh.
    QPointer<QIODevice> m_channel;
    FrameReader m_reader;
    /// A subscription asked for in the background waits for its answer, until m_pendingLimit.
    bool m_pending = false;
    QTimer m_pendingLimit;
};
