#pragma once
// When a generation 1.0 work item runs: its status and its run times.

#include "JobDefinition.h"

#include <QList>

/// The schedule facts of a work item, from its definition and its run facts.
class JobSchedule {
public:
    /// Whether a trigger can start the task: enabled, and for a time-based kind a begin date
    /// set and its interval, day, week and month fields naming at least one run.
    static bool TriggerIsValid(const TASK_TRIGGER& trigger);

    /// One of the informational codes SCHED_S_TASK_READY ... SCHED_S_TASK_NO_VALID_TRIGGERS.
    static HRESULT Status(const JobDefinition& definition, const JobRuntime& runtime);

    /// The run times from `begin` on (and up to `end`, when given), at most `maxCount`.
    /// S_OK when `maxCount` were found, S_FALSE when fewer; SCHED_S_TASK_DISABLED,
    /// SCHED_S_TASK_NO_VALID_TRIGGERS or SCHED_S_EVENT_TRIGGER (with no times) when the task
    /// cannot run on a calendar at all.
    ///
    /// The calendar itself is the schedule engine's: until it is connected here, a task with
    /// valid time-based triggers reports no run times (S_FALSE, none).
    static HRESULT RunTimes(const JobDefinition& definition, const SYSTEMTIME& begin, const SYSTEMTIME* end,
                            int maxCount, QList<SYSTEMTIME>* times);
};
