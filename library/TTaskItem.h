#pragma once
// One scheduled task of the service, seen through the library, in either interface
// generation. The scheduler makes, lists and frees the items; the application reads and
// writes their properties and calls their commands.

#include "ComBase.h"
#include "Exceptions.h"
#include "kvTaskTypes.h"
#include "tvMSTask.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class TTaskScheduler;
class TTriggers;
class ITaskDefinition;
class IAction;
class IExecAction;
class IRegisteredTask;
enum TASK_LOGON_TYPE : LONG;

/// An item's 2.0 definition. A listed item has the document its registered task came with,
/// decoded only when something first uses the definition: a list of thousands of tasks
/// decodes the definitions that are looked at, when they are looked at.
class TTaskDefinitionRef {
public:
    TTaskDefinitionRef();
    TTaskDefinitionRef(ComPtr<ITaskDefinition> ADefinition);
    TTaskDefinitionRef(const TTaskDefinitionRef& AOther);
    TTaskDefinitionRef& operator=(const TTaskDefinitionRef& AOther);
    ~TTaskDefinitionRef();
    /// The definition of the registered task `ATask`, decoded on first use.
    static TTaskDefinitionRef Of(const ComPtr<IRegisteredTask>& ATask);

    /// The definition, decoded now if it was not yet; null for none. A document that does
    /// not decode raises the platform's error, now and at every later use.
    ITaskDefinition* Get() const;
    ComPtr<ITaskDefinition> Ptr() const;
    ITaskDefinition* operator->() const { return Get(); }
    explicit operator bool() const { return Get() != nullptr; }

private:
    mutable ComPtr<ITaskDefinition> FDefinition;
    /// The registered task whose definition is not decoded yet.
    mutable ComPtr<IRegisteredTask> FSource;
};

class TTaskItem {
public:
    /// An item of `ATaskManager`, with an empty trigger collection and no task object yet.
    explicit TTaskItem(TTaskScheduler* ATaskManager);
    /// Frees the triggers and releases the interfaces, without saving.
    virtual ~TTaskItem();
    TTaskItem(const TTaskItem&) = delete;
    TTaskItem& operator=(const TTaskItem&) = delete;

    // ---- record ---------------------------------------------------------------------
    /// The task's name without the ".job" extension.
    QString GetName() const;
    /// The scheduler that made this item.
    TTaskScheduler* GetTaskScheduler() const { return FTaskManager; }
    /// 1.0: the task's flags word as a set.
    TTaskFlags GetFlags() const;
    /// 1.0: writes the whole flags word; bits outside the set's table become 0.
    void SetFlags(TTaskFlags Value);

    // ---- life cycle and commands ----------------------------------------------------
    /// 1.0: opens the task's file through the service; both generations reload the triggers.
    void Activate();
    /// Saves when asked (1.0: only when changed), then (1.0) releases the task object.
    void Deactivate(bool SaveChanges);
    /// 1.0: writes the ".job" file; 2.0: registers the definition under `Name`.
    void Save();
    /// Saves under another name: 1.0 a new ".job" file beside the old one, 2.0 a registration
    /// under AName without ".job". Afterwards the item's stored name is AName with ".job" ensured
    /// (`Name` shows it without); the item keeps its place in the scheduler's list.
    void Save(const QString& AName);
    /// 1.0: the service's own property sheet for the task; 2.0: nothing.
    void EditWorkItem();
    /// Starts the task now.
    void Run();
    /// 1.0: stops the running task.
    void Terminate();
    /// Sets the account the task runs under (2.0: registers at once).
    void SetAccountInformation(const QString& AAccountName, const QString& APassword, const QString& AGroupID);
    /// Writes the task's application data to `AStream` at its current position.
    void GetBinaryData(QIODevice& AStream) const;
    /// Stores the bytes from the stream's position to its end as the task's application data.
    /// 1.0: more than 65535 bytes raise ETaskError and keep the old data; none write nothing.
    void SetBinaryData(QIODevice& AStream);
    /// 1.0: obtains the service's property pages of the task (in the order task, schedule,
    /// settings), shows them in the platform's modal property sheet captioned ACaption over
    /// AParentWnd, then reloads the triggers. Nothing is shown for an empty APages.
    void DisplayTaskPages(HWND AParentWnd, TPageTypes APages, const QString& ACaption);
    /// Queries the task object for interface `IID` into `pUnk`, activating first when needed.
    void GetInterface(REFIID IID, void** pUnk);

    // ---- general properties ---------------------------------------------------------
    /// The task object itself (1.0 `ITask`, 2.0 `IRegisteredTask`), or null; no activation.
    ComPtr<IUnknown> GetTaskInterface() const { return FInterface; }
    /// 2.0: the editable definition; null in 1.0.
    ComPtr<ITaskDefinition> GetTaskDefinition() const;
    /// 2.0: the folder path of the registered task with its trailing backslash; 1.0: empty.
    QString GetTaskLocation() const;
    /// The program (2.0 read: a summary of the actions).
    QString GetApplicationName() const;
    void SetApplicationName(const QString& Value);
    /// The program's arguments (the 2.0 read addresses action 1 when `CurrentAction` is below 1).
    QString GetParameters();
    void SetParameters(const QString& Value);
    /// The program's working directory.
    QString GetWorkingDirectory();
    void SetWorkingDirectory(const QString& Value);
    /// The task's description.
    QString GetComment() const;
    void SetComment(const QString& Value);
    /// The task's author.
    QString GetCreator() const;
    void SetCreator(const QString& Value);
    /// The account the task runs under (2.0: the group for a group logon).
    QString GetAccountName() const;
    /// 1.0: the run priority.
    TTaskPriority GetPriority() const;
    void SetPriority(TTaskPriority Value);
    /// 1.0 read: the run-time limit in milliseconds, 0xFFFFFFFF for none. The write works in both.
    quint32 GetMaxRunTime() const;
    void SetMaxRunTime(quint32 Value);
    /// 1.0: the idle wait.
    TIdleTime GetIdleTime() const;
    void SetIdleTime(TIdleTime Value);
    /// 1.0: whether the task object has unsaved changes.
    bool GetIsDirty() const;
    /// 1.0: the full path of the task's ".job" file.
    QString GetCurFile() const;
    /// The owned trigger collection (1.0: only while activated).
    TTriggers* GetTriggers() const;
    /// One line describing the schedule.
    QString GetTriggerString() const;

    // ---- 2.0 settings ---------------------------------------------------------------
    /// The 2.0 settings as flags; empty in 1.0.
    TTaskVistaFlags GetVistaFlags() const;
    /// Replaces every writable 2.0 flag and the logon type; nothing in 1.0.
    void SetVistaFlags(TTaskVistaFlags Value);
    /// One 2.0 flag; false in 1.0.
    bool GetVistaFlag(const TTaskVistaFlag Flag) const;
    /// Writes one 2.0 flag; nothing in 1.0.
    void SetVistaFlag(const TTaskVistaFlag Flag, const bool Value);
    /// Fills elements 0 to 5 with the 2.0 time limits, restart count and idle durations.
    void GetTimeProperties(QStringList& arr) const;
    /// Writes the six 2.0 time properties from elements 0 to 5.
    void SetTimeProperties(const QStringList& arr);
    /// The 2.0 compatibility level.
    TTaskCompatibility GetTaskCompatibility() const;
    void SetTaskCompatibility(TTaskCompatibility Value);
    /// The 2.0 policy for a start while an instance runs.
    TTaskInstancesPolicy GetTaskInstancesPolicy() const;
    void SetTaskInstancesPolicy(TTaskInstancesPolicy Value);
    /// The 2.0 logon type of the principal.
    TTaskLogonType GetTaskLogonType() const;
    void SetTaskLogonType(TTaskLogonType Value);

    // ---- 2.0 actions ----------------------------------------------------------------
    /// The 1-based action that action properties address; 0 for none. Not checked.
    qint32 GetCurrentAction() const { return CurrentTask; }
    void SetCurrentAction(qint32 Value) { CurrentTask = Value; }
    /// The number of 2.0 actions; 0 in 1.0.
    qint32 GetActionsCount() const;
    /// Appends a 2.0 action of type `AType`; null in 1.0.
    ComPtr<IAction> InsertAction(const qint32 AType);
    /// Removes 2.0 action `AIndex` (1-based) when it exists.
    void RemoveAction(const qint32 AIndex);
    /// Appends a detail (AList1) and a caption (AList2) per registered action of a known kind.
    void GetTasksLists(QStringList& AList1, QStringList& AList2) const;
    /// The same, and `AActions` receives the type of every registered action.
    void GetTasksLists(QStringList& AList1, QStringList& AList2, TIntegerArray& AActions) const;
    /// The e-mail action `CurrentAction`.
    QString GetMailSendTo() const;
    void SetMailSendTo(const QString& Value);
    QString GetMailSendFrom() const;
    void SetMailSendFrom(const QString& Value);
    QString GetMailSubject() const;
    void SetMailSubject(const QString& Value);
    QString GetMailContent() const;
    void SetMailContent(const QString& Value);
    QString GetMailServer() const;
    void SetMailServer(const QString& Value);
    /// The message action `CurrentAction`.
    QString GetMessTitle() const;
    void SetMessTitle(const QString& Value);
    QString GetMessText() const;
    void SetMessText(const QString& Value);

    // ---- status and run times -------------------------------------------------------
    /// The task's status.
    TTaskStatus GetStatus() const;
    /// The exit code of the last run.
    quint32 GetExitCode() const;
    /// The last run time; not greater than 1.0 when there was none.
    TDateTime GetMostRecentRunTime() const;
    /// The next run time; not greater than 1.0 when there is none.
    TDateTime GetNextRunTime() const;
    /// At most `ACount` run times from `ABeginTime` to `AEndTime` (no end when below 1.0).
    void GetRunTimes(const TDateTime ABeginTime, const TDateTime AEndTime, quint16& ACount,
                     TDateTimeArray& TimesArray) const;

private:
    friend class TTaskScheduler;

    /// True when the owning scheduler has the 2.0 generation in force.
    bool IsVista() const;
    /// The activation guard on the task object: "Task "%s" is not activated." when it is null.
    void CheckInterface() const;
    /// The activation guard on the 2.0 definition.
    void CheckDefinition() const;
    /// The task object as interface I, after the activation guard; raises the interface-cast
    /// error ("Interface not supported") when the object does not offer I.
    template <typename I>
    ComPtr<I> TaskAs() const
    {
        CheckInterface();
        ComPtr<I> result;
        if (FAILED(FInterface.As(result)) || !result) throw EIntfCastError();
        return result;
    }
    /// 2.0: creates an exec action when the definition has none and points `CurrentAction` at it.
    void EnsureExecAction();
    /// 2.0: the action `CurrentAction` as an exec action; raises when it is missing or of another kind.
    ComPtr<IExecAction> CurrentExecAction() const;
    /// 2.0: registers the definition under `APath` into the scheduler's current folder, with
    /// `ALogonType`, or without one the principal's logon type of this moment.
    ComPtr<IRegisteredTask> RegisterDefinition(const QString& APath, const VARIANT& AUserId,
                                               const VARIANT& APassword, std::optional<TASK_LOGON_TYPE> ALogonType,
                                               const VARIANT& ASddl);
    /// 2.0: registers under `APath` with the stored credentials and the principal's logon type.
    ComPtr<IRegisteredTask> RegisterDefinitionAs(const QString& APath, const VARIANT& ASddl);

    ComPtr<IUnknown> FInterface;
    TTaskScheduler* FTaskManager = nullptr;
    QString FTaskName;
    std::unique_ptr<TTriggers> FTriggers;
    TTaskDefinitionRef FTaskDefinition;
    qint32 CurrentTask = 0;
    QString FTaskSched2UserID;
    QString FTaskSched2Pw;
    /// 2.0: made by `CreateNewItem` and not registered yet, so its first registration only creates.
    bool FNewTask = false;
};
