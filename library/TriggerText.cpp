#include "TriggerText.h"

#include "Exceptions.h"
#include "TaskService2.h"


namespace {

template <typename I>
ComPtr<I> KindOf(ITrigger* trigger)
{
    ComPtr<I> kind;
    if (FAILED(trigger->QueryInterface(I::iid, kind.PutVoid())) || !kind) throw EIntfCastError();
    return kind;
}

QString AppendListItem(QString list, const QString& item)
{
    if (!list.isEmpty()) list += QStringLiteral(", ");
    return list + item;
}

// The service's 16-bit intervals are shown as signed numbers, as the service holds them.
QString Signed16(SHORT value)
{
    return QString::number(value);
}

} // namespace

QString TriggerText::TimeText(TDateTime AValue)
{
    return UserTimeText(DateTimeToTime(AValue));
}

QString TriggerText::DateText(TDateTime AValue)
{
    return UserDateText(DateTimeToDate(AValue));
}

QString TriggerText::DayNumberList(quint32 ADaysOfMonth, bool ALastDay)
{
    return DaysOfMonthToText(ADaysOfMonth, ALastDay ? SWeekLast : QString());
}

QString TriggerText::WeekWordList(quint16 AWeeksOfMonth, bool ALastWeek)
{
    const QString* const words[] = {&SWeekFirst, &SWeekSecond, &SWeekThird, &SWeekFourth, &SWeekLast};
    QString list;
    for (int week = 0; week < 5; ++week) {
        const bool lastByFlag = week == 4 && ALastWeek;
        if ((AWeeksOfMonth & (1u << week)) || lastByFlag) list = AppendListItem(list, *words[week]);
    }
    return list;
}

QString TriggerText::Describe(ITrigger* ATrigger)
{
    if (!ATrigger) throw EIntfCastError();
    QString boundary;
    OleCheck(ATrigger->get_StartBoundary(&boundary));
    const TDateTime start = boundary.isEmpty() ? 0.0 : IsoDateTimeToDateTime(boundary);
    const QString time = TimeText(start);
    const QString date = DateText(start);

    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    OleCheck(ATrigger->get_Type(&type));
    switch (type) {
    case TASK_TRIGGER_EVENT:
        return SAtEvent;
    case TASK_TRIGGER_TIME:
        return SAtTimeOnDate.arg(time, date);
    case TASK_TRIGGER_DAILY: {
        SHORT days = 0;
        OleCheck(KindOf<IDailyTrigger>(ATrigger)->get_DaysInterval(&days));
        return days <= 1 ? SAtTimeEveryDay.arg(time) : SAtTimeEveryNDays.arg(time, Signed16(days));
    }
    case TASK_TRIGGER_WEEKLY: {
        const ComPtr<IWeeklyTrigger> weekly = KindOf<IWeeklyTrigger>(ATrigger);
        SHORT weeks = 0;
        SHORT daysOfWeek = 0;
        OleCheck(weekly->get_WeeksInterval(&weeks));
        OleCheck(weekly->get_DaysOfWeek(&daysOfWeek));
        const QString dayNames = DaysOfWeekToText(quint16(daysOfWeek));
        return weeks <= 1 ? SAtTimeEveryWeek.arg(time, dayNames, date)
                          : SAtTimeEveryNWeeks.arg(time, dayNames, Signed16(weeks), date);
    }
    case TASK_TRIGGER_MONTHLY: {
        const ComPtr<IMonthlyTrigger> monthly = KindOf<IMonthlyTrigger>(ATrigger);
        LONG daysOfMonth = 0;
        SHORT months = 0;
        VARIANT_BOOL lastDay = VARIANT_FALSE;
        OleCheck(monthly->get_DaysOfMonth(&daysOfMonth));
        OleCheck(monthly->get_MonthsOfYear(&months));
        OleCheck(monthly->get_RunOnLastDayOfMonth(&lastDay));
        return SAtTimeOnMonthDays.arg(time, DayNumberList(quint32(daysOfMonth), lastDay != VARIANT_FALSE),
                                      MonthsToText(quint16(months)), date);
    }
    case TASK_TRIGGER_MONTHLYDOW: {
        const ComPtr<IMonthlyDOWTrigger> monthly = KindOf<IMonthlyDOWTrigger>(ATrigger);
        SHORT weeks = 0;
        SHORT daysOfWeek = 0;
        SHORT months = 0;
        VARIANT_BOOL lastWeek = VARIANT_FALSE;
        OleCheck(monthly->get_WeeksOfMonth(&weeks));
        OleCheck(monthly->get_RunOnLastWeekOfMonth(&lastWeek));
        OleCheck(monthly->get_DaysOfWeek(&daysOfWeek));
        OleCheck(monthly->get_MonthsOfYear(&months));
        return SRunsAtTimeOnWeekdays.arg(time, WeekWordList(quint16(weeks), lastWeek != VARIANT_FALSE),
                                         DaysOfWeekToText(quint16(daysOfWeek)), MonthsToText(quint16(months)),
                                         date);
    }
    case TASK_TRIGGER_IDLE:
        return SWhenIdle;
    case TASK_TRIGGER_REGISTRATION:
        return SAtRegistration;
    case TASK_TRIGGER_BOOT:
        return SAtSystemStartup;
    case TASK_TRIGGER_LOGON:
        return SAtLogon;
    case TASK_TRIGGER_SESSION_STATE_CHANGE: {
        TASK_SESSION_STATE_CHANGE_TYPE change = TASK_SESSION_UNLOCK;
        OleCheck(KindOf<ISessionStateChangeTrigger>(ATrigger)->get_StateChange(&change));
        switch (change) {
        case TASK_REMOTE_CONNECT:
            return SAtSessionConnect;
        case TASK_REMOTE_DISCONNECT:
            return SAtSessionDisconnect;
        case TASK_SESSION_LOCK:
            return SAtSessionLock;
        default:
            return SAtSessionUnlock;
        }
    }
    default:
        return SOtherTrigger.arg(LONG(type));
    }
}
