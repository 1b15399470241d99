#pragma once
// The window side of generation 1.0: the service's property pages of a task and the common
// property sheet that shows them. Both need widgets, which the client objects do without;
// a program that links the pages installs them here.

#include "PropSheet.h"
#include "tvMSTask.h"

/// Makes the service's property pages and shows property sheets.
class TaskPagesHost {
public:
    virtual ~TaskPagesHost() = default;
    /// Makes page `type` of `task`; with `persistChanges` the page saves the task file when
    /// the sheet applies its changes.
    virtual HRESULT CreatePage(ITask* task, TASKPAGE type, BOOL persistChanges, HPROPSHEETPAGE* page) = 0;
    /// Frees a page that no sheet took over.
    virtual void DestroyPage(HPROPSHEETPAGE page) = 0;
    /// Shows a property sheet modally (see PropertySheetW).
    virtual INT_PTR ShowSheet(const PROPSHEETHEADERW& header) = 0;
    /// Replaces the procedure of a shown sheet (see SetSheetProc).
    virtual SHEETPROC ReplaceSheetProc(HWND sheet, SHEETPROC proc) = 0;
};

/// Installs the host the task objects and the sheet functions use; null removes it.
void InstallTaskPagesHost(TaskPagesHost* host);
/// The host installed, or null in a program without the pages.
TaskPagesHost* InstalledTaskPagesHost();
