#pragma once
// The classic properties dialog of one task, for both interface generations, and the duration
// conversions of its lists, which the 2.0 properties form shares.

#include "kvTaskTypes.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class QCheckBox;
class QComboBox;
class QListWidget;
class TTaskItem;
class TTaskPropertiesDialog;
class TTrigger;
class TUserPrompts;

namespace Ui {
class TPropsDlg;
}

/// Edits `ATask` in the classic properties dialog; true when the user confirmed and the changes
/// were saved. Messages about bad input and the file chooser go through `APrompts` (null: the
/// standard dialogs). Errors of the service propagate to the caller; the dialog is gone then.
bool ShowTaskProperties(TTaskItem* ATask, TUserPrompts* APrompts = nullptr);

/// The service's duration text of a duration list's item text: empty for empty text, "PT0S"
/// for a zero item (text not beginning with a digit, such as "Immediately"), the text unchanged
/// when it has no blank (a plain number), else "P%dD", "PT%dH" or "PT%dM" by the first letter
/// of the unit ("d", "h", anything else minutes).
QString GetTimeString(const QString& Text);

/// The index of the item of `Items` that denotes the duration `Value`, -1 when none: 0 for
/// "PT0S" when `IncludesZero`; for a day or more the item "%d day"/"%d days" of the whole days;
/// below a day the first item whose GetTimeString equals `Value` (letter case ignored).
int GetTimeIndex(const QStringList& Items, const QString& Value, bool IncludesZero);

/// The dialog. Each page has a panel for the 1.0 and one for the 2.0 generation; only the one
/// of the generation in force is shown. The schedule page lists the triggers; in 2.0 it shows
/// the selected one in a panel of its kind and writes it back on OK, in 1.0 "&Edit..." opens
/// the service's own pages. OK first checks every page and keeps the dialog open with a message
/// naming the field when something cannot be stored; only then are the values written.
class TPropsDlg : public QDialog {
    Q_OBJECT

public:
    /// The dialog for `ATask` (not owned), read from the task. The task must be activated.
    explicit TPropsDlg(TTaskItem* ATask, TUserPrompts* APrompts = nullptr, QWidget* AParent = nullptr);
    ~TPropsDlg() override;

    /// Selects the first page, the grid's column widths and the duration lists' defaults.
    void FormCreate();
    /// Shows the 2.0 week list or the 1.0 week chooser.
    void FormShow();

    /// Reads the 1.0 task into the controls.
    void ReadTask10Properties();
    /// Writes the controls into the 1.0 task object.
    void WriteTask10Properties();
    /// Reads the 2.0 task into the controls.
    void ReadTask20Properties();
    /// Writes the controls into the 2.0 task definition, the account last (it registers).
    void WriteTask20Properties();

    /// The problem that keeps OK from storing the pages ("field: why"), empty when there is none.
    QString CheckInput() const;

    // ---- task page --------------------------------------------------------------------
    void btnBrowseClick();
    void Button1Click();
    void btnAddActionClick();
    void btDeleteActionClick();
    /// Moves to grid row `ARow` (1-based action number): stores the row being left first.
    void StringGrid1SelectCell(int ARow);
    /// Shows the detail panel of the kind of row `ARow`.
    void ShowActionPanel(int ARow);
    /// Fills the detail panel from action `ARow` and shows it.
    void LoadActionPanel(int ARow);
    /// Writes the detail panel into action `ARow`.
    void StoreActionPanel(int ARow);
    /// Stores every row's panel into its action.
    void StoreAllActions();
    void UpdateApplicationIcon();

    // ---- settings page ------------------------------------------------------------------
    void clbFlagsClickCheck();
    void CheckTaskFailsClick();
    void CheckStopRuningClick();
    void CheckDeleteAfterClick();
    /// Recomputes the 2.0 settings panel's enabled and checked states.
    void RefreshStates();

    // ---- schedule page ------------------------------------------------------------------
    /// Fills the run-time labels and the trigger list, and shows the first trigger.
    void RefreshSchedule();
    /// Shows the trigger selected in the list in the panel of its kind (2.0).
    void ShowTrigger();
    /// Writes the panels back into the selected trigger and pushes the triggers into the task.
    void StoreTrigger();
    void btnEditClick();
    /// The service's pages were applied: reads the schedule again.
    void TaskPropertiesDialog1Apply(TTaskPropertiesDialog* Sender, TTaskItem* ATask);
    /// Takes over the flags and idle minutes that the service's pages changed in the task.
    void TakeSheetSettings();
    void cbScheduleChange();
    void rbEveryClick();
    void rbEveryDayClick();
    /// Allows a change of the delay only within the up-down's range.
    void udDelayMinutesChangingEx(QObject* Sender, bool& AllowChange, int NewValue, int Direction);

    /// The task being edited.
    TTaskItem* FTask;
    /// True while RefreshStates sets check boxes, so that their click handlers do nothing.
    bool IsRefreshing = false;

    /// The text of a grid cell (`ARow` 1-based, column 0 kind, 1 details); empty outside the grid.
    QString GridCell(int ARow, int ACol) const;
    /// The number of grid rows with the header row counted, as the actions' numbering has it.
    int GridRowCount() const;
    /// The selected grid row (1-based), 0 for none.
    int GridSelectedRow() const;

    void accept() override;

private:
    /// Runs a handler and shows what it raises.
    template <typename F>
    void Guarded(F AHandler);
    bool IsVista() const;
    TUserPrompts& Prompts() const;
    void SetGridRowCount(int ARows);
    void SetGridCell(int ARow, int ACol, const QString& AText);
    void SelectGridRow(int ARow);
    /// The schedule page's part of CheckInput.
    QString CheckScheduleInput() const;
    /// The panels' check boxes carrying the tag bits of a mask.
    QList<QCheckBox*> DayBoxes() const;
    QList<QCheckBox*> MonthBoxes() const;
    static QStringList ComboItems(const QComboBox* ACombo);
    static void SetListChecks(QListWidget* AList, quint32 AMask);
    static quint32 ListChecks(const QListWidget* AList);

    std::unique_ptr<Ui::TPropsDlg> ui;
    std::unique_ptr<TUserPrompts> FOwnPrompts;
    TUserPrompts* FPrompts;
    TTaskPropertiesDialog* TaskPropertiesDialog1 = nullptr;
    int FGridRow = 0;
    /// 1.0: the stored flags and idle minutes the page shows, to tell what the service's pages change.
    TTaskFlags FSheetFlags;
    TIdleTime FSheetIdle{};
};
