#pragma once
// The triggers of a client-side definition: the collection, one object per trigger kind
// (each answers ITrigger and its own kind's interface only), and the repetition pattern.

#include "Gen2DefinitionModel.h"
#include "TaskService2.h"

#include <memory>

class Gen2TriggerCollection : public ComObject<Gen2TriggerCollection, ITriggerCollection> {
public:
    explicit Gen2TriggerCollection(std::shared_ptr<DefinitionModel> model) : m_model(std::move(model)) {}

    HRESULT get_Count(LONG* pCount) override;
    HRESULT get_Item(LONG index, ITrigger** ppTrigger) override;
    HRESULT Create(TASK_TRIGGER_TYPE2 type, ITrigger** ppTrigger) override;
    HRESULT Remove(VARIANT index) override;
    HRESULT Clear() override;

    /// Copies of the triggers, for another definition.
    QList<std::shared_ptr<TriggerData>> CopyTriggers() const;

    /// The object of a trigger's kind, as ITrigger.
    static ComPtr<ITrigger> MakeTrigger(std::shared_ptr<TriggerData> data);

private:
    std::shared_ptr<DefinitionModel> m_model;
};

class Gen2RepetitionPattern : public ComObject<Gen2RepetitionPattern, IRepetitionPattern> {
public:
    explicit Gen2RepetitionPattern(std::shared_ptr<TriggerData> trigger) : m_trigger(std::move(trigger)) {}

    HRESULT get_Interval(QString* pInterval) override;
    HRESULT put_Interval(const QString& interval) override;
    HRESULT get_Duration(QString* pDuration) override;
    HRESULT put_Duration(const QString& duration) override;
    HRESULT get_StopAtDurationEnd(VARIANT_BOOL* pStop) override;
    HRESULT put_StopAtDurationEnd(VARIANT_BOOL stop) override;

private:
    std::shared_ptr<TriggerData> m_trigger;
};
