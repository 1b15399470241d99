#include "SelectActions.h"
#include "ui_SelectActions.h"

#include <QKeyEvent>

TSelectActionsForm* SelectActionsForm = nullptr;

TSelectActionsForm::TSelectActionsForm(QWidget* AParent)
    : QDialog(AParent), ui(std::make_unique<Ui::TSelectActionsForm>())
{
    ui->setupUi(this);
    setFixedSize(187, 123);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TSelectActionsForm::BitBtn1Click);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &TSelectActionsForm::BitBtn2Click);
}

TSelectActionsForm::~TSelectActionsForm() = default;

void TSelectActionsForm::BitBtn1Click()
{
    int result = mrNone;
    if (ui->rbtApplication->isChecked())
        result = 1;
    else if (ui->rbtMail->isChecked())
        result = 6;
    else if (ui->rbtMessage->isChecked())
        result = 14;
    done(result);
}

void TSelectActionsForm::BitBtn2Click()
{
    // Exclusive radio buttons refuse to be unchecked one by one: lift the rule meanwhile.
    for (QRadioButton* button : {ui->rbtApplication, ui->rbtMail, ui->rbtMessage}) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
    done(mrCancel);
}

void TSelectActionsForm::reject()
{
    done(mrCancel);
}

void TSelectActionsForm::keyPressEvent(QKeyEvent* AEvent)
{
    if (AEvent->key() == Qt::Key_Escape && AEvent->modifiers() == Qt::NoModifier) {
        ui->BitBtn2->click();
        return;
    }
    QDialog::keyPressEvent(AEvent);
}
