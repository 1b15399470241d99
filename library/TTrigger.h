#pragma once
// One trigger of a task, over both interface generations of the scheduling service.

#include "kvTaskTypes.h"
#include "kvUtils.h"
#include "tvMSTask.h"
#include "TaskService2.h"

#include <QString>

class TTriggers;

/// One trigger of a task. Every trigger keeps the 1.0 record `TASK_TRIGGER`, in both
/// generations, plus the few values only the 2.0 generation can express.
///
/// In 1.0 the trigger wraps the service's `ITaskTrigger`: the record is read whole and
/// written whole by `UpdateTrigger` (or the collection's `UpdateTriggers`). In 2.0 it wraps
/// one `ITrigger` of the task definition: some setters write to it at once, the kind-specific
/// state is written by the `Set...Trigger` writers (called by `UpdateTriggers`).
/// Item-level properties tell the generations apart by whether an `ITrigger` is held.
class TTrigger {
public:
    /// A trigger of `Collection` in the new-item state: a zero record of size 48 (so
    /// `ttOnce`), no weeks, no delays, no interfaces. The collection's `Add` and
    /// `InitTriggers` make the items it owns.
    explicit TTrigger(TTriggers* Collection);
    /// Releases the trigger's interfaces; the service is not touched.
    ~TTrigger();
    TTrigger(const TTrigger&) = delete;
    TTrigger& operator=(const TTrigger&) = delete;

    /// First day the trigger is active. 2.0: the start boundary (`GetStartVistaDateTime`);
    /// 1.0: the record's begin date, 0 when it forms no valid date.
    TDateTime GetBeginDate() const;
    /// Sets the record's begin date to the date part of `Value`; 2.0 also sends the start
    /// boundary (that date with the record's start time) at once.
    void SetBeginDate(TDateTime Value);

    /// Last day the trigger is active (in force when `HasEndDate`); 0 when the record's end
    /// fields form no valid date.
    TDateTime GetEndDate() const;
    /// Sets the record's end date to the date part of `Value`; nothing is sent.
    void SetEndDate(TDateTime Value);

    /// Time of day the trigger fires, to the minute; 0 when the record holds no valid time.
    TDateTime GetStartTime() const;
    /// Sets the record's start hour and minute from `Value`; nothing is sent. Set it before
    /// `BeginDate`, whose 2.0 write sends the start time along.
    void SetStartTime(TDateTime Value);

    /// How long the repetition lasts after each start, in minutes. 2.0 reads the service's
    /// repetition pattern at every call.
    quint32 GetDuration() const;
    /// Sets the repetition duration; 2.0 also writes the repetition pattern at once
    /// (0 minutes as the empty text).
    void SetDuration(quint32 Value);

    /// Minutes between repeated starts. 2.0 reads the service's repetition pattern.
    quint32 GetInterval() const;
    /// Sets the repetition interval; 2.0 also writes the repetition pattern at once.
    void SetInterval(quint32 Value);

    /// Whether the task is stopped when the repetition duration ends.
    bool GetKillAtDurationEnd() const;
    /// Sets the record flag; 2.0 also writes the repetition pattern at once.
    void SetKillAtDurationEnd(bool Value);

    /// Whether the record's disabled flag is clear (in both generations).
    bool GetEnabled() const;
    /// 1.0: clears or sets the record's disabled flag. 2.0: enables or disables the whole
    /// task (the definition's settings) at once; the record is not changed.
    void SetEnabled(bool Value);

    /// Whether the end date is in force.
    bool GetHasEndDate() const;
    /// Sets or clears the end-date flag; nothing is sent.
    void SetHasEndDate(bool Value);

    /// The trigger's kind.
    TTriggerType GetTriggerType() const;
    /// Sets the kind in the record; nothing is sent. A 2.0 trigger's service kind is fixed
    /// at creation.
    void SetTriggerType(TTriggerType Value);

    /// The kind-specific part of the record.
    TRIGGER_TYPE_UNION GetDetails() const;
    /// Sets the kind-specific part of the record; nothing is sent.
    void SetDetails(const TRIGGER_TYPE_UNION& Value);

    /// Weeks of the month of a 2.0 monthly day-of-week trigger.
    TVistaMDOWWeeks GetVistaMonthlyDOWWeeks() const;
    /// Sets the weeks; 2.0 then rewrites the monthly day-of-week trigger, even when unchanged.
    void SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks Value);

    /// Whether a 2.0 monthly trigger also fires on the last day of the month.
    bool GetRunOnLastDayOfMonth() const;
    /// Only when different: sets the value; 2.0 then rewrites the monthly trigger.
    void SetRunOnLastDayOfMonth(bool Value);

    /// Random delay of a 2.0 monthly trigger, in minutes.
    quint32 GetMonthlyTriggerRundomDelayMinutes() const;
    /// Only when different: sets the value; 2.0 then rewrites the monthly trigger.
    void SetMonthlyTriggerRundomDelayMinutes(quint32 Value);
    /// Random delay of a 2.0 monthly day-of-week trigger, in minutes.
    quint32 GetMonthlyDOWTriggerRundomDelayMinutes() const;
    /// Only when different: sets the value; 2.0 then rewrites the monthly day-of-week trigger.
    void SetMonthlyDOWTriggerRundomDelayMinutes(quint32 Value);
    /// Random delay of a 2.0 weekly trigger, in minutes.
    quint32 GetWeeklyTriggerRundomDelayMinutes() const;
    /// Only when different: sets the value; 2.0 then rewrites the weekly trigger.
    void SetWeeklyTriggerRundomDelayMinutes(quint32 Value);
    /// Random delay of a 2.0 daily trigger, in minutes.
    quint32 GetDailyTriggerRundomDelayMinutes() const;
    /// Only when different: sets the value; 2.0 then rewrites the daily trigger.
    void SetDailyTriggerRundomDelayMinutes(quint32 Value);
    /// Random delay of a 2.0 one-time trigger, in minutes.
    quint32 GetTimeTriggerRundomDelayMinutes() const;
    /// Only when different: sets the value; 2.0 then rewrites the one-time trigger.
    void SetTimeTriggerRundomDelayMinutes(quint32 Value);

    /// Delay of a 2.0 boot, logon or session-state trigger, in minutes.
    quint32 GetTriggerDelayMinutes() const;
    /// Only when different: sets the value, then `SetTriggerDelay`.
    void SetTriggerDelayMinutes(quint32 Value);

    /// User of a 2.0 logon or session-state trigger; empty for any user.
    QString GetUserName() const;
    /// Sets the user; sent by `UpdateTriggers`.
    void SetUserName(const QString& Value);

    /// A number kept for the caller; never sent to the service.
    quint32 GetConnectionType() const;
    /// Sets the caller's number.
    void SetConnectionType(quint32 Value);

    /// The trigger in one line of English. 1.0: the service's own text; 2.0: composed from
    /// the live trigger object, so changes not yet sent do not show.
    QString GetAsString() const;

    /// 2.0 one-time trigger: writes start, end (when in force) and random delay.
    void SetTimeTrigger();
    /// 2.0 daily trigger: writes days interval (0 as 1), start, end, random delay.
    void SetDailyTrigger();
    /// 2.0 weekly trigger: writes weeks interval (0 as 1), days, start, end, random delay.
    void SetWeeklyTrigger();
    /// 2.0 monthly trigger: writes days, months, last day, start, end, random delay.
    void SetMonthlyTrigger();
    /// 2.0 monthly day-of-week trigger: writes days, weeks, months, start, end, random delay.
    void SetMonthlyDOWTrigger();
    /// 2.0 idle trigger: lets the task start when available, writes start.
    void SetIdleTrigger();
    /// 2.0 boot trigger: lets the task start when available, writes start, end, delay.
    void SetBootTrigger();
    /// 2.0 logon trigger: lets the task start when available, writes start, user, end, delay.
    void SetLogonTrigger();
    /// 2.0 session-state trigger: lets the task start when available, writes start, state
    /// change, user, end, delay.
    void SetSessionStateChangeTrigger();
    /// Writes `TriggerDelayMinutes` to a 2.0 boot, logon or session-state trigger; does
    /// nothing for other kinds or without an `ITrigger`.
    void SetTriggerDelay();
    /// Reads `TriggerDelayMinutes` from a 2.0 boot, logon or session-state trigger.
    void GetTriggerDelay();

    /// Reads a 2.0 one-time trigger into the record and extra fields; copies the record out.
    void GetTimeTrigger(TASK_TRIGGER& ATrigger);
    /// Reads a 2.0 daily trigger into the record and extra fields; copies the record out.
    void GetDailyTrigger(TASK_TRIGGER& ATrigger);
    /// Reads a 2.0 weekly trigger into the record and extra fields; copies the record out.
    void GetWeeklyTrigger(TASK_TRIGGER& ATrigger);
    /// Reads a 2.0 monthly trigger into the record and extra fields; copies the record out.
    void GetMonthlyTrigger(TASK_TRIGGER& ATrigger);
    /// Reads a 2.0 monthly day-of-week trigger into the record and extra fields; copies the
    /// record out.
    void GetMonthlyDOWTrigger(TASK_TRIGGER& ATrigger);

    /// 1.0: sends this trigger's record to its `ITaskTrigger`.
    void UpdateTrigger();

    /// Start of a 2.0 trigger: its start boundary when it has one, else the record's begin
    /// date when set, else 0.
    TDateTime GetStartVistaDateTime() const;

    /// The held 2.0 trigger object (null in 1.0).
    ComPtr<ITrigger> GetVistaTrigger() const;

    /// The collection this trigger belongs to.
    TTriggers* GetCollection() const { return FTaskTriggers; }

private:
    friend class TTriggers;

    /// Sends the kind-specific state by the writer of the item's kind (2.0).
    void WriteVistaTrigger();
    /// Fills the record and extra fields from the held 2.0 trigger, by its service kind.
    void LoadVistaTrigger();
    /// Appends the record's time of day, "HH:mm:00", to `text`.
    void AppendTimeOfDay(QString& text) const;
    QString StartBoundaryText(TDateTime ADate) const;
    /// Whether the loaded start boundary names the date given and the record's time of day, to the minute.
    bool LoadedStartIsAt(int AYear, int AMonth, int ADay) const;
    /// The start boundary for `ADate` and the record's time of day: the loaded text itself
    /// while neither has changed, so that opening and saving a task leaves its seconds and
    /// zone alone; otherwise the model's form, keeping a loaded zone suffix.
    QString StartBoundaryToSend(TDateTime ADate) const;
    QString EndBoundaryText() const;
    void SendStart(ITrigger* ATrigger) const;
    void SendEnd(ITrigger* ATrigger) const;
    void AllowStartWhenAvailable() const;
    TASK_SESSION_STATE_CHANGE_TYPE StateChangeToSend() const;
    /// Only when `AValue` differs: stores it in `AField`, then (2.0) runs the kind's writer.
    void ChangeRandomDelay(quint32& AField, quint32 AValue, void (TTrigger::*AWriter)());
    ComPtr<IRepetitionPattern> VistaRepetition() const;
    ComPtr<ITaskSettings> VistaSettings() const;
    bool TasksInVista() const;

    ComPtr<ITaskTrigger> FInterface;
    ComPtr<ITrigger> FInterfaceVista;
    TASK_TRIGGER FTaskTrigger;
    TTriggers* FTaskTriggers;
    quint32 FConnectionType = 0;
    QString FUserName;
    TVistaMDOWWeeks FVistaMDOWWeeks;
    bool FRunOnLastDayOfMonth = false;
    quint32 FMonthlyTriggerRundomDelayMinutes = 0;
    quint32 FWeeklyTriggerRundomDelayMinutes = 0;
    quint32 FMonthlyDOWTriggerRundomDelayMinutes = 0;
    quint32 FDailyTriggerRundomDelayMinutes = 0;
    quint32 FTimeTriggerRundomDelayMinutes = 0;
    quint32 FTriggerDelayMinutes = 0;
    // The session-state change a 2.0 trigger was loaded with when the kinds cannot name it
    // (console connect and disconnect load as ttOnUnlock); written back unchanged while
    // the kind stays ttOnUnlock. 0: none.
    TASK_SESSION_STATE_CHANGE_TYPE FLoadedStateChange = TASK_SESSION_STATE_CHANGE_TYPE(0);
    // The start boundary a 2.0 trigger was loaded with, as the service holds it.
    QString FLoadedStartBoundary;
    /// That boundary read as a date and time; 0 for none.
    TDateTime FLoadedStart = 0;
};
