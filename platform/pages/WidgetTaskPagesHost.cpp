#include "WidgetTaskPagesHost.h"

#include "SchedulePage.h"
#include "SettingsPage.h"
#include "TaskPage.h"
#include "TaskPropertySheet.h"

#include <QApplication>

HRESULT WidgetTaskPagesHost::CreatePage(ITask* task, TASKPAGE type, BOOL persistChanges, HPROPSHEETPAGE* page)
{
    if (!page) return E_POINTER;
    *page = nullptr;
    if (!task) return E_INVALIDARG;
    // Widgets need the application object; a program without one cannot show pages.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    switch (type) {
    case TASKPAGE_TASK: *page = new TaskPage(task, persistChanges); break;
    case TASKPAGE_SCHEDULE: *page = new SchedulePage(task, persistChanges); break;
    case TASKPAGE_SETTINGS: *page = new SettingsPage(task, persistChanges); break;
    default: return E_INVALIDARG;
    }
    return S_OK;
}

void WidgetTaskPagesHost::DestroyPage(HPROPSHEETPAGE page)
{
    delete page;
}

INT_PTR WidgetTaskPagesHost::ShowSheet(const PROPSHEETHEADERW& header)
{
    return TaskPropertySheet::Show(header);
}

SHEETPROC WidgetTaskPagesHost::ReplaceSheetProc(HWND sheet, SHEETPROC proc)
{
    auto* propertySheet = qobject_cast<TaskPropertySheet*>(sheet);
    if (!propertySheet) return {};
    return propertySheet->ReplaceProc(std::move(proc));
}

WidgetTaskPagesHost& WidgetTaskPagesHost::Instance()
{
    static WidgetTaskPagesHost host;
    return host;
}

// The linker is told to keep this symbol for every program that links the pages (see the
// area's CMakeLists.txt), so the host is installed without the program asking for it.
extern "C" {
extern const int TaskPagesInstalled;
const int TaskPagesInstalled = (InstallTaskPagesHost(&WidgetTaskPagesHost::Instance()), 1);
}
