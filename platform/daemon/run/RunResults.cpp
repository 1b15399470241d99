#include "run/RunResults.h"

#include <cerrno>

namespace RunResults {

HRESULT StartFailure(int stage, int error)
{
    switch (stage) {
    case InstanceOutcome::AccountStage:
        return E_ACCESSDENIED;
    case InstanceOutcome::DirectoryStage:
        return error == EACCES || error == EPERM ? HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) : BadDirectory;
    case InstanceOutcome::DescriptionStage:
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    default:
        break;
    }
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EISDIR:
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case ENOEXEC:
    case ELIBBAD:
        return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    case ENOMEM:
    case EAGAIN:
        return E_OUTOFMEMORY;
    default:
        return E_FAIL;
    }
}

HRESULT FromOutcome(const InstanceDescription& description, const InstanceOutcome& outcome, StopReason reason)
{
    switch (reason) {
    case StopReason::Request:
    case StopReason::NewInstance:
    case StopReason::RepetitionEnd:
    case StopReason::OnBatteries:
    case StopReason::IdleEnd:
        return StoppedByRequest;
    case StopReason::TimeLimit:
        return TimedOut;
    case StopReason::None:
        break;
    }
    if (outcome.failedStep >= 0) return StartFailure(outcome.startStage, outcome.startErrno);
    if (!description.unsupportedAction.isEmpty() && outcome.stepsRun == description.steps.size() && !outcome.stopRequested) return NotSupported;
    return HRESULT(outcome.exitCode);
}

bool IsFailure(HRESULT result, StopReason reason)
{
    return reason == StopReason::None && result != S_OK && result != NotSupported;
}

} // namespace RunResults
