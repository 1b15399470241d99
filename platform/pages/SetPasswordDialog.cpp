#include "SetPasswordDialog.h"

#include "ui_SetPasswordDialog.h"

#include <QMessageBox>

SetPasswordDialog::SetPasswordDialog(const QString& account, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::SetPasswordDialog>())
{
    ui->setupUi(this);
    if (!account.isEmpty()) setWindowTitle(tr("Set Password for %1").arg(account));
    connect(ui->bbButtons, &QDialogButtonBox::accepted, this, &SetPasswordDialog::accept);
    connect(ui->bbButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SetPasswordDialog::~SetPasswordDialog() = default;

QString SetPasswordDialog::Password() const
{
    return ui->edPassword->text();
}

void SetPasswordDialog::accept()
{
    if (ui->edPassword->text() != ui->edConfirm->text()) {
        QMessageBox::warning(this, windowTitle(), tr("Confirm password: the passwords do not match."));
        ui->edConfirm->clear();
        ui->edConfirm->setFocus();
        return;
    }
    QDialog::accept();
}
