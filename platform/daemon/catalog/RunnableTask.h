#pragma once
// A task as the daemon runs it, whichever interface generation stored it.

#include "ComBase.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

enum class TaskGeneration : quint8 { Gen1 = 1, Gen2 = 2 };

/// Names a task across both stores: a 2.0 path ("\Reports\Daily") or a 1.0 file name ("Backup.job").
struct TaskKey {
    TaskGeneration generation = TaskGeneration::Gen2;
    QString path;

    /// "v2:\Reports\Daily", "v1:Backup.job".
    QString ToString() const { return (generation == TaskGeneration::Gen1 ? QStringLiteral("v1:") : QStringLiteral("v2:")) + path; }
    /// The inverse of ToString; nothing for other text.
    static std::optional<TaskKey> FromString(const QString& text)
    {
        if (text.startsWith(QLatin1String("v1:")) && text.size() > 3) return TaskKey{TaskGeneration::Gen1, text.mid(3)};
        if (text.startsWith(QLatin1String("v2:")) && text.size() > 3) return TaskKey{TaskGeneration::Gen2, text.mid(3)};
        return std::nullopt;
    }
    friend bool operator==(const TaskKey&, const TaskKey&) = default;
};

inline size_t qHash(const TaskKey& key, size_t seed = 0) { return qHashMulti(seed, quint8(key.generation), key.path); }

/// What happens to a start while an instance of the task runs (numbers of the 2.0 settings).
enum class InstancesPolicy : quint8 { Parallel = 0, Queue = 1, IgnoreNew = 2, StopExisting = 3 };

/// One action of a task. Only programs can be run here; the other kinds are recorded as not
/// supported when their turn comes.
struct TaskAction {
    enum Kind : quint8 { Exec = 0, Handler = 5, Email = 6, Message = 7 };
    Kind kind = Exec;
    QString program;           ///< as stored: a path or a name to look up on PATH, maybe quoted
    QString arguments;         ///< one command line, split as a shell would (quotes respected)
    QString workingDirectory;
};

/// A start on an event (start-up, logon or a session's change), with its delay.
struct EventStart {
    QString user;              ///< logon, session: the user whose session starts the task; empty for anybody
    qint64 delayMs = 0;
    QDateTime from;            ///< the trigger's start boundary; invalid: none
    QDateTime until;           ///< the trigger's end boundary; invalid: none
    int stateChange = 0;       ///< session: the change that starts it (SessionChange's numbers)

    /// Whether the event at `t` starts the task: it falls within the trigger's boundaries.
    bool ActiveAt(const QDateTime& t) const { return (!from.isValid() || t >= from) && (!until.isValid() || t <= until); }
    /// Whether an event of `name`'s session is one for this trigger: it names nobody, that
    /// user, or that user on some computer ("HOST\name").
    bool MatchesUser(const QString& name) const
    {
        return user.isEmpty() || user.compare(name, Qt::CaseInsensitive) == 0
               || user.endsWith(QLatin1Char('\\') + name, Qt::CaseInsensitive);
    }
};

/// One scheduled start, with what its trigger asks of it.
struct ScheduledStart {
    QDateTime at;              ///< the scheduled moment (a 2.0 task gives it in UTC)
    qint64 randomDelayMs = 0;  ///< the start waits a random time up to this long
    QDateTime stopAt;          ///< the instance is stopped then (its repetition ends); invalid: never
};

/// What must hold for an unattended start, and what ends a run.
struct TaskConditions {
    bool disallowStartIfOnBatteries = false;
    bool stopIfGoingOnBatteries = false;
    bool runOnlyIfNetworkAvailable = false;
    /// The network profile that must be connected; empty: any network.
    QString networkProfile;
};

/// What a task asks of the computer's idleness.
struct TaskIdle {
    bool runOnlyIfIdle = false;      ///< an unattended start waits until the computer has been idle long enough
    qint64 durationMs = 600000;      ///< how long the computer must have been idle
    qint64 waitTimeoutMs = 3600000;  ///< how long a start waits for that; 0: as long as it takes
    bool stopOnIdleEnd = false;      ///< running instances are stopped when a user comes back
    bool restartOnIdle = false;      ///< an instance stopped so starts again when the computer is idle again
};

struct RunnableTask {
    TaskKey key;
    bool enabled = true;
    bool allowDemandStart = true;
    bool allowHardTerminate = true;
    bool startWhenAvailable = false;
    /// The account the task runs as, as stored; "System" and its aliases are root.
    QString account;
    /// For a group task: the group, whose id the programs get as their group.
    QString group;
    QList<TaskAction> actions;
    /// 0: no limit.
    qint64 executionTimeLimitMs = 0;
    InstancesPolicy instances = InstancesPolicy::IgnoreNew;
    int restartCount = 0;
    qint64 restartIntervalMs = 0;
    /// How long after the task expires it is deleted; nothing: it is kept.
    std::optional<qint64> deleteExpiredAfterMs;
    /// When the task stops being scheduled (the last end of its triggers); invalid: never.
    QDateTime expiry;
    TaskConditions conditions;
    TaskIdle idle;
    /// The computer is woken from sleep for the task's scheduled starts.
    bool wakeToRun = false;
    QList<EventStart> bootStarts;
    QList<EventStart> logonStarts;
    QList<EventStart> sessionStarts;
    /// Idle triggers: each starts the task once the computer has been idle for idle.durationMs.
    QList<EventStart> idleStarts;
    /// The scheduled starts strictly after `after`, up to and including `until` (no end when
    /// invalid), at most `maxCount`, ascending. Empty for a task without calendar triggers.
    std::function<QList<ScheduledStart>(const QDateTime& after, const QDateTime& until, int maxCount)> starts;

    QList<QDateTime> StartsAfter(const QDateTime& after, const QDateTime& until, int maxCount) const
    {
        QList<QDateTime> times;
        if (starts) {
            for (const ScheduledStart& start : starts(after, until, maxCount)) times.append(start.at);
        }
        return times;
    }
    /// The first scheduled start strictly after `after`.
    std::optional<ScheduledStart> NextStart(const QDateTime& after) const
    {
        const QList<ScheduledStart> next = starts ? starts(after, {}, 1) : QList<ScheduledStart>{};
        return next.isEmpty() ? std::nullopt : std::optional<ScheduledStart>(next.first());
    }
};

/// What the service shows of a task's runs; each store keeps it in its own form.
struct TaskRuntime {
    enum RunState : quint8 { Idle = 0, Queued = 2, Running = 4 };
    RunState runState = Idle;
    QDateTime lastRunTime;
    HRESULT lastResult = 0x00041303;   // SCHED_S_TASK_HAS_NOT_RUN
    qint32 missedRuns = 0;
};
