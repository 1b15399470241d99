// The task item's status and run times, over both generations. Every run time, whichever
// generation reports it, goes through the one calendar conversion SystemTimeToDateTimeRaw.

#include "TTaskItem.h"

#include "TaskService2.h"
#include "tvMSTask.h"

#include <algorithm>

namespace {

// Where a 2.0 period has no end: the last moment the service's calendar can name.
constexpr SYSTEMTIME kNoEnd{9999, 12, 5, 31, 23, 59, 59, 999};

TDateTime RunTimeOf(DATE value)
{
    return SystemTimeToDateTimeRaw(DateTimeToSystemTime(value));
}

} // namespace

TTaskStatus TTaskItem::GetStatus() const
{
    if (IsVista()) {
        TASK_STATE state = TASK_STATE_UNKNOWN;
        OleCheck(TaskAs<IRegisteredTask>()->get_State(&state));
        return static_cast<TTaskStatus>(quint8(state + 8));
    }
    HRESULT status = 0;
    OleCheck(TaskAs<ITask>()->GetStatus(&status));
    return static_cast<TTaskStatus>(quint8(status & 0xFF));
}

quint32 TTaskItem::GetExitCode() const
{
    if (IsVista()) {
        LONG result = 0;
        OleCheck(TaskAs<IRegisteredTask>()->get_LastTaskResult(&result));
        return quint32(result);
    }
    DWORD exitCode = 0;
    OleCheck(TaskAs<ITask>()->GetExitCode(&exitCode));
    return exitCode;
}

TDateTime TTaskItem::GetMostRecentRunTime() const
{
    if (IsVista()) {
        DATE last = 0;
        OleCheck(TaskAs<IRegisteredTask>()->get_LastRunTime(&last));
        return RunTimeOf(last);
    }
    SYSTEMTIME last{};
    OleCheck(TaskAs<ITask>()->GetMostRecentRunTime(&last));
    return SystemTimeToDateTimeRaw(last);
}

TDateTime TTaskItem::GetNextRunTime() const
{
    if (IsVista()) {
        DATE next = 0;
        OleCheck(TaskAs<IRegisteredTask>()->get_NextRunTime(&next));
        return RunTimeOf(next);
    }
    SYSTEMTIME next{};
    OleCheck(TaskAs<ITask>()->GetNextRunTime(&next));
    return SystemTimeToDateTimeRaw(next);
}

void TTaskItem::GetRunTimes(const TDateTime ABeginTime, const TDateTime AEndTime, quint16& ACount,
                            TDateTimeArray& TimesArray) const
{
    const bool vista = IsVista();
    CheckInterface();
    const SYSTEMTIME begin = DateTimeToSystemTime(ABeginTime);
    const bool hasEnd = AEndTime >= 1.0;
    const SYSTEMTIME end = hasEnd ? DateTimeToSystemTime(AEndTime) : kNoEnd;

    QList<SYSTEMTIME> times;
    quint16 count = ACount;
    if (vista) {
        DWORD found = ACount;
        OleCheck(TaskAs<IRegisteredTask>()->GetRunTimes(&begin, &end, &found, &times));
        count = quint16(found & 0xFFFF);
    } else {
        WORD found = ACount;
        OleCheck(TaskAs<ITask>()->GetRunTimes(&begin, hasEnd ? &end : nullptr, &found, &times));
        count = found;
    }
    // A service that hands out fewer records than it counts never makes us read past them.
    count = quint16(std::min<qsizetype>(count, times.size()));

    TDateTimeArray result;
    result.reserve(count);
    for (quint16 i = 0; i < count; ++i) result.append(SystemTimeToDateTimeRaw(times[i]));
    ACount = count;
    TimesArray = std::move(result);
}
