#include "TTargetComputerDialog.h"

#include "ui_TTargetComputerDialog.h"

TTargetComputerDialog::TTargetComputerDialog(const QString& ATitle, const QStringList& AHosts, QWidget* AParent)
    : QDialog(AParent), ui(std::make_unique<Ui::TTargetComputerDialog>())
{
    ui->setupUi(this);
    ui->lblTitle->setText(ATitle);
    ui->lvHosts->addItems(AHosts);
    connect(ui->edComputer, &QLineEdit::textChanged, this,
            [this] { ui->btOK->setEnabled(!Computer().isEmpty()); });
    connect(ui->lvHosts, &QListWidget::currentTextChanged, ui->edComputer, &QLineEdit::setText);
    connect(ui->lvHosts, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        ui->edComputer->setText(item->text());
        if (!Computer().isEmpty()) accept();
    });
}

TTargetComputerDialog::~TTargetComputerDialog() = default;

QString TTargetComputerDialog::Computer() const
{
    return ui->edComputer->text().trimmed();
}
