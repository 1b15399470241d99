#pragma once
// The action editor: shows one action of a task; program actions can be changed, e-mail and
// message actions are shown read-only since the service no longer carries them out.

#include "TActionRecord.h"

#include <QDialog>
#include <memory>

class QFileDialog;

namespace Ui {
class TfrmEditTaskAction2;
}

/// Edits `AAction`. For an existing action (`ANewAction` false) the form shows the record and,
/// on OK, writes a program record's fields back into it. For a new action the form starts
/// with an empty program page and, on OK, creates the record (owned by the caller from then
/// on) and returns it through `AAction`. True when the user confirmed; otherwise nothing is
/// changed and, for a new action, no record exists.
bool EditTaskAction(TActionRecord*& AAction, bool ANewAction);

/// The editor form behind `EditTaskAction`.
class TfrmEditTaskAction2 : public QDialog {
    Q_OBJECT

public:
    explicit TfrmEditTaskAction2(QWidget* AParent = nullptr);
    ~TfrmEditTaskAction2() override;

    /// Creation: the type list at its first item, the program page, the OK state.
    void FormCreate();
    /// Shows the page of the selected type.
    void cbActionTypeChange();
    /// OK is enabled only on the program page and with a program name that is not blank.
    void acOKButtonUpdate();
    /// Closes the form with the OK result.
    void acOKButtonExecute();
    /// Lets the user pick the program file, starting from the name typed.
    void btExeNameClick();

    /// Shows `ARecord`: its type's page, filled from its fields.
    void ShowRecord(const TActionRecord& ARecord);
    /// The selected type's list index.
    int SelectedIndex() const;
    /// Copies the program page into `ARecord` when it is a program record; other kinds stay as they are.
    void StoreRecord(TActionRecord& ARecord) const;

    /// The file-open dialog of `btExeNameClick`.
    QFileDialog* odExeFileName;

    /// The text of the e-mail page's attachment field for `AAttachments`: the items separated by
    /// commas, each quoted when it holds a blank, a comma or a double quote (quotes doubled).
    static QString CommaText(const QStringList& AAttachments);

private:
    /// The list index of an action type: e-mail 1, message 2, any other 0.
    static int ActionTypeToIndex(TASK_ACTION_TYPE AType);

    std::unique_ptr<Ui::TfrmEditTaskAction2> ui;
};
