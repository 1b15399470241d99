#include "gen2/ScheduledRuns.h"

#include "BoundaryText.h"
#include "gen2/TaskValueRules.h"

namespace {

// The last-week flag of the engine's week mask, beside the first to fourth weeks.
constexpr quint8 LastWeekBit = 0x10;

// Durations with years or months have no fixed length; the service reads them as 365 and
// 30 days, which is all a repetition interval or duration could mean by them.
qint64 Seconds(const QString& text)
{
    if (text.isEmpty()) return 0;
    const auto parts = TaskValueRules::ParseDuration(text);
    if (!parts) return 0;
    return parts->TotalSeconds() + (parts->years * 365 + parts->months * 30) * LocalDateTime::SecondsPerDay;
}

} // namespace

TriggerSchedule TaskSchedule::ToTrigger(const TriggerData& t, const QTimeZone& zone)
{
    TriggerSchedule s;
    switch (t.type) {
    case TASK_TRIGGER_TIME:
        s.kind = TriggerKind::Once;
        break;
    case TASK_TRIGGER_DAILY:
        s.kind = TriggerKind::Daily;
        s.daysInterval = t.daysInterval;
        break;
    case TASK_TRIGGER_WEEKLY:
        s.kind = TriggerKind::Weekly;
        s.weeksInterval = t.weeksInterval;
        s.daysOfWeek = quint8(t.daysOfWeek & 0x7F);
        break;
    case TASK_TRIGGER_MONTHLY:
        s.kind = TriggerKind::MonthlyDate;
        s.daysOfMonth = quint32(t.daysOfMonth) & 0x7FFFFFFFu;
        s.monthsOfYear = quint16(t.monthsOfYear & 0xFFF);
        s.runOnLastDayOfMonth = t.runOnLastDayOfMonth;
        break;
    case TASK_TRIGGER_MONTHLYDOW:
        s.kind = TriggerKind::MonthlyDow;
        s.daysOfWeek = quint8(t.daysOfWeek & 0x7F);
        s.weeksOfMonth = quint8(t.weeksOfMonth & 0x1F) | (t.runOnLastWeekOfMonth ? LastWeekBit : 0);
        s.monthsOfYear = quint16(t.monthsOfYear & 0xFFF);
        break;
    default:
        s = TriggerSchedule::Event();
        break;
    }
    s.enabled = t.enabled;
    if (s.kind == TriggerKind::Event) return s;

    // A start that names a moment keeps its offset: the trigger counts its days and times
    // there, so 08:00Z is 08:00 UTC in summer and in winter.
    if (const auto start = BoundaryText::ParseWritten(t.startBoundary)) {
        s.start = start->wall;
        s.utcOffset = start->offset;
    }
    if (!t.endBoundary.isEmpty()) {
        // An end that cannot be read ends the trigger before it starts rather than never.
        const auto end = BoundaryText::ParseWritten(t.endBoundary);
        s.end = end ? BoundaryText::InFrame(*end, s.utcOffset, zone) : s.start;
    }
    s.repetitionInterval = Seconds(t.repetition.interval);
    s.repetitionDuration = s.repetitionInterval ? Seconds(t.repetition.duration) : 0;
    return s;
}

Schedule TaskSchedule::ToSchedule(const TaskDocument& doc, const QTimeZone& zone)
{
    Schedule s;
    s.enabled = doc.settings.enabled;
    for (const TriggerData& t : doc.triggers) s.triggers.append(ToTrigger(t, zone));
    return s;
}

namespace {

const ScheduleEngine& Engine()
{
    // The zone's offsets are worked out once per process; the system zone does not change
    // under a running service without a restart.
    static const ScheduleEngine engine(QTimeZone::systemTimeZone());
    return engine;
}

} // namespace

const QTimeZone& ScheduleZone() { return Engine().Zone(); }

QList<RunTime> ScheduledRuns(const TaskDocument& doc, const QDateTime& from, const QDateTime& to, int maxCount)
{
    if (maxCount <= 0 || !from.isValid()) return {};
    return ScheduledRuns(TaskSchedule::ToSchedule(doc, ScheduleZone()), from, to, maxCount);
}

QList<RunTime> ScheduledRuns(const Schedule& schedule, const QDateTime& from, const QDateTime& to, int maxCount)
{
    if (maxCount <= 0 || !from.isValid()) return {};
    return Engine().RunTimes(schedule, from, to.isValid() ? std::optional<QDateTime>(to) : std::nullopt, maxCount);
}

QList<QDateTime> ScheduledRunTimes(const TaskDocument& doc, const QDateTime& from, const QDateTime& to, int maxCount)
{
    const QList<RunTime> runs = ScheduledRuns(doc, from, to, maxCount);
    QList<QDateTime> times;
    times.reserve(runs.size());
    for (const RunTime& run : runs) times.append(run.ToDateTime(ScheduleZone()));
    return times;
}
