#include "run/TaskRunner.h"

#include "run/StartDecision.h"
#include "run/SupervisorScan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <system_error>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRunner, "taskschedd.runner")

namespace {
// How long an ended instance waits for others to be recorded with it.
constexpr int FinishDelayMs = 10;
// Ends are recorded at most this often: while instances end one after another, each record
// flushes a task's history and state once for all of them instead of once for every few.
constexpr qint64 FinishSpacingMs = 50;
}

TaskRunner::TaskRunner(ServiceRoot root, QList<TaskCatalog*> catalogs, const Clock& clock, QObject* parent)
    : QObject(parent), m_root(root), m_clock(clock), m_launcher(root), m_history(root)
{
    for (TaskCatalog* catalog : catalogs) m_catalogs.insert(catalog->Generation(), catalog);
    // Instances that end close together are recorded together: one write of a task's history
    // and one of its state, each flushed to disk once, for all of them.
    m_finishTimer = new QTimer(this);
    m_finishTimer->setSingleShot(true);
    connect(m_finishTimer, &QTimer::timeout, this, &TaskRunner::FinishEnded);
    LauncherSoon();
}

void TaskRunner::LauncherSoon()
{
    if (m_launcherQueued) return;
    m_launcherQueued = true;
    // From the event loop: after the answer to the start that found none.
    QTimer::singleShot(0, this, [this] {
        m_launcherQueued = false;
        m_launcher.KeepLauncher();
    });
}

TaskRunner::~TaskRunner()
{
    // What ended is recorded before the daemon goes; nothing new starts now.
    m_waiting.clear();
    FinishEnded();
    // Instances keep running without the daemon; the next one takes them over.
    for (const auto& list : std::as_const(m_restarts)) qDeleteAll(list);
}

TaskCatalog* TaskRunner::CatalogOf(const TaskKey& key) const { return m_catalogs.value(key.generation); }

int TaskRunner::LiveCount(const TaskKey& key) const
{
    int n = 0;
    for (const RunningInstance* instance : m_running.value(key)) n += instance->HasEnded() ? 0 : 1;
    return n;
}

bool TaskRunner::IsBusy(const TaskKey& key) const
{
    return LiveCount(key) > 0 || !m_waiting.value(key).isEmpty() || !m_restarts.value(key).isEmpty();
}

QList<const RunningInstance*> TaskRunner::Instances(const TaskKey& key) const
{
    QList<const RunningInstance*> out;
    for (const RunningInstance* instance : m_running.value(key)) {
        if (!instance->HasEnded()) out.append(instance);
    }
    return out;
}

QList<const RunningInstance*> TaskRunner::AllInstances() const
{
    QList<const RunningInstance*> out;
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) out += Instances(it.key());
    return out;
}

void TaskRunner::SetRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change, TaskCatalog::RuntimeWrite write)
{
    TaskCatalog* catalog = CatalogOf(key);
    QString error;
    if (catalog && !catalog->ChangeRuntime(key, change, &error, write))
        qCWarning(lcRunner) << key.ToString() << ": the run state cannot be recorded:" << error;
}

void TaskRunner::SetConditions(const StartConditions* conditions)
{
    if (m_conditions) disconnect(&m_conditions->Power(), nullptr, this, nullptr);
    m_conditions = conditions;
    if (!conditions) return;
    connect(&conditions->Power(), &PowerSource::OnBatteryChanged, this, [this](bool onBattery) {
        if (onBattery) StopOnBatteries();
    });
}

void TaskRunner::StopOnBatteries()
{
    const QList<TaskKey> keys = m_running.keys();
    for (const TaskKey& key : keys) {
        // The task as it is stored now decides, so an instance taken over from an earlier daemon is covered too.
        TaskCatalog* catalog = CatalogOf(key);
        QString error;
        const auto task = catalog ? catalog->Load(key, &error) : std::nullopt;
        if (!task || !StartConditions::StopsOnBatteries(*task)) continue;
        qCInfo(lcRunner) << key.ToString() << ": the computer switched to batteries; its instances are stopped";
        m_waiting.remove(key);
        for (RunningInstance* instance : m_running.value(key)) instance->Stop(StopReason::OnBatteries);
    }
}

QList<TaskKey> TaskRunner::StopOnIdleEnd()
{
    QList<TaskKey> restart;
    const QList<TaskKey> keys = m_running.keys();
    for (const TaskKey& key : keys) {
        TaskCatalog* catalog = CatalogOf(key);
        QString error;
        const auto task = catalog ? catalog->Load(key, &error) : std::nullopt;
        if (!task || !task->idle.stopOnIdleEnd || LiveCount(key) == 0) continue;
        qCInfo(lcRunner) << key.ToString() << ": the computer is no longer idle; its instances are stopped";
        m_waiting.remove(key);
        for (RunningInstance* instance : m_running.value(key)) instance->Stop(StopReason::IdleEnd);
        if (task->idle.restartOnIdle) restart.append(key);
    }
    return restart;
}

void TaskRunner::RecordSkippedStart(const RunnableTask& task, const QString& cause, const QString& reason)
{
    qCInfo(lcRunner) << task.key.ToString() << ": the" << cause << "start is skipped:" << reason;
    const QDateTime now = Now();
    RunHistoryEntry entry{QUuid::createUuid().toString(QUuid::WithoutBraces), cause, 0, now, now, RunResults::ConditionNotMet, reason};
    try {
        m_history.Append(task.key, entry);
    } catch (const std::exception& e) {
        qCWarning(lcRunner) << task.key.ToString() << ": the run history cannot be written:" << e.what();
    }
}

void TaskRunner::StartUnattended(const RunnableTask& task, const QString& cause, const QDateTime& stopAt)
{
    if (task.enabled && m_conditions) {
        if (const QString reason = m_conditions->Unmet(task); !reason.isEmpty()) {
            RecordSkippedStart(task, cause, reason);
            return;
        }
    }
    QString error;
    const HRESULT hr = Start(task, cause, &error, 0, stopAt);
    if (FAILED(hr) && hr != SCHED_E_ALREADY_RUNNING && hr != SCHED_E_TASK_DISABLED)
        qCWarning(lcRunner) << task.key.ToString() << "did not start (" << cause << "):" << error;
    else if (hr == SCHED_E_ALREADY_RUNNING)
        qCInfo(lcRunner) << task.key.ToString() << "still runs; the" << cause << "start is ignored";
}

bool TaskRunner::StartAhead(const RunnableTask& task, const QDateTime& at, const QDateTime& stopAt)
{
    // Only a start that would launch as things are: one that would wait for, replace or be
    // refused by a running instance depends on whether that has ended by its time, and one
    // whose power or network condition does not hold now is skipped (and recorded) at its
    // time. The conditions are looked at now rather than at the start's time: the power and
    // network sources hear of a change by a message on the bus, which takes about as long as
    // the lead, so a start at its time would not know better. A switch to batteries during the
    // wait stops the instance of a task that asks for it, as any running instance.
    const StartSituation situation{task.enabled, stopAt.isValid() && stopAt <= at, LiveCount(task.key),
                                   int(m_waiting.value(task.key).size()), task.instances};
    if (DecideStart(situation) != StartDecision::Launch) return false;
    if (m_conditions && !m_conditions->Unmet(task).isEmpty()) return false;
    QString error;
    if (FAILED(Launch(task, QStringLiteral("scheduled"), 0, &error, stopAt, at)))
        qCWarning(lcRunner) << task.key.ToString() << "did not start (scheduled, ahead of its time):" << error;
    return true;
}

bool TaskRunner::StartedSince(const TaskKey& key, const QString& cause, const QDateTime& since) const
{
    for (const RunningInstance* instance : m_running.value(key)) {
        if (instance->Description().cause == cause && instance->Description().start >= since) return true;
    }
    for (const EndedRun& run : m_ended) {
        if (run.description.task == key.ToString() && run.description.cause == cause && run.description.start >= since && run.result != RunResults::Lost)
            return true;
    }
    // A lost run is one whose supervisor left no word: a daemon killed between writing an
    // instance down and spawning it leaves exactly that, and its program never ran. So a lost
    // run does not count as made; the start is made again rather than never.
    const QList<RunHistoryEntry> runs = m_history.Read(key);
    return std::any_of(runs.cbegin(), runs.cend(), [&](const RunHistoryEntry& run) {
        return run.cause == cause && run.start >= since && run.result != RunResults::Lost;
    });
}

HRESULT TaskRunner::Start(const RunnableTask& task, const QString& cause, QString* error, int attempt, const QDateTime& stopAt)
{
    const StartSituation situation{task.enabled, stopAt.isValid() && stopAt <= m_clock.Now(), LiveCount(task.key),
                                   int(m_waiting.value(task.key).size()), task.instances};
    switch (DecideStart(situation)) {
    case StartDecision::RefuseDisabled:
        if (error) *error = ResultText(SCHED_E_TASK_DISABLED);
        return SCHED_E_TASK_DISABLED;
    case StartDecision::Drop:
        // Its repetition is already over: the instance would be stopped as it started.
        qCInfo(lcRunner) << task.key.ToString() << ": the repetition of its trigger has ended; the" << cause << "start is dropped";
        return S_FALSE;
    case StartDecision::Launch:
        return Launch(task, cause, attempt, error, stopAt);
    case StartDecision::Queue:
        m_waiting[task.key].append(PendingStart{cause, attempt, stopAt});
        if (situation.live == 0) SetRuntime(task.key, [](TaskRuntime& r) { r.runState = TaskRuntime::Queued; });
        return SCHED_S_TASK_QUEUED;
    case StartDecision::ReplaceRunning:
        m_waiting[task.key] = {PendingStart{cause, attempt, stopAt}};
        for (RunningInstance* instance : m_running.value(task.key)) instance->Stop(StopReason::NewInstance);
        return S_OK;
    case StartDecision::RefuseRunning:
        break;
    }
    if (error) *error = ResultText(SCHED_E_ALREADY_RUNNING);
    return SCHED_E_ALREADY_RUNNING;
}

HRESULT TaskRunner::Launch(const RunnableTask& task, const QString& cause, int attempt, QString* error, const QDateTime& stopAt,
                           const QDateTime& notBefore)
{
    // A start made ahead counts from its time: its run, its time limit and the task's last run.
    const QDateTime start = notBefore.isValid() ? notBefore.toUTC() : Now();
    HRESULT code = E_FAIL;
    QString why;
    auto description = m_launcher.Prepare(task, cause, attempt, start, &code, &why);
    if (!description) {
        RecordFailedStart(task, cause, attempt, start, code);
        if (error) *error = why;
        return code;
    }
    if (description->steps.isEmpty()) {
        // Nothing here can be run: the task's first action is one this service does not carry out.
        qCInfo(lcRunner) << task.key.ToString() << ": its" << description->unsupportedAction << "action is not supported by this service";
        RecordFailedStart(task, cause, attempt, start, RunResults::NotSupported);
        return S_OK;
    }
    // Written down with the instance, so that a daemon that takes it over stops it in time too.
    description->timeLimitMs = task.executionTimeLimitMs;
    description->stopAt = stopAt;
    description->notBefore = notBefore.isValid() ? start : QDateTime();
    bool ownChild = false;
    // The state says it runs from when the instance is written down and on its way, written
    // while its supervisor takes it rather than after: a crash of the daemon from here on
    // leaves the instance file, by which the next daemon settles the run (RecoverInstances),
    // and a start that fails after all is recorded as such (RecordFailedStart). Not flushed,
    // so that a start waits for no disk: a crash of the daemon keeps the page cache. After a
    // power failure nothing runs any more, and the next daemon settles a state that says so
    // (Recover); the instance's end is recorded durably in any case (Finish).
    const auto markRunning = [&] {
        SetRuntime(
            task.key,
            [&](TaskRuntime& r) {
                r.runState = TaskRuntime::Running;
                r.lastRunTime = start;
                r.lastResult = RunResults::Running;
            },
            TaskCatalog::RuntimeWrite::Cached);
    };
    const pid_t pid = m_launcher.Spawn(*description, &why, &ownChild, markRunning);
    if (pid <= 0) {
        RecordFailedStart(task, cause, attempt, start, E_FAIL);
        if (error) *error = why;
        return E_FAIL;
    }
    auto* instance = new RunningInstance(*description, pid, ownChild, task.executionTimeLimitMs, task.allowHardTerminate, this);
    m_running[task.key].append(instance);
    Watch(instance);
    qCInfo(lcRunner) << task.key.ToString() << "started (" << cause << "), instance" << description->id << "supervisor" << pid;
    emit InstanceStarted(task.key);
    if (m_launcher.LauncherPid() <= 0) LauncherSoon();
    if (!instance->IsValid()) OnEnded(instance);   // it ended before it could be watched
    return S_OK;
}

void TaskRunner::Watch(RunningInstance* instance)
{
    connect(instance, &RunningInstance::Ended, this, &TaskRunner::OnEnded);
}

void TaskRunner::RecordFailedStart(const RunnableTask& task, const QString& cause, int attempt, const QDateTime& start, HRESULT result)
{
    InstanceDescription description;
    description.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    description.task = task.key.ToString();
    description.start = start;
    description.cause = cause;
    description.attempt = attempt;
    SetRuntime(task.key, [&](TaskRuntime& r) { r.lastRunTime = start; });
    // A start made ahead that fails still ends no earlier than its time.
    Finish(description, result, std::max(Now(), start), StopReason::None);
}

void TaskRunner::OnEnded(RunningInstance* instance)
{
    const InstanceDescription description = instance->Description();
    const StopReason reason = instance->Reason();
    QString error;
    const std::optional<InstanceOutcome> outcome = InstanceFiles::ReadOutcome(InstanceFiles::OutcomeFile(m_launcher.InstancesDir(), description.id), &error);
    if (!outcome) qCWarning(lcRunner) << description.task << "instance" << description.id << "left no outcome:" << error;

    const auto key = TaskKey::FromString(description.task);
    if (key) m_running[*key].removeOne(instance);
    if (key && m_running.value(*key).isEmpty()) m_running.remove(*key);
    instance->deleteLater();

    const HRESULT result = outcome ? RunResults::FromOutcome(description, *outcome, reason) : RunResults::Lost;
    m_ended.append(EndedRun{description, result, outcome ? outcome->end : Now(), reason});
    if (!m_finishTimer->isActive()) {
        const qint64 sinceLast = m_lastFinish.isValid() ? m_lastFinish.elapsed() : FinishSpacingMs;
        m_finishTimer->start(int(std::max<qint64>(FinishDelayMs, FinishSpacingMs - sinceLast)));
    }
}

void TaskRunner::FinishEnded()
{
    m_finishTimer->stop();
    if (m_ended.isEmpty()) return;
    m_lastFinish.start();
    const QList<EndedRun> ended = std::exchange(m_ended, {});
    QList<TaskKey> order;
    QHash<TaskKey, QList<EndedRun>> byTask;
    for (const EndedRun& run : ended) {
        const auto key = TaskKey::FromString(run.description.task);
        if (!key) {
            RemoveInstanceFiles(run.description.id);
            continue;
        }
        if (!byTask.contains(*key)) order.append(*key);
        byTask[*key].append(run);
    }
    for (const TaskKey& key : order) Finish(key, byTask.value(key));
}

void TaskRunner::Finish(const InstanceDescription& description, HRESULT result, const QDateTime& end, StopReason reason)
{
    const auto key = TaskKey::FromString(description.task);
    if (!key) {
        RemoveInstanceFiles(description.id);
        return;
    }
    Finish(*key, {EndedRun{description, result, end, reason}});
}

void TaskRunner::Finish(const TaskKey& key, const QList<EndedRun>& ended)
{
    QList<EndedRun> runs = ended;
    QList<RunHistoryEntry> entries;
    for (const EndedRun& run : runs) {
        const InstanceDescription& d = run.description;
        entries.append(RunHistoryEntry{d.id, d.cause, d.attempt, d.start, run.end, run.result, {}});
    }
    const RunHistory::Change history = m_history.Prepare(key, entries);
    runs.removeIf([&](const EndedRun& run) {
        const QList<RunHistoryEntry>& added = history.added;
        if (std::any_of(added.cbegin(), added.cend(), [&](const RunHistoryEntry& e) { return e.instance == run.description.id; })) return false;
        // Recorded before: files whose removal a power failure undid. The task's state has
        // moved on since and is left as it is.
        qCInfo(lcRunner) << run.description.task << "instance" << run.description.id << "was recorded before; its files are removed";
        RemoveInstanceFiles(run.description.id);
        return true;
    });
    if (runs.isEmpty()) return;
    // The history is written by a thread of its own while the state is written here: both are
    // flushed to disk at once, which the file system commits together, and the daemon waits
    // for the disk once per group of ends instead of twice. Neither is relied on before both
    // are done: the instance files go only afterwards.
    std::future<void> historyWritten;
    try {
        historyWritten = std::async(std::launch::async, [&history] { RunHistory::Write(history); });
    } catch (const std::system_error&) {
        // No thread to be had: written here, after the state, with the same care.
        historyWritten = std::async(std::launch::deferred, [&history] { RunHistory::Write(history); });
    }
    const bool othersRun = LiveCount(key) > 0;
    const bool waiting = !m_waiting.value(key).isEmpty();
    const HRESULT last = runs.last().result;
    SetRuntime(key, [&](TaskRuntime& r) {
        if (othersRun) return;
        r.runState = waiting ? TaskRuntime::Queued : TaskRuntime::Idle;
        r.lastResult = last;
    });
    try {
        historyWritten.get();
        m_history.Keep(history);
    } catch (const std::exception& e) {
        qCWarning(lcRunner) << key.ToString() << ": the run history cannot be written:" << e.what();
    }
    for (const EndedRun& run : std::as_const(runs)) {
        // The instance's files go only once its result is safely recorded, so a crash in between
        // makes the next daemon record it again rather than lose it.
        RemoveInstanceFiles(run.description.id);
        qCInfo(lcRunner) << run.description.task << "instance" << run.description.id << "ended with"
                         << QStringLiteral("0x%1").arg(quint32(run.result), 8, 16, QLatin1Char('0'));
        emit InstanceEnded(key, run.result);
    }
    if (!othersRun) StartWaiting(key);
    for (const EndedRun& run : std::as_const(runs)) {
        if (RunResults::IsFailure(run.result, run.reason)) ScheduleRestart(key, run.description.cause, run.description.attempt);
    }
}

void TaskRunner::StartWaiting(const TaskKey& key)
{
    auto it = m_waiting.find(key);
    if (it == m_waiting.end() || it->isEmpty()) return;
    const PendingStart next = it->takeFirst();
    if (it->isEmpty()) m_waiting.erase(it);
    TaskCatalog* catalog = CatalogOf(key);
    QString error;
    const auto task = catalog ? catalog->Load(key, &error) : std::nullopt;
    if (!task || !task->enabled) {
        // Deleted or disabled while the start waited: a disabled task never starts.
        if (!task) qCWarning(lcRunner) << key.ToString() << ": a waiting start is dropped:" << error;
        else qCInfo(lcRunner) << key.ToString() << "was disabled; its waiting starts are dropped";
        m_waiting.remove(key);
        SetRuntime(key, [](TaskRuntime& r) { if (r.runState == TaskRuntime::Queued) r.runState = TaskRuntime::Idle; });
        return;
    }
    if (next.stopAt.isValid() && next.stopAt <= m_clock.Now()) {
        qCInfo(lcRunner) << key.ToString() << ": a waiting start outlived the repetition of its trigger and is dropped";
        StartWaiting(key);
        return;
    }
    const HRESULT hr = Launch(*task, next.cause, next.attempt, &error, next.stopAt);
    if (FAILED(hr)) qCWarning(lcRunner) << key.ToString() << ": a waiting start failed:" << error;
}

void TaskRunner::ScheduleRestart(const TaskKey& key, const QString& cause, int attempt)
{
    TaskCatalog* catalog = CatalogOf(key);
    QString error;
    const auto task = catalog ? catalog->Load(key, &error) : std::nullopt;
    if (!task || attempt >= task->restartCount || task->restartIntervalMs <= 0) return;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    m_restarts[key].append(timer);
    connect(timer, &QTimer::timeout, this, [this, timer, key, cause, attempt] {
        m_restarts[key].removeOne(timer);
        if (m_restarts.value(key).isEmpty()) m_restarts.remove(key);
        timer->deleteLater();
        TaskCatalog* catalog = CatalogOf(key);
        QString error;
        const auto task = catalog ? catalog->Load(key, &error) : std::nullopt;
        if (!task) return;   // deleted meanwhile
        qCInfo(lcRunner) << key.ToString() << ": restart" << attempt + 1 << "of" << task->restartCount << "after a failed run";
        Start(*task, cause, &error, attempt + 1);
    });
    timer->start(int(std::min<qint64>(task->restartIntervalMs, std::numeric_limits<int>::max())));
}

int TaskRunner::Stop(const TaskKey& key, StopReason reason)
{
    m_waiting.remove(key);
    qDeleteAll(m_restarts.take(key));
    int n = 0;
    for (RunningInstance* instance : m_running.value(key)) {
        if (instance->HasEnded()) continue;
        instance->Stop(reason);
        ++n;
    }
    if (n == 0) SetRuntime(key, [](TaskRuntime& r) { if (r.runState == TaskRuntime::Queued) r.runState = TaskRuntime::Idle; });
    return n;
}

bool TaskRunner::StopInstance(const QString& id, StopReason reason)
{
    for (const QList<RunningInstance*>& list : std::as_const(m_running)) {
        for (RunningInstance* instance : list) {
            if (instance->Description().id != id || instance->HasEnded()) continue;
            instance->Stop(reason);
            return true;
        }
    }
    return false;
}

void TaskRunner::RemoveInstanceFiles(const QString& id)
{
    // Not made durable: the run is recorded by now, and files that a power failure brings back
    // are found recorded by the next daemon (Finish) and removed then.
    const QString dir = m_launcher.InstancesDir();
    for (const QString& file : {InstanceFiles::OutcomeFile(dir, id), InstanceFiles::DescriptionFile(dir, id)}) {
        if (::unlink(QFile::encodeName(file).constData()) != 0 && errno != ENOENT)
            qCWarning(lcRunner) << "instance" << id << ": its file" << file << "cannot be removed:" << std::strerror(errno);
    }
}

void TaskRunner::Recover(bool newBoot)
{
    RecoverInstances();
    if (!newBoot) return;
    // Nothing of an earlier boot runs any more. Its instance files, which would tell, are not
    // flushed to disk (InstanceLauncher::Spawn), so a power failure may have taken them while
    // the run state that says "running" survived.
    for (TaskCatalog* catalog : std::as_const(m_catalogs)) {
        for (const TaskKey& key : catalog->Unsettled()) {
            if (LiveCount(key) > 0) continue;
            qCInfo(lcRunner) << key.ToString() << ": its run state is from before the computer started; it runs no more";
            SetRuntime(key, [](TaskRuntime& r) {
                if (r.runState == TaskRuntime::Running && r.lastResult == RunResults::Running) r.lastResult = RunResults::Lost;
                r.runState = TaskRuntime::Idle;
            });
        }
    }
}

void TaskRunner::RecoverInstances()
{
    const QString dir = m_launcher.InstancesDir();
    const QStringList files = QDir(dir).entryList({QStringLiteral("*.instance")}, QDir::Files, QDir::Name);
    if (files.isEmpty()) return;
    const QHash<QString, pid_t> supervisors = SupervisorScan().Running();
    QList<TaskKey> recorded;   // tasks of instances that ended while no daemon ran
    for (const QString& name : files) {
        const QString id = InstanceFiles::IdOfDescriptionFile(name);
        const QString descriptionFile = InstanceFiles::DescriptionFile(dir, id);
        QFile file(descriptionFile);
        QString error;
        std::optional<InstanceDescription> description;
        if (file.open(QIODevice::ReadOnly)) description = InstanceFiles::DecodeDescription(file.readAll(), &error);
        if (!description) {
            qCWarning(lcRunner) << "instance file" << descriptionFile << "is damaged (" << error << "); removed";
            RemoveInstanceFiles(id);
            continue;
        }
        const auto key = TaskKey::FromString(description->task);
        const pid_t pid = supervisors.value(QFileInfo(descriptionFile).absoluteFilePath());
        if (pid > 0 && key) {
            TaskCatalog* catalog = CatalogOf(*key);
            const auto task = catalog ? catalog->Load(*key, &error) : std::nullopt;
            // The limit it started with holds; an instance of an older daemon gets the task's.
            const qint64 limit = description->timeLimitMs >= 0 ? description->timeLimitMs : task ? task->executionTimeLimitMs : 0;
            auto* instance = new RunningInstance(*description, pid, false, limit, task ? task->allowHardTerminate : true, this);
            if (instance->IsValid()) {
                qCInfo(lcRunner) << description->task << ": instance" << id << "still runs; taken over";
                m_running[*key].append(instance);
                Watch(instance);
                continue;
            }
            delete instance;
        }
        if (key && !recorded.contains(*key)) recorded.append(*key);
        const std::optional<InstanceOutcome> outcome = InstanceFiles::ReadOutcome(InstanceFiles::OutcomeFile(dir, id), &error);
        if (outcome) {
            qCInfo(lcRunner) << description->task << ": instance" << id << "ended while no daemon ran; recorded";
            Finish(*description, RunResults::FromOutcome(*description, *outcome, StopReason::None), outcome->end, StopReason::None);
        } else {
            qCWarning(lcRunner) << description->task << ": instance" << id << "vanished without a result; recorded as lost";
            Finish(*description, RunResults::Lost, Now(), StopReason::None);
        }
    }
    // A daemon that went between recording a run and writing its task's state left the state
    // saying it runs, and its run is found recorded already (Finish leaves such a state alone,
    // as it may have moved on). Once every instance has been taken over or recorded, a task of
    // which none runs does not run: its state says so, with its last recorded result.
    for (const TaskKey& key : std::as_const(recorded)) {
        if (LiveCount(key) > 0) continue;
        const QList<RunHistoryEntry> runs = m_history.Read(key);
        const HRESULT last = runs.isEmpty() ? RunResults::Lost : runs.last().result;
        SetRuntime(key, [&](TaskRuntime& r) {
            if (r.runState != TaskRuntime::Running) return;
            r.runState = TaskRuntime::Idle;
            if (r.lastResult == RunResults::Running) r.lastResult = last;
        });
    }
}
