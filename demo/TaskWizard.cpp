#include "TaskWizard.h"
#include "ui_TaskWizard.h"

#include "ResultCodes.h"
#include "TErrorReport.h"
#include "TUserPrompts.h"
#include "TaskService2.h"
#include "UserAccount.h"
#include "kvTask.h"

#include <QAbstractEventDispatcher>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QPixmap>
#include <QRegularExpression>
#include <cstring>
#include <exception>

namespace {

const QString kNoActionType = QStringLiteral("Please specify action for the task type!");
const QString kNoProgram = QStringLiteral("Please enter the program the task runs.");
const QString kPasswordsDiffer = QStringLiteral("The password and its confirmation differ.");

TDateTime Today()
{
    return EncodeDateTime(QDate::currentDate(), QTime(0, 0));
}

TDateTime Now()
{
    return QDateTimeToDateTime(QDateTime::currentDateTime());
}

/// A picker's time of day as a start time; the trigger keeps hours and minutes.
TDateTime TimeOf(const QTimeEdit* AEdit)
{
    return EncodeDateTime(QDate::currentDate(), QTime(AEdit->time().hour(), AEdit->time().minute()));
}

TDateTime DateOf(const QDateEdit* AEdit)
{
    return EncodeDateTime(AEdit->date(), QTime(0, 0));
}

/// The sum of the "tag" bits of the checked boxes among `ABoxes`.
int MaskOf(const QList<QCheckBox*>& ABoxes)
{
    int mask = 0;
    for (const QCheckBox* box : ABoxes)
        if (box->isChecked()) mask |= box->property("tag").toInt();
    return mask;
}

} // namespace

TNewTaskWizard::TNewTaskWizard(TUserPrompts* APrompts, QWidget* AParent)
    : QDialog(AParent), ui(std::make_unique<Ui::TNewTaskWizard>()),
      FOwnPrompts(APrompts ? nullptr : std::make_unique<TUserPrompts>()),
      FPrompts(APrompts ? APrompts : FOwnPrompts.get())
{
    ui->setupUi(this);

    // 1. The pictures: every picture control tagged 10 shows the wizard's image.
    const QPixmap picture(QStringLiteral(":/wizard/wizard.png"));
    for (QLabel* label : findChildren<QLabel*>())
        if (label->property("tag").toInt() == 10) label->setPixmap(picture);
    // 2. Every date-time picker starts now.
    const QDateTime now = QDateTime::currentDateTime();
    for (QDateTimeEdit* picker : findChildren<QDateTimeEdit*>()) picker->setDateTime(now);
    // 3. - 6.
    ShowPage(pgStart);
    ui->edUserName->setText(UserAccount::CurrentLogonName());
    ui->edApplication->setText(QCoreApplication::applicationFilePath());
    ui->edCreator->setText(QGuiApplication::applicationDisplayName());
    ui->lblWelcome->setText(ui->lblWelcome->text().replace(QStringLiteral("%s"), QGuiApplication::applicationDisplayName()));
    ui->lbKinds->setCurrentRow(0);
    ui->cbWeek->setCurrentIndex(-1);
    ui->cbWeekDay->setCurrentIndex(-1);

    auto* actionTypes = new QButtonGroup(this);
    for (QRadioButton* button : {ui->rbRunApplication, ui->rbSendEmail, ui->rbShowMessage}) actionTypes->addButton(button);
    connect(actionTypes, &QButtonGroup::buttonClicked, this, &TNewTaskWizard::ActionTypeClick);

    connect(ui->btnNext, &QPushButton::clicked, this, &TNewTaskWizard::btnNextClick);
    connect(ui->btnBack, &QPushButton::clicked, this, &TNewTaskWizard::btnBackClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->btnAdvanced, &QPushButton::clicked, this, &TNewTaskWizard::btnAdvancedClick);
    connect(ui->btnBrowse, &QPushButton::clicked, this, &TNewTaskWizard::btnBrowseClick);
    connect(ui->lbKinds, &QListWidget::currentRowChanged, this, &TNewTaskWizard::KindChanged);
    connect(ui->rbSpecificUser, &QRadioButton::toggled, ui->edUser, &QWidget::setEnabled);
    connect(ui->rbEveryNDays, &QRadioButton::toggled, ui->seDays, &QWidget::setEnabled);
    connect(ui->rbThe, &QRadioButton::toggled, ui->cbWeek, &QWidget::setEnabled);
    connect(ui->rbThe, &QRadioButton::toggled, ui->cbWeekDay, &QWidget::setEnabled);

    // Next follows the input at once, and also whenever the application is idle.
    const auto update = [this] { UpdateNextEnabled(); };
    for (QLineEdit* edit : {ui->edTaskName, ui->edUserName, ui->edPassword, ui->edConfirm})
        connect(edit, &QLineEdit::textChanged, this, update);
    for (QCheckBox* box : ui->pnlWeekly->findChildren<QCheckBox*>()) connect(box, &QCheckBox::toggled, this, update);
    for (QCheckBox* box : ui->pnlMonthly->findChildren<QCheckBox*>()) connect(box, &QCheckBox::toggled, this, update);
    connect(ui->rbThe, &QRadioButton::toggled, this, update);
    connect(ui->cbWeek, &QComboBox::currentIndexChanged, this, update);
    connect(ui->cbWeekDay, &QComboBox::currentIndexChanged, this, update);
    connect(ui->lbKinds, &QListWidget::currentRowChanged, this, update);
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, update);
    UpdateNextEnabled();
}

TNewTaskWizard::~TNewTaskWizard() = default;

template <typename F>
void TNewTaskWizard::Guarded(F AHandler)
{
    try {
        AHandler();
    } catch (const std::exception& e) {
        TErrorReport::Show(*FPrompts, this, e);
    }
    UpdateNextEnabled();
}

void TNewTaskWizard::SetTaskScheduler(TTaskScheduler* AScheduler)
{
    FTaskScheduler = AScheduler;
    if (Vista()) {
        ui->btnAdvanced->hide();
        ui->lblFinishAdvanced->hide();
    } else {
        while (ui->lbKinds->count() > 6) delete ui->lbKinds->takeItem(ui->lbKinds->count() - 1);
    }
    KindChanged();
    UpdateButtons();
}

TNewTaskWizard::TPage TNewTaskWizard::CurrentPage() const
{
    return static_cast<TPage>(ui->pcWizard->currentIndex());
}

bool TNewTaskWizard::Vista() const
{
    return FTaskScheduler && FTaskScheduler->RunningVistaOrLater() && !FTaskScheduler->GetUseTaskScheduler1Only();
}

bool TNewTaskWizard::IsEventKind(TTriggerType AType)
{
    return AType >= ttOnIdle && AType <= ttOnUnlock;
}

TTriggerType TNewTaskWizard::SelectedTriggerType() const
{
    switch (ui->lbKinds->currentRow()) {
    case 0: return ttOnce;
    case 1: return ttDaily;
    case 2: return ttWeekly;
    case 3: return ui->rbThe->isChecked() ? ttMonthlyDow : ttMonthlyDate;
    case 4: return ttAtStartup;
    case 5: return ttAtLogon;
    case 6: return ttOnIdle;
    case 7: return ttOnConnect;
    case 8: return ttOnDisconnect;
    case 9: return ttOnLock;
    case 10: return ttOnUnlock;
    default: return ttUnknown;
    }
}

QString TNewTaskWizard::RunParameters(const QString& AApplication, const QString& AParameters, const QString& ATaskName)
{
    if (AApplication != QCoreApplication::applicationFilePath()) return AParameters;
    // The service splits the arguments as a command line does: a name with blanks or quotes
    // would otherwise reach run mode cut short.
    static const QRegularExpression splitting(QStringLiteral("[\\s\"]"));
    QString name = ATaskName;
    if (name.isEmpty() || name.contains(splitting))
        name = QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"\"")) + QLatin1Char('"');
    return AParameters + QLatin1Char(' ') + name;
}

void TNewTaskWizard::ShowPage(int APage)
{
    ui->pcWizard->setCurrentIndex(APage);
    UpdateButtons();
    UpdateNextEnabled();
}

void TNewTaskWizard::UpdateButtons()
{
    if (!FTaskScheduler) return;
    const bool vista = Vista();
    // Hidden, the check box leaves its room to the comments box above it.
    ui->ckbHighest->setVisible(vista);
    if (vista) {
        ui->ckbHighest->setEnabled(IsUserAdmin());
        if (!ui->ckbHighest->isEnabled()) ui->ckbHighest->setChecked(false);
    }
    ui->btnBack->setEnabled(CurrentPage() != pgStart);
    ui->btnNext->setText(CurrentPage() == pgFinish ? QStringLiteral("&Finish") : QStringLiteral("&Next >"));
}

int TNewTaskWizard::DayMask() const
{
    return MaskOf(ui->pnlWeekly->findChildren<QCheckBox*>());
}

int TNewTaskWizard::MonthMask() const
{
    return MaskOf(ui->pnlMonthly->findChildren<QCheckBox*>());
}

void TNewTaskWizard::UpdateNextEnabled()
{
    bool complete = true;
    switch (CurrentPage()) {
    case pgTaskName:
        complete = ui->lbKinds->currentRow() >= 0 && !ui->edTaskName->text().isEmpty();
        break;
    case pgTriggerDetails:
        switch (SelectedTriggerType()) {
        case ttWeekly: complete = DayMask() != 0; break;
        case ttMonthlyDate: complete = MonthMask() != 0; break;
        // A week and a day must be chosen too: neither list has an entry selected at first.
        case ttMonthlyDow:
            complete = MonthMask() != 0 && ui->cbWeek->currentIndex() >= 0 && ui->cbWeekDay->currentIndex() >= 0;
            break;
        default: break;
        }
        break;
    case pgAccountInfo:
        complete = !ui->edUserName->text().trimmed().isEmpty() && ui->edPassword->text() == ui->edConfirm->text();
        break;
    default:
        break;
    }
    ui->btnNext->setEnabled(complete);
    ui->lblAccountHint->setText(ui->edPassword->text() == ui->edConfirm->text() ? QString() : kPasswordsDiffer);
}

void TNewTaskWizard::KindChanged()
{
    const int entry = ui->lbKinds->currentRow();
    const bool vista = Vista();
    ui->gbUser->setVisible(vista && (entry == 5 || (entry >= 7 && entry <= 10)));
    ui->gbConnection->setVisible(vista && (entry == 7 || entry == 8));
}

void TNewTaskWizard::ActionTypeClick(QAbstractButton* AButton)
{
    if (AButton == ui->rbRunApplication) ui->pcActions->setCurrentWidget(ui->pnlProgram);
    else if (AButton == ui->rbSendEmail) ui->pcActions->setCurrentWidget(ui->pnlEmail);
    else if (AButton == ui->rbShowMessage) ui->pcActions->setCurrentWidget(ui->pnlMessage);
}

void TNewTaskWizard::ShowError(const QString& AText)
{
    FPrompts->ShowMessage(this, AText, {}, QMessageBox::Critical);
}

// ---- Next ---------------------------------------------------------------------------------

void TNewTaskWizard::btnNextClick()
{
    Guarded([this] {
        if (!ui->btnNext->isEnabled()) return;
        const int page = CurrentPage();
        int skip = 0;
        switch (page) {
        case pgStart:
            ui->pcActions->setCurrentWidget(Vista() ? ui->pnlActionType : ui->pnlProgram);
            break;
        case pgCustomData:
            if (!NextFromCustomData()) return;
            break;
        case pgTaskName:
            if (!NextFromTaskName(skip)) return;
            break;
        case pgTriggerDetails:
            if (!NextFromTriggerDetails()) return;
            break;
        case pgAccountInfo:
            if (!NextFromAccountInfo()) return;
            break;
        case pgFinish:
            SaveTask();
            accept();
            return;
        }
        ShowPage(page + 1 + skip);
        RefreshFinishTexts();
    });
}

bool TNewTaskWizard::NextFromCustomData()
{
    if (ui->pcActions->currentWidget() == ui->pnlActionType) {
        ShowError(kNoActionType);
        return false;
    }
    if (ui->pcActions->currentWidget() == ui->pnlProgram && ui->edApplication->text().trimmed().isEmpty()) {
        ShowError(kNoProgram);
        ui->edApplication->setFocus();
        return false;
    }
    return true;
}

bool TNewTaskWizard::NextFromTaskName(int& ASkip)
{
    FTriggerType = SelectedTriggerType();
    try {
        BuildTask();
        if (!FTask) return false;
        TTrigger* trigger = FTask->GetTriggers()->GetItem(0);
        trigger->SetTriggerType(FTriggerType);
        trigger->SetBeginDate(Today());
        switch (FTriggerType) {
        case ttOnce: ui->pcTriggers->setCurrentWidget(ui->pnlOnce); break;
        case ttDaily: ui->pcTriggers->setCurrentWidget(ui->pnlDaily); break;
        case ttWeekly: ui->pcTriggers->setCurrentWidget(ui->pnlWeekly); break;
        case ttMonthlyDate:
        case ttMonthlyDow: ui->pcTriggers->setCurrentWidget(ui->pnlMonthly); break;
        default: break;
        }
        if (IsEventKind(FTriggerType)) {
            trigger->SetStartTime(Now());
            trigger->SetBeginDate(Today());
            trigger->SetUserName(ui->rbSpecificUser->isChecked() ? ui->edUser->text() : QString());
            trigger->SetConnectionType(ui->rbLocalConnection->isChecked() ? 1 : 2);
            FTask->GetTriggers()->UpdateTriggers();
            ASkip = 1;   // an event has no time details
        }
    } catch (...) {
        // A half-built task would be taken as built by the next Next.
        DiscardTask();
        throw;
    }
    return true;
}

void TNewTaskWizard::BuildTask()
{
    if (FTask) return;
    const QString name = ui->edTaskName->text();
    if (TTaskItem* existing = FTaskScheduler->ActivateTask(name)) {
        const QString question = QStringLiteral("A task with the name %1 already exists.  Do you want to replace it?").arg(name);
        if (!FPrompts->AskQuestion(this, question)) return;
        FTask = existing;
        FTask->Activate();
        FTask->GetTriggers()->Clear();
        FTask->GetTriggers()->Add(FTriggerType);
    } else {
        FTask = FTaskScheduler->CreateNewItem(name);
        // A 2.0 name meets the service only when the task is registered; ask now, while the
        // definition is still empty, so that a name the store refuses is reported on this page.
        if (Vista() && !ServiceAccepts(name, QString(), QString(), TASK_LOGON_INTERACTIVE_TOKEN)) {
            DiscardTask();
            return;
        }
        FTask->GetTriggers()->Add(FTriggerType);
    }
    FillActions();
}

void TNewTaskWizard::FillActions()
{
    const QString parameters =
        RunParameters(ui->edApplication->text(), ui->edParameters->text(), FTask->GetName());
    if (Vista()) {
        // Replacing a task replaces what it does: its old actions go.
        while (FTask->GetActionsCount() > 0) FTask->RemoveAction(FTask->GetActionsCount());
        FTask->SetCurrentAction(1);
        QWidget* panel = ui->pcActions->currentWidget();
        if (panel == ui->pnlEmail) {
            FTask->InsertAction(6);
            FTask->SetMailSendFrom(ui->edFrom->text());
            FTask->SetMailSendTo(ui->edTo->text());
            FTask->SetMailSubject(ui->edSubject->text());
            FTask->SetMailContent(ui->memMailText->toPlainText());
            FTask->SetMailServer(ui->edServer->text());
        } else if (panel == ui->pnlMessage) {
            FTask->InsertAction(7);
            FTask->SetMessTitle(ui->edTitle->text());
            FTask->SetMessText(ui->memMessText->toPlainText());
        } else {
            FTask->InsertAction(0);
            FTask->SetApplicationName(ui->edApplication->text());
            FTask->SetParameters(parameters);
            FTask->SetWorkingDirectory(ui->edWorkDir->text());
            if (ui->ckbHighest->isChecked() && IsUserAdmin()) {
                ComPtr<IPrincipal> principal;
                OleCheck(FTask->GetTaskDefinition()->get_Principal(principal.Put()));
                OleCheck(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST));
            }
        }
    } else {
        FTask->SetApplicationName(ui->edApplication->text());
        FTask->SetParameters(parameters);
        FTask->SetWorkingDirectory(ui->edWorkDir->text());
    }
    FTask->SetComment(ui->memComments->toPlainText());
    FTask->SetCreator(ui->edCreator->text());
}

bool TNewTaskWizard::ServiceAccepts(const QString& AName, const QString& AUser, const QString& APassword,
                                    int ALogonType)
{
    const ComPtr<ITaskFolder> root = FTaskScheduler->VistaRootFolder();
    if (!root) throw ESchedulerError(SServiceNotRunning);
    ComPtr<ITaskFolder> folder;
    OleCheck(root->GetFolder(FTaskScheduler->CurrentFolderPath, folder.Put()));
    ComPtr<IRegisteredTask> none;
    const VARIANT user = AUser.isEmpty() ? VARIANT::Empty() : VARIANT::String(AUser);
    const VARIANT password = APassword.isEmpty() ? VARIANT::Empty() : VARIANT::String(APassword);
    const HRESULT hr = folder->RegisterTaskDefinition(AName, FTask->GetTaskDefinition().Get(), TASK_VALIDATE_ONLY, user,
                                                      password, static_cast<TASK_LOGON_TYPE>(ALogonType),
                                                      VARIANT::Empty(), none.Put());
    if (SUCCEEDED(hr)) return true;
    ShowError(ErrorDescription(hr));
    return false;
}

bool TNewTaskWizard::NextFromTriggerDetails()
{
    FTriggerType = SelectedTriggerType();
    TTriggers* triggers = FTask->GetTriggers();
    if (Vista()) {
        // A 2.0 trigger's kind is fixed when it is made; "T&he" may have changed it here.
        triggers->Clear();
        triggers->Add(FTriggerType);
        triggers->GetItem(0)->SetBeginDate(Today());
    }
    TTrigger* trigger = triggers->GetItem(0);
    trigger->SetTriggerType(FTriggerType);
    FillTrigger();
    triggers->UpdateTriggers();
    return true;
}

void TNewTaskWizard::FillTrigger()
{
    TTrigger* trigger = FTask->GetTriggers()->GetItem(0);
    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    switch (FTriggerType) {
    case ttOnce:
        trigger->SetStartTime(TimeOf(ui->dtpOnceTime));
        trigger->SetBeginDate(DateOf(ui->dtpOnceDate));
        break;
    case ttDaily:
        trigger->SetStartTime(TimeOf(ui->dtpDailyTime));
        trigger->SetBeginDate(DateOf(ui->dtpDailyDate));
        details.Daily.DaysInterval = ui->rbEveryDay->isChecked() ? 1 : WORD(ui->seDays->value());
        break;
    case ttWeekly:
        trigger->SetStartTime(TimeOf(ui->dtpWeeklyTime));
        trigger->SetBeginDate(Today());
        details.Weekly.WeeksInterval = WORD(ui->seWeeks->value());
        details.Weekly.rgfDaysOfTheWeek = WORD(DayMask());
        break;
    case ttMonthlyDate:
        trigger->SetStartTime(TimeOf(ui->dtpMonthlyTime));
        trigger->SetBeginDate(Today());
        details.MonthlyDate.rgfDays = DWORD(1) << (ui->seDay->value() - 1);
        details.MonthlyDate.rgfMonths = WORD(MonthMask());
        break;
    case ttMonthlyDow:
        trigger->SetStartTime(TimeOf(ui->dtpMonthlyTime));
        details.MonthlyDOW.wWhichWeek = WORD(ui->cbWeek->currentIndex() + 1);
        details.MonthlyDOW.rgfDaysOfTheWeek = WORD(1 << ui->cbWeekDay->currentIndex());
        details.MonthlyDOW.rgfMonths = WORD(MonthMask());
        break;
    default:
        break;
    }
    trigger->SetDetails(details);
}

bool TNewTaskWizard::NextFromAccountInfo()
{
    const QString user = ui->edUserName->text().trimmed();
    const QString password = ui->edPassword->text();
    if (user.isEmpty() || password != ui->edConfirm->text()) return false;
    if (Vista()) {
        // Giving a 2.0 task its account registers it at once; the account is given when the
        // task is saved, and checked now (the service asks the system for the password).
        if (!ServiceAccepts(FTask->GetName(), user, password,
                            password.isEmpty() ? TASK_LOGON_INTERACTIVE_TOKEN : TASK_LOGON_PASSWORD))
            return false;
        FAccountName = user;
        FPassword = password;
    } else {
        FTask->SetAccountInformation(user, password, QString());
        TTaskFlags flags = FTask->GetFlags();
        FTask->SetFlags(flags.Include(tfRunOnlyIfLoggedOn));
    }
    return true;
}

void TNewTaskWizard::SaveTask()
{
    if (Vista()) FTask->SetAccountInformation(FAccountName, FPassword, QString());
    FTask->Deactivate(true);
}

void TNewTaskWizard::RefreshFinishTexts()
{
    if (!FTask) return;
    ui->lblFinishName->setText(FTask->GetName());
    ui->lblFinishSchedule->setText(FTask->GetTriggerString());
}

// ---- Back, Advanced, Browse ----------------------------------------------------------------

void TNewTaskWizard::btnBackClick()
{
    Guarded([this] {
        const int page = CurrentPage();
        if (page == pgStart) return;
        int target = page - 1;
        switch (page) {
        case pgAccountInfo:
            if (IsEventKind(FTriggerType)) --target;   // over the time details an event has not
            break;
        case pgCustomData:
            if (Vista()) {
                auto* group = ui->rbRunApplication->group();
                group->setExclusive(false);
                for (QAbstractButton* button : group->buttons()) button->setChecked(false);
                group->setExclusive(true);
            }
            break;
        default:
            break;
        }
        // Back on the name page the task is built again by the next Next, from the name and
        // kind then shown: a changed name, or another (event) kind, gets a fresh task and trigger.
        if (target == pgTaskName) DiscardTask();
        ShowPage(target);
        RefreshFinishTexts();
    });
}

void TNewTaskWizard::btnAdvancedClick()
{
    Guarded([this] {
        if (!FTask) return;
        try {
            FTask->DisplayTaskPages(this, TPageTypes{ptSchedule, ptSettings},
                                    QStringLiteral("%1 Properties").arg(FTask->GetName()));
        } catch (const EPlatformError& e) {
            if (e.Code() != HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)) throw;
            ShowError(QStringLiteral("The service offers no Schedule and Settings pages for this task: %1").arg(e.Message()));
        }
        RefreshFinishTexts();
    });
}

void TNewTaskWizard::btnBrowseClick()
{
    QString program = ui->edApplication->text();
    if (FPrompts->SelectProgram(this, program)) ui->edApplication->setText(program);
}

void TNewTaskWizard::DiscardTask()
{
    if (!FTask) return;
    FTask = nullptr;
    FTaskScheduler->Refresh();
}

bool ExecuteNewTaskWizard(TTaskScheduler* AScheduler, TTaskItem*& ATask, TUserPrompts* APrompts, QWidget* AParent)
{
    ATask = nullptr;
    TNewTaskWizard wizard(APrompts, AParent);
    wizard.SetTaskScheduler(AScheduler);
    const bool finished = wizard.exec() == QDialog::Accepted;
    if (!finished) wizard.DiscardTask();
    ATask = wizard.GetTask();
    return finished;
}
