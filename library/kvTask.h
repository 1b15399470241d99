#pragma once
// The task library: the scheduler, its task items and their triggers, over both interface
// generations of the scheduling service.

#include "kvErrors.h"
#include "kvTaskTypes.h"
#include "TTaskItem.h"
#include "TTaskScheduler.h"
#include "TTrigger.h"
#include "TTriggers.h"

#include <QString>

/// `AName` with the ".job" extension: unchanged when its extension already is ".job" (case ignored).
QString AddJobExtension(const QString& AName);
/// `AName` without a ".job" extension (case ignored); other names unchanged.
QString RemoveJobExtension(const QString& AName);

// The library's user-visible texts. Messages with arguments take them through QString::arg.

/// The task name extension of the 1.0 generation.
inline const QString SJobExtension = QStringLiteral(".job");

inline const QString SServiceNotRunning = QStringLiteral("Task Scheduler service is not running.");
inline const QString STaskIndexOutOfBounds = QStringLiteral("Task index out of bounds (%1)");
inline const QString STaskAlreadyExists = QStringLiteral("Task with the name \"%1\" already exists.");
inline const QString STaskNotActivated = QStringLiteral("Task \"%1\" is not activated.");
inline const QString SCouldNotActivateTask = QStringLiteral("Could not activate \"%1\" task.");
inline const QString STaskService2Required =
    QStringLiteral("Use of Task Service 2.0 API is required! (Be sure to set UseTaskScheduler1Only to False)");
inline const QString STaskDataTooLarge = QStringLiteral("The task's data cannot be longer than %1 bytes.");
inline const QString STriggerIndexOutOfBounds = QStringLiteral("Trigger index out of bounds (%1)");

inline const QString STaskNotScheduled = QStringLiteral("Task not scheduled");
inline const QString SMultipleScheduleTimes = QStringLiteral("Multiple schedule times");

inline const QString SActionsEmpty = QStringLiteral("Empty");
inline const QString SMultipleActions = QStringLiteral("Multiple actions");
inline const QString SActionExec = QStringLiteral("Start a programm");
inline const QString SActionComObject = QStringLiteral("COM Object");
inline const QString SActionSendEmail = QStringLiteral("Send an e-mail");
inline const QString SActionShowMessage = QStringLiteral("Display a message");
