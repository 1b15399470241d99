#pragma once
// Where the service asks when a 2.0 task runs: the engine's form of a stored definition, and
// its scheduled starts. The daemon and the request handlers both ask here, so that they
// never disagree about a task's times.

#include "ScheduleEngine.h"
#include "gen2/TaskDocument.h"

#include <QDateTime>
#include <QList>
#include <QTimeZone>

class TaskSchedule {
public:
    /// The engine's form of one trigger: its boundaries as wall-clock times of `zone` (a
    /// boundary with "Z" or an offset converted), its repetition in seconds. A time-based
    /// trigger without a readable start boundary has an invalid start and never runs; event
    /// kinds (idle, boot, logon, registration, session change, event log) have no calendar runs.
    static TriggerSchedule ToTrigger(const TriggerData& trigger, const QTimeZone& zone);
    /// The engine's form of a definition's triggers and its enabled setting.
    static Schedule ToSchedule(const TaskDocument& doc, const QTimeZone& zone);
};

/// The scheduled runs of `doc` from `from` (included) up to `to` (included; no end when
/// invalid), at most `maxCount`, in the system's time zone, each with its trigger.
QList<RunTime> ScheduledRuns(const TaskDocument& doc, const QDateTime& from, const QDateTime& to, int maxCount);
/// The same for a definition already in the engine's form (TaskSchedule::ToSchedule with
/// ScheduleZone()), for a caller that asks the same task again and again.
QList<RunTime> ScheduledRuns(const Schedule& schedule, const QDateTime& from, const QDateTime& to, int maxCount);
/// The system's time zone, as the service's schedules use it.
const QTimeZone& ScheduleZone();

/// The scheduled starts of `doc` from `from` (included) up to `to` (included; no end when
/// invalid), at most `maxCount` of them, ascending, in the system's time zone.
QList<QDateTime> ScheduledRunTimes(const TaskDocument& doc, const QDateTime& from, const QDateTime& to, int maxCount);
