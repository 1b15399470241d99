#include "TTargetComputerDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TTargetComputerDialog::TTargetComputerDialog(const QString& ATitle, const QStringList& AHosts, QWidget* AParent)
    : QDialog(AParent), edComputer(new QLineEdit(this)), lvHosts(new QListWidget(this))
{
    setObjectName(QStringLiteral("TTargetComputerDialog"));
    setWindowTitle(QStringLiteral("Target Computer"));
    edComputer->setObjectName(QStringLiteral("edComputer"));
    lvHosts->setObjectName(QStringLiteral("lvHosts"));
    lvHosts->addItems(AHosts);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    connect(edComputer, &QLineEdit::textChanged, ok,
            [ok](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    connect(lvHosts, &QListWidget::currentTextChanged, edComputer, &QLineEdit::setText);
    connect(lvHosts, &QListWidget::itemDoubleClicked, this, [this] {
        if (!Computer().isEmpty()) accept();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(ATitle, this);
    title->setObjectName(QStringLiteral("lblTitle"));
    layout->addWidget(title);
    layout->addWidget(edComputer);
    layout->addWidget(lvHosts);
    layout->addWidget(buttons);
    resize(360, 320);
}

QString TTargetComputerDialog::Computer() const
{
    return edComputer->text().trimmed();
}
