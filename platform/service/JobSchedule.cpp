#include "JobSchedule.h"

#include "ResultCodes.h"

namespace {

bool IsTimeBased(const TASK_TRIGGER& t)
{
    return DWORD(t.TriggerType) <= TASK_TIME_TRIGGER_MONTHLYDOW;
}

} // namespace

bool JobSchedule::TriggerIsValid(const TASK_TRIGGER& t)
{
    if (!TriggerIsWellFormed(t) || (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED)) return false;
    if (!IsTimeBased(t)) return true;
    if (t.wBeginYear == 0) return false;
    switch (t.TriggerType) {
    case TASK_TIME_TRIGGER_DAILY:
        return t.Type.Daily.DaysInterval > 0;
    case TASK_TIME_TRIGGER_WEEKLY:
        return t.Type.Weekly.WeeksInterval > 0 && t.Type.Weekly.rgfDaysOfTheWeek != 0;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
        return t.Type.MonthlyDate.rgfDays != 0 && t.Type.MonthlyDate.rgfMonths != 0;
    case TASK_TIME_TRIGGER_MONTHLYDOW:
        return t.Type.MonthlyDOW.rgfDaysOfTheWeek != 0 && t.Type.MonthlyDOW.rgfMonths != 0;
    default:
        return true;
    }
}

HRESULT JobSchedule::Status(const JobDefinition& d, const JobRuntime& r)
{
    if (r.running) return SCHED_S_TASK_RUNNING;
    if (d.flags & TASK_FLAG_DISABLED) return SCHED_S_TASK_DISABLED;
    if (d.triggers.isEmpty()) return SCHED_S_TASK_NOT_SCHEDULED;
    if (std::none_of(d.triggers.begin(), d.triggers.end(), TriggerIsValid)) return SCHED_S_TASK_NO_VALID_TRIGGERS;
    if (!r.HasRun()) return SCHED_S_TASK_HAS_NOT_RUN;
    if (r.terminated) return SCHED_S_TASK_TERMINATED;
    return SCHED_S_TASK_READY;
}

HRESULT JobSchedule::RunTimes(const JobDefinition& d, const SYSTEMTIME& begin, const SYSTEMTIME* end, int maxCount,
                              QList<SYSTEMTIME>* times)
{
    Q_UNUSED(begin);
    Q_UNUSED(end);
    Q_UNUSED(maxCount);
    times->clear();
    if (d.flags & TASK_FLAG_DISABLED) return SCHED_S_TASK_DISABLED;
    QList<TASK_TRIGGER> valid;
    std::copy_if(d.triggers.begin(), d.triggers.end(), std::back_inserter(valid), TriggerIsValid);
    if (valid.isEmpty()) return SCHED_S_TASK_NO_VALID_TRIGGERS;
    if (std::none_of(valid.begin(), valid.end(), IsTimeBased)) return SCHED_S_EVENT_TRIGGER;
    return S_FALSE;
}
