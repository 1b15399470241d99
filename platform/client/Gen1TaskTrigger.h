#pragma once
// One trigger of a generation 1.0 task object.

#include "ComBase.h"
#include "Gen1Task.h"
#include "tvMSTask.h"

#include <memory>

/// The object of one trigger. It keeps its task object alive and changes the trigger in the
/// task's memory; the file changes when the task is saved.
class Gen1TaskTrigger final : public ComObject<Gen1TaskTrigger, ITaskTrigger> {
public:
    static ComPtr<Gen1TaskTrigger> Create(ComPtr<Gen1Task> task, std::shared_ptr<Gen1TriggerSlot> slot);

    HRESULT SetTrigger(const TASK_TRIGGER* pTrigger) override;
    HRESULT GetTrigger(TASK_TRIGGER* pTrigger) override;
    HRESULT GetTriggerString(QString* ppwszTrigger) override;

private:
    friend class ComObject<Gen1TaskTrigger, ITaskTrigger>;
    Gen1TaskTrigger(ComPtr<Gen1Task> task, std::shared_ptr<Gen1TriggerSlot> slot);

    ComPtr<Gen1Task> m_task;
    std::shared_ptr<Gen1TriggerSlot> m_slot;
};
