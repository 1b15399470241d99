#include "Props.h"
#include "ui_Props.h"

#include "Exceptions.h"
#include "TErrorReport.h"
#include "TUserPrompts.h"
#include "TaskService2.h"
#include "kvTask.h"
#include "kvUtils.h"

#include "AccountDetails.h"
#include "SelectActions.h"
#include "kvDialogs.h"

#include <QBuffer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTableWidgetItem>

namespace {

// Kind texts of the action grid: the dialog's own, and those of the library's action list.
const QString kGridExec = QStringLiteral("Start a programm");
const QString kGridEMail = QStringLiteral("Send E-mail");
const QString kGridMessage = QStringLiteral("Display message");

enum TActionKind { akNone, akExec, akEMail, akMessage };

TActionKind KindOfText(const QString& AText)
{
    if (AText == kGridExec) return akExec;
    if (AText == kGridEMail || AText == SActionSendEmail) return akEMail;
    if (AText == kGridMessage || AText == SActionShowMessage) return akMessage;
    return akNone;
}

// The chooser's results, mapped to the service's action types.
constexpr int kChooseExec = 1;
constexpr int kChooseEMail = 6;
constexpr int kChooseMessage = 14;

constexpr int kIdleFlagItem = 6;        // "Start if the computer is idle"
constexpr int kLogonFlagItem = 12;      // "Start Only when user logged on"
constexpr int kXPIdleFlagItem = 5;      // "Start Only If Idle"
constexpr int kMaxBinaryData = 65535;   // the 1.0 work-item data count is a 16-bit word

/// The binary data is kept as text lines, CR LF between them, in UTF-8: what the memo shows
/// comes back byte for byte.
QByteArray MemoToBytes(const QString& AText)
{
    QStringList lines = AText.split(QLatin1Char('\n'));
    QString joined = lines.join(QStringLiteral("\r\n"));
    if (!joined.isEmpty()) joined += QStringLiteral("\r\n");
    return joined.toUtf8();
}

QString BytesToMemo(const QByteArray& ABytes)
{
    QString text = QString::fromUtf8(ABytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    return text;
}

bool Checked(const QListWidget* AList, int AItem)
{
    return AList->item(AItem)->checkState() == Qt::Checked;
}

void SetChecked(QListWidget* AList, int AItem, bool AChecked)
{
    AList->item(AItem)->setCheckState(AChecked ? Qt::Checked : Qt::Unchecked);
}

/// The edit part of an edit and up-down pair, named after the edit.
void NameSpinEdit(QSpinBox* ASpin, const char* AName)
{
    if (auto* edit = ASpin->findChild<QLineEdit*>()) edit->setObjectName(QString::fromLatin1(AName));
}

/// Raises the service's error when the 2.0 task is no longer registered where it is saved.
void ConfirmRegistered(TTaskItem* ATask)
{
    TTaskScheduler* scheduler = ATask->GetTaskScheduler();
    ComPtr<ITaskFolder> folder;
    OleCheck(scheduler->VistaRootFolder()->GetFolder(scheduler->CurrentFolderPath, folder.Put()));
    ComPtr<IRegisteredTask> registered;
    OleCheck(folder->GetTask(ATask->GetName(), registered.Put()));
}

} // namespace

// ---- entry point --------------------------------------------------------------------------

bool ShowTaskProperties(TTaskItem* ATask, TUserPrompts* APrompts)
{
    if (!ATask) return false;
    ATask->Activate();
    const bool vista = ATask->GetTaskScheduler()->RunningVistaOrLater();
    bool ok = false;
    bool written = false;
    // A 1.0 task object is released whatever happens, without saving unless OK wrote it.
    const auto release = qScopeGuard([&] {
        if (!vista && !written) {
            try {
                ATask->Deactivate(false);
            } catch (...) {
            }
        }
    });
    auto dialog = std::make_unique<TPropsDlg>(ATask, APrompts);
    ok = dialog->exec() == QDialog::Accepted;
    if (ok) {
        // Saving creates a task that is missing: one deleted by someone else while the dialog
        // was open would come back. The service says why it cannot be found instead.
        if (vista) {
            ConfirmRegistered(ATask);
            dialog->WriteTask20Properties();
        } else {
            // Loads the stored task again (raising when it is gone), with what the service's own
            // pages saved meanwhile; the dialog's values are written into it.
            ATask->Activate();
            dialog->WriteTask10Properties();
        }
    }
    written = true;
    ATask->Deactivate(ok);
    return ok;
}

// ---- the dialog ---------------------------------------------------------------------------

TPropsDlg::TPropsDlg(TTaskItem* ATask, TUserPrompts* APrompts, QWidget* AParent)
    : QDialog(AParent), FTask(ATask), ui(std::make_unique<Ui::TPropsDlg>())
{
    if (!APrompts) FOwnPrompts = std::make_unique<TUserPrompts>();
    FPrompts = APrompts ? APrompts : FOwnPrompts.get();
    ui->setupUi(this);
    NameSpinEdit(ui->udIdleMinutes, "seIdleMinutes");
    NameSpinEdit(ui->udDeadlineMinutes, "seDeadlineMinutes");
    NameSpinEdit(ui->udRestartCount, "EditRestartCount");
    NameSpinEdit(ui->udIntervalDaily, "seIntervalDaily");
    NameSpinEdit(ui->udWeekInterval, "seWeekInterval");
    NameSpinEdit(ui->udDelayMinutes, "edDelayMinutes");
    ui->cbWhichWeek->setCurrentIndex(-1);
    // The task's name is shown, not edited: it takes the colour of a button face.
    QPalette face = ui->edtTaskName->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    ui->edtTaskName->setPalette(face);
    // The flag lists show their items in two columns: half of them fit one column's height.
    for (QListWidget* list : {ui->clbFlags, ui->ListVistaFlags}) {
        const int rows = (list->count() + 1) / 2;
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setFixedHeight(rows * list->sizeHintForRow(0) + 2 * list->frameWidth() + 4);
        list->setMinimumWidth(2 * list->sizeHintForColumn(0) + 2 * list->frameWidth() + 24);
    }

    TaskPropertiesDialog1 = new TTaskPropertiesDialog(this);
    TaskPropertiesDialog1->setObjectName(QStringLiteral("TaskPropertiesDialog1"));
    TaskPropertiesDialog1->SetOptions(TTaskPropDlgOptions{otDisplayIcon});
    TaskPropertiesDialog1->SetPages(TPageTypes{ptSchedule, ptSettings});
    TaskPropertiesDialog1->SetTaskScheduler(FTask->GetTaskScheduler());
    TaskPropertiesDialog1->SetOnApply(
        [this](TTaskPropertiesDialog* Sender, TTaskItem* Task) { TaskPropertiesDialog1Apply(Sender, Task); });

    connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btnBrowse, &QPushButton::clicked, this, [this] { Guarded([this] { btnBrowseClick(); }); });
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(ui->btnAddAction, &QPushButton::clicked, this, [this] { Guarded([this] { btnAddActionClick(); }); });
    connect(ui->btDeleteAction, &QPushButton::clicked, this, [this] { Guarded([this] { btDeleteActionClick(); }); });
    connect(ui->StringGrid1, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int, int) { Guarded([this, row] { StringGrid1SelectCell(row + 1); }); });
    connect(ui->clbFlags, &QListWidget::itemChanged, this, [this] { Guarded([this] { clbFlagsClickCheck(); }); });
    connect(ui->ListVistaFlags, &QListWidget::itemChanged, this, [this] { Guarded([this] { clbFlagsClickCheck(); }); });
    connect(ui->CheckTaskFails, &QCheckBox::clicked, this, [this] { Guarded([this] { CheckTaskFailsClick(); }); });
    connect(ui->CheckStopRuning, &QCheckBox::clicked, this, [this] { Guarded([this] { CheckStopRuningClick(); }); });
    connect(ui->CheckDeleteAfter, &QCheckBox::clicked, this, [this] { Guarded([this] { CheckDeleteAfterClick(); }); });
    connect(ui->btnEdit, &QPushButton::clicked, this, [this] { Guarded([this] { btnEditClick(); }); });
    connect(ui->cbSchedule, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { cbScheduleChange(); }); });
    connect(ui->rbEvery, &QRadioButton::clicked, this, [this] { Guarded([this] { rbEveryClick(); }); });
    connect(ui->rbEveryDay, &QRadioButton::clicked, this, [this] { Guarded([this] { rbEveryDayClick(); }); });

    FormCreate();

    const bool vista = IsVista();
    ui->PanelXPTask->setVisible(!vista);
    ui->PanelXPSettings->setVisible(!vista);
    ui->PanelVistaTasks->setVisible(vista);
    ui->PanelVistaSettings->setVisible(vista);
    const bool privileges = vista && !FTask->GetTaskScheduler()->GetUseTaskScheduler1Only();
    ui->ckbVistaHighestPrivileges->setVisible(privileges);
    if (privileges) {
        ui->ckbVistaHighestPrivileges->setEnabled(IsUserAdmin());
        if (!ui->ckbVistaHighestPrivileges->isEnabled()) ui->ckbVistaHighestPrivileges->setChecked(false);
    }
    if (vista) {
        ReadTask20Properties();
        ui->btnEdit->hide();
    } else {
        ReadTask10Properties();
        ui->btnEdit->show();
    }
    FormShow();
}

TPropsDlg::~TPropsDlg() = default;

bool TPropsDlg::IsVista() const
{
    return FTask->GetTaskScheduler()->RunningVistaOrLater();
}

TUserPrompts& TPropsDlg::Prompts() const
{
    return *FPrompts;
}

void TPropsDlg::FormCreate()
{
    ui->PageControl->setCurrentIndex(0);
    ui->StringGrid1->setColumnWidth(0, 100);
    ui->StringGrid1->setColumnWidth(1, 180);
    ui->StringGrid1->setRowCount(0);
    ui->StringGrid1->horizontalHeader()->hide();
    ui->EditIdle->setCurrentIndex(3);
    ui->EditIdleWait->setCurrentIndex(4);
    ui->EditRestartTime->setCurrentIndex(3);
    ui->EditStopRuning->setCurrentIndex(4);
    ui->EditDeleteAfter->setCurrentIndex(2);
}

template <typename F>
void TPropsDlg::Guarded(F AHandler)
{
    // A handler runs inside Qt's event loop, which no exception may cross: the error is shown
    // and the dialog stays usable.
    try {
        AHandler();
    } catch (const std::exception& e) {
        TErrorReport::Show(Prompts(), this, e);
    }
}

void TPropsDlg::accept()
{
    QString problem;
    bool checked = false;
    Guarded([&] {
        problem = CheckInput();
        checked = true;
    });
    if (!checked) return;
    if (!problem.isEmpty()) {
        Prompts().ShowMessage(this, problem, windowTitle(), QMessageBox::Warning);
        return;
    }
    QDialog::accept();
}

QString TPropsDlg::CheckInput() const
{
    if (!IsVista()) {
        if (MemoToBytes(ui->memData->toPlainText()).size() > kMaxBinaryData)
            return QStringLiteral("Binary Data: the task can keep at most %1 bytes of data.").arg(kMaxBinaryData);
        return {};
    }
    bool number = false;
    const int count = ui->udRestartCount->text().toInt(&number);
    if (!number || count < ui->udRestartCount->minimum() || count > ui->udRestartCount->maximum())
        return QStringLiteral("Attempt to restart up to: enter a number from %1 to %2.")
            .arg(ui->udRestartCount->minimum())
            .arg(ui->udRestartCount->maximum());
    // Every program action needs its program; the selected row's is in the panel, the others
    // were stored into their actions when their rows were left.
    for (int row = 1; row < GridRowCount(); ++row) {
        if (KindOfText(GridCell(row, 0)) != akExec) continue;
        QString program;
        if (row == FGridRow) {
            program = ui->LabeledEditName->text();
        } else {
            const qint32 current = FTask->GetCurrentAction();
            FTask->SetCurrentAction(row);
            const auto restore = qScopeGuard([&] { FTask->SetCurrentAction(current); });
            program = FTask->GetApplicationName();
        }
        if (program.trimmed().isEmpty())
            return QStringLiteral("Name: action %1 starts a program and needs the program's name.").arg(row);
    }
    return CheckScheduleInput();
}

// ---- 1.0 ------------------------------------------------------------------------------------

void TPropsDlg::ReadTask10Properties()
{
    setWindowTitle(QStringLiteral("%1 Properties").arg(FTask->GetName()));
    ui->edtTaskName->setText(FTask->GetName());
    ui->edtApplicationName->setText(FTask->GetApplicationName());
    ui->edtParameters->setText(FTask->GetParameters());
    ui->edtWorkDir->setText(FTask->GetWorkingDirectory());
    UpdateApplicationIcon();
    ui->edtCreator->setText(FTask->GetCreator());
    ui->memComments->setPlainText(FTask->GetComment());
    const TTaskFlags flags = FTask->GetFlags();
    {
        const QSignalBlocker block(ui->clbFlags);
        for (int i = 0; i < ui->clbFlags->count(); ++i) SetChecked(ui->clbFlags, i, flags.Contains(TTaskFlag(i)));
    }
    clbFlagsClickCheck();
    QBuffer data;
    data.open(QIODevice::ReadWrite);
    FTask->GetBinaryData(data);
    ui->memData->setPlainText(BytesToMemo(data.data()));
    ui->cbPriority->setCurrentIndex(int(FTask->GetPriority()));
    const TIdleTime idle = FTask->GetIdleTime();
    ui->udIdleMinutes->setValue(idle.wIdleMinutes);
    ui->udDeadlineMinutes->setValue(idle.wDeadlineMinutes);
    FSheetFlags = flags;
    FSheetIdle = idle;
    RefreshSchedule();
}

void TPropsDlg::WriteTask10Properties()
{
    FTask->SetApplicationName(ui->edtApplicationName->text());
    UpdateApplicationIcon();
    FTask->SetParameters(ui->edtParameters->text());
    FTask->SetWorkingDirectory(ui->edtWorkDir->text());
    FTask->SetCreator(ui->edtCreator->text());
    FTask->SetComment(ui->memComments->toPlainText());
    TTaskFlags flags;
    for (int i = 0; i < ui->clbFlags->count(); ++i)
        if (Checked(ui->clbFlags, i)) flags.Include(TTaskFlag(i));
    FTask->SetFlags(flags);
    FTask->SetPriority(TTaskPriority(qMax(0, ui->cbPriority->currentIndex())));
    // An empty memo keeps the stored data: this dialog cannot clear it.
    if (!ui->memData->toPlainText().isEmpty()) {
        QBuffer data;
        data.setData(MemoToBytes(ui->memData->toPlainText()));
        data.open(QIODevice::ReadOnly);
        FTask->SetBinaryData(data);
    }
    FTask->SetIdleTime(TIdleTime{quint16(ui->udIdleMinutes->value()), quint16(ui->udDeadlineMinutes->value())});
}

void TPropsDlg::UpdateApplicationIcon()
{
    // The icon of the kind of file named; the file need not exist.
    static QFileIconProvider provider;
    const QFileInfo file(ui->edtApplicationName->text());
    QIcon icon = provider.icon(file);
    if (icon.isNull()) icon = provider.icon(QFileIconProvider::File);
    ui->Image1->setPixmap(icon.pixmap(32, 32));
}

void TPropsDlg::btnBrowseClick()
{
    QString name = ui->edtApplicationName->text();
    if (!Prompts().SelectExecutable(this, name)) return;
    ui->edtApplicationName->setText(name);
    UpdateApplicationIcon();
}

// ---- 2.0 ------------------------------------------------------------------------------------

void TPropsDlg::ReadTask20Properties()
{
    setWindowTitle(QStringLiteral("%1 Properties").arg(FTask->GetName()));
    const TTaskVistaFlags flags = FTask->GetVistaFlags();
    {
        const QSignalBlocker block(ui->ListVistaFlags);
        for (int i = 0; i < ui->ListVistaFlags->count(); ++i)
            SetChecked(ui->ListVistaFlags, i, flags.Contains(TTaskVistaFlag(i)));
    }

    QStringList details, kinds;
    FTask->GetTasksLists(details, kinds);
    if (!kinds.isEmpty()) {
        SetGridRowCount(kinds.size() + 1);
        for (int k = 1; k <= kinds.size(); ++k) {
            SetGridCell(k, 1, details.value(k - 1));
            SetGridCell(k, 0, kinds.at(k - 1));
        }
        SelectGridRow(1);
        FTask->SetCurrentAction(1);
        LoadActionPanel(1);
    }

    QStringList times(6);
    FTask->GetTimeProperties(times);
    auto select = [&](QComboBox* list, int element) {
        list->setCurrentIndex(GetTimeIndex(ComboItems(list), times.at(element), false));
    };
    select(ui->EditStopRuning, 0);
    select(ui->EditRestartTime, 1);
    if (!times.at(2).isEmpty()) ui->udRestartCount->setValue(times.at(2).toInt());
    select(ui->EditDeleteAfter, 3);
    select(ui->EditIdle, 4);
    select(ui->EditIdleWait, 5);

    RefreshSchedule();
    ui->memComments->setPlainText(FTask->GetComment());

    ComPtr<IPrincipal> principal;
    OleCheck(FTask->GetTaskDefinition()->get_Principal(principal.Put()));
    TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_LUA;
    OleCheck(principal->get_RunLevel(&level));
    ui->ckbVistaHighestPrivileges->setChecked(level == TASK_RUNLEVEL_HIGHEST);
    RefreshStates();
}

void TPropsDlg::WriteTask20Properties()
{
    FTask->SetComment(ui->memComments->toPlainText());
    if (ui->ckbVistaHighestPrivileges->isEnabled()) {
        ComPtr<IPrincipal> principal;
        OleCheck(FTask->GetTaskDefinition()->get_Principal(principal.Put()));
        OleCheck(principal->put_RunLevel(ui->ckbVistaHighestPrivileges->isChecked() ? TASK_RUNLEVEL_HIGHEST
                                                                                    : TASK_RUNLEVEL_LUA));
    }
    FTask->SetTimeProperties({GetTimeString(ui->EditStopRuning->currentText()),
                              GetTimeString(ui->EditRestartTime->currentText()),
                              GetTimeString(ui->udRestartCount->text()),
                              GetTimeString(ui->EditDeleteAfter->currentText()),
                              GetTimeString(ui->EditIdle->currentText()),
                              GetTimeString(ui->EditIdleWait->currentText())});
    StoreAllActions();
    TTaskVistaFlags flags;
    for (int i = 0; i < ui->ListVistaFlags->count(); ++i)
        if (Checked(ui->ListVistaFlags, i)) flags.Include(TTaskVistaFlag(i));
    // The flags set the logon type too: a task that may run while its user is logged off keeps
    // the logon it has (group, service account, password) unless the account form changes it.
    const TTaskLogonType logon = FTask->GetTaskLogonType();
    FTask->SetVistaFlags(flags);
    const bool needLogon = Checked(ui->ListVistaFlags, kLogonFlagItem);
    if (!needLogon && logon != tltInteractiveToken && logon != tltNone) FTask->SetTaskLogonType(logon);
    FTask->SetCurrentAction(1);
    StoreTrigger();

    // The account comes last: setting it registers the task at once, with everything above.
    // The form hands the account to the service before it closes, so that a refused password
    // is corrected there instead of losing the dialog's edits.
    if (!needLogon) {
        const bool group = FTask->GetTaskLogonType() == tltGroup;
        QString name = FTask->GetAccountName();
        QString password;
        ExecuteAccountDialog(name, password, group, SetTaskAccount(FTask, group));
    }
}

// ---- the action grid ------------------------------------------------------------------------

int TPropsDlg::GridRowCount() const
{
    return ui->StringGrid1->rowCount() + 1;
}

int TPropsDlg::GridSelectedRow() const
{
    return ui->StringGrid1->currentRow() + 1;
}

QString TPropsDlg::GridCell(int ARow, int ACol) const
{
    const QTableWidgetItem* item = ARow >= 1 ? ui->StringGrid1->item(ARow - 1, ACol) : nullptr;
    return item ? item->text() : QString();
}

void TPropsDlg::SetGridRowCount(int ARows)
{
    const QSignalBlocker block(ui->StringGrid1);
    ui->StringGrid1->setRowCount(qMax(0, ARows - 1));
    ui->StringGrid1->horizontalHeader()->setVisible(ARows > 1);
}

void TPropsDlg::SetGridCell(int ARow, int ACol, const QString& AText)
{
    QTableWidgetItem* item = ui->StringGrid1->item(ARow - 1, ACol);
    if (!item) {
        item = new QTableWidgetItem;
        ui->StringGrid1->setItem(ARow - 1, ACol, item);
    }
    item->setText(AText);
}

void TPropsDlg::SelectGridRow(int ARow)
{
    // Moving the selection from code must not store the panel a second time.
    const QSignalBlocker block(ui->StringGrid1);
    ui->StringGrid1->setCurrentCell(ARow - 1, 0);
    FGridRow = ARow;
}

void TPropsDlg::ShowActionPanel(int ARow)
{
    const TActionKind kind = KindOfText(GridCell(ARow, 0));
    ui->PanelExec->setVisible(kind == akExec);
    ui->PanelEMail->setVisible(kind == akEMail);
    ui->PanelMessageBox->setVisible(kind == akMessage);
}

void TPropsDlg::LoadActionPanel(int ARow)
{
    FTask->SetCurrentAction(ARow);
    ui->PanelExec->hide();
    ui->PanelEMail->hide();
    ui->PanelMessageBox->hide();
    if (GridRowCount() <= 1) return;
    switch (KindOfText(GridCell(ARow, 0))) {
    case akExec:
        ui->LabeledEditName->setText(FTask->GetApplicationName());
        ui->LabeledEditParameters->setText(FTask->GetParameters());
        ui->LabeledEditWorkDir->setText(FTask->GetWorkingDirectory());
        ui->PanelExec->show();
        break;
    case akEMail:
        ui->EditFrom->setText(FTask->GetMailSendFrom());
        ui->EditTo->setText(FTask->GetMailSendTo());
        ui->EditSubject->setText(FTask->GetMailSubject());
        ui->EditMailMessage->setPlainText(FTask->GetMailContent());
        ui->EditSMTPServer->setText(FTask->GetMailServer());
        ui->PanelEMail->show();
        break;
    case akMessage:
        ui->EditMessageTitle->setText(FTask->GetMessTitle());
        ui->EditMessage->setPlainText(FTask->GetMessText());
        ui->PanelMessageBox->show();
        break;
    case akNone: break;
    }
}

void TPropsDlg::StoreActionPanel(int ARow)
{
    FTask->SetCurrentAction(ARow);
    switch (KindOfText(GridCell(ARow, 0))) {
    case akExec:
        FTask->SetApplicationName(ui->LabeledEditName->text());
        FTask->SetParameters(ui->LabeledEditParameters->text());
        FTask->SetWorkingDirectory(ui->LabeledEditWorkDir->text());
        break;
    case akEMail:
        FTask->SetMailSendFrom(ui->EditFrom->text());
        FTask->SetMailSendTo(ui->EditTo->text());
        FTask->SetMailSubject(ui->EditSubject->text());
        FTask->SetMailContent(ui->EditMailMessage->toPlainText());
        FTask->SetMailServer(ui->EditSMTPServer->text());
        break;
    case akMessage:
        FTask->SetMessTitle(ui->EditMessageTitle->text());
        FTask->SetMessText(ui->EditMessage->toPlainText());
        break;
    case akNone: break;
    }
}

void TPropsDlg::StringGrid1SelectCell(int ARow)
{
    if (ARow < 1 || ARow >= GridRowCount()) return;
    if (FGridRow >= 1 && FGridRow < GridRowCount() && FGridRow != ARow) StoreActionPanel(FGridRow);
    SelectGridRow(ARow);
    FTask->SetCurrentAction(ARow);
    LoadActionPanel(ARow);
    ShowActionPanel(ARow);
}

void TPropsDlg::StoreAllActions()
{
    for (int row = 1; row < GridRowCount(); ++row) {
        StringGrid1SelectCell(row);
        StoreActionPanel(row);
    }
}

void TPropsDlg::btnAddActionClick()
{
    std::unique_ptr<TSelectActionsForm> own;
    TSelectActionsForm* chooser = SelectActionsForm;
    if (!chooser) {
        own = std::make_unique<TSelectActionsForm>(this);
        chooser = own.get();
    }
    int type = -1;
    QString text;
    switch (chooser->exec()) {
    case kChooseExec:
        type = TASK_ACTION_EXEC;
        text = kGridExec;
        break;
    case kChooseEMail:
        type = TASK_ACTION_SEND_EMAIL;
        text = kGridEMail;
        break;
    case kChooseMessage:
        type = TASK_ACTION_SHOW_MESSAGE;
        text = kGridMessage;
        break;
    default: return;
    }
    // The panel of the row being left goes into its action before the new row takes the panel.
    if (FGridRow >= 1 && FGridRow < GridRowCount()) StoreActionPanel(FGridRow);
    FTask->InsertAction(type);
    const int row = GridRowCount();
    SetGridRowCount(row + 1);
    SetGridCell(row, 0, text);
    SetGridCell(row, 1, QString());
    SelectGridRow(row);
    LoadActionPanel(row);
    ShowActionPanel(row);
}

void TPropsDlg::btDeleteActionClick()
{
    if (GridRowCount() <= 1) return;
    const int row = GridSelectedRow();
    if (row < 1) return;
    FTask->RemoveAction(row);
    {
        const QSignalBlocker block(ui->StringGrid1);
        ui->StringGrid1->removeRow(row - 1);
    }
    SetGridRowCount(GridRowCount());
    // The panels held the removed action; they now show the row that took its place.
    FGridRow = 0;
    if (GridRowCount() > 1) {
        const int now = qMin(row, GridRowCount() - 1);
        SelectGridRow(now);
        LoadActionPanel(now);
        ShowActionPanel(now);
    } else {
        FTask->SetCurrentAction(0);
        ui->PanelExec->hide();
        ui->PanelEMail->hide();
        ui->PanelMessageBox->hide();
    }
}

void TPropsDlg::Button1Click()
{
    QString name = ui->LabeledEditName->text();
    if (Prompts().SelectExecutable(this, name)) ui->LabeledEditName->setText(name);
}

// ---- settings -------------------------------------------------------------------------------

void TPropsDlg::RefreshStates()
{
    IsRefreshing = true;
    const bool restart = ui->EditRestartTime->currentIndex() >= 0;
    ui->EditRestartTime->setEnabled(restart);
    ui->udRestartCount->setEnabled(restart);
    ui->CheckTaskFails->setChecked(restart);
    const bool stop = ui->EditStopRuning->currentIndex() >= 0;
    ui->EditStopRuning->setEnabled(stop);
    ui->CheckStopRuning->setChecked(stop);
    const bool remove = ui->EditDeleteAfter->currentIndex() >= 0;
    ui->EditDeleteAfter->setEnabled(remove);
    ui->CheckDeleteAfter->setChecked(remove);
    IsRefreshing = false;

    const bool idle = Checked(ui->ListVistaFlags, kIdleFlagItem);
    ui->EditIdle->setEnabled(idle);
    ui->EditIdleWait->setEnabled(idle);
    const QSignalBlocker block(ui->ListVistaFlags);
    for (int i : {7, 8}) {
        QListWidgetItem* item = ui->ListVistaFlags->item(i);
        item->setFlags(idle ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
    }
}

void TPropsDlg::CheckTaskFailsClick()
{
    if (IsRefreshing) return;
    ui->EditRestartTime->setCurrentIndex(ui->CheckTaskFails->isChecked() ? 3 : -1);
    RefreshStates();
}

void TPropsDlg::CheckStopRuningClick()
{
    if (IsRefreshing) return;
    ui->EditStopRuning->setCurrentIndex(ui->CheckStopRuning->isChecked() ? 3 : -1);
    RefreshStates();
}

void TPropsDlg::CheckDeleteAfterClick()
{
    if (IsRefreshing) return;
    ui->EditDeleteAfter->setCurrentIndex(ui->CheckDeleteAfter->isChecked() ? 3 : -1);
    RefreshStates();
}

void TPropsDlg::clbFlagsClickCheck()
{
    if (IsVista()) {
        RefreshStates();
        ui->ListVistaFlags->viewport()->update();
        return;
    }
    const bool idle = Checked(ui->clbFlags, kXPIdleFlagItem);
    for (QSpinBox* spin : {ui->udIdleMinutes, ui->udDeadlineMinutes}) {
        spin->setEnabled(idle);
        QPalette palette = spin->palette();
        palette.setColor(QPalette::Base, palette.color(idle ? QPalette::Active : QPalette::Disabled,
                                                       idle ? QPalette::Base : QPalette::Button));
        spin->setPalette(palette);
    }
}

QStringList TPropsDlg::ComboItems(const QComboBox* ACombo)
{
    QStringList items;
    for (int i = 0; i < ACombo->count(); ++i) items << ACombo->itemText(i);
    return items;
}

// ---- duration lists -------------------------------------------------------------------------

QString GetTimeString(const QString& Text)
{
    if (Text.isEmpty()) return QString();
    if (!Text.at(0).isDigit()) return QStringLiteral("PT0S");
    const qsizetype blank = Text.indexOf(QLatin1Char(' '));
    if (blank < 0) return Text;
    const QString number = Text.left(blank);
    const QChar unit = blank + 1 < Text.size() ? Text.at(blank + 1) : QChar();
    if (unit == QLatin1Char('d')) return QStringLiteral("P%1D").arg(number);
    if (unit == QLatin1Char('h')) return QStringLiteral("PT%1H").arg(number);
    return QStringLiteral("PT%1M").arg(number);
}

int GetTimeIndex(const QStringList& Items, const QString& Value, bool IncludesZero)
{
    if (IncludesZero && Value.compare(QLatin1String("PT0S"), Qt::CaseInsensitive) == 0) return 0;
    if (Value.isEmpty()) return -1;
    const qint32 days = DurationToMinutes(Value) / 1440;
    if (days >= 1) {
        QString text = QStringLiteral("%1 day").arg(days);
        if (days > 1) text += QLatin1Char('s');
        return static_cast<int>(Items.indexOf(text));
    }
    for (qsizetype i = 0; i < Items.size(); ++i) {
        if (GetTimeString(Items.at(i)).compare(Value, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    }
    return -1;
}
