#pragma once
// When the tasks start: the daemon's one timer, set to the next due start of any task.

#include "schedule/CatchUpMark.h"
#include "schedule/Clock.h"
#include "sources/SessionSource.h"
#include "catalog/TaskCatalog.h"
#include "schedule/TaskStarter.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QVarLengthArray>
#include <map>
#include <set>

/// Keeps the next start (and the expiry) of every task in one ordered queue and sleeps until
/// the first of them: no polling, and nothing at all happens while nothing is due. A change
/// to a task (Refresh) re-reads that task alone and re-arms the timer at once.
class ScheduleLoop : public QObject {
    Q_OBJECT
public:
    /// How long a task whose time is over but that still runs is looked at again for deletion.
    static constexpr qint64 ExpiryRetryMs = 60000;
    /// How long before a plain scheduled start the loop wakes and hands the instance to its
    /// supervisor, which prepares it and starts the program at the start's time: all the work
    /// of a start then lies before its moment instead of after it. The hand-over takes about a
    /// millisecond on a quiet computer; this leaves room for many times that under load, while
    /// a task changed, stopped or started on demand within it is rare (its instance counts as
    /// running from the hand-over on).
    static constexpr qint64 StartLeadMs = 40;

    ScheduleLoop(QList<TaskCatalog*> catalogs, TaskStarter& starter, const Clock& clock, WakeTimer& timer, QObject* parent = nullptr);

    /// Arms `timer` (not owned) as well for the next start of a task that wakes the computer:
    /// a timer that can wake it from sleep.
    void SetWakeTimer(WakeTimer* timer);

    /// Takes the random delays of starts from `random` instead of the system's generator.
    void SetRandomSource(RandomSource* random) { m_random = random; }

    /// Reads every task of the catalogs and arms the timer. Starts missed since `handledThrough`
    /// (when valid) are counted as missed runs, and run once, now, for tasks that ask for it;
    /// `booted` fires the start-up triggers. `marks` are the tasks whose catch-up an earlier
    /// daemon began: what it carried out is not done again. `eachRead`, when given, is called
    /// after each task is scheduled.
    void Begin(const QDateTime& handledThrough, bool booted, const CatchUpMarks& marks = {},
               const std::function<void()>& eachRead = {});
    /// A task was registered, changed or deleted: its times are computed again.
    void Refresh(const TaskKey& key);
    /// `user` logged on: the logon triggers for that user (or for any user) fire.
    void OnLogon(const QString& user);
    /// A session of `user` changed: the session state triggers for that change and user fire.
    void OnSessionChange(SessionChange change, const QString& user);
    /// Follows the computer's idleness from `sessions` (not owned): idle triggers, starts that
    /// wait for idleness, and instances stopped when a user comes back. Without it the
    /// computer is never idle.
    void SetSessions(const SessionSource* sessions);
    /// The computer became idle, or stopped being idle.
    void OnIdleChanged();

    /// Tasks with a pending start or expiry.
    int QueuedCount() const { return int(m_queue.size()); }
    /// The time the timer is set to; invalid when nothing is due ever.
    QDateTime NextWake() const;
    /// Every scheduled start up to this moment has been handled.
    QDateTime HandledThrough() const { return m_handledThrough; }

signals:
    /// Every start up to `through` has been handled (the daemon records it for its successor).
    void Handled(const QDateTime& through);
    /// The catch-up of a task is about to be carried out. The receiver records `mark` durably
    /// before it returns; a later Begin given it does not repeat what was carried out.
    void CatchingUp(const TaskKey& key, const CatchUpMark& mark);
    /// A task was deleted because its time was over.
    void TaskExpired(const TaskKey& key);

private:
    struct Entry {
        /// Start: a scheduled start (its time is the scheduled one); DelayedStart: a start put
        /// off by its random delay or its trigger's delay; EventStart: a delayed event start.
        /// IdleStart: the time the computer will have been idle long enough for the task;
        /// IdleGiveUp: a start waiting for idleness waits no longer.
        enum What : quint8 { Start, EventStart, Expire, DelayedStart, IdleStart, IdleGiveUp };
        TaskKey key;
        What what = Start;
        QString cause;
        qint64 randomDelayMs = 0;
        QDateTime stopAt = QDateTime();
        /// For a delayed start: when it was due. For a start queued its lead ahead: its time.
        qint64 scheduledAt = 0;
        bool wake = false;        ///< the computer is woken from sleep for it
    };
    using Queue = std::multimap<qint64, Entry>;

    void Wake();
    void Arm();
    void Add(qint64 when, const Entry& entry);
    void Erase(Queue::iterator entry);
    void Unschedule(const TaskKey& key, bool keepEventStarts);
    /// Queues the next start and the expiry of `task`; `next`, when given, is its first start
    /// after `now`, already looked up (nothing inside: it has none).
    void Schedule(const RunnableTask& task, const QDateTime& now, bool withStart = true,
                  const std::optional<std::optional<ScheduledStart>>& next = std::nullopt);
    void Expire(const TaskKey& key, const QDateTime& now);
    std::optional<RunnableTask> Load(const TaskKey& key) const;
    /// The first start of `task` after `after` that was not handed over ahead already; a start
    /// no later than one handed over (a change within the lead) is covered by that one.
    std::optional<ScheduledStart> NextStart(const RunnableTask& task, const QDateTime& after) const;
    /// A start at `at` handed over ahead of its time: false when the starter leaves it for its time.
    bool HandOverAhead(const RunnableTask& task, const Entry& entry);
    void CountMissed(const TaskKey& key, int count);
    /// Starts, at once or after their delay, the tasks of `starts` that `fires` picks.
    void FireEvent(const QHash<TaskKey, QList<EventStart>>& starts, const QString& cause, const QString& what,
                   const std::function<bool(const EventStart&)>& fires);
    void ForgetEventStarts(const TaskKey& key);
    void AddStart(const RunnableTask& task, const ScheduledStart& start);
    /// A start that is due now: at once, or after its random delay.
    void Due(const RunnableTask& task, const Entry& entry, qint64 dueMs, qint64 nowMs);
    /// Every start up to `now` is handled, except those still waiting out a random delay.
    void MarkHandled(const QDateTime& now);
    /// Starts `task` now unless it waits for the computer to be idle.
    void StartNow(const RunnableTask& task, const QString& cause, const QDateTime& stopAt = {});
    /// Whether the computer has been idle for `ms` by now.
    bool IdleFor(qint64 ms, const QDateTime& now) const;
    /// Queues the moments the idle computer becomes idle enough for `key`'s idle trigger and waiting start.
    void QueueIdleStarts(const TaskKey& key, const QDateTime& now);
    void RemoveEntries(const TaskKey& key, const std::function<bool(const Entry&)>& which);
    void IdleStartDue(const RunnableTask& task, const QDateTime& now);

    QHash<TaskGeneration, TaskCatalog*> m_catalogs;
    TaskStarter& m_starter;
    const Clock& m_clock;
    WakeTimer& m_timer;
    WakeTimer* m_wakeTimer = nullptr;
    Queue m_queue;
    // Kept beside the queue, which holds an entry for every task, so that a wake or a change
    // does not look through all of them.
    int m_delayedStarts = 0;           ///< DelayedStart entries in the queue
    std::multiset<qint64> m_wakeTimes;   ///< times of the entries that wake the computer
    /// The entries of each task; most tasks have one (their next start), kept in the hash's
    /// own node rather than in a block of its own.
    using EntryList = QVarLengthArray<Queue::iterator, 1>;
    QHash<TaskKey, EntryList> m_entries;
    QHash<TaskKey, QList<EventStart>> m_logonStarts;
    QHash<TaskKey, QList<EventStart>> m_sessionStarts;
    QHash<TaskKey, QList<EventStart>> m_idleStarts;
    struct IdleWait {
        QString cause;
        QDateTime stopAt;
    };
    /// Starts that wait for the computer to be idle, by task: one each, the first.
    QHash<TaskKey, IdleWait> m_idleWaits;
    /// Tasks whose idle trigger fired in this idle time, with the time's beginning.
    QHash<TaskKey, QDateTime> m_idleFired;
    /// The time of each task's start that was handed over ahead and may not have come yet:
    /// a change to the task in the meantime must not queue that start again.
    QHash<TaskKey, qint64> m_handedOver;
    const SessionSource* m_sessions = nullptr;
    QDateTime m_handledThrough;
    RandomSource* m_random = nullptr;
};
