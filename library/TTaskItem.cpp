#include "TTaskItem.h"

#include "PropSheet.h"
#include "ResultCodes.h"
#include "TTaskScheduler.h"
#include "TTrigger.h"
#include "TTriggers.h"
#include "TaskDefinitionParts.h"
#include "TaskService2.h"
#include "kvErrors.h"
#include "kvTask.h"
#include "kvUtils.h"
#include "tvMSTask.h"

#include <QByteArray>
#include <QIODevice>
#include <array>
#include <optional>
#include <utility>

namespace {

// The 1.0 flag bit of each TTaskFlag member, in member order.
constexpr std::array<DWORD, 12> kFlagBits{
    TASK_FLAG_INTERACTIVE,
    TASK_FLAG_DELETE_WHEN_DONE,
    TASK_FLAG_DISABLED,
    TASK_FLAG_HIDDEN,
    TASK_FLAG_RUN_ONLY_IF_LOGGED_ON,
    TASK_FLAG_START_ONLY_IF_IDLE,
    TASK_FLAG_SYSTEM_REQUIRED,
    TASK_FLAG_KILL_ON_IDLE_END,
    TASK_FLAG_RESTART_ON_IDLE_RESUME,
    TASK_FLAG_DONT_START_IF_ON_BATTERIES,
    TASK_FLAG_KILL_IF_GOING_ON_BATTERIES,
    TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET,
};

// Saving makes the saved file the task object's own file.
constexpr BOOL kRemember = 1;
// The service's pages save their own changes to the task.
constexpr BOOL kPersistChanges = 1;

ComPtr<IRegistrationInfo> RegistrationInfoOf(ITaskDefinition* definition)
{
    ComPtr<IRegistrationInfo> info;
    OleCheck(definition->get_RegistrationInfo(info.Put()));
    return info;
}

} // namespace

TTaskDefinitionRef::TTaskDefinitionRef() = default;
TTaskDefinitionRef::TTaskDefinitionRef(ComPtr<ITaskDefinition> ADefinition) : FDefinition(std::move(ADefinition)) {}
TTaskDefinitionRef::TTaskDefinitionRef(const TTaskDefinitionRef& AOther) = default;
TTaskDefinitionRef& TTaskDefinitionRef::operator=(const TTaskDefinitionRef& AOther) = default;
TTaskDefinitionRef::~TTaskDefinitionRef() = default;

TTaskDefinitionRef TTaskDefinitionRef::Of(const ComPtr<IRegisteredTask>& ATask)
{
    TTaskDefinitionRef ref;
    ref.FSource = ATask;
    return ref;
}

ITaskDefinition* TTaskDefinitionRef::Get() const
{
    if (FSource) {
        ComPtr<ITaskDefinition> definition;
        OleCheck(FSource->get_Definition(definition.Put()));
        FDefinition = std::move(definition);
        FSource = nullptr;
    }
    return FDefinition.Get();
}

ComPtr<ITaskDefinition> TTaskDefinitionRef::Ptr() const
{
    Get();
    return FDefinition;
}

TTaskItem::TTaskItem(TTaskScheduler* ATaskManager)
    : FTaskManager(ATaskManager), FTriggers(std::make_unique<TTriggers>(this))
{
}

TTaskItem::~TTaskItem()
{
    FTriggers.reset();
    FInterface = nullptr;
}

// ---- record -------------------------------------------------------------------------------

QString TTaskItem::GetName() const
{
    return RemoveJobExtension(FTaskName);
}

bool TTaskItem::IsVista() const
{
    return FTaskManager && FTaskManager->RunningVistaOrLater();
}

void TTaskItem::CheckInterface() const
{
    if (!FInterface) throw ETaskError(STaskNotActivated.arg(GetName()));
}

void TTaskItem::CheckDefinition() const
{
    if (!FTaskDefinition) throw ETaskError(STaskNotActivated.arg(GetName()));
}

ComPtr<ITaskDefinition> TTaskItem::GetTaskDefinition() const
{
    return IsVista() ? FTaskDefinition.Ptr() : nullptr;
}

TTaskFlags TTaskItem::GetFlags() const
{
    DWORD bits = 0;
    OleCheck(TaskAs<ITask>()->GetFlags(&bits));
    TTaskFlags flags;
    for (size_t member = 0; member < kFlagBits.size(); ++member) {
        if (bits & kFlagBits[member]) flags.Include(static_cast<TTaskFlag>(member));
    }
    return flags;
}

void TTaskItem::SetFlags(TTaskFlags Value)
{
    DWORD bits = 0;
    for (size_t member = 0; member < kFlagBits.size(); ++member) {
        if (Value.Contains(static_cast<TTaskFlag>(member))) bits |= kFlagBits[member];
    }
    OleCheck(TaskAs<ITask>()->SetFlags(bits));
}

// ---- life cycle ---------------------------------------------------------------------------

void TTaskItem::Activate()
{
    if (!IsVista()) {
        if (!FTaskManager || !FTaskManager->FITS) throw ESchedulerError(SServiceNotRunning);
        FInterface = nullptr;
        ComPtr<IUnknown> task;
        if (FAILED(FTaskManager->FITS->Activate(FTaskName, IID_ITask, task.Put())) || !task)
            throw ESchedulerError(SCouldNotActivateTask.arg(GetName()));
        FInterface = std::move(task);
    }
    FTriggers->InitTriggers();
}

void TTaskItem::Deactivate(bool SaveChanges)
{
    if (IsVista()) {
        if (!SaveChanges) return;
        CheckDefinition();
        FInterface = ComPtr<IUnknown>(RegisterDefinitionAs(FTaskName, VARIANT::String(QString())).Get());
        return;
    }
    CheckInterface();
    if (SaveChanges) {
        const ComPtr<IPersistFile> file = TaskAs<IPersistFile>();
        if (file->IsDirty() == S_OK) {
            FTriggers->UpdateTriggers();
            // A failed save keeps the task object, so that the changes are not lost with it.
            OleCheck(file->Save(nullptr, kRemember));
        }
    }
    FInterface = nullptr;
}

ComPtr<IRegisteredTask> TTaskItem::RegisterDefinition(const QString& APath, const VARIANT& AUserId,
                                                      const VARIANT& APassword,
                                                      std::optional<TASK_LOGON_TYPE> ALogonType,
                                                      const VARIANT& ASddl)
{
    // 1. The folder selected in the scheduler, not the one the task was listed from.
    const ComPtr<ITaskFolder> folder = FTaskManager->CurrentFolder();
    // 2. The logon type, unless the caller names one: the principal's of this moment.
    const TASK_LOGON_TYPE logonType =
        ALogonType ? *ALogonType : LogonTypeOf(PrincipalOf(FTaskDefinition.Get()).Get());
    // 3. Create or update; but a task that this item has not registered yet, a new one or a
    // copy under another name, is only created, so that it never replaces another task.
    const bool createOnly = FNewTask || APath.compare(FTaskName, Qt::CaseInsensitive) != 0;
    ComPtr<IRegisteredTask> task;
    OleCheck(folder->RegisterTaskDefinition(APath, FTaskDefinition.Get(), createOnly ? TASK_CREATE : TASK_CREATE_OR_UPDATE,
                                            AUserId, APassword, logonType, ASddl, task.Put()));
    FNewTask = false;
    return task;
}

ComPtr<IRegisteredTask> TTaskItem::RegisterDefinitionAs(const QString& APath, const VARIANT& ASddl)
{
    return RegisterDefinition(APath, VARIANT::String(FTaskSched2UserID), VARIANT::String(FTaskSched2Pw), std::nullopt,
                              ASddl);
}

void TTaskItem::Save()
{
    if (IsVista()) {
        CheckDefinition();
        FInterface = ComPtr<IUnknown>(RegisterDefinitionAs(FTaskName, VARIANT::Empty()).Get());
        return;
    }
    CheckInterface();
    OleCheck(TaskAs<IPersistFile>()->Save(nullptr, kRemember));
}

void TTaskItem::Save(const QString& AName)
{
    if (IsVista()) {
        CheckDefinition();
        const ComPtr<IRegisteredTask> task = RegisterDefinitionAs(RemoveJobExtension(AName), VARIANT::Empty());
        FInterface = ComPtr<IUnknown>(task.Get());
        // A 2.0 name has no ".job": the item is named as it was registered, so that lookups
        // and deletions of that name find it.
        OleCheck(task->get_Name(&FTaskName));
    } else {
        CheckInterface();
        const ComPtr<IPersistFile> file = TaskAs<IPersistFile>();
        QString current;
        OleCheck(file->GetCurFile(&current));
        const qsizetype separator = std::max(current.lastIndexOf(QLatin1Char('/')), current.lastIndexOf(QLatin1Char('\\')));
        const QString fileName = AddJobExtension(AName);
        const QString path = current.left(separator + 1) + fileName;
        OleCheck(file->Save(&path, kRemember));
        FTaskName = fileName;
    }
    if (FTaskManager) FTaskManager->PlaceAgain(this);
}

// ---- commands -----------------------------------------------------------------------------

void TTaskItem::Run()
{
    CheckInterface();
    if (IsVista()) {
        ComPtr<IRunningTask> running;
        OleCheck(TaskAs<IRegisteredTask>()->Run(VARIANT::Empty(), running.Put()));
        return;
    }
    OleCheck(TaskAs<ITask>()->Run());
}

void TTaskItem::Terminate()
{
    OleCheck(TaskAs<ITask>()->Terminate());
}

void TTaskItem::EditWorkItem()
{
    if (IsVista()) return;
    OleCheck(TaskAs<ITask>()->EditWorkItem(nullptr, 0));
}

void TTaskItem::GetInterface(REFIID IID, void** pUnk)
{
    if (!FInterface) Activate();
    // A 2.0 task that was never registered has no object even after activation.
    CheckInterface();
    OleCheck(FInterface->QueryInterface(IID, pUnk));
}

// ---- text properties ----------------------------------------------------------------------

void TTaskItem::EnsureExecAction()
{
    CheckDefinition();
    const ComPtr<IActionCollection> actions = ActionsOf(FTaskDefinition.Get());
    if (ActionCountOf(actions.Get()) != 0) return;
    ComPtr<IAction> action;
    OleCheck(actions->Create(TASK_ACTION_EXEC, action.Put()));
    CurrentTask = 1;
}

ComPtr<IExecAction> TTaskItem::CurrentExecAction() const
{
    CheckDefinition();
    return ActionAs<IExecAction>(ActionAt(ActionsOf(FTaskDefinition.Get()).Get(), CurrentTask));
}

QString TTaskItem::GetApplicationName() const
{
    QString result;
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->GetApplicationName(&result));
        return result;
    }
    CheckDefinition();
    const ComPtr<IActionCollection> actions = ActionsOf(FTaskDefinition.Get());
    LONG index = CurrentTask;
    if (index == 0) {
        const LONG count = ActionCountOf(actions.Get());
        if (count == 0) return SActionsEmpty;
        if (count > 1) return SMultipleActions;
        index = 1;
    }
    const ComPtr<IAction> action = ActionAt(actions.Get(), index);
    TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
    OleCheck(action->get_Type(&type));
    switch (type) {
    case TASK_ACTION_EXEC:
        OleCheck(ActionAs<IExecAction>(action)->get_Path(&result));
        return result;
    case TASK_ACTION_COM_HANDLER:
        return SActionComObject;
    case TASK_ACTION_SEND_EMAIL:
        return SActionSendEmail;
    case TASK_ACTION_SHOW_MESSAGE:
        return SActionShowMessage;
    }
    return QString();
}

void TTaskItem::SetApplicationName(const QString& Value)
{
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->SetApplicationName(Value));
        return;
    }
    EnsureExecAction();
    OleCheck(CurrentExecAction()->put_Path(Value));
}

QString TTaskItem::GetParameters()
{
    QString result;
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->GetParameters(&result));
        return result;
    }
    CheckDefinition();
    if (CurrentTask < 1) CurrentTask = 1;
    OleCheck(CurrentExecAction()->get_Arguments(&result));
    return result;
}

void TTaskItem::SetParameters(const QString& Value)
{
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->SetParameters(Value));
        return;
    }
    EnsureExecAction();
    OleCheck(CurrentExecAction()->put_Arguments(Value));
}

QString TTaskItem::GetWorkingDirectory()
{
    QString result;
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->GetWorkingDirectory(&result));
        return result;
    }
    EnsureExecAction();
    OleCheck(CurrentExecAction()->get_WorkingDirectory(&result));
    return result;
}

void TTaskItem::SetWorkingDirectory(const QString& Value)
{
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->SetWorkingDirectory(Value));
        return;
    }
    EnsureExecAction();
    OleCheck(CurrentExecAction()->put_WorkingDirectory(Value));
}

QString TTaskItem::GetComment() const
{
    QString result;
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->GetComment(&result));
        return result;
    }
    CheckDefinition();
    OleCheck(RegistrationInfoOf(FTaskDefinition.Get())->get_Description(&result));
    return result;
}

void TTaskItem::SetComment(const QString& Value)
{
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->SetComment(Value));
        return;
    }
    CheckDefinition();
    OleCheck(RegistrationInfoOf(FTaskDefinition.Get())->put_Description(Value));
}

QString TTaskItem::GetCreator() const
{
    QString result;
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->GetCreator(&result));
        return result;
    }
    CheckDefinition();
    OleCheck(RegistrationInfoOf(FTaskDefinition.Get())->get_Author(&result));
    return result;
}

void TTaskItem::SetCreator(const QString& Value)
{
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->SetCreator(Value));
        return;
    }
    CheckDefinition();
    OleCheck(RegistrationInfoOf(FTaskDefinition.Get())->put_Author(Value));
}

QString TTaskItem::GetAccountName() const
{
    QString result;
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->GetAccountInformation(&result));
        return result;
    }
    CheckDefinition();
    const ComPtr<IPrincipal> principal = PrincipalOf(FTaskDefinition.Get());
    if (LogonTypeOf(principal.Get()) == TASK_LOGON_GROUP)
        OleCheck(principal->get_GroupId(&result));
    else
        OleCheck(principal->get_UserId(&result));
    return result;
}

void TTaskItem::SetAccountInformation(const QString& AAccountName, const QString& APassword, const QString& AGroupID)
{
    if (!IsVista()) {
        const QString* password = APassword.isEmpty() ? nullptr : &APassword;
        OleCheck(TaskAs<ITask>()->SetAccountInformation(AAccountName.isEmpty() ? QStringLiteral("") : AAccountName,
                                                         password));
        return;
    }
    CheckDefinition();
    // The first matching case, tested top to bottom. In every case: the principal's user
    // id, then its logon type, then an immediate registration under `Name` with an empty
    // string as security descriptor; the registered task is released and `FInterface` kept.
    // The registration's user id and password are the stored fields for a group or a
    // password (written before registering), empty strings otherwise (cleared afterwards).
    const ComPtr<IPrincipal> principal = PrincipalOf(FTaskDefinition.Get());
    const VARIANT noSddl = VARIANT::String(QString());
    const VARIANT none = VARIANT::String(QString());
    if (!AGroupID.isEmpty()) {
        OleCheck(principal->put_UserId(QString()));
        OleCheck(principal->put_LogonType(TASK_LOGON_GROUP));
        FTaskSched2UserID = AGroupID;
        FTaskSched2Pw.clear();
        RegisterDefinition(FTaskName, VARIANT::String(FTaskSched2UserID), none, TASK_LOGON_GROUP, noSddl);
    } else if (!APassword.isEmpty()) {
        OleCheck(principal->put_UserId(AAccountName));
        OleCheck(principal->put_LogonType(TASK_LOGON_PASSWORD));
        FTaskSched2UserID = AAccountName;
        FTaskSched2Pw = APassword;
        RegisterDefinition(FTaskName, VARIANT::String(FTaskSched2UserID), VARIANT::String(FTaskSched2Pw),
                           TASK_LOGON_PASSWORD, noSddl);
    } else {
        const bool system = AAccountName.isEmpty();
        OleCheck(principal->put_UserId(system ? QStringLiteral("System") : AAccountName));
        OleCheck(principal->put_LogonType(system ? TASK_LOGON_SERVICE_ACCOUNT : TASK_LOGON_INTERACTIVE_TOKEN));
        // The logon type is read back from the principal.
        RegisterDefinition(FTaskName, none, none, std::nullopt, noSddl);
        FTaskSched2UserID.clear();
        FTaskSched2Pw.clear();
    }
}

// ---- 1.0 run settings ---------------------------------------------------------------------

TTaskPriority TTaskItem::GetPriority() const
{
    DWORD priority = 0;
    OleCheck(TaskAs<ITask>()->GetPriority(&priority));
    switch (priority) {
    case IDLE_PRIORITY_CLASS:
        return tpIdle;
    case HIGH_PRIORITY_CLASS:
        return tpHigh;
    case REALTIME_PRIORITY_CLASS:
        return tpRealTime;
    default:
        return tpNormal;
    }
}

void TTaskItem::SetPriority(TTaskPriority Value)
{
    DWORD priority = NORMAL_PRIORITY_CLASS;
    switch (Value) {
    case tpIdle:
        priority = IDLE_PRIORITY_CLASS;
        break;
    case tpNormal:
        priority = NORMAL_PRIORITY_CLASS;
        break;
    case tpHigh:
        priority = HIGH_PRIORITY_CLASS;
        break;
    case tpRealTime:
        priority = REALTIME_PRIORITY_CLASS;
        break;
    }
    OleCheck(TaskAs<ITask>()->SetPriority(priority));
}

quint32 TTaskItem::GetMaxRunTime() const
{
    DWORD milliseconds = 0;
    OleCheck(TaskAs<ITask>()->GetMaxRunTime(&milliseconds));
    return milliseconds;
}

void TTaskItem::SetMaxRunTime(quint32 Value)
{
    if (!IsVista()) {
        OleCheck(TaskAs<ITask>()->SetMaxRunTime(Value));
        return;
    }
    CheckDefinition();
    OleCheck(SettingsOf(FTaskDefinition.Get())->put_ExecutionTimeLimit(Value == TASK_NO_MAX_RUN_TIME ? QStringLiteral("PT0S")
                                                                     : MinutesToDuration(Value / 60000)));
}

TIdleTime TTaskItem::GetIdleTime() const
{
    TIdleTime idle{0, 0};
    OleCheck(TaskAs<IScheduledWorkItem>()->GetIdleWait(&idle.wIdleMinutes, &idle.wDeadlineMinutes));
    return idle;
}

void TTaskItem::SetIdleTime(TIdleTime Value)
{
    OleCheck(TaskAs<IScheduledWorkItem>()->SetIdleWait(Value.wIdleMinutes, Value.wDeadlineMinutes));
}

bool TTaskItem::GetIsDirty() const
{
    const HRESULT hr = TaskAs<IPersistFile>()->IsDirty();
    OleCheck(hr);
    return hr == S_OK;
}

QString TTaskItem::GetCurFile() const
{
    QString path;
    OleCheck(TaskAs<IPersistFile>()->GetCurFile(&path));
    return path;
}

QString TTaskItem::GetTaskLocation() const
{
    if (!IsVista()) return QString();
    QString path;
    OleCheck(TaskAs<IRegisteredTask>()->get_Path(&path));
    const QString& name = FTaskName;
    if (path.endsWith(name)) path.chop(name.size());
    return path;
}

// ---- triggers -----------------------------------------------------------------------------

TTriggers* TTaskItem::GetTriggers() const
{
    if (!IsVista()) CheckInterface();
    return FTriggers.get();
}

QString TTaskItem::GetTriggerString() const
{
    TTriggers* triggers = GetTriggers();
    switch (triggers->Count()) {
    case 0:
        return STaskNotScheduled;
    case 1:
        return triggers->GetItem(0)->GetAsString();
    default:
        return SMultipleScheduleTimes;
    }
}

// ---- application data ---------------------------------------------------------------------

void TTaskItem::GetBinaryData(QIODevice& AStream) const
{
    if (IsVista()) {
        CheckDefinition();
        QString data;
        OleCheck(FTaskDefinition->get_Data(&data));
        AStream.write(reinterpret_cast<const char*>(data.utf16()), data.size() * qsizetype(sizeof(char16_t)));
        return;
    }
    QByteArray data;
    OleCheck(TaskAs<IScheduledWorkItem>()->GetWorkItemData(&data));
    if (!data.isEmpty()) AStream.write(data);
}

void TTaskItem::SetBinaryData(QIODevice& AStream)
{
    if (IsVista()) {
        CheckDefinition();
        QByteArray bytes = AStream.readAll();
        // Two bytes make one character of the data text; an odd last byte is completed with 0.
        if (bytes.size() % 2) bytes.append('\0');
        const QString data(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
        OleCheck(FTaskDefinition->put_Data(data));
        return;
    }
    const ComPtr<IScheduledWorkItem> item = TaskAs<IScheduledWorkItem>();
    const qint64 count = AStream.bytesAvailable();
    if (count == 0) return;
    // The 1.0 data count is a 16-bit word. Cutting a longer stream to its remainder would
    // store a fragment and report success, so it is refused and the task keeps its old data.
    if (count > TASK_MAX_WORK_ITEM_DATA) throw ETaskError(STaskDataTooLarge.arg(TASK_MAX_WORK_ITEM_DATA));
    const QByteArray bytes = AStream.read(count);
    OleCheck(item->SetWorkItemData(bytes));
}

// ---- property pages -----------------------------------------------------------------------

void TTaskItem::DisplayTaskPages(HWND AParentWnd, TPageTypes APages, const QString& ACaption)
{
    CheckInterface();
    ComPtr<IProvideTaskPage> provider;
    OleCheck(FInterface->QueryInterface(IProvideTaskPage::iid, provider.PutVoid()));
    PROPSHEETHEADERW header;
    header.dwFlags = PSH_HASHELP;
    header.hwndParent = AParentWnd;
    header.pszCaption = ACaption;
    header.nStartPage = 0;
    for (TPageType kind : {ptTask, ptSchedule, ptSettings}) {
        if (!APages.Contains(kind)) continue;
        HPROPSHEETPAGE page = nullptr;
        if (const HRESULT hr = provider->GetPage(static_cast<TASKPAGE>(kind), kPersistChanges, &page); FAILED(hr)) {
            for (HPROPSHEETPAGE made : header.phpage) DestroyPropertySheetPage(made);
            OleCheck(hr);
        }
        header.phpage.append(page);
    }
    if (header.phpage.isEmpty()) return;
    PropertySheetW(&header);
    // The schedule page may have changed the triggers.
    FTriggers->InitTriggers();
}
