#pragma once
// The status of a 1.0 task as far as its schedule decides it.

#include "ScheduleEngine.h"
#include "TriggerSchedule.h"

#include <QDateTime>
#include <QList>
#include <QtGlobal>

/// The 1.0 status codes, numbered as the low byte of the service's status results.
enum class LegacyStatus : quint8 {
    Ready = 0,
    Running = 1,
    Disabled = 2,
    HasNotRun = 3,
    NoMoreRuns = 4,
    NotScheduled = 5,
    Terminated = 6,
    NoValidTriggers = 7,
};

/// The schedule's part of a 1.0 task's status at `now`, first match wins: the disabled flag
/// gives Disabled; no triggers NotScheduled; triggers none of which can ever run
/// NoValidTriggers; a schedule with no run after `now` NoMoreRuns; a task that never ran
/// HasNotRun; otherwise Ready. Running and Terminated are for whoever runs the task to say.
LegacyStatus ComputeLegacyStatus(bool disabled, const QList<TriggerSchedule>& triggers, bool neverRan,
                                 const QDateTime& now, const ScheduleEngine& engine);
