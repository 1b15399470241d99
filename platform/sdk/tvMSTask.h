#pragma once
// Generation 1.0 of the scheduling service's published interfaces: the scheduler, its
// enumeration of work items, the task object with its triggers, the task file and the
// provider of the task's property pages, with the constants and records they exchange.

#include "ComBase.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

class QWidget;

using BYTE = std::uint8_t;
/// A window handed to the service as the owner of what it shows.
using HWND = QWidget*;
/// One property page made by the service for a task (a widget owned by whoever shows it).
using HPROPSHEETPAGE = QWidget*;

// ---------------------------------------------------------------------------------------
// Class and interface identifiers

constexpr CLSID CLSID_CTask{0x148BD520, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
constexpr CLSID CLSID_CTaskScheduler{0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};

// ---------------------------------------------------------------------------------------
// Work-item flags (IScheduledWorkItem::GetFlags / SetFlags)

constexpr DWORD TASK_FLAG_INTERACTIVE = 0x1;
constexpr DWORD TASK_FLAG_DELETE_WHEN_DONE = 0x2;
constexpr DWORD TASK_FLAG_DISABLED = 0x4;
constexpr DWORD TASK_FLAG_START_ONLY_IF_IDLE = 0x10;
constexpr DWORD TASK_FLAG_KILL_ON_IDLE_END = 0x20;
constexpr DWORD TASK_FLAG_DONT_START_IF_ON_BATTERIES = 0x40;
constexpr DWORD TASK_FLAG_KILL_IF_GOING_ON_BATTERIES = 0x80;
constexpr DWORD TASK_FLAG_RUN_ONLY_IF_DOCKED = 0x100;
constexpr DWORD TASK_FLAG_HIDDEN = 0x200;
constexpr DWORD TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET = 0x400;
constexpr DWORD TASK_FLAG_RESTART_ON_IDLE_RESUME = 0x800;
constexpr DWORD TASK_FLAG_SYSTEM_REQUIRED = 0x1000;
constexpr DWORD TASK_FLAG_RUN_ONLY_IF_LOGGED_ON = 0x2000;

// Trigger flags (TASK_TRIGGER::rgFlags)
constexpr DWORD TASK_TRIGGER_FLAG_HAS_END_DATE = 0x1;
constexpr DWORD TASK_TRIGGER_FLAG_KILL_AT_DURATION_END = 0x2;
constexpr DWORD TASK_TRIGGER_FLAG_DISABLED = 0x4;

// Days of the week (bit 0 Sunday ... bit 6 Saturday)
constexpr WORD TASK_SUNDAY = 0x1;
constexpr WORD TASK_MONDAY = 0x2;
constexpr WORD TASK_TUESDAY = 0x4;
constexpr WORD TASK_WEDNESDAY = 0x8;
constexpr WORD TASK_THURSDAY = 0x10;
constexpr WORD TASK_FRIDAY = 0x20;
constexpr WORD TASK_SATURDAY = 0x40;

// Months (bit 0 January ... bit 11 December)
constexpr WORD TASK_JANUARY = 0x1;
constexpr WORD TASK_FEBRUARY = 0x2;
constexpr WORD TASK_MARCH = 0x4;
constexpr WORD TASK_APRIL = 0x8;
constexpr WORD TASK_MAY = 0x10;
constexpr WORD TASK_JUNE = 0x20;
constexpr WORD TASK_JULY = 0x40;
constexpr WORD TASK_AUGUST = 0x80;
constexpr WORD TASK_SEPTEMBER = 0x100;
constexpr WORD TASK_OCTOBER = 0x200;
constexpr WORD TASK_NOVEMBER = 0x400;
constexpr WORD TASK_DECEMBER = 0x800;

// Weeks of the month of a monthly day-of-week trigger (MONTHLYDOW::wWhichWeek)
constexpr WORD TASK_FIRST_WEEK = 1;
constexpr WORD TASK_SECOND_WEEK = 2;
constexpr WORD TASK_THIRD_WEEK = 3;
constexpr WORD TASK_FOURTH_WEEK = 4;
constexpr WORD TASK_LAST_WEEK = 5;

// Run priorities (ITask::GetPriority / SetPriority)
constexpr DWORD IDLE_PRIORITY_CLASS = 0x40;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x20;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x80;
constexpr DWORD REALTIME_PRIORITY_CLASS = 0x100;

/// The most run times one IScheduledWorkItem::GetRunTimes call hands out.
constexpr WORD TASK_MAX_RUN_TIMES = 1440;
/// The most bytes of application data a work item holds.
constexpr int TASK_MAX_WORK_ITEM_DATA = 65535;
/// IScheduledWorkItem::GetMaxRunTime: no limit.
constexpr DWORD TASK_NO_MAX_RUN_TIME = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------------------
// The trigger record

/// The kind of a 1.0 trigger, stored in 32 bits; the library keeps its own wider kinds in
/// the first byte, so values outside the list travel unchanged.
enum TASK_TRIGGER_TYPE : DWORD {
    TASK_TIME_TRIGGER_ONCE = 0,
    TASK_TIME_TRIGGER_DAILY = 1,
    TASK_TIME_TRIGGER_WEEKLY = 2,
    TASK_TIME_TRIGGER_MONTHLYDATE = 3,
    TASK_TIME_TRIGGER_MONTHLYDOW = 4,
    TASK_EVENT_TRIGGER_ON_IDLE = 5,
    TASK_EVENT_TRIGGER_AT_SYSTEMSTART = 6,
    TASK_EVENT_TRIGGER_AT_LOGON = 7,
};

/// Every n days.
struct DAILY {
    WORD DaysInterval;
};

/// Every n weeks on the days of a mask.
struct WEEKLY {
    WORD WeeksInterval;
    WORD rgfDaysOfTheWeek;
};

/// On the days of a day-of-month mask (bit n - 1 for day n) in the months of a mask.
struct MONTHLYDATE {
    DWORD rgfDays;
    WORD rgfMonths;
};

/// On the days of a weekday mask in one week of the month, in the months of a mask.
struct MONTHLYDOW {
    WORD wWhichWeek;
    WORD rgfDaysOfTheWeek;
    WORD rgfMonths;
};

/// The kind-specific part of a trigger: 8 bytes, every variant starting at offset 0.
union TRIGGER_TYPE_UNION {
    DAILY Daily;
    WEEKLY Weekly;
    MONTHLYDATE MonthlyDate;
    MONTHLYDOW MonthlyDOW;
};
static_assert(sizeof(TRIGGER_TYPE_UNION) == 8);

/// The 48-byte trigger record, exchanged whole with ITaskTrigger::GetTrigger / SetTrigger.
struct TASK_TRIGGER {
    WORD cbTriggerSize;
    WORD Reserved1;
    WORD wBeginYear;
    WORD wBeginMonth;
    WORD wBeginDay;
    WORD wEndYear;
    WORD wEndMonth;
    WORD wEndDay;
    WORD wStartHour;
    WORD wStartMinute;
    DWORD MinutesDuration;
    DWORD MinutesInterval;
    DWORD rgFlags;
    TASK_TRIGGER_TYPE TriggerType;
    TRIGGER_TYPE_UNION Type;
    WORD Reserved2;
    WORD wRandomMinutesInterval;
};
static_assert(sizeof(TASK_TRIGGER) == 48);
static_assert(offsetof(TASK_TRIGGER, MinutesDuration) == 20);
static_assert(offsetof(TASK_TRIGGER, rgFlags) == 28);
static_assert(offsetof(TASK_TRIGGER, TriggerType) == 32);
static_assert(offsetof(TASK_TRIGGER, Type) == 36);
static_assert(offsetof(TASK_TRIGGER, Reserved2) == 44);
static_assert(offsetof(TASK_TRIGGER, wRandomMinutesInterval) == 46);

/// The pages IProvideTaskPage::GetPage makes.
enum TASKPAGE : DWORD { TASKPAGE_TASK = 0, TASKPAGE_SCHEDULE = 1, TASKPAGE_SETTINGS = 2 };

// ---------------------------------------------------------------------------------------
// Interfaces

/// One trigger of a task object. Changes reach the task object at once and its file when
/// the task is saved.
class ITaskTrigger : public IUnknown {
public:
    static constexpr IID iid{0x148BD52B, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
    /// Replaces the trigger by `pTrigger`, kept verbatim. E_INVALIDARG for a record whose
    /// size is not 48 or whose fields cannot describe a trigger; E_POINTER for null.
    virtual HRESULT SetTrigger(const TASK_TRIGGER* pTrigger) = 0;
    /// Copies the whole record into `pTrigger`.
    virtual HRESULT GetTrigger(TASK_TRIGGER* pTrigger) = 0;
    /// The service's English description of the trigger, times and dates in the user's locale.
    virtual HRESULT GetTriggerString(QString* ppwszTrigger) = 0;
};

/// A work item: what every kind of scheduled item shares (schedule, account, run state).
class IScheduledWorkItem : public IUnknown {
public:
    static constexpr IID iid{0xA6B952F0, 0xA4B1, 0x11D0, {0x99, 0x7D, 0x00, 0xAA, 0x00, 0x68, 0x87, 0xEC}};
    /// Appends a trigger (the zero record of size 48) and hands out its index and object.
    virtual HRESULT CreateTrigger(WORD* piNewTrigger, ITaskTrigger** ppTrigger) = 0;
    /// Removes trigger `iTrigger`; later triggers move down by one. E_INVALIDARG when out of range.
    virtual HRESULT DeleteTrigger(WORD iTrigger) = 0;
    virtual HRESULT GetTriggerCount(WORD* pwCount) = 0;
    /// The object of trigger `iTrigger`. SCHED_E_TRIGGER_NOT_FOUND when out of range.
    virtual HRESULT GetTrigger(WORD iTrigger, ITaskTrigger** ppTrigger) = 0;
    /// The description of trigger `iTrigger` (see ITaskTrigger::GetTriggerString).
    virtual HRESULT GetTriggerString(WORD iTrigger, QString* ppwszTrigger) = 0;
    /// The run times from `pstBegin` on, up to `pstEnd` (null: no end), at most `*pCount`
    /// (1 to TASK_MAX_RUN_TIMES). `*pCount` becomes the number handed out; S_FALSE when
    /// fewer were found, or an informational status code when there are none.
    virtual HRESULT GetRunTimes(const SYSTEMTIME* pstBegin, const SYSTEMTIME* pstEnd, WORD* pCount,
                                QList<SYSTEMTIME>* rgstTaskTimes) = 0;
    /// The next run time, or an all-zero record with an informational code when there is none.
    virtual HRESULT GetNextRunTime(SYSTEMTIME* pstNextRun) = 0;
    virtual HRESULT SetIdleWait(WORD wIdleMinutes, WORD wDeadlineMinutes) = 0;
    virtual HRESULT GetIdleWait(WORD* pwIdleMinutes, WORD* pwDeadlineMinutes) = 0;
    /// Starts the work item now.
    virtual HRESULT Run() = 0;
    /// Stops the running work item.
    virtual HRESULT Terminate() = 0;
    /// Shows the service's own property sheet for the work item.
    virtual HRESULT EditWorkItem(HWND hParent, DWORD dwReserved) = 0;
    /// The start of the last run; an all-zero record and SCHED_S_TASK_HAS_NOT_RUN when it never ran.
    virtual HRESULT GetMostRecentRunTime(SYSTEMTIME* pstLastRun) = 0;
    /// One of the informational codes SCHED_S_TASK_READY ... SCHED_S_TASK_NO_VALID_TRIGGERS.
    virtual HRESULT GetStatus(HRESULT* phrStatus) = 0;
    /// The exit code of the last run; SCHED_S_TASK_HAS_NOT_RUN (and 0) when it never ran.
    virtual HRESULT GetExitCode(DWORD* pdwExitCode) = 0;
    virtual HRESULT SetComment(const QString& pwszComment) = 0;
    virtual HRESULT GetComment(QString* ppwszComment) = 0;
    virtual HRESULT SetCreator(const QString& pwszCreator) = 0;
    virtual HRESULT GetCreator(QString* ppwszCreator) = 0;
    /// Replaces the application's own data (0 to TASK_MAX_WORK_ITEM_DATA bytes; larger is E_INVALIDARG).
    virtual HRESULT SetWorkItemData(const QByteArray& rgbData) = 0;
    virtual HRESULT GetWorkItemData(QByteArray* prgbData) = 0;
    /// The whole 32-bit flags word, bits the service does not name included.
    virtual HRESULT SetFlags(DWORD dwFlags) = 0;
    virtual HRESULT GetFlags(DWORD* pdwFlags) = 0;
    /// The account the work item runs under; a null password means none is given
    /// (the task then runs only while that user is logged on).
    virtual HRESULT SetAccountInformation(const QString& pwszAccountName, const QString* pwszPassword) = 0;
    /// SCHED_E_ACCOUNT_INFORMATION_NOT_SET when no account was ever set.
    virtual HRESULT GetAccountInformation(QString* ppwszAccountName) = 0;
};

/// A task: a work item that runs one program.
class ITask : public IScheduledWorkItem {
public:
    static constexpr IID iid{0x148BD524, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
    virtual HRESULT SetApplicationName(const QString& pwszApplicationName) = 0;
    virtual HRESULT GetApplicationName(QString* ppwszApplicationName) = 0;
    virtual HRESULT SetParameters(const QString& pwszParameters) = 0;
    virtual HRESULT GetParameters(QString* ppwszParameters) = 0;
    virtual HRESULT SetWorkingDirectory(const QString& pwszWorkingDirectory) = 0;
    virtual HRESULT GetWorkingDirectory(QString* ppwszWorkingDirectory) = 0;
    /// One of IDLE_, NORMAL_, HIGH_ or REALTIME_PRIORITY_CLASS; anything else is E_INVALIDARG.
    virtual HRESULT SetPriority(DWORD dwPriority) = 0;
    virtual HRESULT GetPriority(DWORD* pdwPriority) = 0;
    /// Flags of the task kind itself, kept whole (no bit is defined yet).
    virtual HRESULT SetTaskFlags(DWORD dwFlags) = 0;
    virtual HRESULT GetTaskFlags(DWORD* pdwFlags) = 0;
    /// Milliseconds a run may last; TASK_NO_MAX_RUN_TIME for no limit.
    virtual HRESULT SetMaxRunTime(DWORD dwMaxRunTimeMS) = 0;
    virtual HRESULT GetMaxRunTime(DWORD* pdwMaxRunTimeMS) = 0;
};

/// A list of work-item names ("Name.job").
class IEnumWorkItems : public IUnknown {
public:
    static constexpr IID iid{0x148BD528, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
    /// Hands out up to `celt` names (replacing the list's contents); S_FALSE when fewer were left.
    /// `pceltFetched` may be null only when `celt` is 1.
    virtual HRESULT Next(ULONG celt, QStringList* rgpwszNames, ULONG* pceltFetched) = 0;
    /// Passes over `celt` names; S_FALSE when fewer were left.
    virtual HRESULT Skip(ULONG celt) = 0;
    /// Back to the first name.
    virtual HRESULT Reset() = 0;
    /// A second enumeration at the same position.
    virtual HRESULT Clone(IEnumWorkItems** ppEnumWorkItems) = 0;
};

/// The scheduler of one computer: its work items by name.
class ITaskScheduler : public IUnknown {
public:
    static constexpr IID iid{0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
    /// Null or empty: the local computer. Another computer's name fails until remote
    /// computers can be reached.
    virtual HRESULT SetTargetComputer(const QString* pwszComputer) = 0;
    /// The target computer's name with a leading "\\".
    virtual HRESULT GetTargetComputer(QString* ppwszComputer) = 0;
    /// The names of the work items, as they stand now.
    virtual HRESULT Enum(IEnumWorkItems** ppEnumWorkItems) = 0;
    /// Loads the named work item ("Name.job") as interface `riid`. A missing item fails with
    /// the file-not-found code, a damaged file with SCHED_E_INVALID_TASK or
    /// SCHED_E_UNKNOWN_OBJECT_VERSION.
    virtual HRESULT Activate(const QString& pwszName, REFIID riid, IUnknown** ppUnk) = 0;
    /// Deletes the named work item's file.
    virtual HRESULT Delete(const QString& pwszName) = 0;
    /// A new work item of class `rclsid` (CLSID_CTask) that reaches its file when saved;
    /// fails with ERROR_FILE_EXISTS's code when the name is taken.
    virtual HRESULT NewWorkItem(const QString& pwszTaskName, REFCLSID rclsid, REFIID riid, IUnknown** ppUnk) = 0;
    /// Saves `pWorkItem` as a new work item under `pwszTaskName`; fails when the name is taken.
    virtual HRESULT AddWorkItem(const QString& pwszTaskName, IScheduledWorkItem* pWorkItem) = 0;
    /// S_OK when the named work item supports `riid`, S_FALSE when it does not.
    virtual HRESULT IsOfType(const QString& pwszName, REFIID riid) = 0;
};

/// A work item seen as its file.
class IPersistFile : public IUnknown {
public:
    static constexpr IID iid{0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    /// The class of the object (CLSID_CTask for a task).
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;
    /// S_OK when changed since the last load or save, else S_FALSE.
    virtual HRESULT IsDirty() = 0;
    /// Replaces the object's contents by the file at `pszFileName` (full path or "Name.job").
    virtual HRESULT Load(const QString& pszFileName, DWORD dwMode) = 0;
    /// Writes the object: null name, its current file; another name, a new file beside it
    /// (which becomes the current file when `fRemember`).
    virtual HRESULT Save(const QString* pszFileName, BOOL fRemember) = 0;
    /// Nothing to finish: saves are complete when Save returns.
    virtual HRESULT SaveCompleted(const QString* pszFileName) = 0;
    /// The full path of the current file.
    virtual HRESULT GetCurFile(QString* ppszFileName) = 0;
};

/// The service's own property pages of a task.
class IProvideTaskPage : public IUnknown {
public:
    static constexpr IID iid{0x4086658A, 0xCBBB, 0x11CF, {0xB6, 0x04, 0x00, 0xC0, 0x4F, 0xD8, 0xD5, 0x65}};
    /// Makes page `tpType`; with `fPersistChanges` the page saves its own changes to the task.
    virtual HRESULT GetPage(TASKPAGE tpType, BOOL fPersistChanges, HPROPSHEETPAGE* phPage) = 0;
};

inline constexpr const IID& IID_ITaskTrigger = ITaskTrigger::iid;
inline constexpr const IID& IID_IScheduledWorkItem = IScheduledWorkItem::iid;
inline constexpr const IID& IID_ITask = ITask::iid;
inline constexpr const IID& IID_IEnumWorkItems = IEnumWorkItems::iid;
inline constexpr const IID& IID_ITaskScheduler = ITaskScheduler::iid;
inline constexpr const IID& IID_IPersistFile = IPersistFile::iid;
inline constexpr const IID& IID_IProvideTaskPage = IProvideTaskPage::iid;
