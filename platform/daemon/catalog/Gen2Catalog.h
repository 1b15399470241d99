#pragma once
// The generation 2.0 store as the daemon runs it.

#include "catalog/StoreTrust.h"
#include "catalog/TaskCatalog.h"
#include "gen2/TaskStore.h"

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
    void Collect(const TaskPath& folder, const std::function<void(const RunnableTask&)>& visit) const;

    TaskStore m_store;
    StoreTrust m_trust;
    QString m_stateDir;
};
