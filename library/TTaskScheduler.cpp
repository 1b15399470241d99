#include "TTaskScheduler.h"

#include "ComputerName.h"
#include "ErrorInfo.h"
#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "InProcessTransport.h"
#include "ServiceControl.h"
#include "ServiceNotifications.h"
#include "ServiceRoot.h"
#include "TTaskItem.h"
#include "TaskDefinitionParts.h"
#include "TaskService2.h"
#include "kvErrors.h"
#include "kvTask.h"
#include "kvUtils.h"
#include "tvMSTask.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The library joins the object runtime on the thread that loads it (the main thread) and
// leaves it when the process ends; every scheduler lives in between.
struct ObjectRuntimeMembership {
    ObjectRuntimeMembership() { CoInitialize(nullptr); }
    ~ObjectRuntimeMembership() { CoUninitialize(); }
};
const ObjectRuntimeMembership s_objectRuntime;

const QString kVersion = QStringLiteral("2.0.22");
const QString kRootFolder = QStringLiteral("\\");

} // namespace

namespace {

// Whether the file-name extension of `name` (from its last "." after any path separator) is
// ".job", letter case ignored.
bool HasJobExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype separator = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char('/')));
    return dot >= 0 && dot > separator && LocaleCompareText(name.mid(dot), SJobExtension) == 0;
}

} // namespace

QString AddJobExtension(const QString& AName)
{
    return HasJobExtension(AName) ? AName : AName + SJobExtension;
}

QString RemoveJobExtension(const QString& AName)
{
    return HasJobExtension(AName) ? AName.left(AName.size() - SJobExtension.size()) : AName;
}

TTaskScheduler::TTaskScheduler(QObject* AOwner) : QObject(AOwner)
{
    SetActive(false);
    FVistaOrLater = IsVistaOrLater();
}

TTaskScheduler::~TTaskScheduler()
{
    Clear();
}

void TTaskScheduler::RaiseNotRunning()
{
    throw ESchedulerError(SServiceNotRunning);
}

bool TTaskScheduler::RunningVistaOrLater() const
{
    return FVistaOrLater && !FUseTaskScheduler1Only;
}

bool TTaskScheduler::GetActive() const
{
    return RunningVistaOrLater() ? static_cast<bool>(FTaskService) : static_cast<bool>(FITS);
}

void TTaskScheduler::SetActive(bool Value)
{
    if (Value)
        Open();
    else
        Close();
}

void TTaskScheduler::Open()
{
    FITS = nullptr;
    FTaskService = nullptr;
    FRemoteComputer.clear();
    FRewatch = false;
    if (!StartScheduler()) RaiseNotRunning();
    if (RunningVistaOrLater()) {
        ComPtr<ITaskService> service;
        OleCheck(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  service.PutVoid()));
        // Only a connected service becomes the connection: a failing Open leaves none.
        OleCheck(service->Connect(VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty()));
        FTaskService = std::move(service);
    } else {
        ComPtr<ITaskScheduler> scheduler;
        OleCheck(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                  scheduler.PutVoid()));
        FITS = std::move(scheduler);
    }
    Watch();
}

void TTaskScheduler::Close()
{
    FITS = nullptr;
    FTaskService = nullptr;
    if (FNotifications) FNotifications->Unsubscribe();
}

bool TTaskScheduler::GetWatching() const
{
    return GetActive() && FNotifications && FNotifications->IsSubscribed();
}

void TTaskScheduler::Watch()
{
    FRewatch = false;
    // A service hosted in this process has no daemon to report; the calls made here are
    // all there is. Another computer's reports do not concern it.
    if (InProcessServiceSelected() && FRemoteComputer.isEmpty()) {
        if (FNotifications) FNotifications->Unsubscribe();
        return;
    }
    if (!FNotifications) {
        FNotifications = new ServiceNotifications(this);
        connect(FNotifications, &ServiceNotifications::Notified, this, &TTaskScheduler::OnNotice);
        connect(FNotifications, &ServiceNotifications::Lost, this, &TTaskScheduler::OnNoticesLost);
        connect(FNotifications, &ServiceNotifications::Renewed, this, [this](bool subscribed) {
            if (!subscribed) return;
            FRewatch = false;
            // What changed while the reports were asked for was not reported.
            emit TaskChanged(tcMissed, QString(), QString());
        });
    }
    if (FRemoteComputer.isEmpty()) {
        FNotifications->Subscribe(ServiceRoot::DefaultPath());
        return;
    }
    // Another computer is asked in the background: logging in there again may take seconds,
    // which the caller need not wait for. Until the answer, the next listing may ask again.
    FRewatch = true;
    FNotifications->SubscribeRemoteInBackground(FRemoteComputer);
}

void TTaskScheduler::RenewWatch()
{
    // An answer still awaited may be the refusal of a service that this listing started
    // again: it is asked anew.
    if (FRewatch && GetActive()) Watch();
}

void TTaskScheduler::OnNotice(const ServiceNotice& ANotice)
{
    if (!GetActive()) return;
    const bool vista = RunningVistaOrLater();
    if ((ANotice.generation == 2) != vista) return;
    static const TTaskChange changes[] = {tcAdded, tcChanged, tcDeleted, tcRunStarted, tcRunEnded};
    const TTaskChange change = changes[ANotice.kind];
    if (!vista) {
        emit TaskChanged(change, ANotice.path, QString());
        return;
    }
    const qsizetype slash = ANotice.path.lastIndexOf(QLatin1Char('\\'));
    const QString folder = slash <= 0 ? kRootFolder : ANotice.path.left(slash);
    emit TaskChanged(change, ANotice.path.mid(slash + 1), folder);
}

void TTaskScheduler::OnNoticesLost()
{
    if (!GetActive()) return;
    // Another computer is asked again at once (in the background). Its service is not
    // started again for the reports alone: when it stopped, the next listing, which does
    // start it, asks again.
    if (!FRemoteComputer.isEmpty()) {
        Watch();
        return;
    }
    // The daemon may only have made room for other clients. A daemon that is gone is found
    // out by the next call, which opens the connection and the reports again.
    if (FNotifications->Subscribe(ServiceRoot::DefaultPath())) emit TaskChanged(tcMissed, QString(), QString());
}

bool TTaskScheduler::StartScheduler()
{
    FStartError.clear();
    const ServiceControl control;
    const QString name = ServiceControl::ScheduleServiceName();
    ServiceControl::State state = ServiceControl::State::Stopped;
    if (control.QueryState(name, state) != 0) return false;
    if (state == ServiceControl::State::Running) return true;
    return control.Start(name, &FStartError) == 0;
}

bool TTaskScheduler::SchedulerServiceRunning()
{
    ServiceControl::State state = ServiceControl::State::Stopped;
    return ServiceControl().QueryState(ServiceControl::ScheduleServiceName(), state) == 0
        && state == ServiceControl::State::Running;
}

void TTaskScheduler::Clear()
{
    while (!FItems.isEmpty()) delete FItems.takeLast();
}

void TTaskScheduler::Refresh()
{
    Clear();
    if (RunningVistaOrLater()) {
        const ComPtr<ITaskFolder> folder = CurrentFolder();
        FTaskCollection = nullptr;
        OleCheck(folder->GetTasks(FShowHidden ? TASK_ENUM_HIDDEN : 0, FTaskCollection.Put()));
        if (!FTaskCollection) RaiseNotRunning();
        LONG count = 0;
        OleCheck(FTaskCollection->get_Count(&count));
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<IRegisteredTask> task;
            OleCheck(FTaskCollection->get_Item(VARIANT::I4(i), task.Put()));
            if (task) AddRegisteredTask(task);
        }
    } else {
        if (!FITS) RaiseNotRunning();
        ComPtr<IEnumWorkItems> names;
        OleCheck(FITS->Enum(names.Put()));
        for (;;) {
            QStringList fetched;
            ULONG count = 0;
            if (names->Next(1, &fetched, &count) != S_OK || count == 0 || fetched.isEmpty()) break;
            AddTaskItem(fetched.first());
        }
    }
    SortByName();
    // After the listing, which starts another computer's service when it stopped.
    RenewWatch();
}

void TTaskScheduler::SortByName()
{
    const auto before = [](const TTaskItem* a, const TTaskItem* b) { return CompareTaskNames(a->FTaskName, b->FTaskName) < 0; };
    // A service that lists in order costs one comparison a task.
    if (std::is_sorted(FItems.cbegin(), FItems.cend(), before)) return;
    // Comparing two names in the locale's collation costs far more than comparing their
    // collation keys, and a sort compares each name many times: each name's key is made
    // once. Spellings of one name have equal keys and are ranked by the full comparison.
    struct Keyed {
        QCollatorSortKey key;
        TTaskItem* item;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(FItems.size()));
    for (TTaskItem* item : std::as_const(FItems)) keyed.push_back(Keyed{LocaleSortKeyText(item->FTaskName), item});
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        const int order = a.key.compare(b.key);
        return order != 0 ? order < 0 : before(a.item, b.item);
    });
    for (qsizetype i = 0; i < FItems.size(); ++i) FItems[i] = keyed[size_t(i)].item;
}

void TTaskScheduler::AddRegisteredTask(const ComPtr<IRegisteredTask>& ATask)
{
    auto item = std::make_unique<TTaskItem>(this);
    OleCheck(ATask->get_Name(&item->FTaskName));
    item->FInterface = ComPtr<IUnknown>(ATask.Get());
    item->FTaskDefinition = TTaskDefinitionRef::Of(ATask);
    FilterAndAppend(item.release());
}

std::unique_ptr<TTaskItem> TTaskScheduler::RegisteredItem(const ComPtr<IRegisteredTask>& ATask)
{
    auto item = std::make_unique<TTaskItem>(this);
    OleCheck(ATask->get_Name(&item->FTaskName));
    item->FInterface = ComPtr<IUnknown>(ATask.Get());
    item->FTaskDefinition = TTaskDefinitionRef::Of(ATask);
    if (!FShowHidden) {
        VARIANT_BOOL hidden = VARIANT_FALSE;
        OleCheck(SettingsOf(item->FTaskDefinition.Get())->get_Hidden(&hidden));
        if (hidden) return nullptr;
    }
    return item;
}

TTaskItem* TTaskScheduler::ReloadTask(const QString& ATaskName)
{
    const QString key = NameKey(ATaskName);
    int index = 0;
    TTaskItem* listed = FindTask(key, index) ? FItems.at(index) : nullptr;
    // An item in use stays as it is: a 2.0 one not registered yet, a 1.0 one activated (a
    // new work item holds its unsaved object that way).
    if (listed && (RunningVistaOrLater() ? listed->FNewTask : static_cast<bool>(listed->FInterface))) return listed;
    std::unique_ptr<TTaskItem> fresh;
    if (RunningVistaOrLater()) {
        ComPtr<IRegisteredTask> task;
        const HRESULT hr = CurrentFolder()->GetTask(RemoveJobExtension(key), task.Put());
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
            SetErrorInfo(0, nullptr);   // gone: an answer, not a failure
        else
            OleCheck(hr);
        if (task) fresh = RegisteredItem(task);
    } else {
        if (!FITS) RaiseNotRunning();
        ComPtr<IUnknown> task;
        if (SUCCEEDED(FITS->Activate(key, IID_ITask, task.Put())) && task) {
            fresh = std::make_unique<TTaskItem>(this);
            fresh->FTaskName = StoredJobName(task, key);
        } else {
            SetErrorInfo(0, nullptr);
        }
    }
    if (fresh && FOnBeforeTaskAdded) {
        bool canAdd = true;
        FOnBeforeTaskAdded(this, fresh.get(), canAdd);
        if (!canAdd) fresh.reset();
    }
    if (!fresh) {
        if (listed) delete FItems.takeAt(index);
        return nullptr;
    }
    if (!listed) {
        TTaskItem* item = InsertTaskItem(fresh->FTaskName);
        item->FTaskDefinition = fresh->FTaskDefinition;
        item->FInterface = fresh->FInterface;
        return item;
    }
    // The same object stays listed: whoever shows it keeps a pointer to it.
    listed->FTaskName = fresh->FTaskName;
    listed->FInterface = fresh->FInterface;
    listed->FTaskDefinition = fresh->FTaskDefinition;
    PlaceAgain(listed);
    return listed;
}

void TTaskScheduler::AddTaskItem(const QString& AName)
{
    // Only work items that open as tasks are listed; the object itself is not kept, the
    // item activates itself when it is used.
    ComPtr<IUnknown> task;
    if (FAILED(FITS->Activate(AddJobExtension(AName), IID_ITask, task.Put()))) return;
    auto item = std::make_unique<TTaskItem>(this);
    item->FTaskName = AName;
    FilterAndAppend(item.release());
}

void TTaskScheduler::FilterAndAppend(TTaskItem* AItem)
{
    std::unique_ptr<TTaskItem> item(AItem);
    bool canAdd = true;
    if (FOnBeforeTaskAdded) FOnBeforeTaskAdded(this, item.get(), canAdd);
    if (canAdd) FItems.append(item.release());
}

int TTaskScheduler::CompareTaskNames(const QString& A, const QString& B)
{
    const int c = LocaleCompareText(A, B);
    return c != 0 ? c : LocaleCompareStr(A, B);
}

bool TTaskScheduler::FindTask(const QString& AName, int& Index) const
{
    // The service treats names that differ only in case as one name, so the list is searched
    // in the order it is sorted in, ignoring case; the case-sensitive comparison only ranks
    // spellings of one name, so an exact spelling is found before another one.
    int lo = 0;
    int hi = GetCount() - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        if (LocaleCompareText(FItems.at(mid)->FTaskName, AName) < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    int match = -1;
    for (int i = lo; i < GetCount() && LocaleCompareText(FItems.at(i)->FTaskName, AName) == 0; ++i) {
        const QString& name = FItems.at(i)->FTaskName;
        if (name == AName) {
            match = i;
            break;
        }
        if (match < 0 && name.compare(AName, Qt::CaseInsensitive) == 0) match = i;
    }
    if (match >= 0) {
        Index = match;
        return true;
    }
    // Not listed: the place where the name keeps the list ordered.
    while (lo < GetCount() && CompareTaskNames(FItems.at(lo)->FTaskName, AName) < 0) ++lo;
    Index = lo;
    return false;
}

TTaskItem* TTaskScheduler::InsertTaskItem(int Index, const QString& AName, const ComPtr<ITaskDefinition>& ADefinition)
{
    auto item = std::make_unique<TTaskItem>(this);
    item->FTaskName = AName;
    item->FTaskDefinition = ADefinition;
    FItems.insert(Index, item.get());
    return item.release();
}

QString TTaskScheduler::NameKey(const QString& ATaskName) const
{
    return RunningVistaOrLater() ? ATaskName : AddJobExtension(ATaskName);
}

ComPtr<ITaskFolder> TTaskScheduler::Folder(const QString& APath) const
{
    if (!FTaskService) RaiseNotRunning();
    ComPtr<ITaskFolder> folder;
    OleCheck(FTaskService->GetFolder(APath, folder.Put()));
    if (!folder) RaiseNotRunning();
    return folder;
}

ComPtr<ITaskFolder> TTaskScheduler::CurrentFolder() const
{
    return Folder(CurrentFolderPath);
}

TTaskItem* TTaskScheduler::ActivateTask(const QString& ATaskName)
{
    if (FAutoRefresh) Refresh();
    const QString key = NameKey(ATaskName);
    int index = 0;
    if (FindTask(key, index)) return FItems.at(index);
    if (RunningVistaOrLater()) {
        // A task that cannot be found for whatever reason is simply not there.
        try {
            const ComPtr<ITaskFolder> folder = CurrentFolder();
            ComPtr<IRegisteredTask> task;
            OleCheck(folder->GetTask(ATaskName, task.Put()));
            if (!task) return nullptr;
            return InsertRegisteredTask(task);
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    if (!FITS) RaiseNotRunning();
    ComPtr<IUnknown> task;
    if (FAILED(FITS->Activate(key, IID_ITask, task.Put()))) return nullptr;
    return InsertTaskItem(StoredJobName(task, key));
}

TTaskItem* TTaskScheduler::InsertTaskItem(const QString& AName, const ComPtr<ITaskDefinition>& ADefinition)
{
    int index = 0;
    FindTask(AName, index);
    // A name that is listed already (another spelling of it) is placed before the others.
    while (index > 0 && CompareTaskNames(FItems.at(index - 1)->FTaskName, AName) >= 0) --index;
    return InsertTaskItem(index, AName, ADefinition);
}

TTaskItem* TTaskScheduler::InsertRegisteredTask(const ComPtr<IRegisteredTask>& ATask)
{
    // Listed under the name the service keeps, which may be spelt otherwise than asked.
    QString name;
    OleCheck(ATask->get_Name(&name));
    TTaskItem* item = InsertTaskItem(name);
    item->FTaskDefinition = TTaskDefinitionRef::Of(ATask);
    item->FInterface = ComPtr<IUnknown>(ATask.Get());
    return item;
}

QString TTaskScheduler::StoredJobName(const ComPtr<IUnknown>& ATask, const QString& AKey)
{
    ComPtr<IPersistFile> file;
    QString path;
    if (FAILED(ATask.As(file)) || !file || FAILED(file->GetCurFile(&path)) || path.isEmpty()) return AKey;
    return path.mid(std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\'))) + 1);
}

void TTaskScheduler::PlaceAgain(TTaskItem* AItem)
{
    const qsizetype at = FItems.indexOf(AItem);
    if (at < 0) return;
    FItems.removeAt(at);
    int index = 0;
    FindTask(AItem->FTaskName, index);
    while (index > 0 && CompareTaskNames(FItems.at(index - 1)->FTaskName, AItem->FTaskName) >= 0) --index;
    FItems.insert(index, AItem);
}

TTaskItem* TTaskScheduler::CreateNewItem(const QString& ATaskName)
{
    if (FAutoRefresh) Refresh();
    const QString key = NameKey(ATaskName);
    int index = 0;
    if (FindTask(key, index)) {
        if (FDuplicate == tdError) throw ETaskError(STaskAlreadyExists.arg(ATaskName));
        return FItems.at(index);
    }
    if (RunningVistaOrLater()) {
        // The list may miss the task: hidden, or added by another program since the last
        // Refresh. Only the service knows whether the name is free.
        const ComPtr<ITaskFolder> folder = CurrentFolder();
        ComPtr<IRegisteredTask> existing;
        const HRESULT lookup = folder->GetTask(ATaskName, existing.Put());
        if (SUCCEEDED(lookup) && existing) {
            if (FDuplicate == tdError) throw ETaskError(STaskAlreadyExists.arg(ATaskName));
            return InsertRegisteredTask(existing);
        }
        if (lookup != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) OleCheck(lookup);
        SetErrorInfo(0, nullptr);
        ComPtr<ITaskDefinition> definition;
        OleCheck(FTaskService->NewTask(0, definition.Put()));
        const ComPtr<ITaskSettings> settings = SettingsOf(definition.Get());
        OleCheck(settings->put_Enabled(VARIANT_TRUE));
        OleCheck(settings->put_Hidden(VARIANT_FALSE));
        OleCheck(PrincipalOf(definition.Get())->put_LogonType(TASK_LOGON_INTERACTIVE_TOKEN));
        TTaskItem* item = InsertTaskItem(index, key, definition);
        item->FNewTask = true;
        return item;
    }
    if (!FITS) RaiseNotRunning();
    ComPtr<IUnknown> task;
    if (SUCCEEDED(FITS->Activate(key, IID_ITask, task.Put()))) {
        if (FDuplicate == tdError) throw ETaskError(STaskAlreadyExists.arg(ATaskName));
        TTaskItem* item = InsertTaskItem(StoredJobName(task, key));
        item->FInterface = std::move(task);
        return item;
    }
    OleCheck(FITS->NewWorkItem(key, CLSID_CTask, IID_ITask, task.Put()));
    // Listed first, then given its flags: a failure of the flags leaves the listed item in
    // place, like every other multi-step failure.
    TTaskItem* item = InsertTaskItem(index, key);
    item->FInterface = std::move(task);
    item->SetFlags(TTaskFlags{tfDontStartIfOnBatteries, tfKillIfGoingOnBatteries});
    return item;
}

void TTaskScheduler::DeleteTask(const QString& ATaskName)
{
    const QString key = NameKey(ATaskName);
    if (RunningVistaOrLater()) {
        OleCheck(CurrentFolder()->DeleteTask(RemoveJobExtension(key), 0));
    } else {
        if (!FITS) RaiseNotRunning();
        OleCheck(FITS->Delete(key));
    }
    int index = 0;
    if (FindTask(key, index)) delete FItems.takeAt(index);
}

QString TTaskScheduler::GetTargetComputer() const
{
    QString name;
    if (RunningVistaOrLater()) {
        if (!FTaskService) RaiseNotRunning();
        OleCheck(FTaskService->get_TargetServer(&name));
    } else if (FITS) {
        OleCheck(FITS->GetTargetComputer(&name));
    }
    return name;
}

void TTaskScheduler::SetTargetComputer(const QString& Value)
{
    if (RunningVistaOrLater()) {
        if (!FTaskService) RaiseNotRunning();
        OleCheck(FTaskService->Connect(Value.isEmpty() ? VARIANT::Null() : VARIANT::String(Value), VARIANT::Null(),
                                       VARIANT::Null(), VARIANT::Null()));
    } else {
        if (!FITS) RaiseNotRunning();
        OleCheck(FITS->SetTargetComputer(Value.isEmpty() ? nullptr : &Value));
    }
    // The reports come from the daemon of the computer whose tasks are listed now.
    FRemoteComputer = ComputerName::IsLocal(Value) ? QString() : ComputerName::Bare(Value);
    Watch();
}

QString TTaskScheduler::ServiceVersion() const
{
    if (FTaskService) {
        DWORD version = 0;
        if (FAILED(FTaskService->get_HighestVersion(&version))) return {};
        return QStringLiteral("%1.%2").arg(version >> 16).arg(version & 0xFFFF);
    }
    return FITS ? QStringLiteral("1.0") : QString();
}

QString TTaskScheduler::GetVersion() const
{
    return kVersion;
}

void TTaskScheduler::SetVersion(const QString&)
{
}

ComPtr<ITaskFolder> TTaskScheduler::VistaRootFolder()
{
    if (!RunningVistaOrLater()) return nullptr;
    return Folder(kRootFolder);
}

ComPtr<ITaskFolderCollection> TTaskScheduler::VistaRootFolders()
{
    if (!RunningVistaOrLater()) return nullptr;
    ComPtr<ITaskFolderCollection> folders;
    OleCheck(Folder(kRootFolder)->GetFolders(0, folders.Put()));
    return folders;
}

ComPtr<ITaskFolder> TTaskScheduler::CreateFolder(const QString& FullPath)
{
    if (!RunningVistaOrLater()) return nullptr;
    ComPtr<ITaskFolder> folder;
    OleCheck(Folder(kRootFolder)->CreateFolder(FullPath, VARIANT::Empty(), folder.Put()));
    return folder;
}

void TTaskScheduler::DeleteFolder(const QString& FullPath)
{
    if (!RunningVistaOrLater()) return;
    OleCheck(Folder(kRootFolder)->DeleteFolder(FullPath, 0));
}

bool TTaskScheduler::FolderExists(const QString& FullPath)
{
    if (!RunningVistaOrLater()) return false;
    const ComPtr<ITaskFolder> root = Folder(kRootFolder);
    ComPtr<ITaskFolder> folder;
    const bool exists = SUCCEEDED(root->GetFolder(FullPath, folder.Put())) && folder;
    SetErrorInfo(0, nullptr);   // a missing folder is an answer here, not a failure
    return exists;
}

void TTaskScheduler::SetVistaSelectedFolder(ITaskFolder* Value)
{
    if (!Value) return;
    QString path;
    OleCheck(Value->get_Path(&path));
    CurrentFolderPath = path;
}

TTaskItem* TTaskScheduler::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount()) throw ESchedulerError(STaskIndexOutOfBounds.arg(Index));
    return FItems.at(Index);
}
