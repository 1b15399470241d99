#include "TaskPagesHost.h"

namespace {

TaskPagesHost*& Host()
{
    static TaskPagesHost* host = nullptr;
    return host;
}

} // namespace

void InstallTaskPagesHost(TaskPagesHost* host)
{
    Host() = host;
}

TaskPagesHost* InstalledTaskPagesHost()
{
    return Host();
}

INT_PTR PropertySheetW(const PROPSHEETHEADERW* ppsh)
{
    TaskPagesHost* host = Host();
    if (!ppsh || !host) return -1;
    return host->ShowSheet(*ppsh);
}

SHEETPROC SetSheetProc(HWND hwnd, SHEETPROC proc)
{
    TaskPagesHost* host = Host();
    if (!host) return {};
    return host->ReplaceSheetProc(hwnd, std::move(proc));
}

void DestroyPropertySheetPage(HPROPSHEETPAGE page)
{
    if (TaskPagesHost* host = Host(); host && page) host->DestroyPage(page);
}
