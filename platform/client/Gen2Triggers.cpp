#include "Gen2Triggers.h"

#include "Gen2NamedValues.h"
#include "Gen2Session.h"

using namespace Gen2;

namespace {

// What every kind has: the ITrigger part, over the trigger's data.
template <typename Derived, typename Kind>
class TriggerObject : public ComObject<Derived, Kind> {
public:
    explicit TriggerObject(std::shared_ptr<TriggerData> data) : d(std::move(data)) {}

    void* QueryExtra(REFIID riid) { return riid == ITrigger::iid ? static_cast<ITrigger*>(this) : nullptr; }

    HRESULT get_Type(TASK_TRIGGER_TYPE2* p) override { return OutValue(p, d->type); }
    HRESULT get_Id(QString* p) override { return Out(p, d->id); }
    HRESULT put_Id(const QString& v) override { d->id = v; return S_OK; }
    HRESULT get_Repetition(IRepetitionPattern** pp) override { return OutObject(pp, Gen2RepetitionPattern::Make(d)); }
    HRESULT put_Repetition(IRepetitionPattern* p) override
    {
        if (!p) return E_POINTER;
        RepetitionData r;
        VARIANT_BOOL stop = VARIANT_FALSE;
        if (HRESULT hr = p->get_Interval(&r.interval); FAILED(hr)) return hr;
        if (HRESULT hr = p->get_Duration(&r.duration); FAILED(hr)) return hr;
        if (HRESULT hr = p->get_StopAtDurationEnd(&stop); FAILED(hr)) return hr;
        r.stopAtDurationEnd = stop != 0;
        if (!TaskValueRules::IsDurationOrEmpty(r.interval)) return Fail(TaskValueRules::DurationProblem(QStringLiteral("Interval"), r.interval));
        if (!TaskValueRules::IsDurationOrEmpty(r.duration)) return Fail(TaskValueRules::DurationProblem(QStringLiteral("Duration"), r.duration));
        d->repetition = r;
        return S_OK;
    }
    HRESULT get_ExecutionTimeLimit(QString* p) override { return Out(p, d->executionTimeLimit); }
    HRESULT put_ExecutionTimeLimit(const QString& v) override { return PutDuration(&d->executionTimeLimit, v, "ExecutionTimeLimit"); }
    HRESULT get_StartBoundary(QString* p) override { return Out(p, d->startBoundary); }
    HRESULT put_StartBoundary(const QString& v) override { return PutBoundary(&d->startBoundary, v, "StartBoundary"); }
    HRESULT get_EndBoundary(QString* p) override { return Out(p, d->endBoundary); }
    HRESULT put_EndBoundary(const QString& v) override { return PutBoundary(&d->endBoundary, v, "EndBoundary"); }
    HRESULT get_Enabled(VARIANT_BOOL* p) override { return OutFlag(p, d->enabled); }
    HRESULT put_Enabled(VARIANT_BOOL v) override { return PutFlag(&d->enabled, v); }

protected:
    std::shared_ptr<TriggerData> d;
};

// Kinds with a random delay, and kinds with a delay.
template <typename Derived, typename Kind>
class RandomDelayTrigger : public TriggerObject<Derived, Kind> {
public:
    using TriggerObject<Derived, Kind>::TriggerObject;
    HRESULT get_RandomDelay(QString* p) override { return Out(p, this->d->randomDelay); }
    HRESULT put_RandomDelay(const QString& v) override { return PutDuration(&this->d->randomDelay, v, "RandomDelay"); }
};

template <typename Derived, typename Kind>
class DelayTrigger : public TriggerObject<Derived, Kind> {
public:
    using TriggerObject<Derived, Kind>::TriggerObject;
    HRESULT get_Delay(QString* p) override { return Out(p, this->d->delay); }
    HRESULT put_Delay(const QString& v) override { return PutDuration(&this->d->delay, v, "Delay"); }
};

class TimeTrigger : public RandomDelayTrigger<TimeTrigger, ITimeTrigger> {
public:
    using RandomDelayTrigger::RandomDelayTrigger;
};

class DailyTrigger : public RandomDelayTrigger<DailyTrigger, IDailyTrigger> {
public:
    using RandomDelayTrigger::RandomDelayTrigger;
    HRESULT get_DaysInterval(SHORT* p) override { return OutValue(p, d->daysInterval); }
    HRESULT put_DaysInterval(SHORT v) override { return PutNumber(&d->daysInterval, v, v >= 1, "DaysInterval"); }
};

class WeeklyTrigger : public RandomDelayTrigger<WeeklyTrigger, IWeeklyTrigger> {
public:
    using RandomDelayTrigger::RandomDelayTrigger;
    HRESULT get_DaysOfWeek(SHORT* p) override { return OutValue(p, d->daysOfWeek); }
    HRESULT put_DaysOfWeek(SHORT v) override { return PutNumber(&d->daysOfWeek, v, TaskValueRules::IsDaysOfWeekMask(v), "DaysOfWeek"); }
    HRESULT get_WeeksInterval(SHORT* p) override { return OutValue(p, d->weeksInterval); }
    HRESULT put_WeeksInterval(SHORT v) override { return PutNumber(&d->weeksInterval, v, v >= 1, "WeeksInterval"); }
};

class MonthlyTrigger : public RandomDelayTrigger<MonthlyTrigger, IMonthlyTrigger> {
public:
    using RandomDelayTrigger::RandomDelayTrigger;
    HRESULT get_DaysOfMonth(LONG* p) override { return OutValue(p, d->daysOfMonth); }
    HRESULT put_DaysOfMonth(LONG v) override { return PutNumber(&d->daysOfMonth, v, TaskValueRules::IsDaysOfMonthMask(v), "DaysOfMonth"); }
    HRESULT get_MonthsOfYear(SHORT* p) override { return OutValue(p, d->monthsOfYear); }
    HRESULT put_MonthsOfYear(SHORT v) override { return PutNumber(&d->monthsOfYear, v, TaskValueRules::IsMonthsMask(v), "MonthsOfYear"); }
    HRESULT get_RunOnLastDayOfMonth(VARIANT_BOOL* p) override { return OutFlag(p, d->runOnLastDayOfMonth); }
    HRESULT put_RunOnLastDayOfMonth(VARIANT_BOOL v) override { return PutFlag(&d->runOnLastDayOfMonth, v); }
};

class MonthlyDOWTrigger : public RandomDelayTrigger<MonthlyDOWTrigger, IMonthlyDOWTrigger> {
public:
    using RandomDelayTrigger::RandomDelayTrigger;
    HRESULT get_DaysOfWeek(SHORT* p) override { return OutValue(p, d->daysOfWeek); }
    HRESULT put_DaysOfWeek(SHORT v) override { return PutNumber(&d->daysOfWeek, v, TaskValueRules::IsDaysOfWeekMask(v), "DaysOfWeek"); }
    HRESULT get_WeeksOfMonth(SHORT* p) override { return OutValue(p, d->weeksOfMonth); }
    HRESULT put_WeeksOfMonth(SHORT v) override { return PutNumber(&d->weeksOfMonth, v, TaskValueRules::IsWeeksOfMonthMask(v), "WeeksOfMonth"); }
    HRESULT get_MonthsOfYear(SHORT* p) override { return OutValue(p, d->monthsOfYear); }
    HRESULT put_MonthsOfYear(SHORT v) override { return PutNumber(&d->monthsOfYear, v, TaskValueRules::IsMonthsMask(v), "MonthsOfYear"); }
    HRESULT get_RunOnLastWeekOfMonth(VARIANT_BOOL* p) override { return OutFlag(p, d->runOnLastWeekOfMonth); }
    HRESULT put_RunOnLastWeekOfMonth(VARIANT_BOOL v) override { return PutFlag(&d->runOnLastWeekOfMonth, v); }
};

class IdleTrigger : public TriggerObject<IdleTrigger, IIdleTrigger> {
public:
    using TriggerObject::TriggerObject;
};

class BootTrigger : public DelayTrigger<BootTrigger, IBootTrigger> {
public:
    using DelayTrigger::DelayTrigger;
};

class RegistrationTrigger : public DelayTrigger<RegistrationTrigger, IRegistrationTrigger> {
public:
    using DelayTrigger::DelayTrigger;
};

class LogonTrigger : public DelayTrigger<LogonTrigger, ILogonTrigger> {
public:
    using DelayTrigger::DelayTrigger;
    HRESULT get_UserId(QString* p) override { return Out(p, d->userId); }
    HRESULT put_UserId(const QString& v) override { d->userId = v; return S_OK; }
};

class SessionStateChangeTrigger : public DelayTrigger<SessionStateChangeTrigger, ISessionStateChangeTrigger> {
public:
    using DelayTrigger::DelayTrigger;
    HRESULT get_UserId(QString* p) override { return Out(p, d->userId); }
    HRESULT put_UserId(const QString& v) override { d->userId = v; return S_OK; }
    HRESULT get_StateChange(TASK_SESSION_STATE_CHANGE_TYPE* p) override { return OutValue(p, d->stateChange); }
    HRESULT put_StateChange(TASK_SESSION_STATE_CHANGE_TYPE v) override
    {
        return PutNumber(&d->stateChange, v, TaskValueRules::IsStateChange(v), "StateChange");
    }
};

class EventTrigger : public DelayTrigger<EventTrigger, IEventTrigger> {
public:
    using DelayTrigger::DelayTrigger;
    HRESULT get_Subscription(QString* p) override { return Out(p, d->subscription); }
    HRESULT put_Subscription(const QString& v) override { d->subscription = v; return S_OK; }
    HRESULT get_ValueQueries(ITaskNamedValueCollection** pp) override
    {
        return OutObject(pp, Gen2NamedValueCollection::Make(d, &d->valueQueries));
    }
    HRESULT put_ValueQueries(ITaskNamedValueCollection* p) override { return Gen2NamedValueCollection::CopyFrom(p, &d->valueQueries); }
};

template <typename T>
ComPtr<ITrigger> As(ComPtr<T> object)
{
    return ComPtr<ITrigger>::Attach(static_cast<ITrigger*>(object.Detach()));
}

} // namespace

ComPtr<ITrigger> Gen2TriggerCollection::MakeTrigger(std::shared_ptr<TriggerData> data)
{
    switch (data->type) {
    case TASK_TRIGGER_EVENT: return As(EventTrigger::Make(std::move(data)));
    case TASK_TRIGGER_TIME: return As(TimeTrigger::Make(std::move(data)));
    case TASK_TRIGGER_DAILY: return As(DailyTrigger::Make(std::move(data)));
    case TASK_TRIGGER_WEEKLY: return As(WeeklyTrigger::Make(std::move(data)));
    case TASK_TRIGGER_MONTHLY: return As(MonthlyTrigger::Make(std::move(data)));
    case TASK_TRIGGER_MONTHLYDOW: return As(MonthlyDOWTrigger::Make(std::move(data)));
    case TASK_TRIGGER_IDLE: return As(IdleTrigger::Make(std::move(data)));
    case TASK_TRIGGER_REGISTRATION: return As(RegistrationTrigger::Make(std::move(data)));
    case TASK_TRIGGER_BOOT: return As(BootTrigger::Make(std::move(data)));
    case TASK_TRIGGER_LOGON: return As(LogonTrigger::Make(std::move(data)));
    case TASK_TRIGGER_SESSION_STATE_CHANGE: return As(SessionStateChangeTrigger::Make(std::move(data)));
    default: return nullptr;
    }
}

HRESULT Gen2TriggerCollection::get_Count(LONG* pCount)
{
    return OutValue(pCount, m_model->triggers.size());
}

HRESULT Gen2TriggerCollection::get_Item(LONG index, ITrigger** ppTrigger)
{
    if (!ppTrigger) return E_POINTER;
    if (index < 1 || index > m_model->triggers.size())
        return Fail(E_INVALIDARG, QStringLiteral("There is no trigger %1; the task has %2.").arg(index).arg(m_model->triggers.size()));
    return OutObject(ppTrigger, MakeTrigger(m_model->triggers[index - 1]));
}

HRESULT Gen2TriggerCollection::Create(TASK_TRIGGER_TYPE2 type, ITrigger** ppTrigger)
{
    if (!ppTrigger) return E_POINTER;
    if (!TaskValueRules::IsTriggerType(type)) return Fail(TaskValueRules::RangeProblem(QStringLiteral("Trigger type"), type));
    if (m_model->triggers.size() >= TaskValueRules::MaxTriggers)
        return Fail(SCHED_E_TOO_MANY_NODES, QStringLiteral("A task holds at most %1 triggers.").arg(TaskValueRules::MaxTriggers));
    auto data = std::make_shared<TriggerData>();
    data->type = type;
    m_model->triggers.append(data);
    return OutObject(ppTrigger, MakeTrigger(data));
}

HRESULT Gen2TriggerCollection::Remove(VARIANT index)
{
    auto& list = m_model->triggers;
    if (index.vt == VT_BSTR) {
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list[i]->id == index.bstrVal) {
                list.removeAt(i);
                return S_OK;
            }
        }
        return Fail(E_INVALIDARG, QStringLiteral("There is no trigger \"%1\".").arg(index.bstrVal));
    }
    if (index.vt != VT_I4) return Fail(E_INVALIDARG, QStringLiteral("A trigger is removed by its position or its identifier."));
    if (index.lVal < 1 || index.lVal > list.size())
        return Fail(E_INVALIDARG, QStringLiteral("There is no trigger %1; the task has %2.").arg(index.lVal).arg(list.size()));
    list.removeAt(index.lVal - 1);
    return S_OK;
}

HRESULT Gen2TriggerCollection::Clear()
{
    m_model->triggers.clear();
    return S_OK;
}

QList<std::shared_ptr<TriggerData>> Gen2TriggerCollection::CopyTriggers() const
{
    QList<std::shared_ptr<TriggerData>> copy;
    for (const auto& t : m_model->triggers) copy.append(std::make_shared<TriggerData>(*t));
    return copy;
}

HRESULT Gen2RepetitionPattern::get_Interval(QString* p) { return Out(p, m_trigger->repetition.interval); }
HRESULT Gen2RepetitionPattern::put_Interval(const QString& v) { return PutDuration(&m_trigger->repetition.interval, v, "Interval"); }
HRESULT Gen2RepetitionPattern::get_Duration(QString* p) { return Out(p, m_trigger->repetition.duration); }
HRESULT Gen2RepetitionPattern::put_Duration(const QString& v) { return PutDuration(&m_trigger->repetition.duration, v, "Duration"); }
HRESULT Gen2RepetitionPattern::get_StopAtDurationEnd(VARIANT_BOOL* p) { return OutFlag(p, m_trigger->repetition.stopAtDurationEnd); }
HRESULT Gen2RepetitionPattern::put_StopAtDurationEnd(VARIANT_BOOL v) { return PutFlag(&m_trigger->repetition.stopAtDurationEnd, v); }
