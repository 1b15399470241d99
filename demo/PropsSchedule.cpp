// The schedule page of the classic properties dialog: run times, the trigger list and the
// panels of the trigger kinds.

#include "Props.h"
#include "ui_Props.h"

#include "Exceptions.h"
#include "TUserPrompts.h"
#include "TaskService2.h"
#include "kvTask.h"
#include "kvUtils.h"

#include "kvDialogs.h"

#include <QLocale>
#include <QSignalBlocker>
#include <cstring>

namespace {

bool IsEventKind(TTriggerType AKind)
{
    switch (AKind) {
    case ttAtStartup:
    case ttAtLogon:
    case ttOnConnect:
    case ttOnDisconnect:
    case ttOnLock:
    case ttOnUnlock: return true;
    default: return false;
    }
}

/// The run-time text: the long time, a comma and a blank, the long date.
QString RunTimeLabel(TDateTime ATime)
{
    if (ATime <= 1.0) return QStringLiteral("Never");
    const QLocale locale;
    const QString pattern = LongTimeFormatWithoutZone(locale) + QStringLiteral("', '") + locale.dateFormat(QLocale::LongFormat);
    return locale.toString(DateTimeToQDateTime(ATime), pattern);
}

TDateTime DateOf(const QDateEdit* AEdit)
{
    return EncodeDateTime(AEdit->date(), QTime(0, 0));
}

TDateTime TimeOf(const QTimeEdit* AEdit)
{
    const QTime time = AEdit->time();
    return (time.hour() * 60 + time.minute()) / 1440.0;
}

/// The end of a 2.0 trigger, 0 when it has none.
TDateTime EndOf(const TTrigger* ATrigger)
{
    const ComPtr<ITrigger> trigger = ATrigger->GetVistaTrigger();
    if (!trigger) return 0;
    QString end;
    OleCheck(trigger->get_EndBoundary(&end));
    return end.isEmpty() ? 0 : IsoDateTimeToDateTime(end);
}

/// The largest day of each month, February in a leap year.
constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

} // namespace

QList<QCheckBox*> TPropsDlg::DayBoxes() const
{
    return {ui->CheckBox7, ui->CheckBox1, ui->CheckBox2, ui->CheckBox3, ui->CheckBox4, ui->CheckBox5, ui->CheckBox6};
}

QList<QCheckBox*> TPropsDlg::MonthBoxes() const
{
    return {ui->cbJan,      ui->CheckBox8,  ui->CheckBox9,  ui->CheckBox10, ui->CheckBox13, ui->CheckBox14,
            ui->CheckBox11, ui->CheckBox15, ui->CheckBox16, ui->CheckBox12, ui->CheckBox17, ui->CheckBox18};
}

void TPropsDlg::SetListChecks(QListWidget* AList, quint32 AMask)
{
    for (int i = 0; i < AList->count(); ++i)
        AList->item(i)->setCheckState((AMask >> i) & 1u ? Qt::Checked : Qt::Unchecked);
}

quint32 TPropsDlg::ListChecks(const QListWidget* AList)
{
    quint32 mask = 0;
    for (int i = 0; i < AList->count(); ++i)
        if (AList->item(i)->checkState() == Qt::Checked) mask |= 1u << i;
    return mask;
}

void TPropsDlg::FormShow()
{
    ui->cbWhichWeek->setVisible(!IsVista());
    ui->cklbWhichWeek->setVisible(IsVista());
}

void TPropsDlg::RefreshSchedule()
{
    ui->lblLastRunTime->setText(RunTimeLabel(FTask->GetMostRecentRunTime()));
    ui->lblNextRunTime->setText(RunTimeLabel(FTask->GetNextRunTime()));
    QStringList texts;
    TTriggers* triggers = FTask->GetTriggers();
    // The collection names an empty schedule with one line; the list shows one item per trigger.
    if (triggers->Count() > 0) triggers->GetTriggerStrings(texts);
    {
        const QSignalBlocker block(ui->cbSchedule);
        ui->cbSchedule->clear();
        ui->cbSchedule->addItems(texts);
        ui->cbSchedule->setCurrentIndex(texts.isEmpty() ? -1 : 0);
    }
    ShowTrigger();
}

void TPropsDlg::ShowTrigger()
{
    for (QWidget* panel : {static_cast<QWidget*>(ui->pnlOneTimeOnly), static_cast<QWidget*>(ui->pnlDaily),
                           static_cast<QWidget*>(ui->pnlWeekly), static_cast<QWidget*>(ui->pnlMonthly),
                           static_cast<QWidget*>(ui->pnlTriggerDelay)})
        panel->hide();
    const int index = ui->cbSchedule->currentIndex();
    TTriggers* triggers = FTask->GetTriggers();
    if (index < 0 || !IsVista() || triggers->Count() == 0) return;
    TTrigger* trigger = triggers->GetItem(index);
    const TDateTime start = trigger->GetStartVistaDateTime();
    const QDate startDate = DateTimeToDate(start);
    const QTime startTime = DateTimeToTime(start);
    const TTriggerType kind = trigger->GetTriggerType();
    TASK_TRIGGER record{};

    if (IsEventKind(kind)) {
        ui->udDelayMinutes->setValue(int(qMin<quint32>(trigger->GetTriggerDelayMinutes(), ui->udDelayMinutes->maximum())));
        ui->pnlTriggerDelay->show();
        return;
    }
    auto setMonths = [&](quint32 mask) {
        for (QCheckBox* box : MonthBoxes()) {
            const quint32 tag = box->property("tag").toUInt();
            box->setChecked((mask & tag) == tag);
        }
    };
    switch (kind) {
    case ttOnce:
        ui->pnlOneTimeOnly->show();
        ui->dtStartDateOnce->setDate(startDate);
        ui->dtStartTimeOnce->setTime(startTime);
        break;
    case ttDaily: {
        ui->pnlDaily->show();
        ui->dtStartDateDaily->setDate(startDate);
        ui->dtStartTimeDaily->setTime(startTime);
        trigger->GetDailyTrigger(record);
        const int interval = record.Type.Daily.DaysInterval;
        ui->rbEveryDay->setChecked(interval == 1);
        ui->rbEvery->setChecked(interval != 1);
        ui->udIntervalDaily->setEnabled(ui->rbEvery->isChecked());
        ui->udIntervalDaily->setValue(interval);
        break;
    }
    case ttWeekly:
        ui->dtStartTimeWeekly->setTime(startTime);
        trigger->GetWeeklyTrigger(record);
        for (QCheckBox* box : DayBoxes()) {
            const quint32 tag = box->property("tag").toUInt();
            box->setChecked((record.Type.Weekly.rgfDaysOfTheWeek & tag) == tag);
        }
        ui->udWeekInterval->setValue(record.Type.Weekly.WeeksInterval);
        ui->pnlWeekly->show();
        break;
    case ttMonthlyDate:
        ui->rbMonthlyDate->setChecked(true);
        ui->rbMonthlyDate->setEnabled(true);
        ui->rbMonthlyDow->setChecked(false);
        ui->rbMonthlyDow->setEnabled(false);
        ui->seMonthDays->setEnabled(true);
        ui->cbWhichWeek->setEnabled(false);
        ui->cklbWhichWeek->setEnabled(false);
        ui->cbDaysOfTheWeeks->setEnabled(false);
        trigger->GetMonthlyTrigger(record);
        ui->pnlMonthly->show();
        setMonths(record.Type.MonthlyDate.rgfMonths);
        SetListChecks(ui->seMonthDays, record.Type.MonthlyDate.rgfDays);
        ui->dtStartTimeMonthly->setTime(startTime);
        break;
    case ttMonthlyDow: {
        ui->rbMonthlyDate->setChecked(false);
        ui->rbMonthlyDate->setEnabled(false);
        ui->rbMonthlyDow->setChecked(true);
        ui->rbMonthlyDow->setEnabled(true);
        ui->seMonthDays->setEnabled(false);
        ui->cbWhichWeek->setEnabled(true);
        ui->cklbWhichWeek->setEnabled(true);
        ui->cbDaysOfTheWeeks->setEnabled(true);
        trigger->GetMonthlyDOWTrigger(record);
        ui->dtStartTimeMonthly->setTime(startTime);
        ui->pnlMonthly->show();
        setMonths(record.Type.MonthlyDOW.rgfMonths);
        if (IsVista())
            SetListChecks(ui->cklbWhichWeek, trigger->GetVistaMonthlyDOWWeeks().Bits());
        else
            ui->cbWhichWeek->setCurrentIndex(int(record.Type.MonthlyDOW.wWhichWeek) - 1);
        SetListChecks(ui->cbDaysOfTheWeeks, record.Type.MonthlyDOW.rgfDaysOfTheWeek);
        break;
    }
    default: break;
    }
}

QString TPropsDlg::CheckScheduleInput() const
{
    const int index = ui->cbSchedule->currentIndex();
    if (index < 0 || !IsVista() || FTask->GetTriggers()->Count() == 0) return {};
    const TTrigger* trigger = FTask->GetTriggers()->GetItem(index);
    quint32 months = 0;
    for (QCheckBox* box : MonthBoxes())
        if (box->isChecked()) months |= box->property("tag").toUInt();
    // The service refuses a trigger that would start after its end.
    if (const TDateTime end = EndOf(trigger); end > 1.0) {
        const QString endText = QLocale().toString(DateTimeToQDateTime(end), QLocale::ShortFormat);
        const TTriggerType kind = trigger->GetTriggerType();
        if (kind == ttOnce || kind == ttDaily) {
            const bool once = kind == ttOnce;
            const QDateTime start((once ? ui->dtStartDateOnce : ui->dtStartDateDaily)->date(),
                                  (once ? ui->dtStartTimeOnce : ui->dtStartTimeDaily)->time());
            if (start > DateTimeToQDateTime(end))
                return QStringLiteral("Start date: the schedule ends at %1, before this start.").arg(endText);
        } else if ((kind == ttWeekly || kind == ttMonthlyDate) && QDate::currentDate() > DateTimeToDate(end)) {
            return QStringLiteral("Schedule: this trigger ended at %1; stored again it would begin today.").arg(endText);
        }
    }
    switch (trigger->GetTriggerType()) {
    case ttWeekly: {
        bool any = false;
        for (QCheckBox* box : DayBoxes()) any = any || box->isChecked();
        if (!any) return QStringLiteral("Select the week day below: check at least one day.");
        return {};
    }
    case ttMonthlyDate: {
        if (months == 0) return QStringLiteral("of the month(s): check at least one month.");
        const quint32 days = ListChecks(ui->seMonthDays);
        if (trigger->GetRunOnLastDayOfMonth()) return {};
        if (days == 0) return QStringLiteral("Day: check at least one day of the month.");
        int longest = 0;
        for (int m = 0; m < 12; ++m)
            if ((months >> m) & 1u) longest = qMax(longest, kMonthDays[m]);
        if ((days & ((longest >= 32 ? 0u : (1u << longest)) - 1u)) == 0)
            return QStringLiteral("Day: none of the checked days occurs in the checked months.");
        return {};
    }
    case ttMonthlyDow:
        if (ListChecks(ui->cklbWhichWeek) == 0) return QStringLiteral("The: check at least one week of the month.");
        if (ListChecks(ui->cbDaysOfTheWeeks) == 0) return QStringLiteral("The: check at least one day of the week.");
        if (months == 0) return QStringLiteral("of the month(s): check at least one month.");
        return {};
    default: return {};
    }
}

void TPropsDlg::StoreTrigger()
{
    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    const int index = ui->cbSchedule->currentIndex();
    TTriggers* triggers = FTask->GetTriggers();
    if (index < 0 || triggers->Count() == 0) return;
    TTrigger* trigger = triggers->GetItem(index);
    const TDateTime today = EncodeDateTime(QDate::currentDate(), QTime(0, 0));
    quint32 months = 0;
    for (QCheckBox* box : MonthBoxes())
        if (box->isChecked()) months |= box->property("tag").toUInt();

    switch (trigger->GetTriggerType()) {
    case ttOnce:
        trigger->SetStartTime(TimeOf(ui->dtStartTimeOnce));
        trigger->SetBeginDate(DateOf(ui->dtStartDateOnce));
        break;
    case ttDaily:
        trigger->SetStartTime(TimeOf(ui->dtStartTimeDaily));
        trigger->SetBeginDate(DateOf(ui->dtStartDateDaily));
        details.Daily.DaysInterval = ui->rbEveryDay->isChecked() ? 1 : WORD(ui->udIntervalDaily->value());
        break;
    case ttWeekly: {
        trigger->SetStartTime(TimeOf(ui->dtStartTimeWeekly));
        trigger->SetBeginDate(today);
        details.Weekly.WeeksInterval = WORD(ui->udWeekInterval->value());
        WORD days = 0;
        for (QCheckBox* box : DayBoxes())
            if (box->isChecked()) days |= WORD(box->property("tag").toUInt());
        details.Weekly.rgfDaysOfTheWeek = days;
        break;
    }
    case ttMonthlyDate:
        trigger->SetStartTime(TimeOf(ui->dtStartTimeMonthly));
        trigger->SetBeginDate(today);
        details.MonthlyDate.rgfMonths = WORD(months);
        details.MonthlyDate.rgfDays = ListChecks(ui->seMonthDays);
        break;
    case ttMonthlyDow:
        trigger->SetStartTime(TimeOf(ui->dtStartTimeMonthly));
        details.MonthlyDOW.rgfMonths = WORD(months);
        if (IsVista())
            trigger->SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks::FromBits(ListChecks(ui->cklbWhichWeek)));
        else
            details.MonthlyDOW.wWhichWeek = WORD(ui->cbWhichWeek->currentIndex() + 1);
        details.MonthlyDOW.rgfDaysOfTheWeek = WORD(ListChecks(ui->cbDaysOfTheWeeks));
        break;
    default:
        if (IsEventKind(trigger->GetTriggerType())) trigger->SetTriggerDelayMinutes(quint32(ui->udDelayMinutes->value()));
        break;
    }
    trigger->SetDetails(details);
    triggers->UpdateTriggers();
}

void TPropsDlg::btnEditClick()
{
    if (IsVista()) return;
    TaskPropertiesDialog1->SetTaskName(FTask->GetName());
    if (TaskPropertiesDialog1->Execute()) {
        TakeSheetSettings();
        RefreshSchedule();
    }
}

void TPropsDlg::TaskPropertiesDialog1Apply(TTaskPropertiesDialog*, TTaskItem*)
{
    TakeSheetSettings();
    RefreshSchedule();
}

void TPropsDlg::TakeSheetSettings()
{
    // The sheet saved the task itself. OK writes this dialog's flags and idle minutes into the
    // stored task, so what the sheet changed is taken over here; the user's other edits stay.
    if (TaskPropertiesDialog1->GetTask() != FTask) FTask->Activate();
    const TTaskFlags flags = FTask->GetFlags();
    for (int i = 0; i < ui->clbFlags->count(); ++i) {
        const auto flag = TTaskFlag(i);
        if (flags.Contains(flag) != FSheetFlags.Contains(flag))
            ui->clbFlags->item(i)->setCheckState(flags.Contains(flag) ? Qt::Checked : Qt::Unchecked);
    }
    const TIdleTime idle = FTask->GetIdleTime();
    if (idle.wIdleMinutes != FSheetIdle.wIdleMinutes) ui->udIdleMinutes->setValue(idle.wIdleMinutes);
    if (idle.wDeadlineMinutes != FSheetIdle.wDeadlineMinutes) ui->udDeadlineMinutes->setValue(idle.wDeadlineMinutes);
    FSheetFlags = flags;
    FSheetIdle = idle;
}

void TPropsDlg::cbScheduleChange()
{
    ShowTrigger();
}

void TPropsDlg::rbEveryClick()
{
    ui->udIntervalDaily->setEnabled(true);
}

void TPropsDlg::rbEveryDayClick()
{
    ui->udIntervalDaily->setEnabled(false);
}

void TPropsDlg::udDelayMinutesChangingEx(QObject*, bool& AllowChange, int NewValue, int)
{
    AllowChange = NewValue >= ui->udDelayMinutes->minimum() && NewValue <= ui->udDelayMinutes->maximum();
}
