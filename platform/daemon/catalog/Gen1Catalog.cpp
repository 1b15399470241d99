#include "catalog/Gen1Catalog.h"

#include "gen1/JobSchedule.h"
#include "run/RunResults.h"

#include <QLoggingCategory>
#include <QTimeZone>

Q_LOGGING_CATEGORY(lcGen1, "taskschedd.v1")

namespace {

constexpr DWORD NoMaxRunTime = 0xFFFFFFFFu;

TaskRuntime FromJob(const JobRuntime& job, const QTimeZone& zone)
{
    TaskRuntime r;
    r.runState = job.running ? TaskRuntime::Running : TaskRuntime::Idle;
    if (job.HasRun()) r.lastRunTime = JobSchedule::ToDateTime(job.mostRecentRun, zone);
    r.lastResult = job.HasRun() ? HRESULT(job.exitCode) : SCHED_S_TASK_HAS_NOT_RUN;
    return r;
}

JobRuntime ToJob(const TaskRuntime& r, const QTimeZone& zone)
{
    JobRuntime job;
    job.running = r.runState == TaskRuntime::Running;
    if (r.lastRunTime.isValid()) {
        const QDateTime local = r.lastRunTime.toTimeZone(zone);
        job.mostRecentRun = JobSchedule::ToSystemTime(local.date(), local.time());
    }
    job.exitCode = r.lastResult == SCHED_S_TASK_HAS_NOT_RUN || r.lastResult == RunResults::Running ? 0 : DWORD(r.lastResult);
    job.terminated = r.lastResult == RunResults::StoppedByRequest;
    return job;
}

} // namespace

Gen1Catalog::Gen1Catalog(const ServiceRoot& root, StoreTrust trust)
    : m_trust(trust), m_store(root), m_engine(std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone()))
{
}

RunnableTask Gen1Catalog::ToRunnable(const QString& name, const JobDefinition& d, std::shared_ptr<const ScheduleEngine> engine)
{
    RunnableTask task;
    task.key = TaskKey{TaskGeneration::Gen1, name};
    task.enabled = (d.flags & TASK_FLAG_DISABLED) == 0;
    task.instances = InstancesPolicy::IgnoreNew;
    task.conditions.disallowStartIfOnBatteries = (d.flags & TASK_FLAG_DONT_START_IF_ON_BATTERIES) != 0;
    task.conditions.stopIfGoingOnBatteries = (d.flags & TASK_FLAG_KILL_IF_GOING_ON_BATTERIES) != 0;
    task.conditions.runOnlyIfNetworkAvailable = (d.flags & TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET) != 0;
    task.wakeToRun = (d.flags & TASK_FLAG_SYSTEM_REQUIRED) != 0;
    task.idle.runOnlyIfIdle = (d.flags & TASK_FLAG_START_ONLY_IF_IDLE) != 0;
    task.idle.durationMs = qint64(d.idleMinutes) * 60000;
    task.idle.waitTimeoutMs = qint64(d.deadlineMinutes) * 60000;
    task.idle.stopOnIdleEnd = (d.flags & TASK_FLAG_KILL_ON_IDLE_END) != 0;
    task.idle.restartOnIdle = task.idle.stopOnIdleEnd && (d.flags & TASK_FLAG_RESTART_ON_IDLE_RESUME) != 0;
    if (d.accountSet) task.account = d.accountName.isEmpty() ? QStringLiteral("System") : d.accountName;
    task.actions.append(TaskAction{TaskAction::Exec, d.applicationName, d.parameters, d.workingDirectory});
    task.executionTimeLimitMs = d.maxRunTimeMs == NoMaxRunTime ? 0 : qint64(d.maxRunTimeMs);

    const Schedule schedule = JobSchedule::ToSchedule(d);
    const QTimeZone zone = engine->Zone();
    // A work item that deletes itself when done expires after its last start or end date.
    if (d.flags & TASK_FLAG_DELETE_WHEN_DONE) {
        QDateTime expiry;
        bool everyTriggerEnds = !schedule.triggers.isEmpty();
        for (const TriggerSchedule& t : schedule.triggers) {
            const auto endOf = t.end ? std::optional<LocalDateTime>(*t.end) : t.kind == TriggerKind::Once ? std::optional<LocalDateTime>(t.start) : std::nullopt;
            const QDateTime end = endOf && endOf->IsValid() ? QDateTime(endOf->Date(), endOf->Time(), zone) : QDateTime();
            if (!end.isValid()) everyTriggerEnds = false;
            else if (!expiry.isValid() || end > expiry) expiry = end;
        }
        if (everyTriggerEnds) {
            task.expiry = expiry;
            task.deleteExpiredAfterMs = 0;
        }
    }
    for (const TASK_TRIGGER& t : d.triggers) {
        if (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED) continue;
        // An event trigger counts from its begin date on, through the whole of its end date.
        EventStart event;
        const QDate begin(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
        if (begin.isValid()) event.from = QDateTime(begin, QTime(0, 0), zone);
        const QDate last(t.wEndYear, t.wEndMonth, t.wEndDay);
        if ((t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) && last.isValid()) event.until = QDateTime(last.addDays(1), QTime(0, 0), zone).addMSecs(-1);
        if (t.TriggerType == TASK_EVENT_TRIGGER_AT_SYSTEMSTART) task.bootStarts.append(event);
        if (t.TriggerType == TASK_EVENT_TRIGGER_AT_LOGON) task.logonStarts.append(event);
        if (t.TriggerType == TASK_EVENT_TRIGGER_ON_IDLE) task.idleStarts.append(event);
    }
    const QList<TASK_TRIGGER> records = d.triggers;
    task.starts = [schedule, records, engine](const QDateTime& after, const QDateTime& until, int maxCount) {
        QList<ScheduledStart> out;
        const std::optional<QDateTime> end = until.isValid() ? std::optional<QDateTime>(until) : std::nullopt;
        // Converted once: a local date-time is converted anew each time it is compared or
        // read as a moment, which cost more than the schedule's arithmetic.
        const QDateTime from = after.toUTC();
        const qint64 afterMs = from.toMSecsSinceEpoch();
        for (const RunTime& run : engine->RunTimes(schedule, from, end, maxCount + 1)) {
            if (run.utc * 1000 <= afterMs || out.size() >= maxCount) continue;
            ScheduledStart start{run.ToDateTime(engine->Zone()), 0, {}};
            if (run.trigger >= 0 && run.trigger < records.size()) {
                const TASK_TRIGGER& record = records[run.trigger];
                start.randomDelayMs = qint64(record.wRandomMinutesInterval) * 60000;
                if ((record.rgFlags & TASK_TRIGGER_FLAG_KILL_AT_DURATION_END) && run.repetitionEnd > 0)
                    start.stopAt = QDateTime::fromSecsSinceEpoch(run.repetitionEnd, engine->Zone());
            }
            out.append(start);
        }
        return out;
    };
    return task;
}

QList<RunnableTask> Gen1Catalog::LoadAll()
{
    QList<RunnableTask> out;
    for (const QString& name : m_store.List()) {
        JobDefinition definition;
        JobRuntime runtime;
        const JobResult r = m_store.Load(name, &definition, &runtime);
        if (!r.Ok()) {
            qCWarning(lcGen1) << name << "is not run:" << r.error;
            continue;
        }
        RunnableTask task = ToRunnable(name, definition, m_engine);
        QString refusal;
        if (m_trust.Admit(m_store.PathOf(name), &task, &refusal)) out.append(task);
        else qCWarning(lcGen1) << name << "is not run:" << refusal;
    }
    return out;
}

TaskKey Gen1Catalog::StoredKey(const TaskKey& key) const
{
    if (key.generation != TaskGeneration::Gen1) return key;
    return TaskKey{TaskGeneration::Gen1, m_store.StoredName(key.path)};
}

std::optional<RunnableTask> Gen1Catalog::Load(const TaskKey& key, QString* error)
{
    JobDefinition definition;
    JobRuntime runtime;
    const JobResult r = m_store.Load(key.path, &definition, &runtime);
    if (!r.Ok()) {
        if (error) *error = r.error.isEmpty() ? ResultText(r.hr) : r.error;
        return std::nullopt;
    }
    const QString stored = m_store.StoredName(key.path);
    RunnableTask task = ToRunnable(stored, definition, m_engine);
    if (!m_trust.Admit(m_store.PathOf(stored), &task, error)) return std::nullopt;
    return task;
}

bool Gen1Catalog::ChangeRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change, QString* error, RuntimeWrite)
{
    // Always durable: a job keeps its run record in the same file as its definition.
    JobDefinition definition;
    JobRuntime job;
    if (!m_store.Exists(key.path)) return true;   // deleted meanwhile
    JobResult r = m_store.Load(key.path, &definition, &job);
    if (r.Ok()) {
        TaskRuntime runtime = FromJob(job, m_engine->Zone());
        change(runtime);
        r = m_store.SaveRuntime(key.path, ToJob(runtime, m_engine->Zone()));
    }
    if (!r.Ok() && error) *error = r.error.isEmpty() ? ResultText(r.hr) : r.error;
    return r.Ok();
}

QList<TaskKey> Gen1Catalog::Unsettled()
{
    QList<TaskKey> keys;
    for (const QString& name : m_store.List()) {
        JobDefinition definition;
        JobRuntime job;
        if (m_store.Load(name, &definition, &job).Ok() && job.running) keys.append(TaskKey{TaskGeneration::Gen1, name});
    }
    return keys;
}

bool Gen1Catalog::Delete(const TaskKey& key, QString* error)
{
    const JobResult r = m_store.Remove(key.path);
    if (!r.Ok() && error) *error = r.error.isEmpty() ? ResultText(r.hr) : r.error;
    return r.Ok();
}
