#pragma once
// The pages and the property sheet as widgets, installed for the task objects to use.

#include "ResultCodes.h"
#include "TaskPagesHost.h"

/// Makes the Task, Schedule and Settings pages and shows them in a TaskPropertySheet. A
/// program that links this area has it installed before main() runs.
class WidgetTaskPagesHost final : public TaskPagesHost {
public:
    HRESULT CreatePage(ITask* task, TASKPAGE type, BOOL persistChanges, HPROPSHEETPAGE* page) override;
    void DestroyPage(HPROPSHEETPAGE page) override;
    INT_PTR ShowSheet(const PROPSHEETHEADERW& header) override;
    SHEETPROC ReplaceSheetProc(HWND sheet, SHEETPROC proc) override;

    /// The host of this program, installed on first use.
    static WidgetTaskPagesHost& Instance();
};
