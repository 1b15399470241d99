#pragma once
// The generation 2.0 store as the daemon runs it.

#include "catalog/StoreTrust.h"
#include "catalog/TaskCatalog.h"
#include "gen2/TaskStore.h"

#include <QHash>
#include <sys/stat.h>

class Gen2Catalog : public TaskCatalog {
public:
    /// The store of `root`, whose files are believed as far as `trust` allows.
    explicit Gen2Catalog(const ServiceRoot& root, StoreTrust trust = StoreTrust::OfThisProcess());

    TaskGeneration Generation() const override { return TaskGeneration::Gen2; }
    QList<RunnableTask> LoadAll() override;
    void ForEach(const std::function<void(const RunnableTask&)>& visit) override;
    TaskKey StoredKey(const TaskKey& key) const override;
    std::optional<RunnableTask> Load(const TaskKey& key, QString* error) override;
    bool ChangeRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change, QString* error,
                       RuntimeWrite write = RuntimeWrite::Durable) override;
    bool Delete(const TaskKey& key, QString* error) override;
    QList<TaskKey> Unsettled() override;

    /// What the daemon runs of a stored definition.
    static RunnableTask ToRunnable(const TaskPath& path, const TaskDocument& doc);
    /// The length of a duration text in milliseconds (months as 30 days, years as 365); nothing
    /// for empty or unreadable text.
    static std::optional<qint64> DurationMs(const QString& text);

private:
    /// What tells one version of a file from another.
    struct FileVersion {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        qint64 mtimeNs = 0;
        qint64 ctimeNs = 0;
        friend bool operator==(const FileVersion&, const FileVersion&) = default;
    };
    struct KnownState {
        FileVersion version;
        TaskRuntimeState state;
    };
    static FileVersion VersionOf(const struct stat& st);
    void Collect(const TaskPath& folder, const std::function<void(const RunnableTask&)>& visit) const;
    /// The run state in `file`, the state file of `task` as stored: a task runs and ends
    /// many times over, and its state file is this catalog's to write.
    std::optional<TaskRuntimeState> CurrentState(const TaskPath& task, const QString& file, QString* error);

    TaskStore m_store;
    StoreTrust m_trust;
    QString m_stateDir;
    QHash<QString, KnownState> m_states;   ///< by state file, the states written last
};
