#pragma once
// The enumerations, sets and small records that the task library's classes share.
// Every 2.0 enumeration keeps the numbers of the service's own enumeration, so a value
// passes to and from the service unchanged.

#include "kvUtils.h"

#include <QList>
#include <QtGlobal>

/// The run priority of a 1.0 task.
enum TTaskPriority : quint8 { tpIdle, tpNormal, tpHigh, tpRealTime };

/// One flag of a 1.0 task. The members are not in the order of the service's flag bits:
/// TTaskItem converts through a table.
enum TTaskFlag : quint8 {
    tfInteractive,
    tfDeleteWhenDone,
    tfDisabled,
    tfHidden,
    tfRunOnlyIfLoggedOn,
    tfStartOnlyIfIdle,
    tfSystemRequired,
    tfKillOnIdleEnd,
    tfRestartOnIdleResume,
    tfDontStartIfOnBatteries,
    tfKillIfGoingOnBatteries,
    tfRunIfConnectedToInternet
};
using TTaskFlags = TSet<TTaskFlag>;

/// What creating a task under a name already taken does.
enum TTaskDuplicate : quint8 { tdError, tdActivateFirst };

/// The 1.0 idle wait of a task.
struct TIdleTime {
    quint16 wIdleMinutes;     ///< minutes the computer must be idle before the task starts
    quint16 wDeadlineMinutes; ///< minutes to wait for that idle period
    friend bool operator==(const TIdleTime&, const TIdleTime&) = default;
};

/// One 2.0 setting of a task shown as a flag.
enum TTaskVistaFlag : quint8 {
    tfvAllowDemandStart,
    tfvAllowHardTerminate,
    tfvDisallowStartIfOnBatteries,
    tfvStopIfGoingOnBatteries,
    tfvEnabled,
    tfvHidden,
    tfvRunOnlyIfIdle,
    tfvStopOnIdleEnd,
    tfvRestartOnIdle,
    tfvRunOnlyIfNetworkAvailable,
    tfvStartWhenAvailable,
    tfvWakeToRun,
    tfvNeedLogon
};
using TTaskVistaFlags = TSet<TTaskVistaFlag>;

/// The 2.0 compatibility level (the service's TASK_COMPATIBILITY numbers).
enum TTaskCompatibility : quint8 {
    tcCompatibilityAT,
    tcCompatibilityXP,
    tcCompatibilityVista,
    tcCompatibilityWin7,
    tcCompatibilityWin10,
    tcCompatibilityUnkn1,
    tcCompatibilityUnkn2
};

/// What the 2.0 service does when a task starts while an instance runs (TASK_INSTANCES_POLICY).
enum TTaskInstancesPolicy : quint8 { tipParallel, tipQueue, tipIgnoreNew, tipStopExisting };

/// How a 2.0 task logs on (TASK_LOGON_TYPE).
enum TTaskLogonType : quint8 {
    tltNone,
    tltPassword,
    tltS4U,
    tltInteractiveToken,
    tltGroup,
    tltServiceAccount,
    tltInteractiveTokenOrPassword
};

/// A growable array of 32-bit integers, owned by the caller.
using TIntegerArray = QList<qint32>;

/// A task's status: the eight 1.0 status codes, then the five 2.0 task states.
enum TTaskStatus : quint8 {
    tsReady,
    tsRunning,
    tsDisabled,
    tsHasNotRun,
    tsNoMoreRuns,
    tsNotScheduled,
    tsTerminated,
    tsNoValidTriggers,
    ts2Unknown,
    ts2Disabled,
    ts2Queued,
    ts2Ready,
    ts2Running
};

/// A growable array of date-times, owned by the caller.
using TDateTimeArray = QList<TDateTime>;

/// A classic property page of a 1.0 task; the values are the service's page numbers.
enum TPageType : quint8 { ptTask, ptSchedule, ptSettings };
using TPageTypes = TSet<TPageType>;

/// The kind of a trigger; 0 to 7 coincide with the 1.0 trigger types.
enum TTriggerType : quint8 {
    ttOnce,
    ttDaily,
    ttWeekly,
    ttMonthlyDate,
    ttMonthlyDow,
    ttOnIdle,
    ttAtStartup,
    ttAtLogon,
    ttOnConnect,
    ttOnDisconnect,
    ttOnLock,
    ttOnUnlock,
    ttUnknown
};

/// A week of the month of a 2.0 monthly day-of-week trigger.
enum TVistaMDOWWeek : quint8 { tvmdowFirst, tvmdowSecond, tvmdowThird, tvmdowFourth, tvmdowLast };
using TVistaMDOWWeeks = TSet<TVistaMDOWWeek>;
