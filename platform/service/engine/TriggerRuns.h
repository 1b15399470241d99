#pragma once
// Walks the runs of one trigger in ascending order, one start day and one repetition step at
// a time, each found arithmetically.

#include "RunTime.h"
#include "StartCalendar.h"
#include "TriggerSchedule.h"
#include "ZoneRules.h"

#include <QVarLengthArray>
#include <optional>

/// The runs of one trigger from a given moment on. Each start's repetition steps through
/// elapsed time for its whole duration, so repetitions of successive starts may overlap; an
/// indefinite repetition lasts until the next start. Runs are distinct and ascending: starts
/// of overlapping repetitions that fall on the same moment give one run.
class TriggerRuns {
public:
    /// Positions on the first run of `trigger` at `fromUtc` or later.
    TriggerRuns(const TriggerSchedule& trigger, const ZoneRules& zone, qint64 fromUtc);

    bool AtEnd() const { return m_atEnd; }
    /// The current run; only meaningful while not `AtEnd()`.
    const RunTime& Current() const { return m_current; }
    /// Moves to the next run.
    void Advance();

    /// The first run of `trigger` at `fromUtc` or later, the same as `Current()` of a walk
    /// positioned there; cheaper for a trigger without repetition, the common case.
    static std::optional<RunTime> FirstRun(const TriggerSchedule& trigger, const ZoneRules& zone, qint64 fromUtc);

    /// The moment from which `trigger` starts no more runs, seconds since 1970-01-01T00:00Z.
    static qint64 EndUtc(const TriggerSchedule& trigger, const ZoneRules& zone);

private:
    /// The repetition of one start.
    struct Series {
        qint64 next = 0;   // its next run
        qint64 limit = 0;  // no run of it at or after this moment
        qint64 end = 0;    // its start plus its duration; 0 when it has none
    };

    qint64 StartWall(qint64 day) const { return LocalDateTime::StartOfDay(day) + m_timeOfDay; }
    /// When the trigger's wall-clock second `wall` happens, in its own frame.
    qint64 Resolve(qint64 wall);
    /// The earliest wall-clock second of the trigger's frame whose moment is `utc` or later.
    qint64 FirstWallFrom(qint64 utc);
    /// Adds the repetition that starts on `day`, positioned on its first run at `fromUtc` or
    /// later, unless it has no run left by then.
    void AddSeries(qint64 day, qint64 fromUtc);
    /// Lets the pending start begin when it comes first, and makes the earliest run current.
    void Settle();
    void SetPending(qint64 day);

    // Days are StartCalendar days, StartCalendar::NoDay for none: no optionals on this path,
    // which is run for every query.

    StartCalendar m_calendar;
    ZoneCursor m_zone;
    std::optional<int> m_offset;
    qint64 m_timeOfDay = 0;
    qint64 m_step = 0;
    qint64 m_duration = 0;
    qint64 m_endUtc = 0;   // no run at or after this moment

    QVarLengthArray<Series, 4> m_active;
    qint64 m_pendingDay = StartCalendar::NoDay; // the next start day not yet begun, once known
    qint64 m_pendingUtc = 0;                    // and its moment
    qint64 m_enteredDay = StartCalendar::NoDay; // the start day begun last, while the next is unknown
    RunTime m_current;
    bool m_atEnd = true;
};
