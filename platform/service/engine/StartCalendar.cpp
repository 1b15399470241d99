#include "StartCalendar.h"

#include "CivilDate.h"

#include <bit>

namespace {

// Sunday-based weeks: the week of a day and its day of the week (0 Sunday .. 6 Saturday).
// Julian day 0 is a Monday, so day + 1 is a multiple of seven exactly on Sundays.
qint64 WeekOf(qint64 day) { return (day + 1) / 7; }
int WeekdayOf(qint64 day) { return int((day + 1) % 7); }
qint64 SundayOf(qint64 week) { return week * 7 - 1; }

int MonthLength(int year, int month) { return CivilDate::DaysInMonth(year, month); }

// Days 1 .. length (at most 31) as a day mask.
quint32 DaysUpTo(int length) { return (1u << length) - 1; }

// The day masks a month can ever hold, as the longest month of that name allows.
constexpr int LongestMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

} // namespace

StartCalendar::StartCalendar(const TriggerSchedule& trigger, qint64 lastDay)
    : m_trigger{trigger.kind,        trigger.runOnLastDayOfMonth, trigger.daysOfWeek,   trigger.weeksOfMonth,
                trigger.monthsOfYear, trigger.daysOfMonth,        trigger.daysInterval, trigger.weeksInterval}
{
    if (!CanEverStart(trigger)) return;
    m_first = trigger.start.Day();
    m_last = qMin(lastDay, LastDay);
    m_empty = m_first > m_last;
}

bool StartCalendar::CanEverStart(const TriggerSchedule& t)
{
    if (!t.start.IsValid()) return false;
    const quint16 months = t.monthsOfYear & 0xFFF;
    switch (t.kind) {
    case TriggerKind::Once: return true;
    case TriggerKind::Daily: return t.daysInterval >= 1;
    case TriggerKind::Weekly: return t.weeksInterval >= 1 && (t.daysOfWeek & 0x7F) != 0;
    case TriggerKind::MonthlyDow: return months != 0 && (t.daysOfWeek & 0x7F) != 0 && (t.weeksOfMonth & 0x1F) != 0;
    case TriggerKind::MonthlyDate:
        if (t.runOnLastDayOfMonth) return months != 0;
        for (int m = 0; m < 12; ++m) {
            if ((months & (1u << m)) && (t.daysOfMonth & DaysUpTo(LongestMonth[m]))) return true;
        }
        return false;
    case TriggerKind::Event: return false;
    }
    return false;
}

quint32 StartCalendar::MonthDays(int year, int month) const
{
    if (!(m_trigger.monthsOfYear & (1u << (month - 1)))) return 0;
    const int length = MonthLength(year, month);
    if (m_trigger.kind == TriggerKind::MonthlyDate) {
        quint32 days = m_trigger.daysOfMonth & DaysUpTo(length);
        if (m_trigger.runOnLastDayOfMonth) days |= 1u << (length - 1);
        return days;
    }
    // The n-th occurrence of a weekday falls on days 7n - 6 .. 7n; the last one is the
    // latest occurrence that the month's length allows (it may also be the fourth).
    const int firstWeekday = WeekdayOf(CivilDate::JulianDay(year, month, 1));
    quint32 days = 0;
    for (int weekday = 0; weekday < 7; ++weekday) {
        if (!(m_trigger.daysOfWeek & (1u << weekday))) continue;
        const int first = 1 + (weekday - firstWeekday + 7) % 7;
        for (int n = 0; n < 4; ++n) {
            if (m_trigger.weeksOfMonth & (1u << n)) days |= 1u << (first + 7 * n - 1);
        }
        if (m_trigger.weeksOfMonth & 0x10) days |= 1u << (first + 7 * ((length - first) / 7) - 1);
    }
    return days;
}

qint64 StartCalendar::FirstOnOrAfter(qint64 day) const
{
    if (m_empty) return NoDay;
    day = qMax(day, m_first);
    if (day > m_last) return NoDay;
    qint64 found = NoDay;
    switch (m_trigger.kind) {
    case TriggerKind::Once: found = day == m_first ? day : NoDay; break;
    case TriggerKind::Daily: {
        const qint64 n = m_trigger.daysInterval;
        // Every day is the common case, and a division costs more than the rest of the query.
        found = n == 1 ? day : m_first + (day - m_first + n - 1) / n * n;
        break;
    }
    case TriggerKind::Weekly: found = WeeklyFirst(day); break;
    case TriggerKind::MonthlyDate:
    case TriggerKind::MonthlyDow: found = MonthlyFirst(day); break;
    case TriggerKind::Event: break;
    }
    return found > m_last ? NoDay : found;
}

qint64 StartCalendar::LastOnOrBefore(qint64 day, qint64 notBefore) const
{
    if (m_empty) return NoDay;
    day = qMin(day, m_last);
    const qint64 low = qMax(notBefore, m_first);
    if (day < low) return NoDay;
    qint64 found = NoDay;
    switch (m_trigger.kind) {
    case TriggerKind::Once: found = m_first; break;
    case TriggerKind::Daily: {
        const qint64 n = m_trigger.daysInterval;
        found = n == 1 ? day : m_first + (day - m_first) / n * n;
        break;
    }
    case TriggerKind::Weekly: found = WeeklyLast(day, low); break;
    case TriggerKind::MonthlyDate:
    case TriggerKind::MonthlyDow: found = MonthlyLast(day, low); break;
    case TriggerKind::Event: break;
    }
    return found < low ? NoDay : found;
}

qint64 StartCalendar::WeeklyFirst(qint64 day) const
{
    const qint64 n = m_trigger.weeksInterval;
    const qint64 firstWeek = WeekOf(m_first);
    qint64 week = WeekOf(day);
    const qint64 behind = n == 1 ? 0 : (week - firstWeek) % n;
    if (behind != 0) {
        week += n - behind;
        day = SundayOf(week);
    }
    // At most two rounds: the rest of this week, then the whole of the next active one.
    for (;;) {
        const quint32 later = quint32(m_trigger.daysOfWeek & 0x7F) >> WeekdayOf(day);
        if (later) return day + std::countr_zero(later);
        week += n;
        day = SundayOf(week);
        if (day > m_last) return NoDay;
    }
}

qint64 StartCalendar::WeeklyLast(qint64 day, qint64 low) const
{
    const qint64 n = m_trigger.weeksInterval;
    const qint64 firstWeek = WeekOf(m_first);
    qint64 week = WeekOf(day);
    const qint64 ahead = n == 1 ? 0 : (week - firstWeek) % n;
    if (ahead != 0) {
        week -= ahead;
        day = SundayOf(week) + 6;
    }
    for (;;) {
        const int weekday = WeekdayOf(day);
        const quint32 earlier = quint32(m_trigger.daysOfWeek & 0x7F) & ((2u << weekday) - 1);
        if (earlier) return day - (weekday - (std::bit_width(earlier) - 1));
        week -= n;
        day = SundayOf(week) + 6;
        if (day < low) return NoDay;
    }
}

qint64 StartCalendar::MonthlyFirst(qint64 day) const
{
    const CivilDate date = CivilDate::FromJulianDay(day);
    int year = date.year, month = date.month, dayOfMonth = date.day;
    const quint32 months = m_trigger.monthsOfYear & 0xFFF;
    for (;;) {
        const quint32 days = MonthDays(year, month) & ~((1u << (dayOfMonth - 1)) - 1);
        if (days) return CivilDate::JulianDay(year, month, 1) + std::countr_zero(days);
        // On to the next month the rule names, this year or the next.
        const quint32 later = months >> month;
        if (later) {
            month += 1 + std::countr_zero(later);
        } else {
            month = 1 + std::countr_zero(months);
            year = year == -1 ? 1 : year + 1;
        }
        dayOfMonth = 1;
        if (CivilDate::JulianDay(year, month, 1) > m_last) return NoDay;
    }
}

qint64 StartCalendar::MonthlyLast(qint64 day, qint64 low) const
{
    const CivilDate date = CivilDate::FromJulianDay(day);
    int year = date.year, month = date.month, dayOfMonth = date.day;
    for (;;) {
        const qint64 monthStart = CivilDate::JulianDay(year, month, 1);
        const quint32 days = MonthDays(year, month) & ((2u << (dayOfMonth - 1)) - 1);
        if (days) return monthStart + std::bit_width(days) - 1;
        if (monthStart <= low) return NoDay;
        if (--month < 1) {
            month = 12;
            --year;
        }
        dayOfMonth = 31;
    }
}
