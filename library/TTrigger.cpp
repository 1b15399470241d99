#include "TTrigger.h"

#include "ResultCodes.h"
#include "TTaskItem.h"
#include "TTaskScheduler.h"
#include "TTriggers.h"
#include "TriggerText.h"
#include "kvTask.h"
#include "BoundaryText.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

namespace {

constexpr WORD kTriggerSize = sizeof(TASK_TRIGGER);

// A 2.0 trigger of one kind as the kind's interface; a trigger of another kind (or none at
// all) is the platform's interface-cast error, raised before anything is sent.
template <typename I>
ComPtr<I> KindOf(const ComPtr<ITrigger>& trigger)
{
    ComPtr<I> kind;
    if (!trigger || FAILED(trigger.As(kind)) || !kind) throw EIntfCastError();
    return kind;
}

TDateTime RecordDate(WORD year, WORD month, WORD day)
{
    if (year < 1 || year > 9999 || !QDate::isValid(year, month, day)) return 0;
    return EncodeDateTime(QDate(year, month, day), QTime(0, 0));
}

QDate ValidDateOf(TDateTime value)
{
    const QDate date = DateTimeToDate(value);
    if (!date.isValid()) throw EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(value));
    return date;
}

void SplitDate(TDateTime value, WORD& year, WORD& month, WORD& day)
{
    int y = 0, m = 0, d = 0;
    // One conversion of the day number for all three parts.
    ValidDateOf(value).getDate(&y, &m, &d);
    year = WORD(y);
    month = WORD(m);
    day = WORD(d);
}

// `value` in decimal with at least `width` digits, zeros in front, as "%0*u" writes it: every
// trigger a list loads writes its start this way, and the general formatter costs more than
// the rest of the load.
void AppendPadded(QString& text, unsigned value, int width)
{
    char16_t digits[16];
    int count = 0;
    do {
        digits[count++] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count < width) digits[count++] = u'0';
    while (count > 0) text += QChar(digits[--count]);
}

// Appends "yyyy-MM-dd"; the room for a whole boundary is reserved first.
void AppendBoundaryDate(QString& text, int year, int month, int day)
{
    text.reserve(19);
    AppendPadded(text, unsigned(year), 4);
    text += u'-';
    AppendPadded(text, unsigned(month), 2);
    text += u'-';
    AppendPadded(text, unsigned(day), 2);
}

quint32 MinutesOf(const QString& duration)
{
    return quint32(DurationToMinutes(duration));
}

bool IsSessionKind(TTriggerType kind)
{
    return kind >= ttOnConnect && kind <= ttOnUnlock;
}

} // namespace

TTrigger::TTrigger(TTriggers* Collection) : FTaskTrigger{}, FTaskTriggers(Collection)
{
    FTaskTrigger.cbTriggerSize = kTriggerSize;
}

TTrigger::~TTrigger() = default;

// ---- generation and service objects -------------------------------------------------------

bool TTrigger::TasksInVista() const
{
    return FTaskTriggers->TasksInVista();
}

ComPtr<IRepetitionPattern> TTrigger::VistaRepetition() const
{
    ComPtr<IRepetitionPattern> repetition;
    OleCheck(FInterfaceVista->get_Repetition(repetition.Put()));
    return repetition;
}

ComPtr<ITaskSettings> TTrigger::VistaSettings() const
{
    TTaskItem* item = FTaskTriggers->GetTaskItem();
    const ComPtr<ITaskDefinition> definition = item->GetTaskDefinition();
    if (!definition) throw ETaskError(STaskNotActivated.arg(item->GetName()));
    ComPtr<ITaskSettings> settings;
    OleCheck(definition->get_Settings(settings.Put()));
    return settings;
}

ComPtr<ITrigger> TTrigger::GetVistaTrigger() const
{
    return FInterfaceVista;
}

// ---- dates and times ----------------------------------------------------------------------

void TTrigger::AppendTimeOfDay(QString& text) const
{
    AppendPadded(text, FTaskTrigger.wStartHour, 2);
    text += u':';
    AppendPadded(text, FTaskTrigger.wStartMinute, 2);
    text += QLatin1String(":00");
}

QString TTrigger::StartBoundaryText(TDateTime ADate) const
{
    int year = 0, month = 0, day = 0;
    ValidDateOf(ADate).getDate(&year, &month, &day);   // of the years 1 to 9999
    QString text;
    AppendBoundaryDate(text, year, month, day);
    text += u'T';
    AppendTimeOfDay(text);
    return text;
}

bool TTrigger::LoadedStartIsAt(int AYear, int AMonth, int ADay) const
{
    // What comparing the first 16 characters of the loaded text with the model's form
    // ("yyyy-MM-ddTHH:mm", zeros in front) finds, without writing that form.
    const QString& t = FLoadedStartBoundary;
    return t.size() >= 16 && t[4] == u'-' && t[7] == u'-' && t[10] == u'T' && t[13] == u':'
        && BoundaryText::DigitsAt(t, 0, 4) == AYear && BoundaryText::DigitsAt(t, 5, 2) == AMonth
        && BoundaryText::DigitsAt(t, 8, 2) == ADay && BoundaryText::DigitsAt(t, 11, 2) == int(FTaskTrigger.wStartHour)
        && BoundaryText::DigitsAt(t, 14, 2) == int(FTaskTrigger.wStartMinute);
}

QString TTrigger::StartBoundaryToSend(TDateTime ADate) const
{
    int year = 0, month = 0, day = 0;
    ValidDateOf(ADate).getDate(&year, &month, &day);   // of the years 1 to 9999
    // Date and time to the minute, as the model holds them: every trigger a list loads
    // writes its start back, nearly always unchanged.
    if (LoadedStartIsAt(year, month, day)) return FLoadedStartBoundary;
    QString text;
    AppendBoundaryDate(text, year, month, day);
    text += u'T';
    AppendTimeOfDay(text);
    if (FLoadedStartBoundary.size() < 16) return text;
    static const QRegularExpression zone(QStringLiteral("(Z|[+-]\\d{2}:\\d{2})$"));
    const QRegularExpressionMatch match = zone.match(FLoadedStartBoundary);
    return match.hasMatch() ? text + match.captured(1) : text;
}

QString TTrigger::EndBoundaryText() const
{
    int year = 0, month = 0, day = 0;
    ValidDateOf(GetEndDate()).getDate(&year, &month, &day);
    QString text;
    AppendBoundaryDate(text, year, month, day);
    text += QLatin1String("T00:00:00");
    return text;
}

TDateTime TTrigger::GetStartVistaDateTime() const
{
    if (FInterfaceVista) {
        QString boundary;
        OleCheck(FInterfaceVista->get_StartBoundary(&boundary));
        // The loaded text was read once already.
        if (!boundary.isEmpty()) return boundary == FLoadedStartBoundary ? FLoadedStart : IsoDateTimeToDateTime(boundary);
    }
    if (FTaskTrigger.wBeginYear + FTaskTrigger.wBeginMonth + FTaskTrigger.wBeginDay > 0)
        return RecordDate(FTaskTrigger.wBeginYear, FTaskTrigger.wBeginMonth, FTaskTrigger.wBeginDay);
    return 0;
}

TDateTime TTrigger::GetBeginDate() const
{
    if (FInterfaceVista) return GetStartVistaDateTime();
    return RecordDate(FTaskTrigger.wBeginYear, FTaskTrigger.wBeginMonth, FTaskTrigger.wBeginDay);
}

void TTrigger::SetBeginDate(TDateTime Value)
{
    TASK_TRIGGER record = FTaskTrigger;
    SplitDate(Value, record.wBeginYear, record.wBeginMonth, record.wBeginDay);
    if (FInterfaceVista) {
        const QString boundary = StartBoundaryToSend(Value);
        FTaskTrigger = record;
        // The same text again changes nothing; a loaded trigger's readers send it back.
        QString held;
        OleCheck(FInterfaceVista->get_StartBoundary(&held));
        if (boundary != held) OleCheck(FInterfaceVista->put_StartBoundary(boundary));
    } else {
        FTaskTrigger = record;
    }
}

TDateTime TTrigger::GetEndDate() const
{
    return RecordDate(FTaskTrigger.wEndYear, FTaskTrigger.wEndMonth, FTaskTrigger.wEndDay);
}

void TTrigger::SetEndDate(TDateTime Value)
{
    SplitDate(Value, FTaskTrigger.wEndYear, FTaskTrigger.wEndMonth, FTaskTrigger.wEndDay);
}

TDateTime TTrigger::GetStartTime() const
{
    if (!QTime::isValid(FTaskTrigger.wStartHour, FTaskTrigger.wStartMinute, 0)) return 0;
    return (FTaskTrigger.wStartHour * 60 + FTaskTrigger.wStartMinute) / 1440.0;
}

void TTrigger::SetStartTime(TDateTime Value)
{
    const QTime time = DateTimeToTime(Value);
    if (!time.isValid()) throw EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(Value));
    FTaskTrigger.wStartHour = WORD(time.hour());
    FTaskTrigger.wStartMinute = WORD(time.minute());
}

// ---- repetition -----------------------------------------------------------------------------

quint32 TTrigger::GetDuration() const
{
    if (!FInterfaceVista) return FTaskTrigger.MinutesDuration;
    QString duration;
    OleCheck(VistaRepetition()->get_Duration(&duration));
    return MinutesOf(duration);
}

void TTrigger::SetDuration(quint32 Value)
{
    FTaskTrigger.MinutesDuration = Value;
    if (FInterfaceVista) OleCheck(VistaRepetition()->put_Duration(MinutesToDuration(Value)));
}

quint32 TTrigger::GetInterval() const
{
    if (!FInterfaceVista) return FTaskTrigger.MinutesInterval;
    QString interval;
    OleCheck(VistaRepetition()->get_Interval(&interval));
    return MinutesOf(interval);
}

void TTrigger::SetInterval(quint32 Value)
{
    FTaskTrigger.MinutesInterval = Value;
    if (FInterfaceVista) OleCheck(VistaRepetition()->put_Interval(MinutesToDuration(Value)));
}

bool TTrigger::GetKillAtDurationEnd() const
{
    if (!FInterfaceVista) return (FTaskTrigger.rgFlags & TASK_TRIGGER_FLAG_KILL_AT_DURATION_END) != 0;
    VARIANT_BOOL stop = VARIANT_FALSE;
    OleCheck(VistaRepetition()->get_StopAtDurationEnd(&stop));
    return stop != VARIANT_FALSE;
}

void TTrigger::SetKillAtDurationEnd(bool Value)
{
    if (Value)
        FTaskTrigger.rgFlags |= TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
    else
        FTaskTrigger.rgFlags &= ~TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
    if (FInterfaceVista) OleCheck(VistaRepetition()->put_StopAtDurationEnd(Value ? VARIANT_TRUE : VARIANT_FALSE));
}

// ---- record flags, kind and details --------------------------------------------------------

bool TTrigger::GetEnabled() const
{
    return (FTaskTrigger.rgFlags & TASK_TRIGGER_FLAG_DISABLED) == 0;
}

void TTrigger::SetEnabled(bool Value)
{
    if (TasksInVista()) {
        // A 2.0 task is switched on and off as a whole.
        OleCheck(VistaSettings()->put_Enabled(Value ? VARIANT_TRUE : VARIANT_FALSE));
        return;
    }
    if (Value)
        FTaskTrigger.rgFlags &= ~TASK_TRIGGER_FLAG_DISABLED;
    else
        FTaskTrigger.rgFlags |= TASK_TRIGGER_FLAG_DISABLED;
}

bool TTrigger::GetHasEndDate() const
{
    return (FTaskTrigger.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) != 0;
}

void TTrigger::SetHasEndDate(bool Value)
{
    if (Value)
        FTaskTrigger.rgFlags |= TASK_TRIGGER_FLAG_HAS_END_DATE;
    else
        FTaskTrigger.rgFlags &= ~TASK_TRIGGER_FLAG_HAS_END_DATE;
}

TTriggerType TTrigger::GetTriggerType() const
{
    return static_cast<TTriggerType>(FTaskTrigger.TriggerType & 0xFF);
}

void TTrigger::SetTriggerType(TTriggerType Value)
{
    // A console state change kept from loading belongs to the kind it was loaded as; once
    // another kind is chosen, choosing ttOnUnlock again means the unlock itself.
    if (Value != GetTriggerType()) FLoadedStateChange = TASK_SESSION_STATE_CHANGE_TYPE(0);
    FTaskTrigger.TriggerType = static_cast<TASK_TRIGGER_TYPE>((FTaskTrigger.TriggerType & ~DWORD(0xFF)) | Value);
}

TRIGGER_TYPE_UNION TTrigger::GetDetails() const
{
    return FTaskTrigger.Type;
}

void TTrigger::SetDetails(const TRIGGER_TYPE_UNION& Value)
{
    FTaskTrigger.Type = Value;
}

// ---- 2.0 extras -----------------------------------------------------------------------------

TVistaMDOWWeeks TTrigger::GetVistaMonthlyDOWWeeks() const
{
    return FVistaMDOWWeeks;
}

void TTrigger::SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks Value)
{
    FVistaMDOWWeeks = Value;
    if (FInterfaceVista) SetMonthlyDOWTrigger();
}

bool TTrigger::GetRunOnLastDayOfMonth() const
{
    return FRunOnLastDayOfMonth;
}

void TTrigger::SetRunOnLastDayOfMonth(bool Value)
{
    if (Value == FRunOnLastDayOfMonth) return;
    FRunOnLastDayOfMonth = Value;
    if (FInterfaceVista) SetMonthlyTrigger();
}

void TTrigger::ChangeRandomDelay(quint32& AField, quint32 AValue, void (TTrigger::*AWriter)())
{
    if (AValue == AField) return;
    AField = AValue;
    if (FInterfaceVista) (this->*AWriter)();
}

quint32 TTrigger::GetMonthlyTriggerRundomDelayMinutes() const
{
    return FMonthlyTriggerRundomDelayMinutes;
}

void TTrigger::SetMonthlyTriggerRundomDelayMinutes(quint32 Value)
{
    ChangeRandomDelay(FMonthlyTriggerRundomDelayMinutes, Value, &TTrigger::SetMonthlyTrigger);
}

quint32 TTrigger::GetMonthlyDOWTriggerRundomDelayMinutes() const
{
    return FMonthlyDOWTriggerRundomDelayMinutes;
}

void TTrigger::SetMonthlyDOWTriggerRundomDelayMinutes(quint32 Value)
{
    ChangeRandomDelay(FMonthlyDOWTriggerRundomDelayMinutes, Value, &TTrigger::SetMonthlyDOWTrigger);
}

quint32 TTrigger::GetWeeklyTriggerRundomDelayMinutes() const
{
    return FWeeklyTriggerRundomDelayMinutes;
}

void TTrigger::SetWeeklyTriggerRundomDelayMinutes(quint32 Value)
{
    ChangeRandomDelay(FWeeklyTriggerRundomDelayMinutes, Value, &TTrigger::SetWeeklyTrigger);
}

quint32 TTrigger::GetDailyTriggerRundomDelayMinutes() const
{
    return FDailyTriggerRundomDelayMinutes;
}

void TTrigger::SetDailyTriggerRundomDelayMinutes(quint32 Value)
{
    ChangeRandomDelay(FDailyTriggerRundomDelayMinutes, Value, &TTrigger::SetDailyTrigger);
}

quint32 TTrigger::GetTimeTriggerRundomDelayMinutes() const
{
    return FTimeTriggerRundomDelayMinutes;
}

void TTrigger::SetTimeTriggerRundomDelayMinutes(quint32 Value)
{
    ChangeRandomDelay(FTimeTriggerRundomDelayMinutes, Value, &TTrigger::SetTimeTrigger);
}

quint32 TTrigger::GetTriggerDelayMinutes() const
{
    return FTriggerDelayMinutes;
}

void TTrigger::SetTriggerDelayMinutes(quint32 Value)
{
    if (Value == FTriggerDelayMinutes) return;
    FTriggerDelayMinutes = Value;
    SetTriggerDelay();
}

QString TTrigger::GetUserName() const
{
    return FUserName;
}

void TTrigger::SetUserName(const QString& Value)
{
    FUserName = Value;
}

quint32 TTrigger::GetConnectionType() const
{
    return FConnectionType;
}

void TTrigger::SetConnectionType(quint32 Value)
{
    FConnectionType = Value;
}

// ---- text -----------------------------------------------------------------------------------

QString TTrigger::GetAsString() const
{
    if (TasksInVista()) return TriggerText::Describe(FInterfaceVista.Get());
    if (!FInterface) throw EIntfCastError();
    QString text;
    OleCheck(FInterface->GetTriggerString(&text));
    return text;
}

// ---- 2.0 writers ----------------------------------------------------------------------------

void TTrigger::SendStart(ITrigger* ATrigger) const
{
    OleCheck(ATrigger->put_StartBoundary(StartBoundaryToSend(GetStartVistaDateTime())));
}

void TTrigger::SendEnd(ITrigger* ATrigger) const
{
    if (GetHasEndDate()) OleCheck(ATrigger->put_EndBoundary(EndBoundaryText()));
}

void TTrigger::AllowStartWhenAvailable() const
{
    OleCheck(VistaSettings()->put_StartWhenAvailable(VARIANT_TRUE));
}

void TTrigger::SetTimeTrigger()
{
    const ComPtr<ITimeTrigger> trigger = KindOf<ITimeTrigger>(FInterfaceVista);
    SendStart(trigger.Get());
    SendEnd(trigger.Get());
    OleCheck(trigger->put_RandomDelay(MinutesToDuration(FTimeTriggerRundomDelayMinutes)));
}

void TTrigger::SetDailyTrigger()
{
    const ComPtr<IDailyTrigger> trigger = KindOf<IDailyTrigger>(FInterfaceVista);
    const WORD days = FTaskTrigger.Type.Daily.DaysInterval;
    OleCheck(trigger->put_DaysInterval(SHORT(days == 0 ? 1 : days)));
    SendStart(trigger.Get());
    SendEnd(trigger.Get());
    OleCheck(trigger->put_RandomDelay(MinutesToDuration(FDailyTriggerRundomDelayMinutes)));
}

void TTrigger::SetWeeklyTrigger()
{
    const ComPtr<IWeeklyTrigger> trigger = KindOf<IWeeklyTrigger>(FInterfaceVista);
    const WEEKLY& weekly = FTaskTrigger.Type.Weekly;
    OleCheck(trigger->put_WeeksInterval(SHORT(weekly.WeeksInterval == 0 ? 1 : weekly.WeeksInterval)));
    OleCheck(trigger->put_DaysOfWeek(SHORT(weekly.rgfDaysOfTheWeek)));
    SendStart(trigger.Get());
    SendEnd(trigger.Get());
    OleCheck(trigger->put_RandomDelay(MinutesToDuration(FWeeklyTriggerRundomDelayMinutes)));
}

void TTrigger::SetMonthlyTrigger()
{
    const ComPtr<IMonthlyTrigger> trigger = KindOf<IMonthlyTrigger>(FInterfaceVista);
    const MONTHLYDATE& monthly = FTaskTrigger.Type.MonthlyDate;
    OleCheck(trigger->put_DaysOfMonth(LONG(monthly.rgfDays)));
    OleCheck(trigger->put_MonthsOfYear(SHORT(monthly.rgfMonths)));
    OleCheck(trigger->put_RunOnLastDayOfMonth(FRunOnLastDayOfMonth ? VARIANT_TRUE : VARIANT_FALSE));
    SendStart(trigger.Get());
    SendEnd(trigger.Get());
    OleCheck(trigger->put_RandomDelay(MinutesToDuration(FMonthlyTriggerRundomDelayMinutes)));
}

void TTrigger::SetMonthlyDOWTrigger()
{
    const ComPtr<IMonthlyDOWTrigger> trigger = KindOf<IMonthlyDOWTrigger>(FInterfaceVista);
    const MONTHLYDOW& monthly = FTaskTrigger.Type.MonthlyDOW;
    OleCheck(trigger->put_DaysOfWeek(SHORT(monthly.rgfDaysOfTheWeek)));

    if (!FVistaMDOWWeeks.IsEmpty()) {
        SHORT weeks = 0;
        for (TVistaMDOWWeek week : {tvmdowFirst, tvmdowSecond, tvmdowThird, tvmdowFourth}) {
            if (FVistaMDOWWeeks.Contains(week)) weeks = SHORT(weeks | (1 << week));
        }
        const bool lastWeek = FVistaMDOWWeeks.Contains(tvmdowLast);
        if (lastWeek) weeks = SHORT(weeks | TASK_WEEK_BIT_LAST);
        OleCheck(trigger->put_RunOnLastWeekOfMonth(lastWeek ? VARIANT_TRUE : VARIANT_FALSE));
        OleCheck(trigger->put_WeeksOfMonth(weeks));
    } else {
        // Without a week set the 1.0 week number decides (0 means none).
        const WORD which = monthly.wWhichWeek;
        const SHORT weeks = which == 0 ? SHORT(0) : SHORT(quint16(1u << ((which - 1) & 0x1F)));
        OleCheck(trigger->put_WeeksOfMonth(weeks));
        OleCheck(trigger->put_RunOnLastWeekOfMonth(which == TASK_LAST_WEEK ? VARIANT_TRUE : VARIANT_FALSE));
    }
    OleCheck(trigger->put_MonthsOfYear(SHORT(monthly.rgfMonths)));
    SendStart(trigger.Get());
    SendEnd(trigger.Get());
    OleCheck(trigger->put_RandomDelay(MinutesToDuration(FMonthlyDOWTriggerRundomDelayMinutes)));
}

void TTrigger::SetIdleTrigger()
{
    const ComPtr<IIdleTrigger> trigger = KindOf<IIdleTrigger>(FInterfaceVista);
    AllowStartWhenAvailable();
    SendStart(trigger.Get());
}

void TTrigger::SetBootTrigger()
{
    const ComPtr<IBootTrigger> trigger = KindOf<IBootTrigger>(FInterfaceVista);
    AllowStartWhenAvailable();
    SendStart(trigger.Get());
    SendEnd(trigger.Get());
    SetTriggerDelay();
}

void TTrigger::SetLogonTrigger()
{
    const ComPtr<ILogonTrigger> trigger = KindOf<ILogonTrigger>(FInterfaceVista);
    AllowStartWhenAvailable();
    SendStart(trigger.Get());
    if (!FUserName.isEmpty()) OleCheck(trigger->put_UserId(FUserName));
    SendEnd(trigger.Get());
    SetTriggerDelay();
}

TASK_SESSION_STATE_CHANGE_TYPE TTrigger::StateChangeToSend() const
{
    switch (GetTriggerType()) {
    case ttOnConnect:
        return TASK_REMOTE_CONNECT;
    case ttOnDisconnect:
        return TASK_REMOTE_DISCONNECT;
    case ttOnLock:
        return TASK_SESSION_LOCK;
    default:
        // A console connect or disconnect loads as ttOnUnlock, having no kind of its own;
        // it keeps its own state change while the kind is left alone.
        return FLoadedStateChange != 0 ? FLoadedStateChange : TASK_SESSION_UNLOCK;
    }
}

void TTrigger::SetSessionStateChangeTrigger()
{
    const ComPtr<ISessionStateChangeTrigger> trigger = KindOf<ISessionStateChangeTrigger>(FInterfaceVista);
    AllowStartWhenAvailable();
    SendStart(trigger.Get());
    OleCheck(trigger->put_StateChange(StateChangeToSend()));
    if (!FUserName.isEmpty()) OleCheck(trigger->put_UserId(FUserName));
    SendEnd(trigger.Get());
    SetTriggerDelay();
}

void TTrigger::WriteVistaTrigger()
{
    switch (GetTriggerType()) {
    case ttOnce:
        SetTimeTrigger();
        break;
    case ttDaily:
        SetDailyTrigger();
        break;
    case ttWeekly:
        SetWeeklyTrigger();
        break;
    case ttMonthlyDate:
        SetMonthlyTrigger();
        break;
    case ttMonthlyDow:
        SetMonthlyDOWTrigger();
        break;
    case ttOnIdle:
        SetIdleTrigger();
        break;
    case ttAtStartup:
        SetBootTrigger();
        break;
    case ttAtLogon:
        SetLogonTrigger();
        break;
    case ttOnConnect:
    case ttOnDisconnect:
    case ttOnLock:
    case ttOnUnlock:
        SetSessionStateChangeTrigger();
        break;
    case ttUnknown:
        break;
    }
}

void TTrigger::SetTriggerDelay()
{
    if (!FInterfaceVista) return;
    const QString delay = MinutesToDuration(FTriggerDelayMinutes);
    const TTriggerType kind = GetTriggerType();
    if (kind == ttAtStartup)
        OleCheck(KindOf<IBootTrigger>(FInterfaceVista)->put_Delay(delay));
    else if (kind == ttAtLogon)
        OleCheck(KindOf<ILogonTrigger>(FInterfaceVista)->put_Delay(delay));
    else if (IsSessionKind(kind))
        OleCheck(KindOf<ISessionStateChangeTrigger>(FInterfaceVista)->put_Delay(delay));
}

void TTrigger::GetTriggerDelay()
{
    if (!FInterfaceVista) return;
    QString delay;
    const TTriggerType kind = GetTriggerType();
    if (kind == ttAtStartup)
        OleCheck(KindOf<IBootTrigger>(FInterfaceVista)->get_Delay(&delay));
    else if (kind == ttAtLogon)
        OleCheck(KindOf<ILogonTrigger>(FInterfaceVista)->get_Delay(&delay));
    else if (IsSessionKind(kind))
        OleCheck(KindOf<ISessionStateChangeTrigger>(FInterfaceVista)->get_Delay(&delay));
    else
        return;
    FTriggerDelayMinutes = MinutesOf(delay);
}

// ---- 2.0 readers ----------------------------------------------------------------------------
// Each re-assigns BeginDate through its setter; the start boundary it sends is the loaded
// one while the date and time are unchanged.

void TTrigger::GetTimeTrigger(TASK_TRIGGER& ATrigger)
{
    const ComPtr<ITimeTrigger> trigger = KindOf<ITimeTrigger>(FInterfaceVista);
    SetBeginDate(GetStartVistaDateTime());
    QString delay;
    OleCheck(trigger->get_RandomDelay(&delay));
    FTimeTriggerRundomDelayMinutes = MinutesOf(delay);
    ATrigger = FTaskTrigger;
}

void TTrigger::GetDailyTrigger(TASK_TRIGGER& ATrigger)
{
    const ComPtr<IDailyTrigger> trigger = KindOf<IDailyTrigger>(FInterfaceVista);
    SetBeginDate(GetStartVistaDateTime());
    SHORT days = 0;
    OleCheck(trigger->get_DaysInterval(&days));
    FTaskTrigger.Type.Daily.DaysInterval = WORD(days);
    QString delay;
    OleCheck(trigger->get_RandomDelay(&delay));
    FDailyTriggerRundomDelayMinutes = MinutesOf(delay);
    ATrigger = FTaskTrigger;
}

void TTrigger::GetWeeklyTrigger(TASK_TRIGGER& ATrigger)
{
    const ComPtr<IWeeklyTrigger> trigger = KindOf<IWeeklyTrigger>(FInterfaceVista);
    SHORT weeks = 0;
    SHORT days = 0;
    OleCheck(trigger->get_WeeksInterval(&weeks));
    OleCheck(trigger->get_DaysOfWeek(&days));
    FTaskTrigger.Type.Weekly.WeeksInterval = WORD(weeks);
    FTaskTrigger.Type.Weekly.rgfDaysOfTheWeek = WORD(days);
    SetBeginDate(GetStartVistaDateTime());
    QString delay;
    OleCheck(trigger->get_RandomDelay(&delay));
    FWeeklyTriggerRundomDelayMinutes = MinutesOf(delay);
    ATrigger = FTaskTrigger;
}

void TTrigger::GetMonthlyTrigger(TASK_TRIGGER& ATrigger)
{
    const ComPtr<IMonthlyTrigger> trigger = KindOf<IMonthlyTrigger>(FInterfaceVista);
    LONG days = 0;
    SHORT months = 0;
    OleCheck(trigger->get_DaysOfMonth(&days));
    OleCheck(trigger->get_MonthsOfYear(&months));
    FTaskTrigger.Type.MonthlyDate.rgfDays = DWORD(days);
    FTaskTrigger.Type.MonthlyDate.rgfMonths = WORD(months);
    SetBeginDate(GetStartVistaDateTime());
    VARIANT_BOOL lastDay = VARIANT_FALSE;
    OleCheck(trigger->get_RunOnLastDayOfMonth(&lastDay));
    FRunOnLastDayOfMonth = lastDay != VARIANT_FALSE;
    QString delay;
    OleCheck(trigger->get_RandomDelay(&delay));
    FMonthlyTriggerRundomDelayMinutes = MinutesOf(delay);
    ATrigger = FTaskTrigger;
}

void TTrigger::GetMonthlyDOWTrigger(TASK_TRIGGER& ATrigger)
{
    const ComPtr<IMonthlyDOWTrigger> trigger = KindOf<IMonthlyDOWTrigger>(FInterfaceVista);
    MONTHLYDOW& monthly = FTaskTrigger.Type.MonthlyDOW;
    SHORT days = 0;
    OleCheck(trigger->get_DaysOfWeek(&days));
    monthly.rgfDaysOfTheWeek = WORD(days);

    SHORT weeksValue = 0;
    VARIANT_BOOL lastWeekValue = VARIANT_FALSE;
    OleCheck(trigger->get_WeeksOfMonth(&weeksValue));
    OleCheck(trigger->get_RunOnLastWeekOfMonth(&lastWeekValue));
    const quint16 weeks = quint16(weeksValue);
    const bool lastWeek = lastWeekValue != VARIANT_FALSE;
    if (weeks != 0) {
        int highest = 15;
        while (!(weeks & (1u << highest))) --highest;
        monthly.wWhichWeek = WORD(highest + 1);
        FVistaMDOWWeeks = TVistaMDOWWeeks::FromBits(weeks & 0x1F);
    } else {
        monthly.wWhichWeek = lastWeek ? TASK_LAST_WEEK : WORD(0);
    }
    if (lastWeek) FVistaMDOWWeeks.Include(tvmdowLast);

    SHORT months = 0;
    OleCheck(trigger->get_MonthsOfYear(&months));
    monthly.rgfMonths = WORD(months);
    SetBeginDate(GetStartVistaDateTime());
    QString delay;
    OleCheck(trigger->get_RandomDelay(&delay));
    FMonthlyDOWTriggerRundomDelayMinutes = MinutesOf(delay);
    ATrigger = FTaskTrigger;
}

void TTrigger::LoadVistaTrigger()
{
    QString boundary;
    OleCheck(FInterfaceVista->get_StartBoundary(&boundary));
    FLoadedStartBoundary = boundary;
    FLoadedStart = boundary.isEmpty() ? 0.0 : IsoDateTimeToDateTime(boundary);
    SetStartTime(FLoadedStart);

    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    OleCheck(FInterfaceVista->get_Type(&type));
    TASK_TRIGGER record{};
    switch (type) {
    case TASK_TRIGGER_TIME:
        SetTriggerType(ttOnce);
        GetTimeTrigger(record);
        break;
    case TASK_TRIGGER_DAILY:
        SetTriggerType(ttDaily);
        GetDailyTrigger(record);
        break;
    case TASK_TRIGGER_WEEKLY:
        SetTriggerType(ttWeekly);
        GetWeeklyTrigger(record);
        break;
    case TASK_TRIGGER_MONTHLY:
        SetTriggerType(ttMonthlyDate);
        GetMonthlyTrigger(record);
        break;
    case TASK_TRIGGER_MONTHLYDOW:
        SetTriggerType(ttMonthlyDow);
        GetMonthlyDOWTrigger(record);
        break;
    case TASK_TRIGGER_IDLE:
        SetTriggerType(ttOnIdle);
        break;
    case TASK_TRIGGER_BOOT:
        SetTriggerType(ttAtStartup);
        GetTriggerDelay();
        break;
    case TASK_TRIGGER_LOGON:
        SetTriggerType(ttAtLogon);
        GetTriggerDelay();
        break;
    case TASK_TRIGGER_SESSION_STATE_CHANGE: {
        TASK_SESSION_STATE_CHANGE_TYPE change = TASK_SESSION_UNLOCK;
        OleCheck(KindOf<ISessionStateChangeTrigger>(FInterfaceVista)->get_StateChange(&change));
        switch (change) {
        case TASK_REMOTE_CONNECT:
            SetTriggerType(ttOnConnect);
            break;
        case TASK_REMOTE_DISCONNECT:
            SetTriggerType(ttOnDisconnect);
            break;
        case TASK_SESSION_LOCK:
            SetTriggerType(ttOnLock);
            break;
        default:
            SetTriggerType(ttOnUnlock);
            FLoadedStateChange = change;
            break;
        }
        GetTriggerDelay();
        break;
    }
    default:
        SetTriggerType(ttUnknown);
        break;
    }
}

// ---- 1.0 --------------------------------------------------------------------------------------

void TTrigger::UpdateTrigger()
{
    if (!FInterface) throw EIntfCastError();
    if (GetTriggerType() > ttAtLogon)
        throw ETriggerError(STriggerKindNeedsTaskService2.arg(int(GetTriggerType())));
    OleCheck(FInterface->SetTrigger(&FTaskTrigger));
}
