#pragma once
// The requests only a daemon can answer: run and stop tasks, list their running instances,
// and read their run history.

#include "RequestRouter.h"
#include "catalog/TaskCatalog.h"
#include "run/TaskRunner.h"

#include <QHash>

/// Operations beyond those of the service core. They replace the core's answers for running
/// and stopping (which say that no daemon runs) and add the daemon's own:
///   "daemon.history"  {task: key text}   -> {runs: [{instance, cause, attempt, start, end, result}]}
///   "daemon.status"   {}                 -> {instances, nextWake (ms or absent), queued}
/// Running instances are described as {guid, path, name, state, currentAction, enginePid, start}.
class RunRequests {
public:
    RunRequests(TaskRunner& runner, QList<TaskCatalog*> catalogs);

    /// Adds the handlers to `router`. `status` fills the extra fields of "daemon.status".
    void Register(RequestRouter& router, std::function<void(QCborMap&)> status);

    /// The 2.0 task a request names by "folder" and "path"; nothing, with `error`, for a bad path.
    static std::optional<TaskKey> Gen2Key(const QCborMap& request, QString* error);
    /// The 1.0 work item a request names by "name".
    static TaskKey Gen1Key(const QCborMap& request);
    /// `task` with "$(Arg0)" in its programs' arguments replaced by `argument`.
    static RunnableTask WithArgument(RunnableTask task, const QString& argument);

private:
    QCborMap RunGen2(const QCborMap& request);
    QCborMap StopGen2(const QCborMap& request);
    QCborMap Gen2Instances(const QCborMap& request);
    QCborMap RunningList(const QCborMap& request);
    QCborMap InstanceRefresh(const QCborMap& request);
    QCborMap InstanceStop(const QCborMap& request);
    QCborMap RunGen1(const QCborMap& request);
    QCborMap TerminateGen1(const QCborMap& request);
    QCborMap History(const QCborMap& request);

    /// The task `key` names, spelt as stored: the runner knows each task by that spelling.
    TaskKey Stored(const TaskKey& key) const;
    std::optional<TaskKey> Stored(const std::optional<TaskKey>& key) const;
    std::optional<RunnableTask> Load(const TaskKey& key, HRESULT* code, QString* error) const;
    const RunningInstance* FindInstance(const QCborMap& request) const;

    TaskRunner& m_runner;
    QHash<TaskGeneration, TaskCatalog*> m_catalogs;
};
