#include "TTaskActivation.h"

#include "TTaskItem.h"

TTaskActivation::TTaskActivation(TTaskItem* ATask) : FTask(ATask)
{
    FTask->Activate();
}

TTaskActivation::~TTaskActivation()
{
    if (!FTask) return;
    try {
        FTask->Deactivate(false);
    } catch (...) {
        // Nothing was to be saved; an item that cannot even let go is activated afresh next time.
    }
}

void TTaskActivation::DeactivateSaving()
{
    FTask->Deactivate(true);
    FTask = nullptr;
}
