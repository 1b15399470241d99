#include "TTaskScheduler.h"

#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "ServiceControl.h"
#include "TTaskItem.h"
#include "TaskDefinitionParts.h"
#include "TaskService2.h"
#include "kvErrors.h"
#include "kvTask.h"
#include "kvUtils.h"
#include "tvMSTask.h"

#include <algorithm>
#include <memory>

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
}

void TTaskScheduler::Close()
{
    FITS = nullptr;
    FTaskService = nullptr;
}

bool TTaskScheduler::StartScheduler()
{
    const ServiceControl control;
    const QString name = ServiceControl::ScheduleServiceName();
    ServiceControl::State state = ServiceControl::State::Stopped;
    if (control.QueryState(name, state) != 0) return false;
    if (state == ServiceControl::State::Running) return true;
    return control.Start(name) == 0;
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
    std::sort(FItems.begin(), FItems.end(), [](const TTaskItem* a, const TTaskItem* b) {
        return LocaleCompareText(a->FTaskName, b->FTaskName) < 0;
    });
}

void TTaskScheduler::AddRegisteredTask(const ComPtr<IRegisteredTask>& ATask)
{
    auto item = std::make_unique<TTaskItem>(this);
    OleCheck(ATask->get_Name(&item->FTaskName));
    item->FInterface = ComPtr<IUnknown>(ATask.Get());
    OleCheck(ATask->get_Definition(item->FTaskDefinition.Put()));
    FilterAndAppend(item.release());
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

bool TTaskScheduler::FindTask(const QString& AName, int& Index) const
{
    int lo = 0;
    int hi = GetCount() - 1;
    bool found = false;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int c = LocaleCompareStr(FItems.at(mid)->FTaskName, AName);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                lo = mid;
            }
        }
    }
    Index = lo;
    return found;
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
            ComPtr<ITaskDefinition> definition;
            OleCheck(task->get_Definition(definition.Put()));
            TTaskItem* item = InsertTaskItem(index, key, definition);
            item->FInterface = ComPtr<IUnknown>(task.Get());
            return item;
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    if (!FITS) RaiseNotRunning();
    ComPtr<IUnknown> task;
    if (FAILED(FITS->Activate(key, IID_ITask, task.Put()))) return nullptr;
    return InsertTaskItem(index, key);
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
        CurrentFolder();
        ComPtr<ITaskDefinition> definition;
        OleCheck(FTaskService->NewTask(0, definition.Put()));
        const ComPtr<ITaskSettings> settings = SettingsOf(definition.Get());
        OleCheck(settings->put_Enabled(VARIANT_TRUE));
        OleCheck(settings->put_Hidden(VARIANT_FALSE));
        OleCheck(PrincipalOf(definition.Get())->put_LogonType(TASK_LOGON_INTERACTIVE_TOKEN));
        return InsertTaskItem(index, key, definition);
    }
    if (!FITS) RaiseNotRunning();
    ComPtr<IUnknown> task;
    if (SUCCEEDED(FITS->Activate(key, IID_ITask, task.Put()))) {
        if (FDuplicate == tdError) throw ETaskError(STaskAlreadyExists.arg(ATaskName));
        TTaskItem* item = InsertTaskItem(index, key);
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
    return SUCCEEDED(root->GetFolder(FullPath, folder.Put())) && folder;
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
