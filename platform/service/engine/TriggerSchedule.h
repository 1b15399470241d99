#pragma once
// When one trigger starts its task, in terms that both interface generations can be
// translated into: the calendar rule, the first start, the end, and the repetition.

#include "LocalDateTime.h"

#include <QList>
#include <QtGlobal>
#include <optional>

/// The calendar rule of a trigger.
enum class TriggerKind : quint8 {
    Once,        ///< one start, at `start`
    Daily,       ///< every `daysInterval` days from the day of `start`
    Weekly,      ///< on `daysOfWeek` of every `weeksInterval`-th week, counted from the week of `start`
    MonthlyDate, ///< on `daysOfMonth` (and the last day when `runOnLastDayOfMonth`) of `monthsOfYear`
    MonthlyDow,  ///< on the `weeksOfMonth` occurrences of `daysOfWeek` in `monthsOfYear`
    Event,       ///< on an event (idle, start-up, logon, session change): no calendar runs
};

/// One trigger's schedule. All date-times are wall-clock times of the service's time zone.
/// Masks: days of the week bit 0 Sunday .. bit 6 Saturday; months bit 0 January .. bit 11
/// December; day n of the month bit n - 1; weeks of the month 0x1 first, 0x2 second, 0x4 third,
/// 0x8 fourth, 0x10 last. An empty mask or an interval below 1 makes the trigger unable to run.
struct TriggerSchedule {
    TriggerKind kind = TriggerKind::Once;
    /// The first day on which the trigger is active, and the time of day of every start.
    LocalDateTime start;
    /// No start happens at or after this wall-clock time (an exclusive end). An end date that
    /// names the last active day is the midnight that follows it.
    std::optional<LocalDateTime> end;
    bool enabled = true;
    int daysInterval = 1;
    int weeksInterval = 1;
    quint8 daysOfWeek = 0;
    quint32 daysOfMonth = 0;
    quint16 monthsOfYear = 0;
    bool runOnLastDayOfMonth = false;
    quint8 weeksOfMonth = 0;
    /// When set, `start` and `end` are wall-clock times at this fixed offset from UTC (seconds
    /// east) instead of the service's zone: a boundary that names a moment ("Z", "+05:30")
    /// starts at the same moment of every day, summer and winter.
    std::optional<int> utcOffset;
    /// Seconds between repeated starts after each start; 0 means no repetition. The steps
    /// are elapsed time, so a change of the clock neither adds nor drops one.
    qint64 repetitionInterval = 0;
    /// How long, in elapsed seconds, the repetition lasts after each start, even past the
    /// trigger's next start (the repetitions then overlap); 0 means until the next start.
    qint64 repetitionDuration = 0;

    /// A trigger that starts once, at `start`.
    static TriggerSchedule Once(LocalDateTime start);
    /// A trigger that starts every `days` days.
    static TriggerSchedule Daily(LocalDateTime start, int days = 1);
    /// A trigger that starts on the days of `dayMask` every `weeks` weeks.
    static TriggerSchedule Weekly(LocalDateTime start, int weeks, quint8 dayMask);
    /// A trigger that starts on the days of `dayMask` (and the last day) in the months of `monthMask`.
    static TriggerSchedule MonthlyDate(LocalDateTime start, quint32 dayMask, quint16 monthMask, bool lastDay = false);
    /// A trigger that starts on the `weekMask` occurrences of the days of `dayMask` in the months of `monthMask`.
    static TriggerSchedule MonthlyDow(LocalDateTime start, quint8 weekMask, quint8 dayMask, quint16 monthMask);
    /// A trigger that starts on an event only.
    static TriggerSchedule Event();

    /// This trigger, repeating every `interval` seconds for `duration` seconds (0: indefinitely) after each start.
    TriggerSchedule Repeating(qint64 interval, qint64 duration = 0) const;
    /// This trigger, with no start at or after `until`.
    TriggerSchedule Until(LocalDateTime until) const;
    /// This trigger, its start and end counted at `offset` seconds east of UTC.
    TriggerSchedule AtOffset(int offset) const;
};

/// A task's schedule: its triggers, and whether the task itself may run at all.
struct Schedule {
    bool enabled = true;
    QList<TriggerSchedule> triggers;
};
