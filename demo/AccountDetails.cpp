#include "AccountDetails.h"
#include "ui_AccountDetails.h"

#include "Exceptions.h"
#include "TErrorReport.h"
#include "TUserPrompts.h"
#include "kvTask.h"

#include <QApplication>

bool ExecuteAccountDialog(QString& AName, QString& APassword, bool AGroupMode, const TAccountCheck& ACheck)
{
    TfrmTaskAccount form(QApplication::activeWindow());
    form.Prepare(AName, APassword, AGroupMode);
    form.SetCheck(ACheck);
    if (form.exec() != QDialog::Accepted) return false;
    form.Entries(AName, APassword);
    return true;
}

TAccountCheck SetTaskAccount(TTaskItem* ATask, bool AGroupMode)
{
    return [ATask, AGroupMode](const QString& AName, const QString& APassword) {
        if (AGroupMode)
            ATask->SetAccountInformation(QString(), APassword, AName);
        else
            ATask->SetAccountInformation(AName, APassword, QString());
    };
}

TfrmTaskAccount::TfrmTaskAccount(QWidget* AParent) : QDialog(AParent), ui(std::make_unique<Ui::TfrmTaskAccount>())
{
    ui->setupUi(this);
    setFixedSize(458, 154);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // Every typed character shows as "*", whatever the style's own mask character is.
    ui->edPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    connect(ui->ckbShowPassword, &QCheckBox::toggled, this, &TfrmTaskAccount::ckbShowPasswordClick);
    connect(ui->ckbUseSystem, &QCheckBox::toggled, this, &TfrmTaskAccount::ckbUseSystemClick);
    connect(ui->btOK, &QPushButton::clicked, this, &TfrmTaskAccount::btOKClick);
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TfrmTaskAccount::~TfrmTaskAccount() = default;

void TfrmTaskAccount::Prepare(const QString& AName, const QString& APassword, bool AGroupMode)
{
    if (AGroupMode) {
        ui->labUserName->setText(QStringLiteral("Group ID:"));
        for (QWidget* w : {static_cast<QWidget*>(ui->labPassword), static_cast<QWidget*>(ui->edPassword),
                           static_cast<QWidget*>(ui->ckbShowPassword), static_cast<QWidget*>(ui->ckbUseSystem)})
            w->hide();
        ui->edUserName->setText(AName);
        return;
    }
    const bool admin = IsUserAdmin();
    ui->ckbUseSystem->setEnabled(admin);
    ui->edUserName->setText(AName);
    ui->edPassword->setText(APassword);
    ui->ckbUseSystem->setChecked(admin
                                 && ((AName.isEmpty() && APassword.isEmpty())
                                     || AName.toLower() == QStringLiteral("system")));
    ckbUseSystemClick();
}

void TfrmTaskAccount::Entries(QString& AName, QString& APassword) const
{
    if (ui->ckbUseSystem->isChecked()) {
        AName.clear();
        APassword.clear();
        return;
    }
    AName = ui->edUserName->text();
    APassword = ui->edPassword->text();
}

void TfrmTaskAccount::ckbShowPasswordClick()
{
    ui->edPassword->setEchoMode(ui->ckbShowPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}

void TfrmTaskAccount::ckbUseSystemClick()
{
    const bool own = !ui->ckbUseSystem->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(ui->labUserName), static_cast<QWidget*>(ui->edUserName),
                       static_cast<QWidget*>(ui->labPassword), static_cast<QWidget*>(ui->edPassword),
                       static_cast<QWidget*>(ui->ckbShowPassword)})
        w->setEnabled(own);
}

void TfrmTaskAccount::btOKClick()
{
    if (FCheck) {
        QString name;
        QString password;
        Entries(name, password);
        try {
            FCheck(name, password);
        } catch (const Exception& e) {
            TUserPrompts prompts;
            TErrorReport::Show(prompts, this, e);
            // What was typed stays for correction; a refused password is not kept on screen.
            ui->edPassword->clear();
            ui->edPassword->setFocus();
            return;
        }
    }
    accept();
}
