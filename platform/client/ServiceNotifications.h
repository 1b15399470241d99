#pragma once
// Changes to the tasks of a service, as its daemon reports them to the clients that ask.

#include "FrameReader.h"

#include <QCborMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class QLocalSocket;

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
/// whenever a task is added, changed, deleted, starts or ends. Nothing is polled: the notices
/// arrive through the event loop as the daemon sends them. The request connection of the
/// client's objects is not touched, so replies and notices never mix.
class ServiceNotifications : public QObject {
    Q_OBJECT
public:
    /// How long Subscribe waits for the daemon to connect and answer, by default.
    static constexpr int DefaultWaitMs = 3000;

    explicit ServiceNotifications(QObject* parent = nullptr);
    ~ServiceNotifications() override;

    /// Connects to the daemon of `rootPath` and subscribes, waiting at most `waitMs`. True
    /// when subscribed; false when no daemon answers or it refuses (any earlier subscription
    /// is ended either way).
    bool Subscribe(const QString& rootPath, int waitMs = DefaultWaitMs);
    /// Ends the subscription; no further signal is sent for it.
    void Unsubscribe();
    bool IsSubscribed() const;

signals:
    /// The daemon reported `notice`.
    void Notified(const ServiceNotice& notice);
    /// The daemon ended the subscription (it stopped, or dropped the connection): changes
    /// after this are not reported until the next Subscribe.
    void Lost();

private:
    void OnReadyRead();
    void OnDisconnected();

    QPointer<QLocalSocket> m_socket;
    FrameReader m_reader;
};
