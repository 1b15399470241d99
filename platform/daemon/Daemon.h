#pragma once
// The service process of one root: holds its lock, serves its clients and runs its tasks.

#include "schedule/Clock.h"
#include "DaemonLock.h"
#include "schedule/DaemonState.h"
#include "catalog/RunnableTask.h"
#include "ServiceRoot.h"

#include <QCborMap>
#include <QDateTime>
#include <QObject>
#include <memory>
#include <optional>

class DaemonServer;
class Gen1Catalog;
class NetworkSource;
class PowerSource;
class StartConditions;
class Gen2Catalog;
class RootWatcher;
class RunRequests;
class ScheduleLoop;
class ServiceCore;
class SessionSource;
class TaskRunner;
class QTimer;
class WallClockTimer;
struct ClientIdentity;

class Daemon : public QObject {
    Q_OBJECT
public:
    enum StartResult { Started, AlreadyRunning, Failed };

    explicit Daemon(ServiceRoot root, QObject* parent = nullptr);
    ~Daemon() override;

    /// Takes the root's lock, starts serving, recovers what a previous daemon left and
    /// schedules every task. AlreadyRunning when another daemon holds the root (`message`
    /// names it); Failed with `message` when the root or the socket cannot be used.
    StartResult Start(QString* message);
    /// Stops serving and releases the root. Running task instances keep running; the next
    /// daemon of the root takes them over.
    void Stop();

    const ServiceRoot& Root() const { return m_root; }

signals:
    /// The root directory was deleted or replaced while serving it: the running instances
    /// have been told to stop and serving has ended; `reason` says what happened.
    void RootLost(const QString& reason);

private:
    QCborMap Handle(const QCborMap& request, const ClientIdentity& peer);
    /// Refuses a 2.0 registration or a 1.0 save whose password the system does not accept.
    std::optional<QCborMap> CheckPassword(const QString& op, const QCborMap& request, const ClientIdentity& peer) const;
    /// The task a delete or enable request names, spelt as stored; nothing for other requests.
    std::optional<TaskKey> NamedTask(const QString& op, const QCborMap& request) const;
    /// Tells the schedule about a task that a request registered, changed or deleted (`named`
    /// is the task NamedTask gave before the request was carried out).
    void AfterChange(const QString& op, const std::optional<TaskKey>& named, bool existed, const QCborMap& reply);
    /// Whether the task a 1.0 save names is stored already (a registration's answer tells it).
    bool Stores(const QString& op, const QCborMap& request);
    /// Tells the subscribed clients `notice` about `key`.
    void Notify(QLatin1StringView notice, const TaskKey& key, const QCborMap& extra = {});
    void AddOwnRequests();
    /// Takes the schedule's mark that every start through `through` was handled, and writes
    /// it now or, for a change whose task needs it not, a moment later together with the
    /// marks of the changes that follow.
    void SaveState(const QDateTime& through);
    /// Writes the mark taken last, if it is not written yet.
    /// Writes the mark not yet on disk; flushed unless `flush` is false.
    void WriteState(bool flush = true);
    /// Whether `key` has starts after the mark written last and up to `through`.
    bool StartsSinceWritten(const TaskKey& key, const QDateTime& through);
    void OnRootLost(const QString& reason);
    /// Removes the temporary files that writes interrupted by a crash left in the store.
    void RemoveLeftovers();

    ServiceRoot m_root;
    DaemonLock m_lock;
    DaemonState m_state;
    QString m_bootId;
    SystemClock m_clock;
    std::unique_ptr<ServiceCore> m_core;
    std::unique_ptr<Gen2Catalog> m_gen2;
    std::unique_ptr<Gen1Catalog> m_gen1;
    std::unique_ptr<RunRequests> m_requests;
    std::unique_ptr<PowerSource> m_power;
    std::unique_ptr<NetworkSource> m_network;
    std::unique_ptr<StartConditions> m_conditions;
    WallClockTimer* m_timer = nullptr;
    QTimer* m_stateTimer = nullptr;
    QDateTime m_unwrittenThrough;   ///< not on disk yet, or not flushed yet
    /// The task a request changed, while the schedule is told of it.
    std::optional<TaskKey> m_changing;
    WallClockTimer* m_wakeTimer = nullptr;
    TaskRunner* m_runner = nullptr;
    ScheduleLoop* m_loop = nullptr;
    SessionSource* m_sessions = nullptr;
    RootWatcher* m_rootWatcher = nullptr;
    DaemonServer* m_server = nullptr;
    bool m_running = false;
    bool m_rootLost = false;
};
