#include "ScheduleEngine.h"

#include "TriggerRuns.h"

#include <limits>
#include <vector>

namespace {

// Runs fall on whole seconds; these round a moment that may carry milliseconds.
qint64 FloorDiv(qint64 value, qint64 divisor) { return value / divisor - (value % divisor < 0 ? 1 : 0); }
qint64 SecondUntil(const QDateTime& moment) { return FloorDiv(moment.toMSecsSinceEpoch(), 1000); }
qint64 SecondFrom(const QDateTime& moment) { return -FloorDiv(-moment.toMSecsSinceEpoch(), 1000); }
qint64 SecondAfter(const QDateTime& moment) { return SecondUntil(moment) + 1; }

} // namespace

ScheduleEngine::ScheduleEngine(const QTimeZone& zone) : m_rules(zone) {}

std::optional<RunTime> ScheduleEngine::NextRunAfter(const TriggerSchedule& trigger, const QDateTime& after) const
{
    if (!after.isValid()) return std::nullopt;
    return TriggerRuns::FirstRun(trigger, m_rules, SecondAfter(after));
}

std::optional<RunTime> ScheduleEngine::NextRunAfter(const Schedule& schedule, const QDateTime& after) const
{
    if (!schedule.enabled) return std::nullopt;
    std::optional<RunTime> first;
    for (qsizetype i = 0; i < schedule.triggers.size(); ++i) {
        std::optional<RunTime> next = NextRunAfter(schedule.triggers[i], after);
        if (!next || (first && next->utc >= first->utc)) continue;
        next->trigger = int(i);
        first = next;
    }
    return first;
}

QList<RunTime> ScheduleEngine::RunTimes(const Schedule& schedule, const QDateTime& begin,
                                        const std::optional<QDateTime>& end, qsizetype maxCount) const
{
    if (!schedule.enabled || !begin.isValid() || (end && !end->isValid()) || maxCount <= 0) return {};
    return Merge(schedule.triggers, SecondFrom(begin),
                 end ? SecondUntil(*end) : std::numeric_limits<qint64>::max(), maxCount);
}

QList<RunTime> ScheduleEngine::RunTimes(const TriggerSchedule& trigger, const QDateTime& begin,
                                        const std::optional<QDateTime>& end, qsizetype maxCount) const
{
    return RunTimes(Schedule{true, {trigger}}, begin, end, maxCount);
}

QList<RunTime> ScheduleEngine::Merge(const QList<TriggerSchedule>& triggers, qint64 begin, qint64 end,
                                     qsizetype maxCount) const
{
    std::vector<TriggerRuns> walks;
    std::vector<int> indexes;
    walks.reserve(triggers.size());
    for (qsizetype i = 0; i < triggers.size(); ++i) {
        walks.emplace_back(triggers[i], m_rules, begin);
        if (walks.back().AtEnd()) walks.pop_back();
        else indexes.push_back(int(i));
    }
    QList<RunTime> times;
    // A task has few triggers, so picking the earliest by a linear look is cheapest.
    while (times.size() < maxCount && !walks.empty()) {
        size_t earliest = 0;
        for (size_t walk = 1; walk < walks.size(); ++walk) {
            if (walks[walk].Current().utc < walks[earliest].Current().utc) earliest = walk;
        }
        RunTime run = walks[earliest].Current();
        if (run.utc > end) break;
        run.trigger = indexes[earliest];
        times.append(run);
        // Every trigger that runs at this moment moves on, so the moment is listed once.
        for (size_t walk = 0; walk < walks.size();) {
            if (walks[walk].Current().utc == run.utc) walks[walk].Advance();
            if (walks[walk].AtEnd()) {
                walks.erase(walks.begin() + qsizetype(walk));
                indexes.erase(indexes.begin() + qsizetype(walk));
            } else {
                ++walk;
            }
        }
    }
    return times;
}

bool ScheduleEngine::CanEverRun(const TriggerSchedule& trigger) const
{
    if (trigger.kind == TriggerKind::Event) return trigger.enabled;
    if (!trigger.start.IsValid()) return false;
    // Any moment before the first start will do; two days cover every offset from UTC.
    const qint64 beforeStart = trigger.start.Seconds() - 2 * LocalDateTime::SecondsPerDay;
    return !TriggerRuns(trigger, m_rules, beforeStart).AtEnd();
}

bool ScheduleEngine::CanRunAfter(const TriggerSchedule& trigger, const QDateTime& now) const
{
    if (trigger.kind != TriggerKind::Event) return NextRunAfter(trigger, now).has_value();
    if (!trigger.enabled) return false;
    if (!trigger.end || !trigger.end->IsValid()) return true;
    return !now.isValid() || SecondAfter(now) < TriggerRuns::EndUtc(trigger, m_rules);
}
