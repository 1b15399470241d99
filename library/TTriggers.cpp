#include "TTriggers.h"

#include "TTaskItem.h"
#include "TTaskScheduler.h"
#include "TTrigger.h"
#include "TriggerText.h"
#include "kvTask.h"

#include <utility>

namespace {

// The service kind that creates a trigger of each library kind; the four session kinds
// share one service kind, told apart by the state change that UpdateTriggers sends.
TASK_TRIGGER_TYPE2 ServiceKindOf(TTriggerType ttype)
{
    switch (ttype) {
    case ttOnce:
        return TASK_TRIGGER_TIME;
    case ttDaily:
        return TASK_TRIGGER_DAILY;
    case ttWeekly:
        return TASK_TRIGGER_WEEKLY;
    case ttMonthlyDate:
        return TASK_TRIGGER_MONTHLY;
    case ttMonthlyDow:
        return TASK_TRIGGER_MONTHLYDOW;
    case ttOnIdle:
        return TASK_TRIGGER_IDLE;
    case ttAtStartup:
        return TASK_TRIGGER_BOOT;
    case ttAtLogon:
        return TASK_TRIGGER_LOGON;
    case ttOnConnect:
    case ttOnDisconnect:
    case ttOnLock:
    case ttOnUnlock:
        return TASK_TRIGGER_SESSION_STATE_CHANGE;
    case ttUnknown:
        break;
    }
    return TASK_TRIGGER_EVENT;
}

// The 1.0 record carries the kinds up to ttAtLogon only; the later ones would reach the
// service as a record it cannot run, so they are refused before anything is sent.
void CheckKindFitsRecord(TTriggerType ttype)
{
    if (ttype > ttAtLogon) throw ETriggerError(STriggerKindNeedsTaskService2.arg(int(ttype)));
}

} // namespace

TTriggers::TTriggers(TTaskItem* AOwner) : FTaskItem(AOwner) {}

TTriggers::~TTriggers() = default;

bool TTriggers::TasksInVista() const
{
    const TTaskScheduler* scheduler = FTaskItem ? FTaskItem->GetTaskScheduler() : nullptr;
    return scheduler && scheduler->RunningVistaOrLater();
}

ComPtr<ITask> TTriggers::LegacyTask() const
{
    const ComPtr<IUnknown> object = FTaskItem->GetTaskInterface();
    if (!object) throw ETaskError(STaskNotActivated.arg(FTaskItem->GetName()));
    ComPtr<ITask> task;
    if (FAILED(object.As(task)) || !task) throw EIntfCastError();
    return task;
}

ComPtr<ITriggerCollection> TTriggers::VistaTriggers() const
{
    const ComPtr<ITaskDefinition> definition = FTaskItem->GetTaskDefinition();
    if (!definition) throw ETaskError(STaskNotActivated.arg(FTaskItem->GetName()));
    ComPtr<ITriggerCollection> triggers;
    OleCheck(definition->get_Triggers(triggers.Put()));
    return triggers;
}

TTrigger* TTriggers::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount()) throw ETriggerError(STriggerIndexOutOfBounds.arg(Index));
    return FItems[size_t(Index)].get();
}

int TTriggers::IndexOf(const TTrigger* ATrigger) const
{
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (FItems[i].get() == ATrigger) return int(i);
    }
    return -1;
}

TTrigger* TTriggers::Add(TTriggerType ttype)
{
    auto item = std::make_unique<TTrigger>(this);
    if (TasksInVista()) {
        // ttUnknown (and any number beyond the kinds) has no service kind to create.
        if (ttype >= ttUnknown) return nullptr;
        OleCheck(VistaTriggers()->Create(ServiceKindOf(ttype), item->FInterfaceVista.Put()));
    } else {
        CheckKindFitsRecord(ttype);
        WORD index = 0;
        OleCheck(LegacyTask()->CreateTrigger(&index, item->FInterface.Put()));
    }
    item->SetTriggerType(ttype);
    FItems.push_back(std::move(item));
    return FItems.back().get();
}

void TTriggers::Delete(int Index)
{
    GetItem(Index);
    if (TasksInVista())
        OleCheck(VistaTriggers()->Remove(VARIANT::I4(Index + 1)));
    else
        OleCheck(LegacyTask()->DeleteTrigger(WORD(Index)));
    FItems.erase(FItems.begin() + Index);
}

void TTriggers::Clear()
{
    if (TasksInVista()) {
        const ComPtr<ITriggerCollection> triggers = VistaTriggers();
        LONG count = 0;
        OleCheck(triggers->get_Count(&count));
        for (LONG position = count; position >= 1; --position) OleCheck(triggers->Remove(VARIANT::I4(position)));
    } else if (!FItems.empty()) {
        const ComPtr<ITask> task = LegacyTask();
        for (int index = GetCount() - 1; index >= 0; --index) OleCheck(task->DeleteTrigger(WORD(index)));
    }
    FItems.clear();
}

void TTriggers::InitTriggers()
{
    FItems.clear();
    // Built aside and taken over whole, so that a failure leaves no half-read collection.
    std::vector<std::unique_ptr<TTrigger>> items;
    if (TasksInVista()) {
        const ComPtr<ITriggerCollection> triggers = VistaTriggers();
        LONG count = 0;
        OleCheck(triggers->get_Count(&count));
        for (LONG position = 1; position <= count; ++position) {
            auto item = std::make_unique<TTrigger>(this);
            OleCheck(triggers->get_Item(position, item->FInterfaceVista.Put()));
            item->LoadVistaTrigger();
            items.push_back(std::move(item));
        }
    } else {
        const ComPtr<ITask> task = LegacyTask();
        WORD count = 0;
        OleCheck(task->GetTriggerCount(&count));
        for (WORD index = 0; index < count; ++index) {
            auto item = std::make_unique<TTrigger>(this);
            OleCheck(task->GetTrigger(index, item->FInterface.Put()));
            OleCheck(item->FInterface->GetTrigger(&item->FTaskTrigger));
            items.push_back(std::move(item));
        }
    }
    FItems = std::move(items);
}

void TTriggers::UpdateTriggers()
{
    if (TasksInVista()) {
        for (const auto& item : FItems) item->WriteVistaTrigger();
        return;
    }
    // Every record is checked before the first is sent, so that a refused kind sends nothing.
    for (const auto& item : FItems) {
        if (!item->FInterface) throw EIntfCastError();
        CheckKindFitsRecord(item->GetTriggerType());
    }
    for (const auto& item : FItems) item->UpdateTrigger();
}

void TTriggers::GetTriggerStrings(QStringList& AStrings)
{
    AStrings.clear();
    if (FItems.empty()) {
        AStrings << STaskNotScheduledLine;
    } else if (FItems.size() == 1) {
        AStrings << FItems.front()->GetAsString();
    } else {
        for (size_t i = 0; i < FItems.size(); ++i)
            AStrings << SNumberedTriggerLine.arg(QString::number(i + 1), FItems[i]->GetAsString());
    }
}
