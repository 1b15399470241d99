#include "schedule/ScheduleLoop.h"

#include "supervisor/ExecSupervisor.h"

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <algorithm>

Q_LOGGING_CATEGORY(lcSchedule, "taskschedd.schedule")

namespace {
// Missed starts are counted up to this many; a task missed that often has missed "many".
constexpr int MaxMissedCounted = 1000;
// A supervisor waits for a start handed over ahead no longer than this; the lead must fit in it.
static_assert(ScheduleLoop::StartLeadMs > 0 && ScheduleLoop::StartLeadMs < ExecSupervisor::MaxStartWaitMs);
}

ScheduleLoop::ScheduleLoop(QList<TaskCatalog*> catalogs, TaskStarter& starter, const Clock& clock, WakeTimer& timer, QObject* parent)
    : QObject(parent), m_starter(starter), m_clock(clock), m_timer(timer)
{
    for (TaskCatalog* catalog : catalogs) m_catalogs.insert(catalog->Generation(), catalog);
    connect(&m_timer, &WakeTimer::Woken, this, &ScheduleLoop::Wake);
}

std::optional<RunnableTask> ScheduleLoop::Load(const TaskKey& key) const
{
    TaskCatalog* catalog = m_catalogs.value(key.generation);
    QString error;
    auto task = catalog ? catalog->Load(key, &error) : std::nullopt;
    if (!task && !error.isEmpty()) qCDebug(lcSchedule) << key.ToString() << ":" << error;
    return task;
}

std::optional<ScheduledStart> ScheduleLoop::NextStart(const RunnableTask& task, const QDateTime& after) const
{
    std::optional<ScheduledStart> next = task.NextStart(after);
    const auto handed = m_handedOver.constFind(task.key);
    if (next && handed != m_handedOver.cend() && next->at.toMSecsSinceEpoch() <= *handed)
        next = task.NextStart(QDateTime::fromMSecsSinceEpoch(*handed, Qt::UTC));
    return next;
}

void ScheduleLoop::Begin(const QDateTime& handled, bool booted, const CatchUpMarks& marks, const std::function<void()>& eachRead)
{
    // In UTC: every task compares and converts these, and a local time is converted anew
    // through the C library (which looks at the zone file) each time.
    const QDateTime now = m_clock.NowUtc();
    const QDateTime handledThrough = handled.toUTC();
    for (TaskCatalog* catalog : std::as_const(m_catalogs)) {
        // One task at a time: the schedule keeps what it needs of each, not the tasks.
        catalog->ForEach([&](const RunnableTask& loaded) {
            const RunnableTask* task = &loaded;
            const TaskKey& key = task->key;
            if (!task->enabled) {
                Schedule(*task, now);
                return;
            }

            QDateTime after = handledThrough;
            bool bootDone = false;
            if (const auto mark = marks.constFind(key); mark != marks.cend()) {
                // An earlier daemon began this task's catch-up and died. A start it made shows as
                // a run; one it did not get to make is made now.
                const bool missedDone = !mark->started || m_starter.StartedSince(key, QStringLiteral("missed"), mark->through);
                if (missedDone && after.isValid()) after = std::max(after, mark->through);
                bootDone = mark->bootStarts && m_starter.StartedSince(key, QStringLiteral("boot"), mark->through);
            }
            // One look at the schedule serves most tasks: the first start after the mark lies
            // ahead, so none was missed and it is the next one. Only a task that missed starts
            // is asked again, for how many and for the start after now.
            int missed = 0;
            std::optional<std::optional<ScheduledStart>> next;
            if (after.isValid() && after > now && after <= now.addMSecs(StartLeadMs)) {
                // The last daemon handed its starts up to its mark over ahead, just before it
                // ended: their supervisors start them, and they are not made a second time.
                const std::optional<ScheduledStart> first = task->NextStart(now);
                if (first && first->at <= after) m_handedOver.insert(key, after.toMSecsSinceEpoch());
            }
            if (after.isValid() && after < now) {
                const std::optional<ScheduledStart> first = task->NextStart(after);
                if (!first || first->at > now) next = first;
                else missed = int(task->StartsAfter(after, now, MaxMissedCounted).size());
            }
            Schedule(*task, now, true, next);
            const bool startMissed = missed > 0 && task->startWhenAvailable;
            const bool bootNow = booted && !bootDone
                                 && std::any_of(task->bootStarts.cbegin(), task->bootStarts.cend(), [&](const EventStart& boot) { return boot.delayMs <= 0 && boot.ActiveAt(now); });
            // Recorded before anything is carried out: a crash from here on does not bring a second run.
            if (missed > 0 || bootNow) emit CatchingUp(key, CatchUpMark{now, startMissed || bootNow, bootNow});
            if (startMissed) {
                qCInfo(lcSchedule) << key.ToString() << "missed" << missed << "start(s) while no daemon ran; running it now";
                StartNow(*task, QStringLiteral("missed"));
            }
            if (missed > 0) CountMissed(key, missed);
            if (booted) {
                for (const EventStart& boot : task->bootStarts) {
                    if (!boot.ActiveAt(now)) continue;   // the trigger has not begun, or has ended
                    if (boot.delayMs > 0) Add(now.toMSecsSinceEpoch() + boot.delayMs, Entry{key, Entry::EventStart, QStringLiteral("boot")});
                    else if (!bootDone) StartNow(*task, QStringLiteral("boot"));
                }
            }
            if (eachRead) eachRead();
        });
    }
    MarkHandled(now);
    Arm();
}

void ScheduleLoop::CountMissed(const TaskKey& key, int count)
{
    TaskCatalog* catalog = m_catalogs.value(key.generation);
    QString error;
    if (catalog && !catalog->ChangeRuntime(key, [count](TaskRuntime& r) { r.missedRuns += count; }, &error))
        qCWarning(lcSchedule) << key.ToString() << ": missed runs cannot be recorded:" << error;
}

void ScheduleLoop::Add(qint64 when, const Entry& entry)
{
    m_entries[entry.key].append(m_queue.emplace(when, entry));
    if (entry.what == Entry::DelayedStart) ++m_delayedStarts;
    if (entry.wake) m_wakeTimes.insert(when);
}

void ScheduleLoop::Erase(Queue::iterator entry)
{
    if (entry->second.what == Entry::DelayedStart) --m_delayedStarts;
    if (entry->second.wake) m_wakeTimes.erase(m_wakeTimes.find(entry->first));
    m_queue.erase(entry);
}

void ScheduleLoop::Unschedule(const TaskKey& key, bool keepEventStarts)
{
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return;
    EntryList kept;
    for (const Queue::iterator& entry : std::as_const(*it)) {
        // A change to the task keeps what was already due: its delayed starts, and the end of a
        // start's wait for idleness.
        const Entry::What what = entry->second.what;
        if (keepEventStarts && (what == Entry::EventStart || what == Entry::DelayedStart || what == Entry::IdleGiveUp)) kept.append(entry);
        else Erase(entry);
    }
    if (kept.isEmpty()) m_entries.erase(it);
    else *it = kept;
}

void ScheduleLoop::AddStart(const RunnableTask& task, const ScheduledStart& start)
{
    Entry entry{task.key, Entry::Start, QStringLiteral("scheduled")};
    entry.wake = task.wakeToRun;
    entry.randomDelayMs = start.randomDelayMs;
    entry.stopAt = start.stopAt;
    const qint64 at = start.at.toMSecsSinceEpoch();
    // A start that waits for nothing but its time is handed over its lead ahead; one that waits
    // a random time or for the computer to be idle is decided at its time.
    if (start.randomDelayMs <= 0 && !task.idle.runOnlyIfIdle) {
        entry.scheduledAt = at;
        Add(at - StartLeadMs, entry);
        return;
    }
    Add(at, entry);
}

bool ScheduleLoop::HandOverAhead(const RunnableTask& task, const Entry& entry)
{
    if (!task.idle.runOnlyIfIdle && m_starter.StartAhead(task, QDateTime::fromMSecsSinceEpoch(entry.scheduledAt, Qt::UTC), entry.stopAt)) {
        m_idleWaits.remove(task.key);   // as a start made at its time
        m_handedOver.insert(task.key, entry.scheduledAt);
        return true;
    }
    // Made at its time, as any other; its wake then queues the start after it.
    Entry atItsTime = entry;
    atItsTime.scheduledAt = 0;
    Add(entry.scheduledAt, atItsTime);
    return false;
}

void ScheduleLoop::Due(const RunnableTask& task, const Entry& entry, qint64 dueMs, qint64 nowMs)
{
    if (entry.what == Entry::Start && entry.randomDelayMs > 0) {
        // The run time stays the scheduled one; only the start waits.
        const qint64 delay = m_random ? m_random->UpTo(entry.randomDelayMs)
                                      : qint64(QRandomGenerator::global()->bounded(quint64(entry.randomDelayMs) + 1));
        Entry delayed = entry;
        delayed.what = Entry::DelayedStart;
        delayed.scheduledAt = dueMs;
        qCInfo(lcSchedule) << task.key.ToString() << ": start delayed at random by" << delay / 1000 << "s";
        Add(nowMs + delay, delayed);
        return;
    }
    StartNow(task, entry.cause, entry.stopAt);
}

bool ScheduleLoop::IdleFor(qint64 ms, const QDateTime& now) const
{
    return m_sessions && m_sessions->IsIdle() && m_sessions->IdleSince().isValid() && m_sessions->IdleSince().addMSecs(ms) <= now;
}

void ScheduleLoop::StartNow(const RunnableTask& task, const QString& cause, const QDateTime& stopAt)
{
    const QDateTime now = m_clock.Now();
    if (!task.idle.runOnlyIfIdle || IdleFor(task.idle.durationMs, now)) {
        m_idleWaits.remove(task.key);
        m_starter.StartUnattended(task, cause, stopAt);
        return;
    }
    if (!m_sessions || !m_sessions->KnowsIdle()) {
        m_starter.SkipStart(task, cause, QStringLiteral("The task runs only when the computer is idle, and whether it is idle cannot be told here."));
        return;
    }
    // One start waits; later ones while it does are the same run.
    if (m_idleWaits.contains(task.key)) return;
    qCInfo(lcSchedule) << task.key.ToString() << ": the" << cause << "start waits for the computer to be idle";
    m_idleWaits.insert(task.key, IdleWait{cause, stopAt});
    if (task.idle.waitTimeoutMs > 0) Add(now.toMSecsSinceEpoch() + task.idle.waitTimeoutMs, Entry{task.key, Entry::IdleGiveUp, cause});
    QueueIdleStarts(task.key, now);
}

void ScheduleLoop::RemoveEntries(const TaskKey& key, const std::function<bool(const Entry&)>& which)
{
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return;
    for (qsizetype i = it->size() - 1; i >= 0; --i) {
        if (!which((*it)[i]->second)) continue;
        Erase((*it)[i]);
        it->remove(i);
    }
    if (it->isEmpty()) m_entries.erase(it);
}

void ScheduleLoop::QueueIdleStarts(const TaskKey& key, const QDateTime& now)
{
    RemoveEntries(key, [](const Entry& e) { return e.what == Entry::IdleStart; });
    if (!m_sessions || !m_sessions->IsIdle() || !m_sessions->IdleSince().isValid()) return;
    const QDateTime since = m_sessions->IdleSince();
    const bool triggerDue = m_idleStarts.contains(key) && m_idleFired.value(key) != since
                            && std::any_of(m_idleStarts[key].cbegin(), m_idleStarts[key].cend(), [&](const EventStart& s) { return s.ActiveAt(now); });
    if (!triggerDue && !m_idleWaits.contains(key)) return;
    const auto task = Load(key);
    if (!task) return;
    Add(std::max(now.toMSecsSinceEpoch(), since.addMSecs(task->idle.durationMs).toMSecsSinceEpoch()), Entry{key, Entry::IdleStart, QStringLiteral("idle")});
}

void ScheduleLoop::IdleStartDue(const RunnableTask& task, const QDateTime& now)
{
    if (!IdleFor(task.idle.durationMs, now)) return;   // a user came back meanwhile
    if (const auto wait = m_idleWaits.constFind(task.key); wait != m_idleWaits.cend()) {
        const IdleWait start = *wait;
        m_idleWaits.erase(wait);
        RemoveEntries(task.key, [](const Entry& e) { return e.what == Entry::IdleGiveUp; });
        qCInfo(lcSchedule) << task.key.ToString() << ": the computer is idle; the waiting" << start.cause << "start is made";
        m_starter.StartUnattended(task, start.cause, start.stopAt);
        if (m_idleStarts.contains(task.key)) m_idleFired.insert(task.key, m_sessions->IdleSince());
        return;
    }
    if (!m_idleStarts.contains(task.key)) return;
    m_idleFired.insert(task.key, m_sessions->IdleSince());
    qCInfo(lcSchedule) << task.key.ToString() << ": the computer is idle";
    m_starter.StartUnattended(task, QStringLiteral("idle"));
}

void ScheduleLoop::SetSessions(const SessionSource* sessions)
{
    if (m_sessions) disconnect(m_sessions, nullptr, this, nullptr);
    m_sessions = sessions;
    if (!sessions) return;
    connect(sessions, &SessionSource::IdleChanged, this, &ScheduleLoop::OnIdleChanged);
    if (sessions->IsIdle()) OnIdleChanged();
}

void ScheduleLoop::OnIdleChanged()
{
    const QDateTime now = m_clock.Now();
    const bool idle = m_sessions && m_sessions->IsIdle();
    if (!idle) {
        m_idleFired.clear();
        for (const TaskKey& key : m_starter.StopOnIdleEnd()) {
            // Stopped because a user came back: it runs again once the computer is idle again.
            if (!m_idleWaits.contains(key)) m_idleWaits.insert(key, IdleWait{QStringLiteral("idle"), {}});
        }
    }
    QList<TaskKey> keys = m_idleStarts.keys();
    for (const TaskKey& key : m_idleWaits.keys()) {
        if (!keys.contains(key)) keys.append(key);
    }
    for (const TaskKey& key : std::as_const(keys)) QueueIdleStarts(key, now);
    Arm();
}

void ScheduleLoop::MarkHandled(const QDateTime& now)
{
    // A start handed over ahead is handled: a daemon that ends before its time leaves it to its
    // supervisor, and its successor must not make it again (nor count it as missed). So is
    // every start before it, except those still queued for their time.
    const qint64 nowMs = now.toMSecsSinceEpoch();
    qint64 through = nowMs;
    for (const qint64 at : std::as_const(m_handedOver)) through = std::max(through, at);
    for (auto it = m_queue.cbegin(); through > nowMs && it != m_queue.cend() && it->first <= through; ++it) {
        if (it->second.what == Entry::Start) through = std::min(through, std::max(it->first, it->second.scheduledAt) - 1);
    }
    through = std::max(through, nowMs);
    // A start still waiting out its random delay is not handled yet: a daemon that ends
    // meanwhile leaves it to its successor as a missed start.
    // Looked for only when there are any: the queue holds an entry for every task.
    for (auto it = m_queue.cbegin(); m_delayedStarts > 0 && it != m_queue.cend(); ++it) {
        if (it->second.what == Entry::DelayedStart && it->second.scheduledAt > 0) through = std::min(through, it->second.scheduledAt - 1);
    }
    m_handledThrough = QDateTime::fromMSecsSinceEpoch(through);
    emit Handled(m_handledThrough);
}

void ScheduleLoop::Schedule(const RunnableTask& task, const QDateTime& now, bool withStart,
                            const std::optional<std::optional<ScheduledStart>>& known)
{
    const std::optional<ScheduledStart> nextStart = known ? *known : NextStart(task, now);
    ForgetEventStarts(task.key);
    if (task.enabled) {
        if (nextStart && withStart) AddStart(task, *nextStart);
        if (!task.logonStarts.isEmpty()) m_logonStarts.insert(task.key, task.logonStarts);
        if (!task.sessionStarts.isEmpty()) m_sessionStarts.insert(task.key, task.sessionStarts);
        if (!task.idleStarts.isEmpty()) m_idleStarts.insert(task.key, task.idleStarts);
    } else {
        m_idleWaits.remove(task.key);
    }
    if (task.enabled && (m_idleStarts.contains(task.key) || m_idleWaits.contains(task.key))) QueueIdleStarts(task.key, now);
    if (task.deleteExpiredAfterMs && task.expiry.isValid()) {
        const qint64 when = task.expiry.toMSecsSinceEpoch() + *task.deleteExpiredAfterMs;
        // A task that still has starts to come has not expired, whatever its stored end says.
        if (when > now.toMSecsSinceEpoch() || !nextStart) Add(when, Entry{task.key, Entry::Expire, {}});
    }
}

void ScheduleLoop::Refresh(const TaskKey& key)
{
    const QDateTime now = m_clock.Now();
    // A start whose time (or whose lead) has come but whose wake-up is still on its way (the
    // loop was busy serving a client) stays due: the change must not swallow it. The wake loads
    // the task as it is then, so a task that was disabled or deleted meanwhile still does not
    // start. A start already handed over ahead is an instance that runs, as far as the change
    // is concerned, and is not queued again (NextStart).
    std::optional<std::pair<qint64, Entry>> due;
    for (const Queue::iterator& entry : m_entries.value(key)) {
        if (entry->second.what == Entry::Start && entry->first <= now.toMSecsSinceEpoch()) due = *entry;
    }
    Unschedule(key, true);
    ForgetEventStarts(key);
    if (const auto task = Load(key)) {
        // The due start stands for the task's next one: its wake queues the start after it.
        const bool keepDue = due && task->enabled;
        Schedule(*task, now, !keepDue);
        if (keepDue) Add(due->first, due->second);
    }
    Arm();
    // Nothing is due, so every start up to now has been handled, those of the changed task
    // included: starts it had before it was registered or enabled never count as missed, even
    // when the daemon ends before its next wake.
    if (m_queue.empty() || m_queue.begin()->first > now.toMSecsSinceEpoch()) MarkHandled(now);
}

void ScheduleLoop::ForgetEventStarts(const TaskKey& key)
{
    m_logonStarts.remove(key);
    m_sessionStarts.remove(key);
    m_idleStarts.remove(key);
}

void ScheduleLoop::FireEvent(const QHash<TaskKey, QList<EventStart>>& starts, const QString& cause, const QString& what,
                             const std::function<bool(const EventStart&)>& fires)
{
    const QDateTime now = m_clock.Now();
    const QList<TaskKey> keys = starts.keys();
    for (const TaskKey& key : keys) {
        bool matches = false;
        qint64 delay = -1;
        for (const EventStart& event : starts.value(key)) {
            if (!fires(event) || !event.ActiveAt(now)) continue;
            matches = true;
            delay = delay < 0 ? event.delayMs : std::min(delay, event.delayMs);
        }
        if (!matches) continue;
        const auto task = Load(key);
        if (!task || !task->enabled) continue;
        qCInfo(lcSchedule).noquote() << key.ToString() << ":" << what;
        if (delay <= 0) StartNow(*task, cause);
        else Add(now.toMSecsSinceEpoch() + delay, Entry{key, Entry::EventStart, cause});
    }
    Arm();
}

void ScheduleLoop::OnLogon(const QString& user)
{
    FireEvent(m_logonStarts, QStringLiteral("logon"), QStringLiteral("logon of ") + user,
              [&](const EventStart& logon) { return logon.MatchesUser(user); });
}

void ScheduleLoop::OnSessionChange(SessionChange change, const QString& user)
{
    FireEvent(m_sessionStarts, QStringLiteral("session"), QStringLiteral("session state change %1 of %2").arg(int(change)).arg(user),
              [&](const EventStart& session) { return session.stateChange == int(change) && session.MatchesUser(user); });
}

void ScheduleLoop::Expire(const TaskKey& key, const QDateTime& now)
{
    const auto task = Load(key);
    if (!task || !task->deleteExpiredAfterMs) return;
    if (NextStart(*task, now)) {
        Unschedule(key, true);   // its triggers were changed to run again
        Schedule(*task, now);
        return;
    }
    if (m_starter.IsBusy(key)) {
        Add(now.toMSecsSinceEpoch() + ExpiryRetryMs, Entry{key, Entry::Expire, {}});
        return;
    }
    TaskCatalog* catalog = m_catalogs.value(key.generation);
    QString error;
    if (!catalog->Delete(key, &error)) {
        qCWarning(lcSchedule) << key.ToString() << ": the expired task cannot be deleted:" << error;
        return;
    }
    qCInfo(lcSchedule) << key.ToString() << "expired and was deleted";
    Unschedule(key, false);
    ForgetEventStarts(key);
    m_idleWaits.remove(key);
    emit TaskExpired(key);
}

void ScheduleLoop::Wake()
{
    const QDateTime now = m_clock.Now();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    // A start handed over whose time has passed no longer needs to be told from a new one.
    m_handedOver.removeIf([nowMs](QHash<TaskKey, qint64>::iterator it) { return it.value() < nowMs; });
    while (!m_queue.empty() && m_queue.begin()->first <= nowMs) {
        const auto first = m_queue.begin();
        const qint64 dueMs = first->first;
        const Entry entry = first->second;
        if (const auto own = m_entries.find(entry.key); own != m_entries.end()) {
            own->removeOne(first);
            if (own->isEmpty()) m_entries.erase(own);
        }
        Erase(first);

        if (entry.what == Entry::Expire) {
            Expire(entry.key, now);
            continue;
        }
        const auto task = Load(entry.key);
        if (!task) {   // deleted meanwhile
            m_idleWaits.remove(entry.key);
            continue;
        }
        if (entry.what == Entry::IdleStart) {
            if (task->enabled) IdleStartDue(*task, now);
            continue;
        }
        if (entry.what == Entry::IdleGiveUp) {
            if (const auto wait = m_idleWaits.constFind(entry.key); wait != m_idleWaits.cend()) {
                const QString cause = wait->cause;
                m_idleWaits.erase(wait);
                RemoveEntries(entry.key, [](const Entry& e) { return e.what == Entry::IdleStart; });
                m_starter.SkipStart(*task, cause, QStringLiteral("The computer was not idle for %1 minute(s) within %2 minute(s) of the start.")
                                                      .arg(task->idle.durationMs / 60000).arg(task->idle.waitTimeoutMs / 60000));
            }
            continue;
        }
        const bool ahead = entry.what == Entry::Start && entry.scheduledAt > nowMs;
        if (task->enabled) {
            if (!ahead) Due(*task, entry, dueMs, nowMs);
            else if (!HandOverAhead(*task, entry)) continue;   // queued again for its time
        }
        if (entry.what == Entry::Start) {
            // Only the start entry moves on; the expiry entry of the task stays where it is.
            const qint64 from = std::max(nowMs, entry.scheduledAt);
            const std::optional<ScheduledStart> next = NextStart(*task, from == nowMs ? now : QDateTime::fromMSecsSinceEpoch(from, Qt::UTC));
            if (next && task->enabled) AddStart(*task, *next);
        }
    }
    MarkHandled(now);
    Arm();
}

void ScheduleLoop::SetWakeTimer(WakeTimer* timer)
{
    if (m_wakeTimer) disconnect(m_wakeTimer, nullptr, this, nullptr);
    m_wakeTimer = timer;
    // Woken from sleep, the loop looks at what is due like at any other wake.
    if (timer) connect(timer, &WakeTimer::Woken, this, &ScheduleLoop::Wake);
    Arm();
}

void ScheduleLoop::Arm()
{
    if (m_queue.empty()) m_timer.Disarm();
    else m_timer.ArmAt(QDateTime::fromMSecsSinceEpoch(m_queue.begin()->first));
    if (!m_wakeTimer) return;
    if (m_wakeTimes.empty()) m_wakeTimer->Disarm();
    else m_wakeTimer->ArmAt(QDateTime::fromMSecsSinceEpoch(*m_wakeTimes.begin()));
}

QDateTime ScheduleLoop::NextWake() const
{
    return m_queue.empty() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(m_queue.begin()->first);
}
