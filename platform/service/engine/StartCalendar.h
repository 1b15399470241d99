#pragma once
// The days on which a trigger starts, found by calendar arithmetic: a jump for daily and
// weekly rules, one step per month for monthly ones. Never a scan of minutes or hours.

#include "CivilDate.h"
#include "TriggerSchedule.h"

#include <QtGlobal>
#include <limits>

/// The start days of one trigger, as Julian day numbers, from the day of its start up to its
/// last possible day.
class StartCalendar {
public:
    /// The last year any schedule reaches. The 2.0 service's "no end" is a date in 9999 and
    /// boundaries have four-digit years, so a schedule that has not started by the end of 9999
    /// never does; the cap also bounds every search, so an impossible rule ends there.
    static constexpr int LastYear = 9999;
    /// The Julian day of 31 December of `LastYear`.
    static constexpr qint64 LastDay = CivilDate::JulianDay(LastYear, 12, 31);

    /// The calendar of `trigger` with no start day after `lastDay`.
    StartCalendar(const TriggerSchedule& trigger, qint64 lastDay);

    /// True when the rule itself can never give a day (empty masks, intervals below 1,
    /// only days that no month has, an event kind, a start that is not valid).
    bool IsEmpty() const { return m_empty; }
    /// The answer of the searches when there is no such day. A plain value rather than an
    /// optional: these searches are the inner loop of every query.
    static constexpr qint64 NoDay = std::numeric_limits<qint64>::min();
    /// The first start day on or after `day`, or `NoDay`.
    qint64 FirstOnOrAfter(qint64 day) const;
    /// The last start day on or before `day` and on or after `notBefore`, or `NoDay`.
    qint64 LastOnOrBefore(qint64 day, qint64 notBefore) const;

private:
    static bool CanEverStart(const TriggerSchedule& trigger);
    /// The days of month `month` of `year` on which a monthly rule starts: bit n - 1 for day n.
    quint32 MonthDays(int year, int month) const;
    qint64 WeeklyFirst(qint64 day) const;
    qint64 WeeklyLast(qint64 day, qint64 low) const;
    qint64 MonthlyFirst(qint64 day) const;
    qint64 MonthlyLast(qint64 day, qint64 low) const;

    // The fields of the trigger that decide its days; copied, as a calendar is made per query.
    struct Rule {
        TriggerKind kind = TriggerKind::Once;
        bool runOnLastDayOfMonth = false;
        quint8 daysOfWeek = 0;
        quint8 weeksOfMonth = 0;
        quint16 monthsOfYear = 0;
        quint32 daysOfMonth = 0;
        int daysInterval = 1;
        int weeksInterval = 1;
    };

    Rule m_trigger;
    qint64 m_first = 0;
    qint64 m_last = 0;
    bool m_empty = true;
};
