#include "catalog/Gen2Catalog.h"

#include "gen2/ScheduledRuns.h"
#include "ServiceError.h"
#include "gen2/TaskValueRules.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLoggingCategory>
#include <cerrno>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcGen2, "taskschedd.v2")

namespace {

constexpr qsizetype KnownStatesKept = 1024;

std::optional<TaskPath> PathOf(const TaskKey& key, QString* error)
{
    if (key.generation != TaskGeneration::Gen2) {
        if (error) *error = QStringLiteral("not a 2.0 task");
        return std::nullopt;
    }
    return TaskPath::Parse(key.path, error);
}

TaskRuntime FromState(const TaskRuntimeState& s)
{
    TaskRuntime r;
    r.runState = s.runState == TaskRuntimeState::Running ? TaskRuntime::Running
                 : s.runState == TaskRuntimeState::Queued ? TaskRuntime::Queued
                                                          : TaskRuntime::Idle;
    r.lastRunTime = s.lastRunTime;
    r.lastResult = s.lastTaskResult;
    r.missedRuns = s.missedRuns;
    return r;
}

TaskRuntimeState ToState(const TaskRuntime& r)
{
    TaskRuntimeState s;
    s.runState = r.runState == TaskRuntime::Running ? TaskRuntimeState::Running
                 : r.runState == TaskRuntime::Queued ? TaskRuntimeState::Queued
                                                     : TaskRuntimeState::Idle;
    s.lastRunTime = r.lastRunTime;
    s.lastTaskResult = r.lastResult;
    s.missedRuns = r.missedRuns;
    return s;
}

} // namespace

Gen2Catalog::Gen2Catalog(const ServiceRoot& root, StoreTrust trust) : m_store(root), m_trust(trust), m_stateDir(root.StateDir()) {}

std::optional<qint64> Gen2Catalog::DurationMs(const QString& text)
{
    if (text.isEmpty()) return std::nullopt;
    const auto parts = TaskValueRules::ParseDuration(text);
    if (!parts) return std::nullopt;
    const qint64 days = parts->years * 365 + parts->months * 30;
    return (parts->TotalSeconds() + days * 86400) * 1000;
}

RunnableTask Gen2Catalog::ToRunnable(const TaskPath& path, const TaskDocument& doc)
{
    RunnableTask task;
    task.key = TaskKey{TaskGeneration::Gen2, path.ToString()};
    const TaskSettingsData& s = doc.settings;
    task.enabled = s.enabled;
    task.allowDemandStart = s.allowDemandStart;
    task.allowHardTerminate = s.allowHardTerminate;
    task.startWhenAvailable = s.startWhenAvailable;
    task.conditions = TaskConditions{s.disallowStartIfOnBatteries, s.stopIfGoingOnBatteries, s.runOnlyIfNetworkAvailable,
                                     s.runOnlyIfNetworkAvailable ? s.network.name : QString()};
    task.wakeToRun = s.wakeToRun;
    task.idle.runOnlyIfIdle = s.runOnlyIfIdle;
    task.idle.durationMs = DurationMs(s.idle.idleDuration).value_or(task.idle.durationMs);
    // No wait timeout, or none at all, waits for as long as it takes.
    task.idle.waitTimeoutMs = DurationMs(s.idle.waitTimeout).value_or(0);
    if (doc.principal.logonType == TASK_LOGON_GROUP) task.group = doc.principal.groupId;
    else task.account = doc.principal.userId;
    for (const ActionData& a : doc.actions) {
        TaskAction action;
        action.kind = a.type == TASK_ACTION_EXEC           ? TaskAction::Exec
                    : a.type == TASK_ACTION_SEND_EMAIL   ? TaskAction::Email
                    : a.type == TASK_ACTION_SHOW_MESSAGE ? TaskAction::Message
                                                         : TaskAction::Handler;
        action.program = a.path;
        action.arguments = a.arguments;
        action.workingDirectory = a.workingDirectory;
        task.actions.append(action);
    }
    task.executionTimeLimitMs = DurationMs(s.executionTimeLimit).value_or(0);
    task.instances = s.multipleInstances >= 0 && s.multipleInstances <= 3 ? InstancesPolicy(s.multipleInstances) : InstancesPolicy::IgnoreNew;
    task.restartCount = s.restartCount;
    task.restartIntervalMs = DurationMs(s.restartInterval).value_or(0);
    task.deleteExpiredAfterMs = DurationMs(s.deleteExpiredTaskAfter);

    // A task expires when every trigger has an end and the last of them has passed.
    QDateTime expiry;
    bool everyTriggerEnds = !doc.triggers.isEmpty();
    for (const TriggerData& t : doc.triggers) {
        const auto end = t.endBoundary.isEmpty() ? std::nullopt : TaskValueRules::ParseBoundary(t.endBoundary);
        if (!end) everyTriggerEnds = false;
        else if (!expiry.isValid() || *end > expiry) expiry = *end;
        const bool eventStart = t.type == TASK_TRIGGER_BOOT || t.type == TASK_TRIGGER_LOGON || t.type == TASK_TRIGGER_IDLE
                                || t.type == TASK_TRIGGER_SESSION_STATE_CHANGE;
        if (!t.enabled || !eventStart) continue;
        const qint64 delay = DurationMs(t.delay).value_or(0);
        const auto from = t.startBoundary.isEmpty() ? std::nullopt : TaskValueRules::ParseBoundary(t.startBoundary);
        const QDateTime begin = from.value_or(QDateTime());
        const QDateTime until = end.value_or(QDateTime());
        if (t.type == TASK_TRIGGER_BOOT) task.bootStarts.append(EventStart{{}, delay, begin, until});
        if (t.type == TASK_TRIGGER_LOGON) task.logonStarts.append(EventStart{t.userId, delay, begin, until});
        if (t.type == TASK_TRIGGER_IDLE) task.idleStarts.append(EventStart{{}, 0, begin, until});
        if (t.type == TASK_TRIGGER_SESSION_STATE_CHANGE) task.sessionStarts.append(EventStart{t.userId, delay, begin, until, t.stateChange});
    }
    if (everyTriggerEnds) task.expiry = expiry;
    // The idle settings on stopping and restarting belong to a task that runs on idleness; a
    // task that does not would otherwise be stopped whenever a user came back.
    if (s.runOnlyIfIdle || !task.idleStarts.isEmpty()) {
        task.idle.stopOnIdleEnd = s.idle.stopOnIdleEnd;
        task.idle.restartOnIdle = s.idle.stopOnIdleEnd && s.idle.restartOnIdle;
    }

    // The daemon asks a task for its starts many times and keeps it for as long as it runs:
    // the schedule is worked out once, and only what a start needs of each trigger is kept,
    // not the whole definition.
    struct StartExtras {
        qint64 randomDelayMs = 0;
        bool stopAtDurationEnd = false;
    };
    QList<StartExtras> extras;
    extras.reserve(doc.triggers.size());
    for (const TriggerData& t : doc.triggers)
        extras.append(StartExtras{DurationMs(t.randomDelay).value_or(0), t.repetition.stopAtDurationEnd});
    task.starts = [schedule = TaskSchedule::ToSchedule(doc, ScheduleZone()), extras](const QDateTime& after, const QDateTime& until,
                                                                                     int maxCount) {
        // Runs fall on whole seconds, and the schedule is asked from a moment on, that moment
        // included: the first whole second after `after` gives exactly the starts after it,
        // without asking for one more to drop. (Worked out once for each task at start-up.)
        // In UTC: a local date-time is converted anew each time it is compared or read as a
        // moment, which cost more than the schedule's arithmetic.
        if (!after.isValid()) return QList<ScheduledStart>{};
        const qint64 afterMs = after.toMSecsSinceEpoch();
        const qint64 afterSeconds = afterMs / 1000 - (afterMs % 1000 < 0 ? 1 : 0);   // rounded down
        const QDateTime from = QDateTime::fromSecsSinceEpoch(afterSeconds + 1, Qt::UTC);
        QList<ScheduledStart> starts;
        for (const RunTime& run : ScheduledRuns(schedule, from, until, maxCount)) {
            if (run.utc * 1000 <= afterMs || starts.size() >= maxCount) continue;
            // Moments in UTC: one in the system's zone costs a look-up of the zone's rules to
            // make, and each use of one in local time a conversion through the C library.
            ScheduledStart start{QDateTime::fromSecsSinceEpoch(run.utc, Qt::UTC), 0, {}};
            if (run.trigger >= 0 && run.trigger < extras.size()) {
                start.randomDelayMs = extras[run.trigger].randomDelayMs;
                if (extras[run.trigger].stopAtDurationEnd && run.repetitionEnd > 0)
                    start.stopAt = QDateTime::fromSecsSinceEpoch(run.repetitionEnd, Qt::UTC);
            }
            starts.append(start);
        }
        return starts;
    };
    return task;
}

void Gen2Catalog::Collect(const TaskPath& folder, const std::function<void(const RunnableTask&)>& visit) const
{
    QList<DamagedTask> damaged;
    // One task at a time, each handed on as it is read.
    m_store.EachTask(folder, [&](StoredTask&& t) {
        RunnableTask task = ToRunnable(t.path, t.doc);
        QString refusal;
        if (m_trust.Admit(t.file, t.facts, &task, &refusal)) visit(task);
        else qCWarning(lcGen2) << t.path.ToString() << "is not run:" << refusal;
    }, &damaged);
    for (const DamagedTask& d : std::as_const(damaged)) qCWarning(lcGen2) << d.path.ToString() << "is not run:" << d.error;
    for (const QString& name : m_store.FolderNames(folder)) {
        if (const auto sub = folder.Child(name)) Collect(*sub, visit);
    }
}

void Gen2Catalog::ForEach(const std::function<void(const RunnableTask&)>& visit)
{
    try {
        Collect(TaskPath(), visit);
    } catch (const std::exception& e) {
        qCWarning(lcGen2) << "the 2.0 tasks cannot all be read:" << e.what();
    }
}

QList<RunnableTask> Gen2Catalog::LoadAll()
{
    QList<RunnableTask> out;
    ForEach([&](const RunnableTask& task) { out.append(task); });
    return out;
}

TaskKey Gen2Catalog::StoredKey(const TaskKey& key) const
{
    const auto path = PathOf(key, nullptr);
    if (!path || path->IsRoot()) return key;
    try {
        return TaskKey{TaskGeneration::Gen2, m_store.ResolveTask(*path).ToString()};
    } catch (const std::exception&) {
        return key;
    }
}

std::optional<RunnableTask> Gen2Catalog::Load(const TaskKey& key, QString* error)
{
    const auto path = PathOf(key, error);
    if (!path) return std::nullopt;
    try {
        const StoredTask stored = m_store.LoadTask(*path);
        RunnableTask task = ToRunnable(stored.path, stored.doc);
        if (!m_trust.Admit(stored.file, stored.facts, &task, error)) return std::nullopt;
        return task;
    } catch (const std::exception& e) {
        if (error) *error = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

Gen2Catalog::FileVersion Gen2Catalog::VersionOf(const struct stat& st)
{
    return FileVersion{st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                       qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

std::optional<TaskRuntimeState> Gen2Catalog::CurrentState(const TaskPath& task, const QString& file, QString* error)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0 && errno == ENOENT) {
        m_states.remove(file);
        return TaskRuntimeState{};   // it never ran, or its state went with it
    }
    // The state this catalog wrote last, while the file is still the one it wrote: a write
    // replaces the file whole, so another writer's shows as another file. Anything else is
    // read as the store reads it, which also says what is wrong with it.
    if (const auto known = m_states.constFind(file); known != m_states.cend() && known->version == VersionOf(st)) return known->state;
    m_states.remove(file);
    return m_store.ReadState(task, error);
}

bool Gen2Catalog::ChangeRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change, QString* error, RuntimeWrite write)
{
    const auto path = PathOf(key, error);
    if (!path) return false;
    try {
        const TaskPath task = m_store.ResolveTask(*path);
        const QString file = m_store.StateFile(task);
        QString stateError;
        const auto state = CurrentState(task, file, &stateError);
        if (!state) qCWarning(lcGen2) << key.path << ": its run state was damaged and starts afresh:" << stateError;
        TaskRuntime runtime = FromState(state.value_or(TaskRuntimeState{}));
        change(runtime);
        const TaskRuntimeState changed = ToState(runtime);
        m_store.WriteState(task, changed, write == RuntimeWrite::Durable);
        // Kept for the tasks that run at a time, not for every task that ever ran.
        if (m_states.size() >= KnownStatesKept) m_states.clear();
        if (struct stat st {}; ::stat(QFile::encodeName(file).constData(), &st) == 0) m_states.insert(file, KnownState{VersionOf(st), changed});
        return true;
    } catch (const ServiceError& e) {
        // Deleted meanwhile: the store writes no state for a task it does not hold.
        if (e.Code() == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return true;
        if (error) *error = e.Message();
        return false;
    } catch (const std::exception& e) {
        if (error) *error = QString::fromUtf8(e.what());
        return false;
    }
}

QList<TaskKey> Gen2Catalog::Unsettled()
{
    // The state files, not the tasks: only tasks that ran have one, and a store may hold many.
    QList<TaskKey> keys;
    QDirIterator it(m_stateDir, {QStringLiteral("*.state")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) continue;
        const auto state = TaskStateFile::Decode(f.read(64 * 1024), nullptr);
        if (!state || state->runState == TaskRuntimeState::Idle) continue;
        // Back from the file to its task by the store's rule: a folder is a directory named
        // after it with ".folder", the task its name with ".state".
        QStringList names = QDir(m_stateDir).relativeFilePath(file).split(QLatin1Char('/'));
        names.last().chop(qsizetype(sizeof(".state") - 1));
        bool folders = true;
        for (qsizetype i = 0; i + 1 < names.size(); ++i) {
            folders = folders && names[i].endsWith(QLatin1String(".folder"));
            names[i].chop(qsizetype(sizeof(".folder") - 1));
        }
        const auto path = folders ? TaskPath::Parse(QLatin1Char('\\') + names.join(QLatin1Char('\\'))) : std::nullopt;
        if (path && !path->IsRoot()) keys.append(TaskKey{TaskGeneration::Gen2, path->ToString()});
    }
    return keys;
}

bool Gen2Catalog::Delete(const TaskKey& key, QString* error)
{
    const auto path = PathOf(key, error);
    if (!path) return false;
    try {
        m_store.DeleteTask(*path);
        return true;
    } catch (const std::exception& e) {
        if (error) *error = QString::fromUtf8(e.what());
        return false;
    }
}
