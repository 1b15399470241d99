#pragma once
// The scheduling service's generation 2.0 interfaces: the service object, folders,
// registered and running tasks, and the task definition with its registration
// information, principal, settings, triggers and actions.
//
// Strings are QString; out-parameters that are null give E_POINTER. Booleans are
// VARIANT_BOOL (-1 true, 0 false; any non-zero value written counts as true). Dates are
// DATE values in local time, 0 meaning "never". Collections are indexed from 1.

#include "ComBase.h"
#include "tvMSTask.h"

#include <QList>
#include <QString>
#include <QStringList>

// ---------------------------------------------------------------------------------------
// Class and enumerations

constexpr CLSID CLSID_TaskScheduler{0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};

enum TASK_TRIGGER_TYPE2 : LONG {
    TASK_TRIGGER_EVENT = 0,
    TASK_TRIGGER_TIME = 1,
    TASK_TRIGGER_DAILY = 2,
    TASK_TRIGGER_WEEKLY = 3,
    TASK_TRIGGER_MONTHLY = 4,
    TASK_TRIGGER_MONTHLYDOW = 5,
    TASK_TRIGGER_IDLE = 6,
    TASK_TRIGGER_REGISTRATION = 7,
    TASK_TRIGGER_BOOT = 8,
    TASK_TRIGGER_LOGON = 9,
    TASK_TRIGGER_SESSION_STATE_CHANGE = 11,
    TASK_TRIGGER_CUSTOM_TRIGGER_01 = 12,
};

enum TASK_ACTION_TYPE : LONG {
    TASK_ACTION_EXEC = 0,
    TASK_ACTION_COM_HANDLER = 5,
    TASK_ACTION_SEND_EMAIL = 6,
    TASK_ACTION_SHOW_MESSAGE = 7,
};

enum TASK_LOGON_TYPE : LONG {
    TASK_LOGON_NONE = 0,
    TASK_LOGON_PASSWORD = 1,
    TASK_LOGON_S4U = 2,
    TASK_LOGON_INTERACTIVE_TOKEN = 3,
    TASK_LOGON_GROUP = 4,
    TASK_LOGON_SERVICE_ACCOUNT = 5,
    TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD = 6,
};

enum TASK_RUNLEVEL_TYPE : LONG {
    TASK_RUNLEVEL_LUA = 0,
    TASK_RUNLEVEL_HIGHEST = 1,
};

enum TASK_STATE : LONG {
    TASK_STATE_UNKNOWN = 0,
    TASK_STATE_DISABLED = 1,
    TASK_STATE_QUEUED = 2,
    TASK_STATE_READY = 3,
    TASK_STATE_RUNNING = 4,
};

enum TASK_INSTANCES_POLICY : LONG {
    TASK_INSTANCES_PARALLEL = 0,
    TASK_INSTANCES_QUEUE = 1,
    TASK_INSTANCES_IGNORE_NEW = 2,
    TASK_INSTANCES_STOP_EXISTING = 3,
};

enum TASK_COMPATIBILITY : LONG {
    TASK_COMPATIBILITY_AT = 0,
    TASK_COMPATIBILITY_V1 = 1,
    TASK_COMPATIBILITY_V2 = 2,
    TASK_COMPATIBILITY_V2_1 = 3,
    TASK_COMPATIBILITY_V2_2 = 4,
    TASK_COMPATIBILITY_V2_3 = 5,
    TASK_COMPATIBILITY_V2_4 = 6,
};

enum TASK_CREATION : LONG {
    TASK_VALIDATE_ONLY = 0x1,
    TASK_CREATE = 0x2,
    TASK_UPDATE = 0x4,
    TASK_CREATE_OR_UPDATE = 0x6,
    TASK_DISABLE = 0x8,
    TASK_DONT_ADD_PRINCIPAL_ACE = 0x10,
    TASK_IGNORE_REGISTRATION_TRIGGERS = 0x20,
};

enum TASK_ENUM_FLAGS : LONG {
    TASK_ENUM_HIDDEN = 0x1,
};

enum TASK_SESSION_STATE_CHANGE_TYPE : LONG {
    TASK_CONSOLE_CONNECT = 1,
    TASK_CONSOLE_DISCONNECT = 2,
    TASK_REMOTE_CONNECT = 3,
    TASK_REMOTE_DISCONNECT = 4,
    TASK_SESSION_LOCK = 7,
    TASK_SESSION_UNLOCK = 8,
};

enum TASK_RUN_FLAGS : LONG {
    TASK_RUN_NO_FLAGS = 0x0,
    TASK_RUN_AS_SELF = 0x1,
    TASK_RUN_IGNORE_CONSTRAINTS = 0x2,
    TASK_RUN_USE_SESSION_ID = 0x4,
    TASK_RUN_USER_SID = 0x8,
};

// The day-of-week and month bits are those of generation 1.0 (tvMSTask.h). The week bits
// of monthly day-of-week triggers differ: 1.0 numbers the week (1..5), 2.0 sets one bit per week.
constexpr SHORT TASK_WEEK_BIT_FIRST = 0x1;
constexpr SHORT TASK_WEEK_BIT_SECOND = 0x2;
constexpr SHORT TASK_WEEK_BIT_THIRD = 0x4;
constexpr SHORT TASK_WEEK_BIT_FOURTH = 0x8;
constexpr SHORT TASK_WEEK_BIT_LAST = 0x10;

class ITaskFolder;
class ITaskFolderCollection;
class IRegisteredTask;
class IRegisteredTaskCollection;
class IRunningTask;
class IRunningTaskCollection;
class ITaskDefinition;
class IRegistrationInfo;
class IPrincipal;
class ITaskSettings;
class IIdleSettings;
class INetworkSettings;
class ITriggerCollection;
class ITrigger;
class IRepetitionPattern;
class IActionCollection;
class IAction;
class ITaskNamedValueCollection;
class ITaskNamedValuePair;

// ---------------------------------------------------------------------------------------
// The service, folders, registered and running tasks

/// The service object: connects to a computer's service and hands out its folders.
class ITaskService : public IUnknown {
public:
    static constexpr IID iid{0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};
    /// The folder at `path` ("\" or empty is the root; the leading backslash is optional).
    virtual HRESULT GetFolder(const QString& path, ITaskFolder** ppFolder) = 0;
    /// The task instances running on the computer (`flags` 0 or TASK_ENUM_HIDDEN).
    virtual HRESULT GetRunningTasks(LONG flags, IRunningTaskCollection** ppRunningTasks) = 0;
    /// A new, empty definition with the service's defaults; `flags` must be 0.
    virtual HRESULT NewTask(DWORD flags, ITaskDefinition** ppDefinition) = 0;
    /// Connects to the service of a computer: empty, null or this computer's name is the local one.
    virtual HRESULT Connect(VARIANT serverName, VARIANT user, VARIANT domain, VARIANT password) = 0;
    virtual HRESULT get_Connected(VARIANT_BOOL* pConnected) = 0;
    /// The host name of the computer connected to.
    virtual HRESULT get_TargetServer(QString* pServer) = 0;
    virtual HRESULT get_ConnectedUser(QString* pUser) = 0;
    virtual HRESULT get_ConnectedDomain(QString* pDomain) = 0;
    /// The highest interface version the service offers: major in the high word, minor in the low.
    virtual HRESULT get_HighestVersion(DWORD* pVersion) = 0;
};
constexpr IID IID_ITaskService = ITaskService::iid;

/// A folder of the service's tree: its tasks and its sub-folders.
class ITaskFolder : public IUnknown {
public:
    static constexpr IID iid{0x8CFAC062, 0xA080, 0x4C15, {0x9A, 0x88, 0xAA, 0x7C, 0x2A, 0xF8, 0x0D, 0xFC}};
    virtual HRESULT get_Name(QString* pName) = 0;
    /// The full path, "\" for the root, "\Reports" below it.
    virtual HRESULT get_Path(QString* pPath) = 0;
    /// The folder at `path` relative to this one.
    virtual HRESULT GetFolder(const QString& path, ITaskFolder** ppFolder) = 0;
    /// The direct sub-folders; `flags` must be 0.
    virtual HRESULT GetFolders(LONG flags, ITaskFolderCollection** ppFolders) = 0;
    /// Creates the folder `subFolderName` (a relative path; missing parents are created too).
    virtual HRESULT CreateFolder(const QString& subFolderName, VARIANT sddl, ITaskFolder** ppFolder) = 0;
    /// Deletes an empty sub-folder; `flags` must be 0.
    virtual HRESULT DeleteFolder(const QString& subFolderName, LONG flags) = 0;
    virtual HRESULT GetTask(const QString& path, IRegisteredTask** ppTask) = 0;
    /// The tasks of this folder; hidden ones only with TASK_ENUM_HIDDEN.
    virtual HRESULT GetTasks(LONG flags, IRegisteredTaskCollection** ppTasks) = 0;
    /// Deletes a task; `flags` must be 0.
    virtual HRESULT DeleteTask(const QString& name, LONG flags) = 0;
    /// Registers a definition given as a task document (TASK_CREATION flags).
    virtual HRESULT RegisterTask(const QString& path, const QString& xmlText, LONG flags, VARIANT userId,
                                 VARIANT password, TASK_LOGON_TYPE logonType, VARIANT sddl,
                                 IRegisteredTask** ppTask) = 0;
    /// Registers `pDefinition` under `path` (TASK_CREATION flags) and returns the registered task.
    virtual HRESULT RegisterTaskDefinition(const QString& path, ITaskDefinition* pDefinition, LONG flags,
                                           VARIANT userId, VARIANT password, TASK_LOGON_TYPE logonType,
                                           VARIANT sddl, IRegisteredTask** ppTask) = 0;
};

class ITaskFolderCollection : public IUnknown {
public:
    static constexpr IID iid{0x79184A66, 0x8664, 0x423F, {0x97, 0xF1, 0x63, 0x73, 0x56, 0xA5, 0xD8, 0x12}};
    virtual HRESULT get_Count(LONG* pCount) = 0;
    /// Item by 1-based index (VT_I4) or by name (VT_BSTR).
    virtual HRESULT get_Item(VARIANT index, ITaskFolder** ppFolder) = 0;
};

/// A task as the service stores it.
class IRegisteredTask : public IUnknown {
public:
    static constexpr IID iid{0x9C86F320, 0xDEE3, 0x4DD1, {0xB9, 0x72, 0xA3, 0x03, 0xF2, 0x6B, 0x06, 0x1E}};
    virtual HRESULT get_Name(QString* pName) = 0;
    /// The full path, e.g. "\Reports\Daily".
    virtual HRESULT get_Path(QString* pPath) = 0;
    virtual HRESULT get_State(TASK_STATE* pState) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* pEnabled) = 0;
    /// Enables or disables the stored task at once.
    virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;
    /// Starts the task now.
    virtual HRESULT Run(VARIANT params, IRunningTask** ppRunningTask) = 0;
    virtual HRESULT RunEx(VARIANT params, LONG flags, LONG sessionId, const QString& user,
                          IRunningTask** ppRunningTask) = 0;
    virtual HRESULT GetInstances(LONG flags, IRunningTaskCollection** ppRunningTasks) = 0;
    /// The start of the last run; 0 when it never ran.
    virtual HRESULT get_LastRunTime(DATE* pLastRunTime) = 0;
    /// The result of the last run; SCHED_S_TASK_HAS_NOT_RUN when it never ran.
    virtual HRESULT get_LastTaskResult(LONG* pLastTaskResult) = 0;
    virtual HRESULT get_NumberOfMissedRuns(LONG* pNumberOfMissedRuns) = 0;
    /// The next scheduled start; 0 when none is due.
    virtual HRESULT get_NextRunTime(DATE* pNextRunTime) = 0;
    /// A fresh copy of the stored definition.
    virtual HRESULT get_Definition(ITaskDefinition** ppDefinition) = 0;
    /// The stored task document.
    virtual HRESULT get_Xml(QString* pXml) = 0;
    /// Stops every running instance; `flags` must be 0.
    virtual HRESULT Stop(LONG flags) = 0;
    /// The scheduled starts between `pstStart` and `pstEnd` (no end when null), at most *pCount of them.
    virtual HRESULT GetRunTimes(const SYSTEMTIME* pstStart, const SYSTEMTIME* pstEnd, DWORD* pCount,
                                QList<SYSTEMTIME>* pRunTimes) = 0;
};

class IRegisteredTaskCollection : public IUnknown {
public:
    static constexpr IID iid{0x86627EB4, 0x42A7, 0x41E4, {0xA4, 0xD9, 0xAC, 0x33, 0xA7, 0x2F, 0x2D, 0x52}};
    virtual HRESULT get_Count(LONG* pCount) = 0;
    /// Item by 1-based index (VT_I4) or by name (VT_BSTR).
    virtual HRESULT get_Item(VARIANT index, IRegisteredTask** ppTask) = 0;
};

/// One running instance of a task.
class IRunningTask : public IUnknown {
public:
    static constexpr IID iid{0x653758FB, 0x7B9A, 0x4F1E, {0xA4, 0x71, 0xBE, 0xEB, 0x8E, 0x9B, 0x83, 0x4E}};
    virtual HRESULT get_Name(QString* pName) = 0;
    /// The instance's identifier, a GUID in braces.
    virtual HRESULT get_InstanceGuid(QString* pGuid) = 0;
    virtual HRESULT get_Path(QString* pPath) = 0;
    virtual HRESULT get_State(TASK_STATE* pState) = 0;
    /// The name of the action the instance is running.
    virtual HRESULT get_CurrentAction(QString* pName) = 0;
    virtual HRESULT Stop() = 0;
    /// Re-reads the instance's state from the service.
    virtual HRESULT Refresh() = 0;
    /// The process id of the engine running the instance.
    virtual HRESULT get_EnginePID(DWORD* pPID) = 0;
};

class IRunningTaskCollection : public IUnknown {
public:
    static constexpr IID iid{0x6A67614B, 0x6828, 0x4FEC, {0xAA, 0x54, 0x6D, 0x52, 0xE8, 0xF1, 0xF2, 0xDB}};
    virtual HRESULT get_Count(LONG* pCount) = 0;
    /// Item by 1-based index (VT_I4).
    virtual HRESULT get_Item(VARIANT index, IRunningTask** ppRunningTask) = 0;
};

// ---------------------------------------------------------------------------------------
// The definition and its parts. These live in the client and change only in memory.

class ITaskDefinition : public IUnknown {
public:
    static constexpr IID iid{0xF5BC8FC5, 0x536D, 0x4F77, {0xB8, 0x52, 0xFB, 0xC1, 0x35, 0x6F, 0xDE, 0xB6}};
    virtual HRESULT get_RegistrationInfo(IRegistrationInfo** ppRegistrationInfo) = 0;
    /// Replaces the registration information with a copy of another definition's.
    virtual HRESULT put_RegistrationInfo(IRegistrationInfo* pRegistrationInfo) = 0;
    virtual HRESULT get_Triggers(ITriggerCollection** ppTriggers) = 0;
    virtual HRESULT put_Triggers(ITriggerCollection* pTriggers) = 0;
    virtual HRESULT get_Settings(ITaskSettings** ppSettings) = 0;
    virtual HRESULT put_Settings(ITaskSettings* pSettings) = 0;
    /// Data kept for the task's owner; stored and returned exactly.
    virtual HRESULT get_Data(QString* pData) = 0;
    virtual HRESULT put_Data(const QString& data) = 0;
    virtual HRESULT get_Principal(IPrincipal** ppPrincipal) = 0;
    virtual HRESULT put_Principal(IPrincipal* pPrincipal) = 0;
    virtual HRESULT get_Actions(IActionCollection** ppActions) = 0;
    virtual HRESULT put_Actions(IActionCollection* pActions) = 0;
    /// The whole definition as a task document.
    virtual HRESULT get_XmlText(QString* pXml) = 0;
    /// Replaces the whole definition with a task document; a document that does not load changes nothing.
    virtual HRESULT put_XmlText(const QString& xml) = 0;
};

class IRegistrationInfo : public IUnknown {
public:
    static constexpr IID iid{0x416D8B73, 0xCB41, 0x4EA1, {0x80, 0x5C, 0x9B, 0xE9, 0xA5, 0xAC, 0x4A, 0x74}};
    virtual HRESULT get_Description(QString* pDescription) = 0;
    virtual HRESULT put_Description(const QString& description) = 0;
    virtual HRESULT get_Author(QString* pAuthor) = 0;
    virtual HRESULT put_Author(const QString& author) = 0;
    virtual HRESULT get_Version(QString* pVersion) = 0;
    virtual HRESULT put_Version(const QString& version) = 0;
    /// The registration date as boundary text; empty when none was given.
    virtual HRESULT get_Date(QString* pDate) = 0;
    virtual HRESULT put_Date(const QString& date) = 0;
    virtual HRESULT get_Documentation(QString* pDocumentation) = 0;
    virtual HRESULT put_Documentation(const QString& documentation) = 0;
    virtual HRESULT get_URI(QString* pUri) = 0;
    virtual HRESULT put_URI(const QString& uri) = 0;
    virtual HRESULT get_Source(QString* pSource) = 0;
    virtual HRESULT put_Source(const QString& source) = 0;
};

/// The account a task runs under.
class IPrincipal : public IUnknown {
public:
    static constexpr IID iid{0xD98D51E5, 0xC9B4, 0x496A, {0xA9, 0xC1, 0x18, 0x98, 0x02, 0x61, 0xCF, 0x0F}};
    virtual HRESULT get_Id(QString* pId) = 0;
    virtual HRESULT put_Id(const QString& id) = 0;
    virtual HRESULT get_DisplayName(QString* pName) = 0;
    virtual HRESULT put_DisplayName(const QString& name) = 0;
    virtual HRESULT get_UserId(QString* pUser) = 0;
    virtual HRESULT put_UserId(const QString& user) = 0;
    virtual HRESULT get_LogonType(TASK_LOGON_TYPE* pLogon) = 0;
    /// Fails with E_INVALIDARG for a value outside TASK_LOGON_TYPE.
    virtual HRESULT put_LogonType(TASK_LOGON_TYPE logon) = 0;
    virtual HRESULT get_GroupId(QString* pGroup) = 0;
    virtual HRESULT put_GroupId(const QString& group) = 0;
    virtual HRESULT get_RunLevel(TASK_RUNLEVEL_TYPE* pRunLevel) = 0;
    virtual HRESULT put_RunLevel(TASK_RUNLEVEL_TYPE runLevel) = 0;
};

/// How the service runs the task. Durations are ISO 8601 texts ("PT72H"; empty: none).
class ITaskSettings : public IUnknown {
public:
    static constexpr IID iid{0x8FD4711D, 0x2D02, 0x4C8C, {0x87, 0xE3, 0xEF, 0xF6, 0x99, 0xDE, 0x12, 0x7E}};
    virtual HRESULT get_AllowDemandStart(VARIANT_BOOL* pAllow) = 0;
    virtual HRESULT put_AllowDemandStart(VARIANT_BOOL allow) = 0;
    virtual HRESULT get_RestartInterval(QString* pInterval) = 0;
    virtual HRESULT put_RestartInterval(const QString& interval) = 0;
    virtual HRESULT get_RestartCount(LONG* pCount) = 0;
    /// Fails with E_INVALIDARG for a negative count.
    virtual HRESULT put_RestartCount(LONG count) = 0;
    virtual HRESULT get_MultipleInstances(TASK_INSTANCES_POLICY* pPolicy) = 0;
    virtual HRESULT put_MultipleInstances(TASK_INSTANCES_POLICY policy) = 0;
    virtual HRESULT get_StopIfGoingOnBatteries(VARIANT_BOOL* pStop) = 0;
    virtual HRESULT put_StopIfGoingOnBatteries(VARIANT_BOOL stop) = 0;
    virtual HRESULT get_DisallowStartIfOnBatteries(VARIANT_BOOL* pDisallow) = 0;
    virtual HRESULT put_DisallowStartIfOnBatteries(VARIANT_BOOL disallow) = 0;
    virtual HRESULT get_AllowHardTerminate(VARIANT_BOOL* pAllow) = 0;
    virtual HRESULT put_AllowHardTerminate(VARIANT_BOOL allow) = 0;
    virtual HRESULT get_StartWhenAvailable(VARIANT_BOOL* pStart) = 0;
    virtual HRESULT put_StartWhenAvailable(VARIANT_BOOL start) = 0;
    virtual HRESULT get_RunOnlyIfNetworkAvailable(VARIANT_BOOL* pRun) = 0;
    virtual HRESULT put_RunOnlyIfNetworkAvailable(VARIANT_BOOL run) = 0;
    /// "PT0S" means no limit.
    virtual HRESULT get_ExecutionTimeLimit(QString* pLimit) = 0;
    virtual HRESULT put_ExecutionTimeLimit(const QString& limit) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* pEnabled) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT get_DeleteExpiredTaskAfter(QString* pDelay) = 0;
    virtual HRESULT put_DeleteExpiredTaskAfter(const QString& delay) = 0;
    /// 0 (highest) to 10 (lowest).
    virtual HRESULT get_Priority(LONG* pPriority) = 0;
    virtual HRESULT put_Priority(LONG priority) = 0;
    virtual HRESULT get_Compatibility(TASK_COMPATIBILITY* pCompatLevel) = 0;
    virtual HRESULT put_Compatibility(TASK_COMPATIBILITY compatLevel) = 0;
    virtual HRESULT get_Hidden(VARIANT_BOOL* pHidden) = 0;
    virtual HRESULT put_Hidden(VARIANT_BOOL hidden) = 0;
    virtual HRESULT get_IdleSettings(IIdleSettings** ppIdleSettings) = 0;
    virtual HRESULT put_IdleSettings(IIdleSettings* pIdleSettings) = 0;
    virtual HRESULT get_RunOnlyIfIdle(VARIANT_BOOL* pRunOnlyIfIdle) = 0;
    virtual HRESULT put_RunOnlyIfIdle(VARIANT_BOOL runOnlyIfIdle) = 0;
    virtual HRESULT get_WakeToRun(VARIANT_BOOL* pWake) = 0;
    virtual HRESULT put_WakeToRun(VARIANT_BOOL wake) = 0;
    virtual HRESULT get_NetworkSettings(INetworkSettings** ppNetworkSettings) = 0;
    virtual HRESULT put_NetworkSettings(INetworkSettings* pNetworkSettings) = 0;
};

class IIdleSettings : public IUnknown {
public:
    static constexpr IID iid{0x84594461, 0x0053, 0x4342, {0xA8, 0xFD, 0x08, 0x8F, 0xAB, 0xF1, 0x1F, 0x32}};
    virtual HRESULT get_IdleDuration(QString* pDelay) = 0;
    virtual HRESULT put_IdleDuration(const QString& delay) = 0;
    virtual HRESULT get_WaitTimeout(QString* pTimeout) = 0;
    virtual HRESULT put_WaitTimeout(const QString& timeout) = 0;
    virtual HRESULT get_StopOnIdleEnd(VARIANT_BOOL* pStop) = 0;
    virtual HRESULT put_StopOnIdleEnd(VARIANT_BOOL stop) = 0;
    virtual HRESULT get_RestartOnIdle(VARIANT_BOOL* pRestart) = 0;
    virtual HRESULT put_RestartOnIdle(VARIANT_BOOL restart) = 0;
};

class INetworkSettings : public IUnknown {
public:
    static constexpr IID iid{0x9F7DEA84, 0xC30B, 0x4245, {0x80, 0xB6, 0x00, 0xE9, 0xF6, 0x46, 0xF1, 0xB4}};
    virtual HRESULT get_Name(QString* pName) = 0;
    virtual HRESULT put_Name(const QString& name) = 0;
    /// The network's identifier, a GUID in braces (or empty).
    virtual HRESULT get_Id(QString* pId) = 0;
    virtual HRESULT put_Id(const QString& id) = 0;
};

/// Name and value pairs: an e-mail's header fields, an event trigger's value queries.
class ITaskNamedValuePair : public IUnknown {
public:
    static constexpr IID iid{0x39038068, 0x2B46, 0x4AFD, {0x86, 0x62, 0x7B, 0xB6, 0xF8, 0x68, 0xD2, 0x21}};
    virtual HRESULT get_Name(QString* pName) = 0;
    virtual HRESULT put_Name(const QString& name) = 0;
    virtual HRESULT get_Value(QString* pValue) = 0;
    virtual HRESULT put_Value(const QString& value) = 0;
};

class ITaskNamedValueCollection : public IUnknown {
public:
    static constexpr IID iid{0xB4EF826B, 0x63C3, 0x46E4, {0xA5, 0x04, 0xEF, 0x69, 0xE4, 0xF7, 0xEA, 0x4D}};
    virtual HRESULT get_Count(LONG* pCount) = 0;
    /// Item by 1-based index.
    virtual HRESULT get_Item(LONG index, ITaskNamedValuePair** ppPair) = 0;
    /// Appends a pair and returns it (ppPair may be null).
    virtual HRESULT Create(const QString& name, const QString& value, ITaskNamedValuePair** ppPair) = 0;
    /// Removes the pair at the 1-based index.
    virtual HRESULT Remove(LONG index) = 0;
    virtual HRESULT Clear() = 0;
};

// ---------------------------------------------------------------------------------------
// Triggers

/// The triggers of a definition, in order.
class ITriggerCollection : public IUnknown {
public:
    static constexpr IID iid{0x85DF5081, 0x1B24, 0x4F32, {0x87, 0x8A, 0xD9, 0xD1, 0x4D, 0xF4, 0xCB, 0x77}};
    virtual HRESULT get_Count(LONG* pCount) = 0;
    /// Item by 1-based index.
    virtual HRESULT get_Item(LONG index, ITrigger** ppTrigger) = 0;
    /// Appends a trigger of kind `type` and returns it.
    virtual HRESULT Create(TASK_TRIGGER_TYPE2 type, ITrigger** ppTrigger) = 0;
    /// Removes a trigger by 1-based index (VT_I4) or by identifier (VT_BSTR).
    virtual HRESULT Remove(VARIANT index) = 0;
    virtual HRESULT Clear() = 0;
};

/// What every trigger has; query for the kind's interface for the rest.
class ITrigger : public IUnknown {
public:
    static constexpr IID iid{0x09941815, 0xEA89, 0x4B5B, {0x89, 0xE0, 0x2A, 0x77, 0x38, 0x01, 0xFA, 0xC3}};
    virtual HRESULT get_Type(TASK_TRIGGER_TYPE2* pType) = 0;
    virtual HRESULT get_Id(QString* pId) = 0;
    virtual HRESULT put_Id(const QString& id) = 0;
    /// The trigger's repetition pattern, live: writes through it change this trigger.
    virtual HRESULT get_Repetition(IRepetitionPattern** ppRepeat) = 0;
    /// Copies the values of another pattern into this trigger's.
    virtual HRESULT put_Repetition(IRepetitionPattern* pRepeat) = 0;
    virtual HRESULT get_ExecutionTimeLimit(QString* pTimeLimit) = 0;
    virtual HRESULT put_ExecutionTimeLimit(const QString& timeLimit) = 0;
    /// Boundary text "yyyy-mm-ddThh:mm:ss" with an optional zone; empty when not set.
    virtual HRESULT get_StartBoundary(QString* pStart) = 0;
    virtual HRESULT put_StartBoundary(const QString& start) = 0;
    virtual HRESULT get_EndBoundary(QString* pEnd) = 0;
    virtual HRESULT put_EndBoundary(const QString& end) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* pEnabled) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;
};

/// How often the task is started again after each start of its trigger.
class IRepetitionPattern : public IUnknown {
public:
    static constexpr IID iid{0x7FB9ACF1, 0x26BE, 0x400E, {0x85, 0xB5, 0x29, 0x4B, 0x9C, 0x75, 0xDF, 0xD6}};
    virtual HRESULT get_Interval(QString* pInterval) = 0;
    virtual HRESULT put_Interval(const QString& interval) = 0;
    virtual HRESULT get_Duration(QString* pDuration) = 0;
    virtual HRESULT put_Duration(const QString& duration) = 0;
    virtual HRESULT get_StopAtDurationEnd(VARIANT_BOOL* pStop) = 0;
    virtual HRESULT put_StopAtDurationEnd(VARIANT_BOOL stop) = 0;
};

class ITimeTrigger : public ITrigger {
public:
    static constexpr IID iid{0xB45747E0, 0xEBA7, 0x4276, {0x9F, 0x29, 0x85, 0xC5, 0xBB, 0x30, 0x00, 0x06}};
    virtual HRESULT get_RandomDelay(QString* pRandomDelay) = 0;
    virtual HRESULT put_RandomDelay(const QString& randomDelay) = 0;
};

class IDailyTrigger : public ITrigger {
public:
    static constexpr IID iid{0x126C5CD8, 0xB288, 0x41D5, {0x8D, 0xBF, 0xE4, 0x91, 0x44, 0x6A, 0xDC, 0x5C}};
    virtual HRESULT get_DaysInterval(SHORT* pDays) = 0;
    /// Fails with E_INVALIDARG for an interval below 1.
    virtual HRESULT put_DaysInterval(SHORT days) = 0;
    virtual HRESULT get_RandomDelay(QString* pRandomDelay) = 0;
    virtual HRESULT put_RandomDelay(const QString& randomDelay) = 0;
};

class IWeeklyTrigger : public ITrigger {
public:
    static constexpr IID iid{0x5038FC98, 0x82FF, 0x436D, {0x87, 0x28, 0xA5, 0x12, 0xA5, 0x7C, 0x9D, 0xC1}};
    /// TASK_DAYS_OF_WEEK bits.
    virtual HRESULT get_DaysOfWeek(SHORT* pDays) = 0;
    virtual HRESULT put_DaysOfWeek(SHORT days) = 0;
    virtual HRESULT get_WeeksInterval(SHORT* pWeeks) = 0;
    virtual HRESULT put_WeeksInterval(SHORT weeks) = 0;
    virtual HRESULT get_RandomDelay(QString* pRandomDelay) = 0;
    virtual HRESULT put_RandomDelay(const QString& randomDelay) = 0;
};

class IMonthlyTrigger : public ITrigger {
public:
    static constexpr IID iid{0x97C45EF1, 0x6B02, 0x4A1A, {0x9C, 0x0E, 0x1E, 0xBF, 0xBA, 0x15, 0x00, 0xAC}};
    /// Bit n - 1 for day n of the month.
    virtual HRESULT get_DaysOfMonth(LONG* pDays) = 0;
    virtual HRESULT put_DaysOfMonth(LONG days) = 0;
    /// TASK_MONTHS bits.
    virtual HRESULT get_MonthsOfYear(SHORT* pMonths) = 0;
    virtual HRESULT put_MonthsOfYear(SHORT months) = 0;
    virtual HRESULT get_RunOnLastDayOfMonth(VARIANT_BOOL* pLastDay) = 0;
    virtual HRESULT put_RunOnLastDayOfMonth(VARIANT_BOOL lastDay) = 0;
    virtual HRESULT get_RandomDelay(QString* pRandomDelay) = 0;
    virtual HRESULT put_RandomDelay(const QString& randomDelay) = 0;
};

class IMonthlyDOWTrigger : public ITrigger {
public:
    static constexpr IID iid{0x77D025A3, 0x90FA, 0x43AA, {0xB5, 0x2E, 0xCD, 0xA5, 0x49, 0x9B, 0x94, 0x6A}};
    virtual HRESULT get_DaysOfWeek(SHORT* pDays) = 0;
    virtual HRESULT put_DaysOfWeek(SHORT days) = 0;
    /// TASK_WEEKS_OF_MONTH bits.
    virtual HRESULT get_WeeksOfMonth(SHORT* pWeeks) = 0;
    virtual HRESULT put_WeeksOfMonth(SHORT weeks) = 0;
    virtual HRESULT get_MonthsOfYear(SHORT* pMonths) = 0;
    virtual HRESULT put_MonthsOfYear(SHORT months) = 0;
    virtual HRESULT get_RunOnLastWeekOfMonth(VARIANT_BOOL* pLastWeek) = 0;
    virtual HRESULT put_RunOnLastWeekOfMonth(VARIANT_BOOL lastWeek) = 0;
    virtual HRESULT get_RandomDelay(QString* pRandomDelay) = 0;
    virtual HRESULT put_RandomDelay(const QString& randomDelay) = 0;
};

class IIdleTrigger : public ITrigger {
public:
    static constexpr IID iid{0xD537D2B0, 0x9FB3, 0x4D34, {0x97, 0x39, 0x1F, 0xF5, 0xCE, 0x7B, 0x1E, 0xF3}};
};

class IBootTrigger : public ITrigger {
public:
    static constexpr IID iid{0x2A9C35DA, 0xD357, 0x41F4, {0xBB, 0xC1, 0x20, 0x7A, 0xC1, 0xB1, 0xF3, 0xCB}};
    virtual HRESULT get_Delay(QString* pDelay) = 0;
    virtual HRESULT put_Delay(const QString& delay) = 0;
};

class ILogonTrigger : public ITrigger {
public:
    static constexpr IID iid{0x72DADE38, 0xFAE4, 0x4B3E, {0xBA, 0xF4, 0x5D, 0x00, 0x9A, 0xF0, 0x2B, 0x1C}};
    virtual HRESULT get_Delay(QString* pDelay) = 0;
    virtual HRESULT put_Delay(const QString& delay) = 0;
    /// The user whose logon starts the task; empty for any user.
    virtual HRESULT get_UserId(QString* pUser) = 0;
    virtual HRESULT put_UserId(const QString& user) = 0;
};

class ISessionStateChangeTrigger : public ITrigger {
public:
    static constexpr IID iid{0x754DA71B, 0x4385, 0x4475, {0x9D, 0xD9, 0x59, 0x82, 0x94, 0xFA, 0x36, 0x41}};
    virtual HRESULT get_Delay(QString* pDelay) = 0;
    virtual HRESULT put_Delay(const QString& delay) = 0;
    virtual HRESULT get_UserId(QString* pUser) = 0;
    virtual HRESULT put_UserId(const QString& user) = 0;
    virtual HRESULT get_StateChange(TASK_SESSION_STATE_CHANGE_TYPE* pType) = 0;
    /// Fails with E_INVALIDARG for a value outside TASK_SESSION_STATE_CHANGE_TYPE.
    virtual HRESULT put_StateChange(TASK_SESSION_STATE_CHANGE_TYPE type) = 0;
};

class IEventTrigger : public ITrigger {
public:
    static constexpr IID iid{0xD45B0167, 0x9653, 0x4EEF, {0xB9, 0x4F, 0x07, 0x32, 0xCA, 0x7A, 0xF2, 0x51}};
    /// The query that selects the events starting the task.
    virtual HRESULT get_Subscription(QString* pQuery) = 0;
    virtual HRESULT put_Subscription(const QString& query) = 0;
    virtual HRESULT get_Delay(QString* pDelay) = 0;
    virtual HRESULT put_Delay(const QString& delay) = 0;
    /// The named values taken from the event, live.
    virtual HRESULT get_ValueQueries(ITaskNamedValueCollection** ppNamedXPaths) = 0;
    virtual HRESULT put_ValueQueries(ITaskNamedValueCollection* pNamedXPaths) = 0;
};

class IRegistrationTrigger : public ITrigger {
public:
    static constexpr IID iid{0x4C8FEC3A, 0xC218, 0x4E0C, {0xB2, 0x3D, 0x62, 0x90, 0x24, 0xDB, 0x91, 0xA2}};
    virtual HRESULT get_Delay(QString* pDelay) = 0;
    virtual HRESULT put_Delay(const QString& delay) = 0;
};

// ---------------------------------------------------------------------------------------
// Actions

/// The actions of a definition, run in order.
class IActionCollection : public IUnknown {
public:
    static constexpr IID iid{0x02820E19, 0x7B98, 0x4ED2, {0xB2, 0xE8, 0xFD, 0xCC, 0xCE, 0xFF, 0x61, 0x9B}};
    virtual HRESULT get_Count(LONG* pCount) = 0;
    /// Item by 1-based index; other indexes fail with E_INVALIDARG.
    virtual HRESULT get_Item(LONG index, IAction** ppAction) = 0;
    /// Appends an action of kind `type` and returns it.
    virtual HRESULT Create(TASK_ACTION_TYPE type, IAction** ppAction) = 0;
    /// Removes an action by 1-based index (VT_I4) or by identifier (VT_BSTR).
    virtual HRESULT Remove(VARIANT index) = 0;
    virtual HRESULT Clear() = 0;
    /// The principal identifier the actions run under (empty: the task's principal).
    virtual HRESULT get_Context(QString* pContext) = 0;
    virtual HRESULT put_Context(const QString& context) = 0;
};

/// What every action has; query for the kind's interface for the rest.
class IAction : public IUnknown {
public:
    static constexpr IID iid{0xBAE54997, 0x48B1, 0x4CBE, {0x99, 0x65, 0xD6, 0xBE, 0x26, 0x3E, 0xBE, 0xA4}};
    virtual HRESULT get_Id(QString* pId) = 0;
    virtual HRESULT put_Id(const QString& id) = 0;
    virtual HRESULT get_Type(TASK_ACTION_TYPE* pType) = 0;
};

/// Starts a program.
class IExecAction : public IAction {
public:
    static constexpr IID iid{0x4C3D624D, 0xFD6B, 0x49A3, {0xB9, 0xB7, 0x09, 0xCB, 0x3C, 0xD3, 0xF0, 0x47}};
    virtual HRESULT get_Path(QString* pPath) = 0;
    virtual HRESULT put_Path(const QString& path) = 0;
    virtual HRESULT get_Arguments(QString* pArgument) = 0;
    virtual HRESULT put_Arguments(const QString& argument) = 0;
    virtual HRESULT get_WorkingDirectory(QString* pWorkingDirectory) = 0;
    virtual HRESULT put_WorkingDirectory(const QString& workingDirectory) = 0;
};

/// Sends an e-mail.
class IEmailAction : public IAction {
public:
    static constexpr IID iid{0x10F62C64, 0x7E16, 0x4314, {0xA0, 0xC2, 0x0C, 0x36, 0x83, 0xF9, 0x9D, 0x40}};
    virtual HRESULT get_Server(QString* pServer) = 0;
    virtual HRESULT put_Server(const QString& server) = 0;
    virtual HRESULT get_Subject(QString* pSubject) = 0;
    virtual HRESULT put_Subject(const QString& subject) = 0;
    virtual HRESULT get_To(QString* pTo) = 0;
    virtual HRESULT put_To(const QString& to) = 0;
    virtual HRESULT get_Cc(QString* pCc) = 0;
    virtual HRESULT put_Cc(const QString& cc) = 0;
    virtual HRESULT get_Bcc(QString* pBcc) = 0;
    virtual HRESULT put_Bcc(const QString& bcc) = 0;
    virtual HRESULT get_ReplyTo(QString* pReplyTo) = 0;
    virtual HRESULT put_ReplyTo(const QString& replyTo) = 0;
    virtual HRESULT get_From(QString* pFrom) = 0;
    virtual HRESULT put_From(const QString& from) = 0;
    /// The extra header fields, live.
    virtual HRESULT get_HeaderFields(ITaskNamedValueCollection** ppHeaderFields) = 0;
    virtual HRESULT put_HeaderFields(ITaskNamedValueCollection* pHeaderFields) = 0;
    virtual HRESULT get_Body(QString* pBody) = 0;
    virtual HRESULT put_Body(const QString& body) = 0;
    /// The files attached, as an array of strings (empty when none).
    virtual HRESULT get_Attachments(QStringList* pAttachments) = 0;
    virtual HRESULT put_Attachments(const QStringList& attachments) = 0;
};

/// Shows a message.
class IShowMessageAction : public IAction {
public:
    static constexpr IID iid{0x505E9E68, 0xAF89, 0x46B8, {0xA3, 0x0F, 0x56, 0x16, 0x2A, 0x83, 0xD5, 0x37}};
    virtual HRESULT get_Title(QString* pTitle) = 0;
    virtual HRESULT put_Title(const QString& title) = 0;
    virtual HRESULT get_MessageBody(QString* pMessageBody) = 0;
    virtual HRESULT put_MessageBody(const QString& messageBody) = 0;
};

/// Calls a handler object identified by its class identifier.
class IComHandlerAction : public IAction {
public:
    static constexpr IID iid{0x6D2FD252, 0x75C5, 0x4F66, {0x90, 0xBA, 0x2A, 0x7D, 0x8C, 0xC3, 0x03, 0x9F}};
    /// The class identifier text, a GUID in braces.
    virtual HRESULT get_ClassId(QString* pClsid) = 0;
    virtual HRESULT put_ClassId(const QString& clsid) = 0;
    virtual HRESULT get_Data(QString* pData) = 0;
    virtual HRESULT put_Data(const QString& data) = 0;
};
