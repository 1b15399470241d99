#pragma once
// Runs task instances: starts them under the task's instance policy, stops them, retries
// failed runs, and records every run's result in the task's store and run history.

#include "schedule/Clock.h"
#include "run/InstanceLauncher.h"
#include "run/RunHistory.h"
#include "run/RunResults.h"
#include "run/RunningInstance.h"
#include "sources/StartConditions.h"
#include "catalog/TaskCatalog.h"
#include "schedule/TaskStarter.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>

class QTimer;

class TaskRunner : public QObject, public TaskStarter {
    Q_OBJECT
public:
    TaskRunner(ServiceRoot root, QList<TaskCatalog*> catalogs, const Clock& clock, QObject* parent = nullptr);
    ~TaskRunner() override;

    /// Finds out what became of the instances an earlier daemon left: those that ended are
    /// recorded, those still running are taken over, and those whose supervisor vanished are
    /// recorded as lost. In a `newBoot` of the computer, a task whose run state says that it
    /// runs or waits and that has no instance left is set idle.
    void Recover(bool newBoot = false);
    /// Checks unattended starts against `conditions` (not owned), and stops the instances of
    /// tasks that ask for it when its power source switches to batteries. Without it every
    /// start is made.
    void SetConditions(const StartConditions* conditions);

    /// Starts `task` now, under its instance policy: S_OK when an instance started (or the
    /// running ones are being stopped for it), SCHED_S_TASK_QUEUED when it waits for the running
    /// one, SCHED_E_ALREADY_RUNNING when the policy ignores it, SCHED_E_TASK_DISABLED for a
    /// disabled task, or the failure that kept it from starting (also recorded as a run).
    /// A valid `stopAt` stops the instance then (its trigger's repetition ends).
    HRESULT Start(const RunnableTask& task, const QString& cause, QString* error, int attempt = 0, const QDateTime& stopAt = {});
    /// Stops every instance of the task and forgets its waiting starts and retries. Returns the
    /// number of instances asked to stop.
    int Stop(const TaskKey& key, StopReason reason = StopReason::Request);
    /// Stops one running instance; false when no such instance runs.
    bool StopInstance(const QString& id, StopReason reason = StopReason::Request);
    /// The running instances of a task, or of every task for an empty key path.
    QList<const RunningInstance*> Instances(const TaskKey& key) const;
    QList<const RunningInstance*> AllInstances() const;

    void StartUnattended(const RunnableTask& task, const QString& cause, const QDateTime& stopAt = {}) override;
    bool StartAhead(const RunnableTask& task, const QDateTime& at, const QDateTime& stopAt) override;
    void SkipStart(const RunnableTask& task, const QString& cause, const QString& reason) override { RecordSkippedStart(task, cause, reason); }
    QList<TaskKey> StopOnIdleEnd() override;
    bool IsBusy(const TaskKey& key) const override;
    bool StartedSince(const TaskKey& key, const QString& cause, const QDateTime& since) const override;

    const RunHistory& History() const { return m_history; }
    /// Forgets the runs of a deleted task, so that a new task of the same name starts with none.
    void ForgetHistory(const TaskKey& key) { m_history.Remove(key); }
    const InstanceLauncher& Launcher() const { return m_launcher; }

signals:
    /// An instance of the task started and the task's state says it runs.
    void InstanceStarted(const TaskKey& key);
    /// An instance of the task ended and its result was recorded.
    void InstanceEnded(const TaskKey& key, HRESULT result);

private:
    /// An instance that ended, waiting to be recorded with the others that end meanwhile.
    struct EndedRun {
        InstanceDescription description;
        HRESULT result = 0;
        QDateTime end;
        StopReason reason = StopReason::None;
    };
    struct PendingStart {
        QString cause;
        int attempt = 0;
        QDateTime stopAt;
    };

    /// Starts an instance now; a valid `notBefore` is its start time, and its program waits for it.
    HRESULT Launch(const RunnableTask& task, const QString& cause, int attempt, QString* error, const QDateTime& stopAt = {},
                   const QDateTime& notBefore = {});
    void Watch(RunningInstance* instance);
    void OnEnded(RunningInstance* instance);
    void Finish(const InstanceDescription& description, HRESULT result, const QDateTime& end, StopReason reason);
    /// Records runs of one task, in the order they ended, with one write of its history and
    /// one of its state.
    void Finish(const TaskKey& key, const QList<EndedRun>& runs);
    /// Records the instances that ended since the last time.
    void FinishEnded();
    void RecordSkippedStart(const RunnableTask& task, const QString& cause, const QString& reason);
    void StopOnBatteries();
    void RecordFailedStart(const RunnableTask& task, const QString& cause, int attempt, const QDateTime& start, HRESULT result);
    void SetRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change,
                    TaskCatalog::RuntimeWrite write = TaskCatalog::RuntimeWrite::Durable);
    void StartWaiting(const TaskKey& key);
    void ScheduleRestart(const TaskKey& key, const QString& cause, int attempt);
    void RemoveInstanceFiles(const QString& id);
    /// Starts the launcher of supervisors for the next start, once the event loop is back.
    void LauncherSoon();
    void RecoverInstances();
    TaskCatalog* CatalogOf(const TaskKey& key) const;
    /// The clock's time in UTC: the times of runs are written down and compared many times
    /// over, and a local time asks the C library for its offset at each use.
    QDateTime Now() const { return m_clock.NowUtc(); }
    int LiveCount(const TaskKey& key) const;

    ServiceRoot m_root;
    QHash<TaskGeneration, TaskCatalog*> m_catalogs;
    const Clock& m_clock;
    InstanceLauncher m_launcher;
    RunHistory m_history;
    QHash<TaskKey, QList<RunningInstance*>> m_running;
    QHash<TaskKey, QList<PendingStart>> m_waiting;
    QHash<TaskKey, QList<QTimer*>> m_restarts;
    const StartConditions* m_conditions = nullptr;
    QList<EndedRun> m_ended;
    QTimer* m_finishTimer = nullptr;
    QElapsedTimer m_lastFinish;   ///< since the ended instances were last recorded
    bool m_launcherQueued = false;
};
