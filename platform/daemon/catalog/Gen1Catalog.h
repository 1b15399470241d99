#pragma once
// The generation 1.0 store as the daemon runs it.

#include "gen1/JobStore.h"
#include "ScheduleEngine.h"
#include "catalog/StoreTrust.h"
#include "catalog/TaskCatalog.h"

class Gen1Catalog : public TaskCatalog {
public:
    /// The store of `root`, whose files are believed as far as `trust` allows.
    explicit Gen1Catalog(const ServiceRoot& root, StoreTrust trust = StoreTrust::OfThisProcess());

    TaskGeneration Generation() const override { return TaskGeneration::Gen1; }
    QList<RunnableTask> LoadAll() override;
    TaskKey StoredKey(const TaskKey& key) const override;
    std::optional<RunnableTask> Load(const TaskKey& key, QString* error) override;
    bool ChangeRuntime(const TaskKey& key, const std::function<void(TaskRuntime&)>& change, QString* error,
                       RuntimeWrite write = RuntimeWrite::Durable) override;
    bool Delete(const TaskKey& key, QString* error) override;
    QList<TaskKey> Unsettled() override;

    /// What the daemon runs of a stored work item. 1.0 tasks never run twice at once; an
    /// account set without a name is the system account.
    static RunnableTask ToRunnable(const QString& name, const JobDefinition& definition, std::shared_ptr<const ScheduleEngine> engine);

private:
    StoreTrust m_trust;
    JobStore m_store;
    std::shared_ptr<const ScheduleEngine> m_engine;
};
