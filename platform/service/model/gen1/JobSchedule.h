#pragma once
// When a generation 1.0 work item runs: its status and its run times, from the schedule engine.

#include "gen1/JobDefinition.h"
#include "ScheduleEngine.h"

#include <QDateTime>
#include <QList>

/// The schedule facts of a work item, from its definition, its run facts and the engine.
class JobSchedule {
public:
    /// The engine's form of a trigger record: its begin date at its start time, its end date
    /// in force as the midnight after that day, its repetition in seconds. A record without a
    /// begin date has an invalid start, so a time-based one never runs.
    static TriggerSchedule ToTrigger(const TASK_TRIGGER& trigger);
    /// The engine's form of a work item's triggers and its disabled flag.
    static Schedule ToSchedule(const JobDefinition& definition);

    /// One of the informational codes SCHED_S_TASK_READY ... SCHED_S_TASK_NO_VALID_TRIGGERS,
    /// as things stand at `now`.
    static HRESULT Status(const JobDefinition& definition, const JobRuntime& runtime, const QDateTime& now,
                          const ScheduleEngine& engine);

    /// The run times from `begin` on (and up to `end`, when given), at most `maxCount`, as
    /// wall-clock times of the engine's zone. S_OK when `maxCount` were found, S_FALSE when
    /// fewer; SCHED_S_TASK_DISABLED, SCHED_S_TASK_NO_VALID_TRIGGERS or SCHED_S_EVENT_TRIGGER
    /// (with no times) when the task cannot run on a calendar at all; E_INVALIDARG when
    /// `begin` or `end` is not a date and time.
    static HRESULT RunTimes(const JobDefinition& definition, const SYSTEMTIME& begin, const SYSTEMTIME* end,
                            int maxCount, const ScheduleEngine& engine, QList<SYSTEMTIME>* times);

    /// `st` as a date-time of `zone`; invalid when its fields name no date and time.
    static QDateTime ToDateTime(const SYSTEMTIME& st, const QTimeZone& zone);
    /// The calendar record of a wall-clock date and time.
    static SYSTEMTIME ToSystemTime(const QDate& date, const QTime& time);
};
