#pragma once
// The account a task runs under: a user name and password, the system account, or (in group
// mode) a group identifier.

#include <QDialog>
#include <functional>
#include <memory>

class TTaskItem;

namespace Ui {
class TfrmTaskAccount;
}

/// Puts the account the user confirmed into effect, e.g. by registering the task with it.
/// Raising an `Exception` refuses it: the form shows the error's text and stays open.
using TAccountCheck = std::function<void(const QString& AName, const QString& APassword)>;

/// Asks for the account. On OK `AName` and `APassword` receive the user's entries (both empty
/// for the system account; the password empty in group mode) and the result is true; on
/// Cancel they keep their values. With `ACheck` the entries are handed to it before the form
/// closes: when it refuses them, the user sees why and can correct them (the password field
/// is cleared), and Cancel then still leaves the caller's strings unchanged.
bool ExecuteAccountDialog(QString& AName, QString& APassword, bool AGroupMode, const TAccountCheck& ACheck = {});

/// The check that sets `ATask`'s account as the task windows do: in group mode the name is the
/// group (`SetAccountInformation` with no account name), otherwise the account name with its
/// password. The service registers the task at once and refuses a wrong password with its text.
TAccountCheck SetTaskAccount(TTaskItem* ATask, bool AGroupMode);

/// The form behind `ExecuteAccountDialog`.
class TfrmTaskAccount : public QDialog {
    Q_OBJECT

public:
    explicit TfrmTaskAccount(QWidget* AParent = nullptr);
    ~TfrmTaskAccount() override;

    /// Fills the form for `AName` and `APassword`; in group mode only the group identifier shows.
    void Prepare(const QString& AName, const QString& APassword, bool AGroupMode);
    /// The name and password the form stands for: both empty while the system account is chosen.
    void Entries(QString& AName, QString& APassword) const;
    /// The entries are checked by `ACheck` when OK is pressed (none: OK closes at once).
    void SetCheck(TAccountCheck ACheck) { FCheck = std::move(ACheck); }

    /// Shows the password in clear while "Show password" is checked, as "*" otherwise.
    void ckbShowPasswordClick();
    /// The name and password can be edited only while the system account is not chosen.
    void ckbUseSystemClick();
    /// OK: closes with the OK result once the check, if any, accepts the entries.
    void btOKClick();

private:
    std::unique_ptr<Ui::TfrmTaskAccount> ui;
    TAccountCheck FCheck;
};
