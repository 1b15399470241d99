#pragma once
// The library's connection to the scheduling service: chooses the interface generation,
// keeps the ordered list of task items of one folder and offers the 2.0 folder operations.

#include "ComBase.h"
#include "kvTaskTypes.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class ServiceNotifications;
struct ServiceNotice;
class TTaskItem;
class ITaskScheduler;
class ITaskService;
class ITaskFolder;
class ITaskFolderCollection;
class ITaskDefinition;
class IRegisteredTask;
class IRegisteredTaskCollection;

/// What the service reported about a task (TTaskScheduler::TaskChanged).
enum TTaskChange : quint8 {
    tcAdded,       ///< registered or saved for the first time
    tcChanged,     ///< its definition or its enabled state changed
    tcDeleted,     ///< deleted
    tcRunStarted,  ///< an instance started
    tcRunEnded,    ///< an instance ended; its result is recorded
    tcMissed,      ///< the reports were interrupted: any task may have changed meanwhile
};

class TTaskScheduler : public QObject {
    Q_OBJECT

public:
    /// Asked for every task that `Refresh` finds; setting CanAdd to false keeps it out of the list.
    using TOnBeforeTaskAddedEvent = std::function<void(TTaskScheduler* Sender, TTaskItem* Task, bool& CanAdd)>;

    /// Constructs inactive, with an empty list; `AOwner` destroys the scheduler with itself.
    explicit TTaskScheduler(QObject* AOwner = nullptr);
    /// Frees every item and releases both connections.
    ~TTaskScheduler() override;

    /// Connects to the service in the generation in force; the list is left as it is.
    void Open();
    /// Releases the connection; the items remain.
    void Close();
    /// Rebuilds the list from the service: the tasks of `CurrentFolderPath` (2.0) or all ".job" tasks (1.0).
    void Refresh();
    /// Frees every item and empties the list.
    void Clear();
    /// Finds the named task in the list, or loads it from the service; null when there is none.
    TTaskItem* ActivateTask(const QString& ATaskName);
    /// Makes a new task, not yet saved, honouring `Duplicate` when the name is taken.
    TTaskItem* CreateNewItem(const QString& ATaskName);
    /// Deletes the task in the service, then from the list.
    void DeleteTask(const QString& ATaskName);
    /// Reads the named task of the current folder (2.0) or the named ".job" task (1.0) again
    /// from the service, as `Refresh` would list it: a listed item is brought up to date in
    /// place (the same object, moved to its place in the order); a task not listed yet is
    /// inserted when it passes `OnBeforeTaskAdded` (and, without `ShowHidden`, is not hidden).
    /// Null when the service has no such task any more, or it no longer passes: a listed item
    /// is then removed and freed. An item in use (2.0: made by `CreateNewItem` and not saved;
    /// 1.0: activated) is left alone.
    TTaskItem* ReloadTask(const QString& ATaskName);
    /// Whether the service's reports of changes arrive (see `TaskChanged`): the service runs
    /// as a process of its own, on this computer or on the target computer, and the
    /// connection is open. Another computer's reports are asked for in the background (after
    /// `SetTargetComputer`, and again at once when they stop), and by the next `Refresh`
    /// while they are not there; tcMissed says when they come.
    bool GetWatching() const;
    /// Makes sure the service runs, starting it if needed. Never raises.
    bool StartScheduler();
    /// Why the last `StartScheduler` could not start the service, in the service's words;
    /// empty when it could, or when the service was running already.
    QString StartError() const { return FStartError; }
    /// The interface version the connected service offers ("1.3"; "1.0" for the 1.0
    /// interface); empty without a connection.
    QString ServiceVersion() const;
    /// Whether the service runs, without starting it. Never raises.
    bool SchedulerServiceRunning();
    /// True when the 2.0 generation is in force: the platform offers it and 1.0 is not forced.
    bool RunningVistaOrLater() const;

    /// 2.0: creates a folder below the root; null in 1.0.
    ComPtr<ITaskFolder> CreateFolder(const QString& FullPath);
    /// 2.0: deletes a folder below the root; nothing in 1.0.
    void DeleteFolder(const QString& FullPath);
    /// 2.0: whether the folder exists; false in 1.0.
    bool FolderExists(const QString& FullPath);
    /// 2.0: the root folder "\"; null in 1.0.
    ComPtr<ITaskFolder> VistaRootFolder();
    /// 2.0: the root folder's direct sub-folders; null in 1.0.
    ComPtr<ITaskFolderCollection> VistaRootFolders();

    /// Item `Index` of the list, counted from 0; raises when it is out of bounds.
    TTaskItem* GetItem(int Index) const;
    /// The number of items in the list.
    int GetCount() const { return static_cast<int>(FItems.size()); }

    /// Whether the connection of the generation in force exists.
    bool GetActive() const;
    /// True opens (reconnecting when already open), false closes.
    void SetActive(bool Value);
    /// When set, `ActivateTask` and `CreateNewItem` refresh first.
    bool GetAutoRefresh() const { return FAutoRefresh; }
    void SetAutoRefresh(bool Value) { FAutoRefresh = Value; }
    /// What `CreateNewItem` does with a name that is taken.
    TTaskDuplicate GetDuplicate() const { return FDuplicate; }
    void SetDuplicate(TTaskDuplicate Value) { FDuplicate = Value; }
    /// The filter asked by `Refresh`.
    TOnBeforeTaskAddedEvent GetOnBeforeTaskAdded() const { return FOnBeforeTaskAdded; }
    void SetOnBeforeTaskAdded(TOnBeforeTaskAddedEvent Value) { FOnBeforeTaskAdded = std::move(Value); }
    /// Forces the 1.0 generation; takes effect at once, a connection for it after the next `Open`.
    bool GetUseTaskScheduler1Only() const { return FUseTaskScheduler1Only; }
    void SetUseTaskScheduler1Only(bool Value) { FUseTaskScheduler1Only = Value; }
    /// The component's version, always "2.0.22"; writes are ignored.
    QString GetVersion() const;
    void SetVersion(const QString& Value);
    /// 2.0: `Refresh` lists hidden tasks too.
    bool GetShowHidden() const { return FShowHidden; }
    void SetShowHidden(bool Value) { FShowHidden = Value; }
    /// The computer whose service is used; empty for the local computer.
    QString GetTargetComputer() const;
    /// Reconnects to another computer (empty: the local one); the list is left as it is.
    void SetTargetComputer(const QString& Value);
    /// Whether the target computer is another one than this (since `SetTargetComputer`; `Open`
    /// connects to this computer). A lost connection to it is made again by the next call.
    bool TargetIsRemote() const { return !FRemoteComputer.isEmpty(); }
    /// Selects the 2.0 folder whose tasks are listed: sets `CurrentFolderPath` to its path.
    void SetVistaSelectedFolder(ITaskFolder* Value);

    /// 2.0 path of the folder whose tasks are listed, looked up, created and deleted.
    QString CurrentFolderPath;

signals:
    /// The service reported `AChange` to the task `ATaskName` of the generation in force;
    /// `AFolderPath` is its 2.0 folder ("\" for the root; empty in 1.0, where the name is the
    /// ".job" file's). The list is left as it is: `ReloadTask` brings one task up to date.
    /// tcMissed comes with empty names.
    void TaskChanged(TTaskChange AChange, const QString& ATaskName, const QString& AFolderPath);

protected:
    /// The platform offers the 2.0 generation; set once, at construction.
    bool FVistaOrLater = false;

private:
    friend class TTaskItem;

    /// The 2.0 folder at `APath`; raises "not running" without a connection or folder.
    ComPtr<ITaskFolder> Folder(const QString& APath) const;
    /// The 2.0 folder `CurrentFolderPath`.
    ComPtr<ITaskFolder> CurrentFolder() const;
    /// Binary search by locale order ignoring case, the exact spelling preferred among names
    /// that differ only in case; `Index` is the match or the insertion point.
    bool FindTask(const QString& AName, int& Index) const;
    /// The list's order: ignoring case, then case-sensitive between spellings of one name.
    static int CompareTaskNames(const QString& A, const QString& B);
    /// A new item owned by this scheduler, inserted at `Index`.
    TTaskItem* InsertTaskItem(int Index, const QString& AName, const ComPtr<ITaskDefinition>& ADefinition = {});
    /// A new item inserted where `AName` keeps the list ordered, before other spellings of it.
    TTaskItem* InsertTaskItem(const QString& AName, const ComPtr<ITaskDefinition>& ADefinition = {});
    /// 2.0: lists a registered task under the name the service keeps, with its definition.
    TTaskItem* InsertRegisteredTask(const ComPtr<IRegisteredTask>& ATask);
    /// 1.0: the file name of an activated task (its stored spelling), `AKey` when it has none.
    static QString StoredJobName(const ComPtr<IUnknown>& ATask, const QString& AKey);
    /// Puts the list in its order (CompareTaskNames).
    void SortByName();
    /// Moves an item whose name changed to its place in the ordered list.
    void PlaceAgain(TTaskItem* AItem);
    /// 1.0 enumeration: lists the name when it activates as a task.
    void AddTaskItem(const QString& AName);
    /// 2.0 enumeration: lists a registered task with its definition.
    void AddRegisteredTask(const ComPtr<IRegisteredTask>& ATask);
    /// Asks `OnBeforeTaskAdded`, then appends the item or frees it.
    void FilterAndAppend(TTaskItem* AItem);
    /// The name under which the generation in force looks a task up.
    QString NameKey(const QString& ATaskName) const;
    /// Raises "Task Scheduler service is not running.".
    [[noreturn]] static void RaiseNotRunning();
    /// Asks the service of the target computer for its reports of changes; quietly none
    /// where it has none.
    void Watch();
    /// Watches again when the reports of another computer stopped.
    void RenewWatch();
    /// Passes a report on as TaskChanged when it concerns the generation in force.
    void OnNotice(const ServiceNotice& ANotice);
    /// The reports stopped: asks again, and says that changes may have been missed.
    void OnNoticesLost();
    /// 2.0: a list item for a registered task, or null when `Refresh` would not list it.
    std::unique_ptr<TTaskItem> RegisteredItem(const ComPtr<IRegisteredTask>& ATask);

    ComPtr<ITaskScheduler> FITS;
    ComPtr<ITaskService> FTaskService;
    ComPtr<IRegisteredTaskCollection> FTaskCollection;
    QList<TTaskItem*> FItems;
    bool FAutoRefresh = false;
    TTaskDuplicate FDuplicate = tdError;
    TOnBeforeTaskAddedEvent FOnBeforeTaskAdded;
    bool FUseTaskScheduler1Only = false;
    bool FShowHidden = false;
    QString FStartError;
    ServiceNotifications* FNotifications = nullptr;
    /// The other computer connected to, as ssh reaches it; empty for this computer.
    QString FRemoteComputer;
    /// The reports of the other computer are not there (yet, or any more).
    bool FRewatch = false;
};
