#include "Gen1TaskTrigger.h"

#include "Gen1TriggerText.h"
#include "gen1/JobDefinition.h"
#include "ResultCodes.h"

ComPtr<Gen1TaskTrigger> Gen1TaskTrigger::Create(ComPtr<Gen1Task> task, std::shared_ptr<Gen1TriggerSlot> slot)
{
    return Make(std::move(task), std::move(slot));
}

Gen1TaskTrigger::Gen1TaskTrigger(ComPtr<Gen1Task> task, std::shared_ptr<Gen1TriggerSlot> slot)
    : m_task(std::move(task)), m_slot(std::move(slot))
{
}

HRESULT Gen1TaskTrigger::SetTrigger(const TASK_TRIGGER* pTrigger)
{
    if (!pTrigger) return E_POINTER;
    if (m_slot->removed) return SCHED_E_TRIGGER_NOT_FOUND;
    if (!TriggerIsWellFormed(*pTrigger)) return E_INVALIDARG;
    m_slot->record = *pTrigger;
    m_task->MarkDirty();
    return S_OK;
}

HRESULT Gen1TaskTrigger::GetTrigger(TASK_TRIGGER* pTrigger)
{
    if (!pTrigger) return E_POINTER;
    if (m_slot->removed) return SCHED_E_TRIGGER_NOT_FOUND;
    *pTrigger = m_slot->record;
    return S_OK;
}

HRESULT Gen1TaskTrigger::GetTriggerString(QString* ppwszTrigger)
{
    if (!ppwszTrigger) return E_POINTER;
    if (m_slot->removed) return SCHED_E_TRIGGER_NOT_FOUND;
    *ppwszTrigger = Gen1TriggerText::Describe(m_slot->record);
    return S_OK;
}
