#include "TriggerSchedule.h"

TriggerSchedule TriggerSchedule::Once(LocalDateTime start)
{
    TriggerSchedule t;
    t.start = start;
    return t;
}

TriggerSchedule TriggerSchedule::Daily(LocalDateTime start, int days)
{
    TriggerSchedule t = Once(start);
    t.kind = TriggerKind::Daily;
    t.daysInterval = days;
    return t;
}

TriggerSchedule TriggerSchedule::Weekly(LocalDateTime start, int weeks, quint8 dayMask)
{
    TriggerSchedule t = Once(start);
    t.kind = TriggerKind::Weekly;
    t.weeksInterval = weeks;
    t.daysOfWeek = dayMask;
    return t;
}

TriggerSchedule TriggerSchedule::MonthlyDate(LocalDateTime start, quint32 dayMask, quint16 monthMask, bool lastDay)
{
    TriggerSchedule t = Once(start);
    t.kind = TriggerKind::MonthlyDate;
    t.daysOfMonth = dayMask;
    t.monthsOfYear = monthMask;
    t.runOnLastDayOfMonth = lastDay;
    return t;
}

TriggerSchedule TriggerSchedule::MonthlyDow(LocalDateTime start, quint8 weekMask, quint8 dayMask, quint16 monthMask)
{
    TriggerSchedule t = Once(start);
    t.kind = TriggerKind::MonthlyDow;
    t.weeksOfMonth = weekMask;
    t.daysOfWeek = dayMask;
    t.monthsOfYear = monthMask;
    return t;
}

TriggerSchedule TriggerSchedule::Event()
{
    TriggerSchedule t;
    t.kind = TriggerKind::Event;
    return t;
}

TriggerSchedule TriggerSchedule::Repeating(qint64 interval, qint64 duration) const
{
    TriggerSchedule t = *this;
    t.repetitionInterval = interval;
    t.repetitionDuration = duration;
    return t;
}

TriggerSchedule TriggerSchedule::Until(LocalDateTime until) const
{
    TriggerSchedule t = *this;
    t.end = until;
    return t;
}

TriggerSchedule TriggerSchedule::AtOffset(int offset) const
{
    TriggerSchedule t = *this;
    t.utcOffset = offset;
    return t;
}
