#pragma once
// The days on which a trigger starts, found by calendar arithmetic: a jump for daily and
// weekly rules, one step per month for monthly ones. Never a scan of minutes or hours.

#include "TriggerSchedule.h"

#include <QtGlobal>
#include <optional>

/// The start days of one trigger, as Julian day numbers, from the day of its start up to its
/// last possible day.
class StartCalendar {
public:
    /// The last year any schedule reaches. The 2.0 service's "no end" is a date in 9999 and
    /// boundaries have four-digit years, so a schedule that has not started by the end of 9999
    /// never does; the cap also bounds every search, so an impossible rule ends there.
    static constexpr int LastYear = 9999;

    /// The calendar of `trigger` with no start day after `lastDay`.
    StartCalendar(const TriggerSchedule& trigger, qint64 lastDay);

    /// True when the rule itself can never give a day (empty masks, intervals below 1,
    /// only days that no month has, an event kind, a start that is not valid).
    bool IsEmpty() const { return m_empty; }
    /// The first start day on or after `day`.
    std::optional<qint64> FirstOnOrAfter(qint64 day) const;
    /// The last start day on or before `day` and on or after `notBefore`.
    std::optional<qint64> LastOnOrBefore(qint64 day, qint64 notBefore) const;

private:
    static bool CanEverStart(const TriggerSchedule& trigger);
    /// The days of month `month` of `year` on which a monthly rule starts: bit n - 1 for day n.
    quint32 MonthDays(int year, int month) const;
    std::optional<qint64> WeeklyFirst(qint64 day) const;
    std::optional<qint64> WeeklyLast(qint64 day, qint64 low) const;
    std::optional<qint64> MonthlyFirst(qint64 day) const;
    std::optional<qint64> MonthlyLast(qint64 day, qint64 low) const;

    TriggerSchedule m_trigger;
    qint64 m_first = 0;
    qint64 m_last = 0;
    bool m_empty = true;
};
