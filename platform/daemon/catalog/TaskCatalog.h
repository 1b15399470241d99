#pragma once
// One store of tasks as the daemon sees it: which tasks there are, what each one runs, and
// where the results of its runs go.

#include "catalog/RunnableTask.h"

#include <QList>
#include <functional>
#include <optional>

class TaskCatalog {
public:
    virtual ~TaskCatalog() = default;

    virtual TaskGeneration Generation() const = 0;
    /// Every task of the store that loads; damaged ones are reported in the log and left out.
    virtual QList<RunnableTask> LoadAll() = 0;
    /// Calls `visit` for each task LoadAll gives, one at a time: a store of many tasks is
    /// never all in memory at once.
    virtual void ForEach(const std::function<void(const RunnableTask&)>& visit)
    {
        for (const RunnableTask& task : LoadAll()) visit(task);
    }
    /// `key` with the task's name spelt as the store keeps it (names are found ignoring
    /// case); `key` itself when no stored task matches.
    virtual TaskKey StoredKey(const TaskKey& key) const { return key; }
    /// One task as it is stored now, keyed by its stored spelling; nothing, with `error`
    /// filled, when it is gone or damaged.
    virtual std::optional<RunnableTask> Load(const TaskKey& key, QString* error) = 0;
    /// How a runtime change reaches the disk.
    enum class RuntimeWrite : quint8 {
        Durable,   ///< flushed before ChangeRuntime returns
        /// Replaced whole but not flushed: it survives a crash of the daemon, not a power
        /// failure. For a record that a later durable one follows, or that the next daemon
        /// judges stale after a new boot anyway (a task's "running" state).
        Cached,
    };
    /// Changes the runtime record of a task with `change`. A task that is gone is left alone.
    /// Returns false, with `error` filled, when the record cannot be written.
    virtual bool ChangeRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change, QString* error,
                               RuntimeWrite write = RuntimeWrite::Durable) = 0;
    /// The tasks whose runtime record says that they run or wait to run.
    virtual QList<TaskKey> Unsettled() = 0;
    /// Deletes a task whose time is over. False, with `error` filled, on failure.
    virtual bool Delete(const TaskKey& key, QString* error) = 0;
};
