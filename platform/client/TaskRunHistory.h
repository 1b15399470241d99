#pragma once
// The run history the service process keeps of each task: a platform query of its own, beside
// the task interfaces, as an event log is beside the tasks it records.

#include "ComBase.h"

#include <QDateTime>
#include <QList>
#include <QString>

/// One recorded run of a task.
struct TaskRunRecord {
    QString instance;  ///< the instance's identifier
    QString cause;     ///< why it started: scheduled, demand, missed, boot, logon, restart
    int attempt = 0;   ///< 0 for the first attempt, counting restarts after it
    QDateTime start;
    QDateTime end;
    quint32 result = 0;  ///< the program's exit code, or the service's result code
    QString reason;      ///< for a start the service skipped: why
};

/// Reads the runs of one task from the service of the current root.
class TaskRunHistory {
public:
    /// The history of the 2.0 task at `path` ("\Folder\Name").
    static HRESULT ReadGen2(const QString& path, QList<TaskRunRecord>& runs, QString* error);
    /// The history of the 1.0 task `name` (with or without ".job").
    static HRESULT ReadGen1(const QString& name, QList<TaskRunRecord>& runs, QString* error);

private:
    static HRESULT Read(const QString& key, QList<TaskRunRecord>& runs, QString* error);
};
