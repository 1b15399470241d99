#pragma once
// What the schedule loop needs of whoever runs the tasks.

#include "RunnableTask.h"

#include <QString>

class TaskStarter {
public:
    virtual ~TaskStarter() = default;
    /// Starts `task` for a reason other than a client's request ("scheduled", "missed",
    /// "boot", "logon"), under the task's instance policy. Failures are recorded, not raised.
    virtual void StartUnattended(const RunnableTask& task, const QString& cause) = 0;
    /// Whether instances of the task run or wait to run.
    virtual bool IsBusy(const TaskKey& key) const = 0;
};
