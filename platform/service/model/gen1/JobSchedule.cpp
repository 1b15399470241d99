#include "gen1/JobSchedule.h"

#include "LegacyStatus.h"
#include "ResultCodes.h"

#include <algorithm>

TriggerSchedule JobSchedule::ToTrigger(const TASK_TRIGGER& t)
{
    TriggerSchedule s;
    s.start = LocalDateTime(QDate(t.wBeginYear, t.wBeginMonth, t.wBeginDay), QTime(t.wStartHour, t.wStartMinute));
    s.enabled = !(t.rgFlags & TASK_TRIGGER_FLAG_DISABLED);
    if (t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE)
        s.end = LocalDateTime(QDate(t.wEndYear, t.wEndMonth, t.wEndDay).addDays(1), QTime(0, 0));
    s.repetitionInterval = qint64(t.MinutesInterval) * 60;
    s.repetitionDuration = t.MinutesInterval ? qint64(t.MinutesDuration) * 60 : 0;
    switch (t.TriggerType) {
    case TASK_TIME_TRIGGER_ONCE:
        s.kind = TriggerKind::Once;
        break;
    case TASK_TIME_TRIGGER_DAILY:
        s.kind = TriggerKind::Daily;
        s.daysInterval = t.Type.Daily.DaysInterval;
        break;
    case TASK_TIME_TRIGGER_WEEKLY:
        s.kind = TriggerKind::Weekly;
        s.weeksInterval = t.Type.Weekly.WeeksInterval;
        s.daysOfWeek = quint8(t.Type.Weekly.rgfDaysOfTheWeek & 0x7F);
        break;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
        s.kind = TriggerKind::MonthlyDate;
        s.daysOfMonth = t.Type.MonthlyDate.rgfDays;
        s.monthsOfYear = t.Type.MonthlyDate.rgfMonths;
        break;
    case TASK_TIME_TRIGGER_MONTHLYDOW: {
        s.kind = TriggerKind::MonthlyDow;
        const WORD week = t.Type.MonthlyDOW.wWhichWeek;   // 5 is the last week, the 0x10 bit
        s.weeksOfMonth = week >= TASK_FIRST_WEEK && week <= TASK_LAST_WEEK ? quint8(1u << (week - 1)) : 0;
        s.daysOfWeek = quint8(t.Type.MonthlyDOW.rgfDaysOfTheWeek & 0x7F);
        s.monthsOfYear = t.Type.MonthlyDOW.rgfMonths;
        break;
    }
    default:
        s.kind = TriggerKind::Event;
        break;
    }
    return s;
}

Schedule JobSchedule::ToSchedule(const JobDefinition& d)
{
    Schedule s;
    s.enabled = !(d.flags & TASK_FLAG_DISABLED);
    for (const TASK_TRIGGER& t : d.triggers) s.triggers.append(ToTrigger(t));
    return s;
}

HRESULT JobSchedule::Status(const JobDefinition& d, const JobRuntime& r, const QDateTime& now, const ScheduleEngine& engine)
{
    if (r.running) return SCHED_S_TASK_RUNNING;
    const Schedule schedule = ToSchedule(d);
    const LegacyStatus status = ComputeLegacyStatus(!schedule.enabled, schedule.triggers, !r.HasRun(), now, engine);
    if (status == LegacyStatus::Ready && r.terminated) return SCHED_S_TASK_TERMINATED;
    return SCHED_S_TASK_READY + HRESULT(status);
}

HRESULT JobSchedule::RunTimes(const JobDefinition& d, const SYSTEMTIME& begin, const SYSTEMTIME* end, int maxCount,
                              const ScheduleEngine& engine, QList<SYSTEMTIME>* times)
{
    times->clear();
    const QDateTime from = ToDateTime(begin, engine.Zone());
    const QDateTime until = end ? ToDateTime(*end, engine.Zone()) : QDateTime();
    if (!from.isValid() || (end && !until.isValid())) return E_INVALIDARG;

    const Schedule schedule = ToSchedule(d);
    if (!schedule.enabled) return SCHED_S_TASK_DISABLED;
    QList<TriggerSchedule> usable;
    std::copy_if(schedule.triggers.begin(), schedule.triggers.end(), std::back_inserter(usable),
                 [&engine](const TriggerSchedule& t) { return engine.CanEverRun(t); });
    if (usable.isEmpty()) return SCHED_S_TASK_NO_VALID_TRIGGERS;
    if (std::all_of(usable.begin(), usable.end(), [](const TriggerSchedule& t) { return t.kind == TriggerKind::Event; }))
        return SCHED_S_EVENT_TRIGGER;

    const QList<RunTime> runs =
        engine.RunTimes(schedule, from, end ? std::optional<QDateTime>(until) : std::nullopt, maxCount);
    for (const RunTime& run : runs) times->append(ToSystemTime(run.local.Date(), run.local.Time()));
    return times->size() == maxCount ? S_OK : S_FALSE;
}

QDateTime JobSchedule::ToDateTime(const SYSTEMTIME& st, const QTimeZone& zone)
{
    const QDate date(st.wYear, st.wMonth, st.wDay);
    const QTime time(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    if (!date.isValid() || !time.isValid()) return {};
    return QDateTime(date, time, zone);
}

SYSTEMTIME JobSchedule::ToSystemTime(const QDate& date, const QTime& time)
{
    return SYSTEMTIME{WORD(date.year()), WORD(date.month()), WORD(date.dayOfWeek() % 7), WORD(date.day()),
                      WORD(time.hour()), WORD(time.minute()), WORD(time.second()), WORD(time.msec())};
}
