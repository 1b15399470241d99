#pragma once
// The common property sheet: the pages as tabs, with OK, Cancel and Apply.

#include "PropSheet.h"

#include <QDialog>
#include <QList>
#include <memory>

namespace Ui {
class TaskPropertySheet;
}
class TaskPropertyPage;

/// A modal sheet of property pages. Every button press goes through the sheet's procedure
/// as a command (WM_COMMAND with the button's id: IDOK, IDCANCEL, ID_APPLY_NOW); the
/// procedure can be replaced, and the sheet's own one applies and closes.
class TaskPropertySheet : public QDialog {
    Q_OBJECT
public:
    /// A sheet set up from `header`, holding its pages (which it frees).
    explicit TaskPropertySheet(const PROPSHEETHEADERW& header);
    ~TaskPropertySheet() override;

    /// Shows the sheet as PropertySheetW does and returns its result.
    static INT_PTR Show(const PROPSHEETHEADERW& header);
    /// The sheet's title for `header` (the caption, or "<caption> Properties").
    static QString TitleFor(const PROPSHEETHEADERW& header);

    /// Replaces the procedure and returns the previous one.
    SHEETPROC ReplaceProc(SHEETPROC proc);
    /// Sends a command to the current procedure, as a button press does.
    LRESULT Command(WORD id);
    /// The sheet's own procedure: carries the commands out.
    LRESULT DefaultProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    /// Whether any page's changes were applied since the sheet opened.
    bool ChangesApplied() const { return m_applied; }

protected:
    void reject() override;

private:
    /// Validates every page, then applies every page; false (with a message shown) when a
    /// page refuses its input or the task cannot be written.
    bool ApplyPages();

    std::unique_ptr<Ui::TaskPropertySheet> ui;
    QList<QWidget*> m_pages;
    SHEETPROC m_proc;
    bool m_applied = false;
};
