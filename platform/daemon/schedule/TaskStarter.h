#pragma once
// What the schedule loop needs of whoever runs the tasks.

#include "catalog/RunnableTask.h"

#include <QDateTime>
#include <QString>

class TaskStarter {
public:
    virtual ~TaskStarter() = default;
    /// Starts `task` for a reason other than a client's request ("scheduled", "missed",
    /// "boot", "logon"), under the task's instance policy. Failures are recorded, not raised.
    /// A valid `stopAt` stops the instance then; a start that would begin after it is dropped.
    virtual void StartUnattended(const RunnableTask& task, const QString& cause, const QDateTime& stopAt = {}) = 0;
    /// The scheduled start of `task` at `at`, a moment before it: the instance is handed to its
    /// supervisor now and its program starts at `at`. False, with nothing done, when the start
    /// cannot be decided this early (it would wait for or meet a running instance, or depends on
    /// a condition that may change by then): it is then made at its time like any other.
    virtual bool StartAhead(const RunnableTask& task, const QDateTime& at, const QDateTime& stopAt) = 0;
    /// Records that an unattended start of `task` for `cause` was not made, and why.
    virtual void SkipStart(const RunnableTask& task, const QString& cause, const QString& reason) = 0;
    /// A user came back: stops the instances of the tasks that ask for it, and gives those of
    /// them that want to run again when the computer is idle again.
    virtual QList<TaskKey> StopOnIdleEnd() = 0;
    /// Whether instances of the task run or wait to run.
    virtual bool IsBusy(const TaskKey& key) const = 0;
    /// Whether an instance of the task started for `cause` at `since` or later: one that
    /// runs, or one recorded among its runs.
    virtual bool StartedSince(const TaskKey& key, const QString& cause, const QDateTime& since) const = 0;
};
