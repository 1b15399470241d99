#pragma once
// The result code a task's run leaves behind (its "last task result" or 1.0 exit code).

#include "run/InstanceDescription.h"
#include "ResultCodes.h"

/// Why the daemon ended an instance, if it did.
enum class StopReason : quint8 {
    None,          ///< it ended by itself
    Request,       ///< a client stopped the task
    TimeLimit,     ///< it ran longer than the task's execution time limit
    NewInstance,   ///< the task's instance policy stops a running instance for a new one
    RepetitionEnd, ///< the repetition of the trigger that started it ended, and the trigger stops its instances then
    OnBatteries,   ///< the computer switched to batteries, and the task stops then
    IdleEnd,       ///< a user came back to the idle computer, and the task stops then
};

namespace RunResults {

/// While an instance runs.
constexpr HRESULT Running = SCHED_S_TASK_RUNNING;
/// Ended by a client's stop request or for a new instance: "The operator or administrator has refused the request."
constexpr HRESULT StoppedByRequest = HRESULT_FROM_WIN32(4320);
/// Ended for running longer than allowed.
constexpr HRESULT TimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
/// The instance's supervisor vanished without a word (the computer went down, or it was killed).
constexpr HRESULT Lost = HRESULT_FROM_WIN32(1067);
/// An e-mail, message or handler action: this service runs programs only.
constexpr HRESULT NotSupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
/// The working directory does not exist or is not a directory: "The directory name is invalid."
constexpr HRESULT BadDirectory = HRESULT_FROM_WIN32(267);

/// A start skipped because a condition of the task did not hold; the history says which.
constexpr HRESULT ConditionNotMet = SCHED_E_TASK_NOT_READY;

/// The code for a program that could not be started at `stage` (InstanceOutcome::StartStage)
/// with the system error `error`.
HRESULT StartFailure(int stage, int error);
/// The result of an instance that ended with `outcome`: the stop reason first, then a start
/// failure, then an action that is not supported, else the last program's exit code.
HRESULT FromOutcome(const InstanceDescription& description, const InstanceOutcome& outcome, StopReason reason);
/// Whether a result counts as a failed run, which the task's restart settings retry.
bool IsFailure(HRESULT result, StopReason reason);

} // namespace RunResults
