#pragma once
// What the service knows about a task's runs, kept apart from its definition: the daemon
// writes it as runs start and end, the service reads it to answer state queries.

#include "ResultCodes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

struct TaskRuntimeState {
    enum RunState { Idle = 0, Queued = 2, Running = 4 };
    /// Start of the last run; invalid when it never ran.
    QDateTime lastRunTime;
    qint32 lastTaskResult = SCHED_S_TASK_HAS_NOT_RUN;
    RunState runState = Idle;
    qint32 missedRuns = 0;
    friend bool operator==(const TaskRuntimeState&, const TaskRuntimeState&) = default;
};

/// The state file's format (JSON, versioned).
class TaskStateFile {
public:
    static QByteArray Encode(const TaskRuntimeState& state);
    /// Reads a state file's content; nothing (with `error` filled) when it is damaged.
    static std::optional<TaskRuntimeState> Decode(const QByteArray& bytes, QString* error);
};
