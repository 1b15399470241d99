#pragma once
// Walks the runs of one trigger in ascending order, one start day and one repetition step at
// a time, each found arithmetically.

#include "RunTime.h"
#include "StartCalendar.h"
#include "TriggerSchedule.h"
#include "ZoneRules.h"

#include <optional>

/// The runs of one trigger from a given moment on. Each start's repetition runs for its
/// duration, but never past the trigger's next start, which begins a repetition of its own;
/// so an indefinite repetition lasts until the next start. Runs are distinct and ascending:
/// wall-clock times that a gap sends to the same moment give one run.
class TriggerRuns {
public:
    /// Positions on the first run of `trigger` at `fromUtc` or later.
    TriggerRuns(const TriggerSchedule& trigger, const ZoneRules& zone, qint64 fromUtc);

    bool AtEnd() const { return m_atEnd; }
    /// The current run; only meaningful while not `AtEnd()`.
    const RunTime& Current() const { return m_current; }
    /// Moves to the next run.
    void Advance();

private:
    qint64 StartWall(qint64 day) const { return LocalDateTime::StartOfDay(day) + m_timeOfDay; }
    /// Makes the start on `day` the current repetition.
    void EnterSeries(qint64 day);
    /// Moves to the first scheduled wall-clock time at `wall` or later.
    void SeekWall(qint64 wall);
    /// Makes the next start the current repetition; false (and at the end) when there is none.
    bool NextSeries();
    /// Makes `wall` the current run, or the end when `wall` is past the trigger's end. False
    /// when `wall` happens no later than `lastUtc` (a gap gave both the same moment).
    bool Land(qint64 wall, qint64 lastUtc);

    StartCalendar m_calendar;
    ZoneCursor m_zone;
    qint64 m_timeOfDay = 0;
    qint64 m_step = 0;
    qint64 m_duration = 0;
    qint64 m_endWall = 0; // no run at or after this wall-clock second

    qint64 m_seriesStart = 0; // the current start, and the wall-clock end of its repetition
    qint64 m_seriesLimit = 0;
    std::optional<qint64> m_nextDay; // the start day after the current one, once known
    bool m_nextKnown = false;
    qint64 m_wall = 0;                 // the scheduled wall-clock time of the current run
    RunTime m_current;
    bool m_atEnd = true;
};
