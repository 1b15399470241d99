#include "Props_2_0.h"
#include "ui_Props_2_0.h"

#include "AccountDetails.h"
#include "EditTaskAction2.h"
#include "NetworkProfileSource.h"
#include "OsVersion.h"
#include "Props.h"
#include "Registry.h"
#include "TErrorReport.h"
#include "TUserPrompts.h"
#include "TaskDefinitionParts.h"
#include "kvTask.h"

#include <QLineEdit>
#include <QStyle>
#include <algorithm>

namespace {

/// An action row: it owns the record of its action.
class TActionRow : public QTreeWidgetItem {
public:
    explicit TActionRow(QTreeWidget* AList) : QTreeWidgetItem(AList) {}
    std::unique_ptr<TActionRecord> Record;
};

/// A trigger row: it refers to one trigger of the task.
class TTriggerRow : public QTreeWidgetItem {
public:
    TTriggerRow(QTreeWidget* AList, TTrigger* ATrigger) : QTreeWidgetItem(AList), Trigger(ATrigger) {}
    TTrigger* Trigger;
};

template <typename T>
bool ReadBool(T* AObject, HRESULT (T::*AGetter)(VARIANT_BOOL*))
{
    VARIANT_BOOL value = VARIANT_FALSE;
    OleCheck((AObject->*AGetter)(&value));
    return value != VARIANT_FALSE;
}

template <typename T>
QString ReadText(T* AObject, HRESULT (T::*AGetter)(QString*))
{
    QString value;
    OleCheck((AObject->*AGetter)(&value));
    return value;
}

VARIANT_BOOL AsVariantBool(bool AValue) { return AValue ? VARIANT_TRUE : VARIANT_FALSE; }

qint32 ActionTypeOf(IAction* AAction)
{
    TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
    OleCheck(AAction->get_Type(&type));
    return type;
}

/// The action kinds this form reads into records and writes back; others are kept as they are.
bool IsRecordedKind(qint32 AType)
{
    return AType == TASK_ACTION_EXEC || AType == TASK_ACTION_SEND_EMAIL || AType == TASK_ACTION_SHOW_MESSAGE;
}

/// A record that stands for an action of a kind the form does not read: its action is
/// written back untouched.
bool IsKeptAsIs(const TActionRecord* ARecord)
{
    return ARecord->OriginalAction && ActionTypeOf(ARecord->OriginalAction.Get()) != ARecord->type_;
}

/// A stored duration that no list item denotes, in the lists' own words.
QString DurationText(const QString& AValue)
{
    // Days count only before a time part; a text of days alone gets an empty one.
    const qint32 minutes = DurationToMinutes(AValue.contains(QLatin1Char('T')) ? AValue : AValue + QLatin1Char('T'));
    if (minutes <= 0) return AValue;
    auto units = [](qint32 count, const char* unit) {
        return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(unit)).arg(count == 1 ? "" : "s");
    };
    if (minutes % 1440 == 0) return units(minutes / 1440, "day");
    if (minutes % 60 == 0) return units(minutes / 60, "hour");
    return units(minutes, "minute");
}

QStringList ItemsOf(const QComboBox* AList)
{
    QStringList items;
    for (int i = 0; i < AList->count(); ++i) items << AList->itemText(i);
    return items;
}

const TTaskCompatibility kCompatibilityByIndex[] = {tcCompatibilityWin10, tcCompatibilityWin7, tcCompatibilityVista};

constexpr int kMaxRestartAttempts = 999;

} // namespace

const QString TfrmTask20Properties::NetworkProfilesKey = QStringLiteral("Software\\Network\\Profiles");

bool EditTask20Properties(TTaskItem* ATask, TUserPrompts* APrompts)
{
    TfrmTask20Properties form(ATask, APrompts);
    form.Open();
    return form.exec() == QDialog::Accepted;
}

TfrmTask20Properties::TfrmTask20Properties(TTaskItem* ATask, TUserPrompts* APrompts, QWidget* AParent)
    : QDialog(AParent),
      FEditingTask(ATask),
      ui(std::make_unique<Ui::TfrmTask20Properties>()),
      FOwnPrompts(APrompts ? nullptr : std::make_unique<TUserPrompts>()),
      FPrompts(APrompts ? APrompts : FOwnPrompts.get())
{
    ui->setupUi(this);
    ui->pcProperties->setCurrentIndex(0);
    ui->udRestartAttempts->setRange(0, kMaxRestartAttempts);
    if (auto* edit = ui->udRestartAttempts->findChild<QLineEdit*>()) edit->setObjectName(QStringLiteral("edRestartAttempts"));
    ui->imgPropagateWarning->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16));
    ui->lvTriggers->setColumnWidth(0, 150);
    ui->lvTriggers->setColumnWidth(1, 300);
    ui->lvActions->setColumnWidth(0, 200);
    ConnectHandlers();
    UpdateActions();
}

TfrmTask20Properties::~TfrmTask20Properties()
{
    ClearActionItems();
}

void TfrmTask20Properties::Guarded(void (TfrmTask20Properties::*AHandler)())
{
    // An error must not unwind through the event loop: the user sees it and the form stays usable.
    try {
        (this->*AHandler)();
    } catch (const std::exception& e) {
        TErrorReport::Show(*FPrompts, this, e);
    }
}

void TfrmTask20Properties::ConnectHandlers()
{
    auto onToggle = [this](QAbstractButton* AButton, void (TfrmTask20Properties::*AHandler)()) {
        connect(AButton, &QAbstractButton::toggled, this, [this, AHandler] { Guarded(AHandler); });
    };
    onToggle(ui->ckbStartOnIdleOnly, &TfrmTask20Properties::ckbStartOnIdleOnlyClick);
    onToggle(ui->ckbStopIfCeasesIdle, &TfrmTask20Properties::ckbStopIfCeasesIdleClick);
    onToggle(ui->ckbRestartIfIdleResume, &TfrmTask20Properties::IdleConditionChange);
    onToggle(ui->ckbStartOnACPower, &TfrmTask20Properties::ckbStartOnACPowerClick);
    onToggle(ui->ckbStartOnlyOnNetwork, &TfrmTask20Properties::ckbStartOnlyOnNetworkClick);
    onToggle(ui->ckbRestartIfFails, &TfrmTask20Properties::ckbRestartIfFailsClick);
    onToggle(ui->ckbStopIfRunningLonger, &TfrmTask20Properties::ckbStopIfRunningLongerClick);
    onToggle(ui->ckbDeleteNonScheduled, &TfrmTask20Properties::ckbDeleteNonScheduledClick);
    onToggle(ui->rbRunWhetherLoggedOrNo, &TfrmTask20Properties::rbRunWhetherLoggedOrNoClick);
    onToggle(ui->rbRunOnLoggedOn, &TfrmTask20Properties::rbRunOnLoggedOnClick);
    onToggle(ui->ckbRunWithHighest, &TfrmTask20Properties::ckbRunWithHighestClick);
    onToggle(ui->ckbTaskHidden, &TfrmTask20Properties::ckbTaskHiddenClick);
    auto onChange = [this](QComboBox* AList, void (TfrmTask20Properties::*AHandler)()) {
        connect(AList, &QComboBox::currentIndexChanged, this, [this, AHandler] { Guarded(AHandler); });
    };
    onChange(ui->cbIdleMinutesStart, &TfrmTask20Properties::IdleConditionChange);
    onChange(ui->cbWaitForIdle, &TfrmTask20Properties::IdleConditionChange);
    onChange(ui->cbConfigureTaskFor, &TfrmTask20Properties::cbConfigureTaskForChange);
    connect(ui->memDescription, &QPlainTextEdit::textChanged, this, [this] { Guarded(&TfrmTask20Properties::memDescriptionChange); });
    connect(ui->btAdminRequired, &QPushButton::clicked, this, [this] { Guarded(&TfrmTask20Properties::btAdminRequiredClick); });
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Guarded(&TfrmTask20Properties::Button1Click); });

    auto onAction = [this](QAction* AAction, void (TfrmTask20Properties::*AHandler)()) {
        connect(AAction, &QAction::triggered, this, [this, AHandler] { Guarded(AHandler); });
    };
    onAction(ui->acActionNew, &TfrmTask20Properties::acActionNewExecute);
    onAction(ui->acActionEdit, &TfrmTask20Properties::acActionEditExecute);
    onAction(ui->acActionDelete, &TfrmTask20Properties::acActionDeleteExecute);
    onAction(ui->acTriggerDelete, &TfrmTask20Properties::acTriggerDeleteExecute);
    // A button showing an action takes its icon text, which drops the "..." of "New..." and "Edit...".
    for (QAction* action : {ui->acTriggerNew, ui->acTriggerEdit, ui->acTriggerDelete, ui->acActionNew,
                            ui->acActionEdit, ui->acActionDelete})
        action->setIconText(action->text());
    ui->btTriggerNew->setDefaultAction(ui->acTriggerNew);
    ui->btTriggerEdit->setDefaultAction(ui->acTriggerEdit);
    ui->btTriggerDelete->setDefaultAction(ui->acTriggerDelete);
    ui->btActionNew->setDefaultAction(ui->acActionNew);
    ui->btActionEdit->setDefaultAction(ui->acActionEdit);
    ui->btActionDelete->setDefaultAction(ui->acActionDelete);
    connect(ui->lvActions, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (ui->acActionEdit->isEnabled()) ui->acActionEdit->trigger();
    });
    connect(ui->lvActions, &QTreeWidget::itemSelectionChanged, this, &TfrmTask20Properties::UpdateActions);
    connect(ui->lvTriggers, &QTreeWidget::itemSelectionChanged, this, &TfrmTask20Properties::UpdateActions);
}

// ---- definition parts ---------------------------------------------------------------------

ComPtr<ITaskSettings> TfrmTask20Properties::Settings() const
{
    return SettingsOf(FEditingTask->GetTaskDefinition().Get());
}

ComPtr<IIdleSettings> TfrmTask20Properties::IdleSettings() const
{
    return IdleSettingsOf(Settings().Get());
}

ComPtr<INetworkSettings> TfrmTask20Properties::NetworkSettings() const
{
    ComPtr<INetworkSettings> network;
    OleCheck(Settings()->get_NetworkSettings(network.Put()));
    return network;
}

// ---- reading ------------------------------------------------------------------------------

void TfrmTask20Properties::Open()
{
    FEditingTask->Activate();
    const ComPtr<ITaskDefinition> definition = FEditingTask->GetTaskDefinition();
    if (!definition) throw ETaskError(STaskNotActivated.arg(FEditingTask->GetName()));
    OleCheck(definition->get_XmlText(&FSavedDefinition));
    ReadTaskProperties();
}

void TfrmTask20Properties::ReadTaskProperties()
{
    setWindowTitle(QStringLiteral("%1 Properties (%2)")
                       .arg(FEditingTask->GetName(), FEditingTask->GetTaskScheduler()->GetTargetComputer()));
    BlockUpdates = true;
    struct Unblock {
        bool& flag;
        ~Unblock() { flag = false; }
    } unblock{BlockUpdates};

    ui->edName->setText(FEditingTask->GetName());
    ui->edLocation->setText(FEditingTask->GetTaskLocation());
    ui->edAuthor->setText(FEditingTask->GetCreator());
    ui->memDescription->setPlainText(FEditingTask->GetComment());
    ui->edUserGroupName->setText(FEditingTask->GetAccountName());

    const TTaskLogonType logon = FEditingTask->GetTaskLogonType();
    if (logon == tltInteractiveToken || logon == tltGroup) ui->rbRunOnLoggedOn->setChecked(true);
    if (logon == tltPassword) ui->rbRunWhetherLoggedOrNo->setChecked(true);
    if (logon == tltGroup || logon == tltServiceAccount) {
        ui->rbRunOnLoggedOn->setEnabled(false);
        ui->rbRunWhetherLoggedOrNo->setEnabled(false);
        ui->ckbNotStorePassword->setEnabled(false);
    }

    TASK_RUNLEVEL_TYPE runLevel = TASK_RUNLEVEL_LUA;
    OleCheck(PrincipalOf(FEditingTask->GetTaskDefinition().Get())->get_RunLevel(&runLevel));
    ui->ckbRunWithHighest->setChecked(runLevel == TASK_RUNLEVEL_HIGHEST);
    ui->ckbTaskHidden->setChecked(FEditingTask->GetVistaFlags().Contains(tfvHidden));
    const TTaskCompatibility compatibility = FEditingTask->GetTaskCompatibility();
    const auto* found = std::find(std::begin(kCompatibilityByIndex), std::end(kCompatibilityByIndex), compatibility);
    ui->cbConfigureTaskFor->setCurrentIndex(found == std::end(kCompatibilityByIndex)
                                                ? 2
                                                : static_cast<int>(found - std::begin(kCompatibilityByIndex)));

    ReadTaskTriggers();
    ReadTaskActions();

    const ComPtr<ITaskSettings> settings = Settings();
    const ComPtr<IIdleSettings> idle = IdleSettingsOf(settings.Get());
    ui->ckbStartOnIdleOnly->setChecked(ReadBool(settings.Get(), &ITaskSettings::get_RunOnlyIfIdle));
    if (ui->ckbStartOnIdleOnly->isChecked()) {
        SelectDuration(ui->cbIdleMinutesStart, ReadText(idle.Get(), &IIdleSettings::get_WaitTimeout), false);
        SelectDuration(ui->cbWaitForIdle, ReadText(idle.Get(), &IIdleSettings::get_IdleDuration), true);
    }
    ckbStartOnIdleOnlyClick();
    ui->ckbStopIfCeasesIdle->setChecked(ReadBool(idle.Get(), &IIdleSettings::get_StopOnIdleEnd));
    ckbStopIfCeasesIdleClick();
    ui->ckbRestartIfIdleResume->setChecked(ReadBool(idle.Get(), &IIdleSettings::get_RestartOnIdle));

    ui->ckbStartOnACPower->setChecked(ReadBool(settings.Get(), &ITaskSettings::get_DisallowStartIfOnBatteries));
    ckbStartOnACPowerClick();
    ui->ckbStopOnBattery->setChecked(ReadBool(settings.Get(), &ITaskSettings::get_StopIfGoingOnBatteries));
    ui->ckbWakePC->setChecked(ReadBool(settings.Get(), &ITaskSettings::get_WakeToRun));

    const QString network = ReadText(NetworkSettings().Get(), &INetworkSettings::get_Name);
    ui->ckbStartOnlyOnNetwork->setChecked(!network.isEmpty());
    ckbStartOnlyOnNetworkClick();
    QStringList profiles;
    GetNetworkProfileNames(profiles);
    ui->cbNetworkConnections->clear();
    ui->cbNetworkConnections->addItems(profiles);
    ui->cbNetworkConnections->setCurrentIndex(static_cast<int>(profiles.indexOf(network)));
    // A profile this computer does not know (any more) is still shown, and kept unless changed.
    ui->cbNetworkConnections->setPlaceholderText(ui->cbNetworkConnections->currentIndex() < 0 ? network : QString());
    if (!IsUserAdmin()) {
        ui->ckbStartOnlyOnNetwork->setEnabled(false);
        ui->cbNetworkConnections->setEnabled(false);
        SetShieldIcon(ui->btAdminRequired);
        ui->btAdminRequired->show();
    }

    ui->ckbAllowRunOnDemand->setChecked(FEditingTask->GetVistaFlag(tfvAllowDemandStart));
    ui->ckbRunAsSoonAsPossible->setChecked(FEditingTask->GetVistaFlag(tfvStartWhenAvailable));

    const QString restartInterval = ReadText(settings.Get(), &ITaskSettings::get_RestartInterval);
    ui->ckbRestartIfFails->setChecked(!restartInterval.isEmpty());
    if (ui->ckbRestartIfFails->isChecked()) {
        LONG count = 0;
        OleCheck(settings->get_RestartCount(&count));
        // A count above the form's own bound is shown and kept as it is, never cut down.
        ui->udRestartAttempts->setMaximum(std::max<int>(kMaxRestartAttempts, count));
        ui->udRestartAttempts->setValue(count);
        SelectDuration(ui->cbRestartAttempt, restartInterval, false);
    }
    ckbRestartIfFailsClick();

    const QString limit = ReadText(settings.Get(), &ITaskSettings::get_ExecutionTimeLimit);
    ui->ckbStopIfRunningLonger->setChecked(!limit.isEmpty() && limit.compare(QLatin1String("PT0S"), Qt::CaseInsensitive) != 0);
    if (ui->ckbStopIfRunningLonger->isChecked()) SelectDuration(ui->cbStopIfRunning, limit, false);
    ckbStopIfRunningLongerClick();

    ui->ckbForceToStop->setChecked(ReadBool(settings.Get(), &ITaskSettings::get_AllowHardTerminate));

    const QString expiry = ReadText(settings.Get(), &ITaskSettings::get_DeleteExpiredTaskAfter);
    ui->ckbDeleteNonScheduled->setChecked(!expiry.isEmpty());
    if (ui->ckbDeleteNonScheduled->isChecked()) SelectDuration(ui->cbDeleteNotScheduled, expiry, true);
    ckbDeleteNonScheduledClick();

    ui->cbNewInstance->setCurrentIndex(FEditingTask->GetTaskInstancesPolicy());
}

void TfrmTask20Properties::SelectDuration(QComboBox* AList, const QString& AValue, bool AIncludesZero)
{
    const int index = GetTimeIndex(ItemsOf(AList), AValue, AIncludesZero);
    AList->setCurrentIndex(index);
    AList->setPlaceholderText(index < 0 ? DurationText(AValue) : QString());
}

std::optional<QString> TfrmTask20Properties::ChosenDuration(const QComboBox* AList)
{
    if (AList->currentIndex() < 0) return std::nullopt;
    return GetTimeString(AList->currentText());
}

void TfrmTask20Properties::ReadTaskTriggers()
{
    ui->lvTriggers->clear();
    TTriggers* triggers = FEditingTask->GetTriggers();
    const QString status = TaskStatusText(FEditingTask->GetStatus());
    for (int i = 0; i < triggers->Count(); ++i) {
        TTrigger* trigger = triggers->GetItem(i);
        auto* row = new TTriggerRow(ui->lvTriggers, trigger);
        row->setText(0, TriggerTypeText(trigger->GetTriggerType()));
        row->setText(1, trigger->GetAsString());
        row->setText(2, status);
    }
    UpdateActions();
}

void TfrmTask20Properties::ReadTaskActions()
{
    ClearActionItems();
    const ComPtr<IActionCollection> actions = ActionsOf(FEditingTask->GetTaskDefinition().Get());
    const qint32 count = FEditingTask->GetActionsCount();
    for (qint32 k = 1; k <= count; ++k) {
        const ComPtr<IAction> action = ActionAt(actions.Get(), k);
        const qint32 type = ActionTypeOf(action.Get());
        std::unique_ptr<TActionRecord> record;
        if (type == TASK_ACTION_EXEC)
            record = std::make_unique<TExecActionRecord>();
        else if (type == TASK_ACTION_SEND_EMAIL)
            record = std::make_unique<TEmailActionRecord>();
        else
            record = std::make_unique<TShowMessageActionRecord>();
        record->ActionIndex = k;
        // Kinds without a record of their own cannot be read as one; they are kept as stored.
        if (IsRecordedKind(type)) record->ReadFromAction(action.Get());
        record->OriginalAction = action;
        auto* row = new TActionRow(ui->lvActions);
        row->Record = std::move(record);
        ShowActionItem(row->Record.get(), row);
    }
    UpdateActions();
}

void TfrmTask20Properties::ShowActionItem(TActionRecord* ARecord, QTreeWidgetItem* ARow)
{
    QString details;
    if (IsKeptAsIs(ARecord)) {
        ARow->setText(0, ActionTypeText(ActionTypeOf(ARecord->OriginalAction.Get())));
        ComPtr<IComHandlerAction> handler;
        if (SUCCEEDED(ARecord->OriginalAction.As(handler)) && handler) details = ReadText(handler.Get(), &IComHandlerAction::get_ClassId);
    } else {
        ARow->setText(0, ActionTypeText(ARecord->type_));
        if (const auto* exec = dynamic_cast<const TExecActionRecord*>(ARecord))
            details = exec->Path + QLatin1Char(' ') + exec->Arguments;
        else if (const auto* mail = dynamic_cast<const TEmailActionRecord*>(ARecord))
            details = mail->To_ + QLatin1Char(' ') + mail->Subject;
        else if (const auto* message = dynamic_cast<const TShowMessageActionRecord*>(ARecord))
            details = message->Title;
    }
    ARow->setText(1, details);
}

void TfrmTask20Properties::ClearActionItems()
{
    ui->lvActions->clear();
}

TActionRecord* TfrmTask20Properties::RecordOf(QTreeWidgetItem* ARow) const
{
    auto* row = static_cast<TActionRow*>(ARow);
    return row ? row->Record.get() : nullptr;
}

// ---- texts and platform -------------------------------------------------------------------

QString TfrmTask20Properties::TriggerTypeText(TTriggerType AType)
{
    static const char* const texts[] = {"Once",          "Daily",      "Weekly",          "Monthly date",
                                        "Monthly day of the week", "On idle", "At startup", "At logon",
                                        "On Session Connect", "On Session Disconnect", "On lock", "On unlock",
                                        "Unknown"};
    return QString::fromLatin1(texts[std::min<int>(AType, ttUnknown)]);
}

QString TfrmTask20Properties::TaskStatusText(TTaskStatus AStatus)
{
    static const char* const texts[] = {"Ready",      "Running",    "Disabled",          "Has not run", "No more runs",
                                        "Not scheduled", "Terminated", "No valid triggers", "Unknown",     "Disabled",
                                        "Queued",     "Ready",      "Running"};
    return AStatus <= ts2Running ? QString::fromLatin1(texts[AStatus]) : QStringLiteral("Unknown");
}

QString TfrmTask20Properties::ActionTypeText(qint32 AType)
{
    switch (AType) {
    case TASK_ACTION_EXEC: return QStringLiteral("Start a program");
    case TASK_ACTION_SEND_EMAIL: return QStringLiteral("Send an e-mail (deprecated)");
    case TASK_ACTION_SHOW_MESSAGE: return QStringLiteral("Display a message (deprecated)");
    default: return QStringLiteral("(Unknown)");
    }
}

void TfrmTask20Properties::GetNetworkProfileNames(QStringList& AStrings)
{
    AStrings.clear();
    if (const std::optional<QStringList> names = NetworkProfileSource::Current().ProfileNames()) {
        AStrings = *names;
        return;
    }
    Registry profiles(HKEY_LOCAL_MACHINE);
    if (!profiles.OpenKeyReadOnly(NetworkProfilesKey)) return;
    for (const QString& subKey : profiles.GetKeyNames()) {
        Registry profile(HKEY_LOCAL_MACHINE);
        if (!profile.OpenKeyReadOnly(NetworkProfilesKey + QLatin1Char('\\') + subKey)) continue;
        // A profile without a readable name is skipped like one that cannot be opened.
        if (profile.GetDataType(QStringLiteral("ProfileName")) != rdString) continue;
        AStrings << profile.ReadString(QStringLiteral("ProfileName"));
    }
}

void TfrmTask20Properties::SetShieldIcon(QAbstractButton* AButton)
{
    if (OsVersion::Current().Major() < 6) return;
    QIcon shield = AButton->style()->standardIcon(QStyle::SP_VistaShield);
    if (shield.isNull()) shield = AButton->style()->standardIcon(QStyle::SP_MessageBoxWarning);
    AButton->setIcon(shield);
}

// ---- dependency rules and immediate writes -----------------------------------------------

void TfrmTask20Properties::ckbStartOnIdleOnlyClick()
{
    const bool idle = ui->ckbStartOnIdleOnly->isChecked();
    ui->ckbStopIfCeasesIdle->setEnabled(idle);
    ui->cbIdleMinutesStart->setEnabled(idle);
    ui->cbWaitForIdle->setEnabled(idle);
    ui->labWaitForIdle->setEnabled(idle);
    ui->ckbRestartIfIdleResume->setEnabled(idle && ui->ckbStopIfCeasesIdle->isChecked());
    if (!BlockUpdates) ConfigureIdleConditions();
}

void TfrmTask20Properties::ckbStopIfCeasesIdleClick()
{
    ui->ckbRestartIfIdleResume->setEnabled(ui->ckbStartOnIdleOnly->isChecked() && ui->ckbStopIfCeasesIdle->isChecked());
    if (!BlockUpdates) ConfigureIdleConditions();
}

void TfrmTask20Properties::IdleConditionChange()
{
    if (!BlockUpdates) ConfigureIdleConditions();
}

void TfrmTask20Properties::ckbStartOnACPowerClick()
{
    ui->ckbStopOnBattery->setEnabled(ui->ckbStartOnACPower->isChecked());
}

void TfrmTask20Properties::ckbStartOnlyOnNetworkClick()
{
    ui->cbNetworkConnections->setEnabled(ui->ckbStartOnlyOnNetwork->isChecked());
}

void TfrmTask20Properties::ckbRestartIfFailsClick()
{
    const bool restart = ui->ckbRestartIfFails->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{ui->cbRestartAttempt, ui->labRestartAttempts1,
                                                             ui->labRestartAttempts2, ui->udRestartAttempts})
        control->setEnabled(restart);
}

void TfrmTask20Properties::ckbStopIfRunningLongerClick()
{
    ui->cbStopIfRunning->setEnabled(ui->ckbStopIfRunningLonger->isChecked());
}

void TfrmTask20Properties::ckbDeleteNonScheduledClick()
{
    ui->cbDeleteNotScheduled->setEnabled(ui->ckbDeleteNonScheduled->isChecked());
}

void TfrmTask20Properties::rbRunWhetherLoggedOrNoClick()
{
    if (BlockUpdates) return;
    ui->ckbNotStorePassword->setEnabled(ui->rbRunWhetherLoggedOrNo->isChecked());
    if (ui->rbRunWhetherLoggedOrNo->isChecked()) FEditingTask->SetTaskLogonType(tltPassword);
}

void TfrmTask20Properties::rbRunOnLoggedOnClick()
{
    if (BlockUpdates) return;
    if (ui->rbRunOnLoggedOn->isChecked()) FEditingTask->SetTaskLogonType(tltInteractiveToken);
}

void TfrmTask20Properties::ckbRunWithHighestClick()
{
    if (BlockUpdates) return;
    OleCheck(PrincipalOf(FEditingTask->GetTaskDefinition().Get())
                 ->put_RunLevel(ui->ckbRunWithHighest->isChecked() ? TASK_RUNLEVEL_HIGHEST : TASK_RUNLEVEL_LUA));
}

void TfrmTask20Properties::ckbTaskHiddenClick()
{
    if (BlockUpdates) return;
    FEditingTask->SetVistaFlag(tfvHidden, ui->ckbTaskHidden->isChecked());
}

void TfrmTask20Properties::cbConfigureTaskForChange()
{
    if (BlockUpdates) return;
    const int index = ui->cbConfigureTaskFor->currentIndex();
    if (index >= 0) FEditingTask->SetTaskCompatibility(kCompatibilityByIndex[index]);
}

void TfrmTask20Properties::memDescriptionChange()
{
    if (BlockUpdates) return;
    FEditingTask->SetComment(ui->memDescription->toPlainText());
}

void TfrmTask20Properties::btAdminRequiredClick()
{
    FPrompts->ShowMessage(this, QStringLiteral("This requires administrator privileges!"), {}, QMessageBox::Information);
}

void TfrmTask20Properties::Button1Click()
{
    QString name = ui->edUserGroupName->text();
    const bool group = FEditingTask->GetTaskLogonType() == tltGroup;
    if (!ExecuteAccountDialog(name, FCurrPassword, group)) return;
    FCurrUserOrGroupName = name;
    // The system account comes back as an empty name; it is a choice too, not "unchanged".
    FUseSystemAccount = !group && name.isEmpty();
}

// ---- the pages' commands ------------------------------------------------------------------

void TfrmTask20Properties::acActionNewExecute()
{
    TActionRecord* created = nullptr;
    if (!EditTaskAction(created, true) || !created) return;
    auto* row = new TActionRow(ui->lvActions);
    row->Record.reset(created);
    row->Record->ActionIndex = -1;
    row->Record->OriginalAction = nullptr;
    ShowActionItem(row->Record.get(), row);
    ui->lvActions->setCurrentItem(row);
    UpdateActions();
}

void TfrmTask20Properties::acActionEditExecute()
{
    QTreeWidgetItem* row = ui->lvActions->currentItem();
    if (!row || !row->isSelected()) return;
    TActionRecord* record = RecordOf(row);
    if (IsKeptAsIs(record)) {
        FPrompts->ShowMessage(this, QStringLiteral("This kind of action cannot be edited here. It is kept as it is."), {},
                              QMessageBox::Information);
        return;
    }
    if (EditTaskAction(record, false)) ShowActionItem(record, row);
}

void TfrmTask20Properties::acActionDeleteExecute()
{
    QTreeWidgetItem* row = ui->lvActions->currentItem();
    if (!row || !row->isSelected()) return;
    if (!FPrompts->ConfirmWarning(this, QStringLiteral("This will delete the selected action! Continue?"))) return;
    ActionsToDelete.push_back(std::move(static_cast<TActionRow*>(row)->Record));
    delete row;
    UpdateActions();
}

void TfrmTask20Properties::acTriggerDeleteExecute()
{
    QTreeWidgetItem* row = ui->lvTriggers->currentItem();
    if (!row || !row->isSelected()) return;
    if (!FPrompts->ConfirmWarning(this, QStringLiteral("This will delete the selected trigger! Continue?"))) return;
    TriggersToDelete << static_cast<TTriggerRow*>(row)->Trigger;
    delete row;
    UpdateActions();
}

void TfrmTask20Properties::UpdateActions()
{
    ui->acTriggerNew->setEnabled(false);
    ui->acTriggerEdit->setEnabled(false);
    ui->acTriggerDelete->setEnabled(!ui->lvTriggers->selectedItems().isEmpty());
    const bool action = !ui->lvActions->selectedItems().isEmpty();
    ui->acActionEdit->setEnabled(action);
    ui->acActionDelete->setEnabled(action);
}

// ---- OK and Cancel ------------------------------------------------------------------------

QString TfrmTask20Properties::InputProblem() const
{
    if (ui->ckbRestartIfFails->isChecked() && !ui->udRestartAttempts->hasAcceptableInput())
        return QStringLiteral("\"%1\" needs a number of attempts from 0 to %2.")
            .arg(ui->labRestartAttempts1->text())
            .arg(ui->udRestartAttempts->maximum());

    if (ui->ckbStartOnlyOnNetwork->isEnabled() && ui->ckbStartOnlyOnNetwork->isChecked()) {
        const QString field = ui->ckbStartOnlyOnNetwork->text();
        if (ui->cbNetworkConnections->currentIndex() < 0) {
            if (ui->cbNetworkConnections->placeholderText().isEmpty())
                return QStringLiteral("\"%1\" needs a network connection. Choose one from the list.").arg(field);
        } else {
            QStringList profiles;
            GetNetworkProfileNames(profiles);
            const QString chosen = ui->cbNetworkConnections->currentText();
            if (!profiles.contains(chosen))
                return QStringLiteral("\"%1\": the network connection \"%2\" no longer exists on this computer. Choose another one.")
                    .arg(field, chosen);
        }
    }

    for (int i = 0; i < ui->lvActions->topLevelItemCount(); ++i) {
        const auto* exec = dynamic_cast<const TExecActionRecord*>(RecordOf(ui->lvActions->topLevelItem(i)));
        if (exec && exec->Path.trimmed().isEmpty())
            return QStringLiteral("Action %1 (\"%2\"): \"Program/script:\" is empty.").arg(i + 1).arg(ActionTypeText(TASK_ACTION_EXEC));
    }
    return QString();
}

void TfrmTask20Properties::accept()
{
    const QString problem = InputProblem();
    if (!problem.isEmpty()) {
        FPrompts->ShowMessage(this, problem, {}, QMessageBox::Warning);
        return;
    }
    try {
        WriteAndSave();
    } catch (const std::exception& e) {
        TErrorReport::Show(*FPrompts, this, e);
        return;
    }
    FSaved = true;
    QDialog::accept();
}

void TfrmTask20Properties::reject()
{
    // The form's immediate writes live in the item's definition; dropping them here keeps a
    // later save of the same item from registering what the user cancelled.
    if (!FSaved && !FSavedDefinition.isEmpty()) {
        try {
            OleCheck(FEditingTask->GetTaskDefinition()->put_XmlText(FSavedDefinition));
            FEditingTask->Activate();
        } catch (const Exception& e) {
            TErrorReport::Show(*FPrompts, this, e);
        }
    }
    QDialog::reject();
}

void TfrmTask20Properties::WriteAndSave()
{
    // Asking the service about the task first: one deleted by someone else while the form was
    // open gives the service's own error here, instead of being registered anew.
    FEditingTask->GetStatus();
    SetGeneralSettings();
    ConfigureConditionsPage();
    ConfigureSettingsPage();
    ConfigureActionsInTask();
    DeleteRemovedTriggers();
    // A changed account is registered with the service at once, so it goes last: what it
    // registers is then the whole edited definition, never half of it.
    if (SetChosenAccount()) SetLogonTypeFromButtons();
    FEditingTask->Deactivate(true);
}

bool TfrmTask20Properties::SetChosenAccount()
{
    if (!FCurrUserOrGroupName.isEmpty()) {
        if (FEditingTask->GetTaskLogonType() == tltGroup)
            FEditingTask->SetAccountInformation(QString(), FCurrPassword, FCurrUserOrGroupName);
        else
            FEditingTask->SetAccountInformation(FCurrUserOrGroupName, FCurrPassword, QString());
        return true;
    }
    if (!FUseSystemAccount) return false;
    FEditingTask->SetAccountInformation(QString(), QString(), QString());
    return true;
}

void TfrmTask20Properties::SetLogonTypeFromButtons()
{
    // The radio buttons speak only for the two logon types they show: a group, a service
    // account or a logon type neither button stands for is left as it is.
    const TTaskLogonType current = FEditingTask->GetTaskLogonType();
    if (current == tltGroup || current == tltServiceAccount) return;
    if (ui->rbRunOnLoggedOn->isChecked())
        FEditingTask->SetTaskLogonType(tltInteractiveToken);
    else if (ui->rbRunWhetherLoggedOrNo->isChecked())
        FEditingTask->SetTaskLogonType(tltPassword);
}

void TfrmTask20Properties::SetGeneralSettings()
{
    FEditingTask->SetComment(ui->memDescription->toPlainText());
    OleCheck(PrincipalOf(FEditingTask->GetTaskDefinition().Get())
                 ->put_RunLevel(ui->ckbRunWithHighest->isChecked() ? TASK_RUNLEVEL_HIGHEST : TASK_RUNLEVEL_LUA));
    SetLogonTypeFromButtons();
    FEditingTask->SetVistaFlag(tfvHidden, ui->ckbTaskHidden->isChecked());
    const int compatibility = ui->cbConfigureTaskFor->currentIndex();
    if (compatibility >= 0) FEditingTask->SetTaskCompatibility(kCompatibilityByIndex[compatibility]);
}

void TfrmTask20Properties::ConfigureConditionsPage()
{
    ConfigureIdleConditions();
    ConfigurePowerConditions();
    ConfigureNetworkCondition();
}

void TfrmTask20Properties::ConfigureIdleConditions()
{
    const ComPtr<ITaskSettings> settings = Settings();
    OleCheck(settings->put_RunOnlyIfIdle(AsVariantBool(ui->ckbStartOnIdleOnly->isChecked())));
    if (!ui->ckbStartOnIdleOnly->isChecked()) return;
    const ComPtr<IIdleSettings> idle = IdleSettingsOf(settings.Get());
    // A list without a selection shows a stored value no item denotes: it is kept.
    if (const auto wait = ChosenDuration(ui->cbIdleMinutesStart)) OleCheck(idle->put_WaitTimeout(*wait));
    if (const auto duration = ChosenDuration(ui->cbWaitForIdle)) OleCheck(idle->put_IdleDuration(*duration));
    OleCheck(idle->put_StopOnIdleEnd(AsVariantBool(ui->ckbStopIfCeasesIdle->isChecked())));
    OleCheck(idle->put_RestartOnIdle(AsVariantBool(ui->ckbRestartIfIdleResume->isChecked())));
}

void TfrmTask20Properties::ConfigurePowerConditions()
{
    const ComPtr<ITaskSettings> settings = Settings();
    OleCheck(settings->put_DisallowStartIfOnBatteries(AsVariantBool(ui->ckbStartOnACPower->isChecked())));
    OleCheck(settings->put_StopIfGoingOnBatteries(AsVariantBool(ui->ckbStopOnBattery->isChecked())));
    OleCheck(settings->put_WakeToRun(AsVariantBool(ui->ckbWakePC->isChecked())));
}

void TfrmTask20Properties::ConfigureNetworkCondition()
{
    if (!ui->ckbStartOnlyOnNetwork->isEnabled()) return;
    const ComPtr<INetworkSettings> network = NetworkSettings();
    if (!ui->ckbStartOnlyOnNetwork->isChecked())
        OleCheck(network->put_Name(QString()));
    else if (ui->cbNetworkConnections->currentIndex() >= 0)
        OleCheck(network->put_Name(ui->cbNetworkConnections->currentText()));
    // Checked without a selection: the stored profile this computer does not know is kept.
}

void TfrmTask20Properties::ConfigureSettingsPage()
{
    const ComPtr<ITaskSettings> settings = Settings();
    OleCheck(settings->put_AllowDemandStart(AsVariantBool(ui->ckbAllowRunOnDemand->isChecked())));
    FEditingTask->SetVistaFlag(tfvStartWhenAvailable, ui->ckbRunAsSoonAsPossible->isChecked());
    if (ui->ckbRestartIfFails->isChecked()) {
        if (const auto interval = ChosenDuration(ui->cbRestartAttempt)) OleCheck(settings->put_RestartInterval(*interval));
        OleCheck(settings->put_RestartCount(ui->udRestartAttempts->value()));
    } else {
        OleCheck(settings->put_RestartInterval(QString()));
    }
    if (!ui->ckbStopIfRunningLonger->isChecked())
        OleCheck(settings->put_ExecutionTimeLimit(QString()));
    else if (const auto limit = ChosenDuration(ui->cbStopIfRunning))
        OleCheck(settings->put_ExecutionTimeLimit(*limit));
    OleCheck(settings->put_AllowHardTerminate(AsVariantBool(ui->ckbForceToStop->isChecked())));
    if (!ui->ckbDeleteNonScheduled->isChecked())
        OleCheck(settings->put_DeleteExpiredTaskAfter(QString()));
    else if (const auto expiry = ChosenDuration(ui->cbDeleteNotScheduled))
        OleCheck(settings->put_DeleteExpiredTaskAfter(*expiry));
    FEditingTask->SetTaskInstancesPolicy(static_cast<TTaskInstancesPolicy>(ui->cbNewInstance->currentIndex()));
}

void TfrmTask20Properties::ConfigureActionsInTask()
{
    const int rows = ui->lvActions->topLevelItemCount();
    for (int i = 0; i < rows; ++i) {
        TActionRecord* record = RecordOf(ui->lvActions->topLevelItem(i));
        if (record->OriginalAction && !IsKeptAsIs(record)) record->WriteToAction(record->OriginalAction.Get());
    }
    DeleteRemovedActions();
    for (int i = 0; i < rows; ++i) {
        TActionRecord* record = RecordOf(ui->lvActions->topLevelItem(i));
        if (record->OriginalAction) continue;
        record->OriginalAction = FEditingTask->InsertAction(record->type_);
        record->WriteToAction(record->OriginalAction.Get());
    }
    // The definition now holds the rows' actions in the rows' order. Numbering the records
    // so lets another OK (after a failed registration) delete by index again.
    for (int i = 0; i < rows; ++i) RecordOf(ui->lvActions->topLevelItem(i))->ActionIndex = i + 1;
}

void TfrmTask20Properties::DeleteRemovedActions()
{
    QList<qint32> indexes;
    for (const auto& record : ActionsToDelete) {
        if (record->ActionIndex > 0) indexes << record->ActionIndex;
    }
    std::sort(indexes.begin(), indexes.end(), std::greater<>());
    for (const qint32 index : std::as_const(indexes)) FEditingTask->RemoveAction(index);
    ActionsToDelete.clear();
}

void TfrmTask20Properties::DeleteRemovedTriggers()
{
    TTriggers* triggers = FEditingTask->GetTriggers();
    while (!TriggersToDelete.isEmpty()) {
        const int index = triggers->IndexOf(TriggersToDelete.takeFirst());
        if (index >= 0) triggers->Delete(index);
    }
}
