#pragma once
// Asks for the password of the account a task runs under, twice.

#include <QDialog>
#include <memory>

namespace Ui {
class SetPasswordDialog;
}

/// Accepts only when both entries agree.
class SetPasswordDialog : public QDialog {
    Q_OBJECT
public:
    /// A dialog for the password of `account`.
    explicit SetPasswordDialog(const QString& account, QWidget* parent = nullptr);
    ~SetPasswordDialog() override;

    /// The password entered.
    QString Password() const;

    void accept() override;

private:
    std::unique_ptr<Ui::SetPasswordDialog> ui;
};
