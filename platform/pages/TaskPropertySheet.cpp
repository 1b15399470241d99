#include "TaskPropertySheet.h"

#include "ResultCodes.h"
#include "TaskPropertyPage.h"
#include "ui_TaskPropertySheet.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

TaskPropertySheet::TaskPropertySheet(const PROPSHEETHEADERW& header)
    : QDialog(header.hwndParent), ui(std::make_unique<Ui::TaskPropertySheet>())
{
    ui->setupUi(this);
    setWindowTitle(TitleFor(header));
    setWindowModality(Qt::ApplicationModal);
    if ((header.dwFlags & PSH_USEHICON) && header.hIcon) setWindowIcon(*header.hIcon);
    setWindowFlag(Qt::WindowContextHelpButtonHint, !(header.dwFlags & PSH_NOCONTEXTHELP));
    ui->btnApply->setVisible(!(header.dwFlags & PSH_NOAPPLYNOW));
    ui->btnApply->setProperty("commandId", int(ID_APPLY_NOW));
    ui->btnOK->setProperty("commandId", int(IDOK));
    ui->btnCancel->setProperty("commandId", int(IDCANCEL));
    for (HPROPSHEETPAGE page : header.phpage) {
        if (!page) continue;
        m_pages.append(page);
        auto* taskPage = qobject_cast<TaskPropertyPage*>(page);
        ui->tabPages->addTab(page, taskPage ? taskPage->Title() : page->windowTitle());
        if (taskPage) connect(taskPage, &TaskPropertyPage::Changed, this, [this] { ui->btnApply->setEnabled(true); });
    }
    if (int(header.nStartPage) < ui->tabPages->count()) ui->tabPages->setCurrentIndex(int(header.nStartPage));
    m_proc = [this](HWND hwnd, UINT msg, WPARAM w, LPARAM l) { return DefaultProc(hwnd, msg, w, l); };
    connect(ui->btnOK, &QPushButton::clicked, this, [this] { Command(IDOK); });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { Command(IDCANCEL); });
    connect(ui->btnApply, &QPushButton::clicked, this, [this] { Command(ID_APPLY_NOW); });
}

TaskPropertySheet::~TaskPropertySheet() = default;

QString TaskPropertySheet::TitleFor(const PROPSHEETHEADERW& header)
{
    if (header.dwFlags & PSH_PROPTITLE) return tr("%1 Properties").arg(header.pszCaption);
    return header.pszCaption;
}

INT_PTR TaskPropertySheet::Show(const PROPSHEETHEADERW& header)
{
    bool anyPage = false;
    for (HPROPSHEETPAGE page : header.phpage) anyPage = anyPage || page;
    if (!anyPage) {
        for (HPROPSHEETPAGE page : header.phpage) delete page;
        return -1;
    }
    TaskPropertySheet sheet(header);
    if ((header.dwFlags & PSH_USECALLBACK) && header.pfnCallback) header.pfnCallback(&sheet, PSCB_INITIALIZED, 0);
    sheet.exec();
    return sheet.ChangesApplied() ? 1 : 0;
}

SHEETPROC TaskPropertySheet::ReplaceProc(SHEETPROC proc)
{
    SHEETPROC previous = std::move(m_proc);
    m_proc = std::move(proc);
    return previous;
}

LRESULT TaskPropertySheet::Command(WORD id)
{
    // Keep the procedure alive while it runs: it may replace itself.
    const SHEETPROC proc = m_proc;
    return proc ? proc(this, WM_COMMAND, MAKEWPARAM(id, 0), 0) : 0;
}

LRESULT TaskPropertySheet::DefaultProc(HWND, UINT uMsg, WPARAM wParam, LPARAM)
{
    if (uMsg != WM_COMMAND) return 0;
    switch (LOWORD(wParam)) {
    case IDOK:
        if (!ApplyPages()) return 0;
        accept();
        return 1;
    case ID_APPLY_NOW:
        if (!ui->btnApply->isVisible() || !ApplyPages()) return 0;
        ui->btnApply->setEnabled(false);
        return 1;
    case IDCANCEL:
        QDialog::reject();
        return 1;
    default:
        return 0;
    }
}

void TaskPropertySheet::reject()
{
    // Escape and the window's close button are the Cancel command.
    Command(IDCANCEL);
}

bool TaskPropertySheet::ApplyPages()
{
    QList<TaskPropertyPage*> pages;
    for (QWidget* page : m_pages) {
        if (auto* taskPage = qobject_cast<TaskPropertyPage*>(page)) pages.append(taskPage);
    }
    for (TaskPropertyPage* page : pages) {
        QString message;
        QWidget* field = nullptr;
        if (page->Validate(&message, &field)) continue;
        ui->tabPages->setCurrentWidget(page);
        QMessageBox::warning(this, windowTitle(), message);
        if (field) field->setFocus();
        return false;
    }
    for (TaskPropertyPage* page : pages) {
        if (const HRESULT hr = page->Apply(); FAILED(hr)) {
            ui->tabPages->setCurrentWidget(page);
            QMessageBox::critical(this, windowTitle(), ResultText(hr));
            return false;
        }
        // What a page saved stays saved even when a later page fails.
        m_applied = true;
    }
    m_applied = true;
    return true;
}
