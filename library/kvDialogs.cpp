#include "kvDialogs.h"

#include "ComBase.h"
#include "TTaskItem.h"
#include "TTaskScheduler.h"
#include "TTriggers.h"
#include "tvMSTask.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QWidget>

namespace {

const QString SSchedulerNotFound = QStringLiteral("Task Scheduler not found.");
const QString SNoPages = QStringLiteral("At least one page must be specified.");
const QString SCannotActivate = QStringLiteral("Could not activate the task \"%1\".");

// The sheet being opened, handed from Execute to the sheet's callback. One at a time.
TTaskPropertiesDialog* SheetBeingOpened = nullptr;

constexpr BOOL kPersistChanges = 1;

} // namespace

// ---- TTaskCommonDialog --------------------------------------------------------------------

TTaskCommonDialog::TTaskCommonDialog(QObject* AOwner) : QObject(AOwner) {}

TTaskScheduler* TTaskCommonDialog::GetTaskScheduler() const
{
    return FTaskScheduler;
}

void TTaskCommonDialog::SetTaskScheduler(TTaskScheduler* Value)
{
    if (Value == FTaskScheduler) return;
    disconnect(FRemoval);
    FTaskScheduler = Value;
    if (Value) FRemoval = connect(Value, &QObject::destroyed, this, [this](QObject* gone) { Notification(gone); });
}

void TTaskCommonDialog::Notification(QObject* AComponent)
{
    if (AComponent == FTaskScheduler) {
        FTaskScheduler = nullptr;
        disconnect(FRemoval);
    }
}

// ---- TTaskPropertiesDialog ----------------------------------------------------------------

TTaskPropertiesDialog::TTaskPropertiesDialog(QObject* AOwner)
    : TTaskCommonDialog(AOwner), FPages{ptSchedule, ptSettings}
{
    FObjectInstance = [this](HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        return WndProc(hwnd, uMsg, wParam, lParam);
    };
}

TTaskPropertiesDialog::~TTaskPropertiesDialog()
{
    FObjectInstance = nullptr;
}

void TTaskPropertiesDialog::SetPages(TPageTypes Value)
{
    if (Value.IsEmpty()) throw ETaskDialogError(SNoPages);
    FPages = Value;
}

bool TTaskPropertiesDialog::Execute()
{
    if (!FTaskScheduler) throw ETaskDialogError(SSchedulerNotFound);
    FTask = FTaskScheduler->ActivateTask(FTaskName);
    if (!FTask) throw ETaskDialogError(SCannotActivate.arg(FTaskName));
    if (FTask->GetTaskScheduler()->RunningVistaOrLater()) return false;

    ComPtr<IProvideTaskPage> provider;
    FTask->GetInterface(IProvideTaskPage::iid, provider.PutVoid());
    if (!provider) return false;

    QPointer<QWidget> activeWindow = QApplication::activeWindow();
    QPointer<QWidget> focused = QApplication::focusWidget();

    PROPSHEETHEADERW header;
    header.dwSize = 52;
    header.hwndParent = activeWindow;
    header.dwFlags = PSH_USECALLBACK;
    if (FOptions.Contains(otNoApplyNow)) header.dwFlags |= PSH_NOAPPLYNOW;
    if (FOptions.Contains(otNoContextHelp)) header.dwFlags |= PSH_NOCONTEXTHELP;
    const QIcon icon = QApplication::windowIcon();
    if (FOptions.Contains(otDisplayIcon)) {
        header.dwFlags |= PSH_USEHICON;
        header.hIcon = &icon;
    }
    if (!FCaption.isEmpty()) {
        header.pszCaption = FCaption;
    } else {
        header.pszCaption = FTask->GetName();
        header.dwFlags |= PSH_PROPTITLE;
    }
    header.pfnCallback = &TTaskPropertiesDialog::SheetCallback;
    for (TPageType kind : {ptTask, ptSchedule, ptSettings}) {
        if (!FPages.Contains(kind)) continue;
        HPROPSHEETPAGE page = nullptr;
        // A page the service cannot make is left out; with none the sheet is not shown.
        if (SUCCEEDED(provider->GetPage(static_cast<TASKPAGE>(kind), kPersistChanges, &page)) && page)
            header.phpage.append(page);
    }

    SheetBeingOpened = this;
    bool shown = false;
    try {
        // The sheet is application-modal: the other windows take no input while it is shown.
        shown = PropertySheetW(&header) > 0;
        SheetBeingOpened = nullptr;
        FDialogHandle = nullptr;
        FDefDlgProc = nullptr;
        FTask->GetTriggers()->InitTriggers();
    } catch (...) {
        SheetBeingOpened = nullptr;
        FDialogHandle = nullptr;
        FDefDlgProc = nullptr;
        if (activeWindow) activeWindow->activateWindow();
        if (focused) focused->setFocus();
        throw;
    }
    if (activeWindow) activeWindow->activateWindow();
    if (focused) focused->setFocus();
    return shown;
}

int TTaskPropertiesDialog::SheetCallback(HWND hwndDlg, UINT uMsg, LPARAM)
{
    if (uMsg != PSCB_INITIALIZED) return 1;
    TTaskPropertiesDialog* self = SheetBeingOpened;
    if (!self) return 1;
    self->FDialogHandle = hwndDlg;
    self->FDefDlgProc = SetSheetProc(hwndDlg, self->FObjectInstance);
    SheetBeingOpened = nullptr;
    return 1;
}

LRESULT TTaskPropertiesDialog::WndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = FDefDlgProc ? FDefDlgProc(hwnd, uMsg, wParam, lParam) : 0;
    if (uMsg == WM_COMMAND && LOWORD(wParam) == ID_APPLY_NOW && FOnApply) {
        FTask->GetTriggers()->InitTriggers();
        FOnApply(this, FTask);
    }
    return result;
}
