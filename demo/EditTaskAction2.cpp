#include "EditTaskAction2.h"
#include "ui_EditTaskAction2.h"

#include <QApplication>
#include <QFileDialog>
#include <QStyle>

bool EditTaskAction(TActionRecord*& AAction, bool ANewAction)
{
    TfrmEditTaskAction2 form(QApplication::activeWindow());
    form.setWindowTitle(QStringLiteral("New Action"));
    if (!ANewAction && AAction) {
        form.setWindowTitle(QStringLiteral("Edit Action"));
        form.ShowRecord(*AAction);
    }
    if (form.exec() != QDialog::Accepted) return false;
    if (ANewAction) {
        switch (form.SelectedIndex()) {
        case 1: AAction = new TEmailActionRecord; break;
        case 2: AAction = new TShowMessageActionRecord; break;
        default: AAction = new TExecActionRecord; break;
        }
    }
    if (AAction) form.StoreRecord(*AAction);
    return true;
}

TfrmEditTaskAction2::TfrmEditTaskAction2(QWidget* AParent)
    : QDialog(AParent), odExeFileName(new QFileDialog(this)), ui(std::make_unique<Ui::TfrmEditTaskAction2>())
{
    ui->setupUi(this);
    setFixedSize(600, 520);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    odExeFileName->setObjectName(QStringLiteral("odExeFileName"));
    odExeFileName->setWindowTitle(QStringLiteral("Open"));
    // Programs here seldom carry an extension: "all files" means every name, not "*.*".
    odExeFileName->setNameFilter(QStringLiteral("All Files (*)"));
    odExeFileName->setFileMode(QFileDialog::ExistingFile);
    odExeFileName->setAcceptMode(QFileDialog::AcceptOpen);
    odExeFileName->setSizeGripEnabled(true);
    odExeFileName->setOption(QFileDialog::DontUseNativeDialog);

    const QPixmap info = style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32);
    ui->imgEmailInfo->setPixmap(info);
    ui->imgMessageInfo->setPixmap(info);

    connect(ui->btOK, &QPushButton::clicked, ui->acOKButton, &QAction::trigger);
    connect(ui->acOKButton, &QAction::changed, this, [this] { ui->btOK->setEnabled(ui->acOKButton->isEnabled()); });
    connect(ui->acOKButton, &QAction::triggered, this, &TfrmEditTaskAction2::acOKButtonExecute);
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btExeName, &QPushButton::clicked, this, &TfrmEditTaskAction2::btExeNameClick);
    connect(ui->cbActionType, &QComboBox::currentIndexChanged, this, &TfrmEditTaskAction2::cbActionTypeChange);
    connect(ui->edExeName, &QLineEdit::textChanged, this, &TfrmEditTaskAction2::acOKButtonUpdate);
    FormCreate();
}

TfrmEditTaskAction2::~TfrmEditTaskAction2() = default;

void TfrmEditTaskAction2::FormCreate()
{
    ui->cbActionType->setCurrentIndex(0);
    cbActionTypeChange();
}

void TfrmEditTaskAction2::cbActionTypeChange()
{
    ui->pcTaskActions->setCurrentIndex(ui->cbActionType->currentIndex());
    acOKButtonUpdate();
}

void TfrmEditTaskAction2::acOKButtonUpdate()
{
    ui->acOKButton->setEnabled(ui->pcTaskActions->currentWidget() == ui->tsExe
                               && !ui->edExeName->text().trimmed().isEmpty());
}

void TfrmEditTaskAction2::acOKButtonExecute()
{
    // The action is also reachable by the default button's Enter while OK is off.
    if (ui->acOKButton->isEnabled()) accept();
}

void TfrmEditTaskAction2::btExeNameClick()
{
    odExeFileName->selectFile(ui->edExeName->text());
    if (odExeFileName->exec() == QDialog::Accepted && !odExeFileName->selectedFiles().isEmpty())
        ui->edExeName->setText(odExeFileName->selectedFiles().constFirst());
}

void TfrmEditTaskAction2::ShowRecord(const TActionRecord& ARecord)
{
    ui->cbActionType->setCurrentIndex(ActionTypeToIndex(ARecord.type_));
    cbActionTypeChange();
    if (const auto* exec = dynamic_cast<const TExecActionRecord*>(&ARecord)) {
        ui->edExeName->setText(exec->Path);
        ui->edExeArgs->setText(exec->Arguments);
        ui->edExeStartIn->setText(exec->WorkingDirectory);
    } else if (const auto* mail = dynamic_cast<const TEmailActionRecord*>(&ARecord)) {
        ui->edEmailFrom->setText(mail->From);
        ui->edEmailTo->setText(mail->To_);
        ui->edEmailSubject->setText(mail->Subject);
        ui->memEmailText->setPlainText(mail->Body);
        ui->edEmailAttachment->setText(CommaText(mail->Attachments));
        ui->edEmailSMTPServer->setText(mail->Server);
    } else if (const auto* message = dynamic_cast<const TShowMessageActionRecord*>(&ARecord)) {
        ui->edMessageTitle->setText(message->Title);
        ui->memMessageText->setPlainText(message->MessageBody);
    }
}

int TfrmEditTaskAction2::SelectedIndex() const
{
    return ui->cbActionType->currentIndex();
}

void TfrmEditTaskAction2::StoreRecord(TActionRecord& ARecord) const
{
    auto* exec = dynamic_cast<TExecActionRecord*>(&ARecord);
    if (!exec) return;
    exec->Path = ui->edExeName->text();
    exec->Arguments = ui->edExeArgs->text();
    exec->WorkingDirectory = ui->edExeStartIn->text();
}

QString TfrmEditTaskAction2::CommaText(const QStringList& AAttachments)
{
    QStringList parts;
    for (const QString& item : AAttachments) {
        const bool quote = item.isEmpty() || std::any_of(item.cbegin(), item.cend(), [](QChar c) {
                               return c.unicode() <= u' ' || c == u',' || c == u'"';
                           });
        parts << (quote ? QLatin1Char('"') + QString(item).replace(QStringLiteral("\""), QStringLiteral("\"\""))
                              + QLatin1Char('"')
                        : item);
    }
    return parts.join(QLatin1Char(','));
}

int TfrmEditTaskAction2::ActionTypeToIndex(TASK_ACTION_TYPE AType)
{
    switch (AType) {
    case TASK_ACTION_SEND_EMAIL: return 1;
    case TASK_ACTION_SHOW_MESSAGE: return 2;
    default: return 0;
    }
}
