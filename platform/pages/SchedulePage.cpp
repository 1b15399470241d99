#include "SchedulePage.h"

#include "AdvancedScheduleDialog.h"
#include "Gen1TriggerText.h"
#include "gen1/JobDefinition.h"
#include "ResultCodes.h"
#include "ScheduleInput.h"
#include "ui_SchedulePage.h"

#include <QDate>
#include <QTime>

namespace {

enum StackPage { PageOnce, PageDaily, PageWeekly, PageMonthlyDate, PageMonthlyDow, PageEvent };

constexpr int kKinds = 8;

} // namespace

SchedulePage::SchedulePage(ITask* task, bool persistChanges, QWidget* parent)
    : TaskPropertyPage(task, persistChanges, parent), ui(std::make_unique<Ui::SchedulePage>())
{
    ui->setupUi(this);
    m_days = {ui->ckbSunday, ui->ckbMonday, ui->ckbTuesday, ui->ckbWednesday, ui->ckbThursday, ui->ckbFriday, ui->ckbSaturday};
    m_months = {ui->ckbJanuary, ui->ckbFebruary, ui->ckbMarch, ui->ckbApril, ui->ckbMay, ui->ckbJune,
                ui->ckbJuly, ui->ckbAugust, ui->ckbSeptember, ui->ckbOctober, ui->ckbNovember, ui->ckbDecember};
    WORD count = 0;
    task->GetTriggerCount(&count);
    for (WORD i = 0; i < count; ++i) {
        ComPtr<ITaskTrigger> trigger;
        TASK_TRIGGER record{};
        if (FAILED(task->GetTrigger(i, trigger.Put())) || FAILED(trigger->GetTrigger(&record))) continue;
        m_original.append(record);
        m_monthDays.append(record.TriggerType == TASK_TIME_TRIGGER_MONTHLYDATE
                               ? ScheduleInput::MonthDaysText(record.Type.MonthlyDate.rgfDays) : QString());
    }
    m_triggers = m_original;
    ui->ckbShowMultiple->setChecked(m_triggers.size() != 1);

    for (QCheckBox* box : m_days + m_months) connect(box, &QCheckBox::toggled, this, &SchedulePage::Edited);
    connect(ui->cbScheduleType, &QComboBox::currentIndexChanged, this, &SchedulePage::Edited);
    connect(ui->teStartTime, &QTimeEdit::timeChanged, this, &SchedulePage::Edited);
    connect(ui->deRunOn, &QDateEdit::dateChanged, this, &SchedulePage::Edited);
    connect(ui->sbDays, &QSpinBox::valueChanged, this, &SchedulePage::Edited);
    connect(ui->sbWeeks, &QSpinBox::valueChanged, this, &SchedulePage::Edited);
    connect(ui->edMonthDays, &QLineEdit::textEdited, this, &SchedulePage::Edited);
    connect(ui->cbWhichWeek, &QComboBox::currentIndexChanged, this, &SchedulePage::Edited);
    connect(ui->cbSchedules, &QComboBox::activated, this, [this](int index) { Select(index); });
    connect(ui->btnNew, &QPushButton::clicked, this, &SchedulePage::AddTrigger);
    connect(ui->btnDelete, &QPushButton::clicked, this, &SchedulePage::DeleteTrigger);
    connect(ui->btnAdvanced, &QPushButton::clicked, this, &SchedulePage::EditAdvanced);
    connect(ui->ckbShowMultiple, &QCheckBox::toggled, this, &SchedulePage::UpdateMultiple);
    Select(m_triggers.isEmpty() ? -1 : 0);
}

SchedulePage::~SchedulePage() = default;

TASK_TRIGGER SchedulePage::NewTrigger()
{
    TASK_TRIGGER t{};
    t.cbTriggerSize = sizeof(TASK_TRIGGER);
    const QDate today = QDate::currentDate();
    t.wBeginYear = WORD(today.year());
    t.wBeginMonth = WORD(today.month());
    t.wBeginDay = WORD(today.day());
    t.wStartHour = 9;
    t.TriggerType = TASK_TIME_TRIGGER_DAILY;
    t.Type.Daily.DaysInterval = 1;
    return t;
}

void SchedulePage::Select(int index)
{
    m_loading = true;
    m_current = index;
    const bool has = index >= 0 && index < m_triggers.size();
    for (QWidget* w : {static_cast<QWidget*>(ui->cbScheduleType), static_cast<QWidget*>(ui->teStartTime),
                       static_cast<QWidget*>(ui->btnAdvanced), static_cast<QWidget*>(ui->stkKind),
                       static_cast<QWidget*>(ui->gbDaysOfWeek), static_cast<QWidget*>(ui->gbMonths),
                       static_cast<QWidget*>(ui->btnDelete)})
        w->setEnabled(has);
    const TASK_TRIGGER t = has ? m_triggers.at(index) : NewTrigger();
    const int kind = int(t.TriggerType) < kKinds ? int(t.TriggerType) : 0;
    ui->cbScheduleType->setCurrentIndex(kind);
    ui->teStartTime->setTime(QTime(t.wStartHour, t.wStartMinute));
    const QDate begin(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
    ui->deRunOn->setDate(begin.isValid() ? begin : QDate::currentDate());
    WORD days = 0;
    WORD months = 0;
    ui->sbDays->setValue(1);
    ui->sbWeeks->setValue(1);
    ui->cbWhichWeek->setCurrentIndex(0);
    ui->edMonthDays->clear();
    switch (t.TriggerType) {
    case TASK_TIME_TRIGGER_DAILY:
        ui->sbDays->setValue(qMax<int>(1, t.Type.Daily.DaysInterval));
        break;
    case TASK_TIME_TRIGGER_WEEKLY:
        ui->sbWeeks->setValue(qMax<int>(1, t.Type.Weekly.WeeksInterval));
        days = t.Type.Weekly.rgfDaysOfTheWeek;
        break;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
        ui->edMonthDays->setText(has ? m_monthDays.at(index) : QString());
        months = t.Type.MonthlyDate.rgfMonths;
        break;
    case TASK_TIME_TRIGGER_MONTHLYDOW:
        ui->cbWhichWeek->setCurrentIndex(qBound(0, int(t.Type.MonthlyDOW.wWhichWeek) - 1, 4));
        days = t.Type.MonthlyDOW.rgfDaysOfTheWeek;
        months = t.Type.MonthlyDOW.rgfMonths;
        break;
    default:
        break;
    }
    for (int i = 0; i < m_days.size(); ++i) m_days[i]->setChecked(days & (1u << i));
    for (int i = 0; i < m_months.size(); ++i) m_months[i]->setChecked(months & (1u << i));
    ShowKind(kind);
    m_loading = false;
    RefreshTexts();
    UpdateMultiple();
}

void SchedulePage::ShowKind(int index)
{
    const DWORD kind = DWORD(qMax(0, index));
    switch (kind) {
    case TASK_TIME_TRIGGER_ONCE: ui->stkKind->setCurrentIndex(PageOnce); break;
    case TASK_TIME_TRIGGER_DAILY: ui->stkKind->setCurrentIndex(PageDaily); break;
    case TASK_TIME_TRIGGER_WEEKLY: ui->stkKind->setCurrentIndex(PageWeekly); break;
    case TASK_TIME_TRIGGER_MONTHLYDATE: ui->stkKind->setCurrentIndex(PageMonthlyDate); break;
    case TASK_TIME_TRIGGER_MONTHLYDOW: ui->stkKind->setCurrentIndex(PageMonthlyDow); break;
    default: ui->stkKind->setCurrentIndex(PageEvent); break;
    }
    ui->lblEvent->setText(kind == TASK_EVENT_TRIGGER_ON_IDLE
                              ? tr("The task runs when the computer has been idle for the time set on the Settings page.")
                              : kind == TASK_EVENT_TRIGGER_AT_SYSTEMSTART ? tr("The task runs when the computer starts.")
                                                                          : tr("The task runs when a user logs on."));
    const bool timed = kind <= TASK_TIME_TRIGGER_MONTHLYDOW;
    ui->teStartTime->setVisible(timed);
    ui->lblStartTime->setVisible(timed);
    ui->gbDaysOfWeek->setVisible(kind == TASK_TIME_TRIGGER_WEEKLY || kind == TASK_TIME_TRIGGER_MONTHLYDOW);
    ui->gbMonths->setVisible(kind == TASK_TIME_TRIGGER_MONTHLYDATE || kind == TASK_TIME_TRIGGER_MONTHLYDOW);
}

void SchedulePage::Store()
{
    if (m_current < 0 || m_current >= m_triggers.size()) return;
    TASK_TRIGGER& t = m_triggers[m_current];
    const DWORD kind = DWORD(ui->cbScheduleType->currentIndex());
    if (kind != t.TriggerType) t.Type = TRIGGER_TYPE_UNION{};
    t.TriggerType = TASK_TRIGGER_TYPE(kind);
    const QTime start = ui->teStartTime->time();
    t.wStartHour = WORD(start.hour());
    t.wStartMinute = WORD(start.minute());
    WORD days = 0;
    WORD months = 0;
    for (int i = 0; i < m_days.size(); ++i) days |= m_days[i]->isChecked() ? WORD(1u << i) : 0;
    for (int i = 0; i < m_months.size(); ++i) months |= m_months[i]->isChecked() ? WORD(1u << i) : 0;
    QString monthDays;
    switch (kind) {
    case TASK_TIME_TRIGGER_ONCE: {
        const QDate on = ui->deRunOn->date();
        t.wBeginYear = WORD(on.year());
        t.wBeginMonth = WORD(on.month());
        t.wBeginDay = WORD(on.day());
        break;
    }
    case TASK_TIME_TRIGGER_DAILY:
        t.Type.Daily.DaysInterval = WORD(ui->sbDays->value());
        break;
    case TASK_TIME_TRIGGER_WEEKLY:
        t.Type.Weekly.WeeksInterval = WORD(ui->sbWeeks->value());
        t.Type.Weekly.rgfDaysOfTheWeek = days;
        break;
    case TASK_TIME_TRIGGER_MONTHLYDATE: {
        monthDays = ui->edMonthDays->text();
        DWORD mask = 0;
        QString why;
        // A list that does not read yet keeps the last days that did; Apply refuses it.
        if (ScheduleInput::ParseMonthDays(monthDays, &mask, &why)) t.Type.MonthlyDate.rgfDays = mask;
        t.Type.MonthlyDate.rgfMonths = months;
        break;
    }
    case TASK_TIME_TRIGGER_MONTHLYDOW:
        t.Type.MonthlyDOW.wWhichWeek = WORD(ui->cbWhichWeek->currentIndex() + 1);
        t.Type.MonthlyDOW.rgfDaysOfTheWeek = days;
        t.Type.MonthlyDOW.rgfMonths = months;
        break;
    default:
        break;
    }
    m_monthDays[m_current] = monthDays;
}

void SchedulePage::Edited()
{
    if (m_loading) return;
    Store();
    ShowKind(ui->cbScheduleType->currentIndex());
    RefreshTexts();
    emit Changed();
}

void SchedulePage::RefreshTexts()
{
    ui->cbSchedules->clear();
    for (int i = 0; i < m_triggers.size(); ++i)
        ui->cbSchedules->addItem(QStringLiteral("%1. %2").arg(i + 1).arg(Gen1TriggerText::Describe(m_triggers.at(i))));
    ui->cbSchedules->setCurrentIndex(m_current);
    ui->lblDescription->setText(m_current >= 0 ? Gen1TriggerText::Describe(m_triggers.at(m_current))
                                               : tr("The task is not scheduled."));
}

void SchedulePage::UpdateMultiple()
{
    // Several schedules cannot be hidden behind the first one.
    ui->ckbShowMultiple->setEnabled(m_triggers.size() <= 1);
    if (m_triggers.size() > 1) ui->ckbShowMultiple->setChecked(true);
    ui->wMultiple->setVisible(ui->ckbShowMultiple->isChecked() || m_triggers.isEmpty());
}

void SchedulePage::AddTrigger()
{
    Store();
    m_triggers.append(NewTrigger());
    m_monthDays.append(QString());
    Select(int(m_triggers.size()) - 1);
    emit Changed();
}

void SchedulePage::DeleteTrigger()
{
    if (m_current < 0 || m_current >= m_triggers.size()) return;
    m_triggers.removeAt(m_current);
    m_monthDays.removeAt(m_current);
    Select(qMin(m_current, int(m_triggers.size()) - 1));
    emit Changed();
}

void SchedulePage::EditAdvanced()
{
    if (m_current < 0) return;
    Store();
    AdvancedScheduleDialog dialog(m_triggers.at(m_current), this);
    if (dialog.exec() != QDialog::Accepted) return;
    m_triggers[m_current] = dialog.Edited(m_triggers.at(m_current));
    Select(m_current);
    emit Changed();
}

bool SchedulePage::Validate(QString* message, QWidget** field)
{
    Store();
    for (int i = 0; i < m_triggers.size(); ++i) {
        ScheduleInput::Field which = ScheduleInput::NoField;
        if (ScheduleInput::Check(m_triggers.at(i), m_monthDays.at(i), &which, message)) continue;
        Select(i);
        switch (which) {
        case ScheduleInput::MonthDays: *field = ui->edMonthDays; break;
        case ScheduleInput::DaysOfWeek: *field = m_days.first(); break;
        case ScheduleInput::Months: *field = m_months.first(); break;
        default: *field = ui->btnAdvanced; break;
        }
        if (m_triggers.size() > 1) *message = tr("Schedule %1: %2").arg(i + 1).arg(*message);
        return false;
    }
    return true;
}

HRESULT SchedulePage::WriteTask()
{
    Store();
    ITask* task = Task();
    WORD count = 0;
    if (const HRESULT hr = task->GetTriggerCount(&count); FAILED(hr)) return hr;
    const int kept = qMin<int>(count, int(m_triggers.size()));
    for (int i = 0; i < kept; ++i) {
        ComPtr<ITaskTrigger> trigger;
        TASK_TRIGGER stored{};
        if (const HRESULT hr = task->GetTrigger(WORD(i), trigger.Put()); FAILED(hr)) return hr;
        if (const HRESULT hr = trigger->GetTrigger(&stored); FAILED(hr)) return hr;
        if (SameTrigger(stored, m_triggers.at(i))) continue;
        if (const HRESULT hr = trigger->SetTrigger(&m_triggers.at(i)); FAILED(hr)) return hr;
    }
    for (int i = count - 1; i >= kept; --i) {
        if (const HRESULT hr = task->DeleteTrigger(WORD(i)); FAILED(hr)) return hr;
    }
    for (int i = kept; i < m_triggers.size(); ++i) {
        WORD index = 0;
        ComPtr<ITaskTrigger> trigger;
        if (const HRESULT hr = task->CreateTrigger(&index, trigger.Put()); FAILED(hr)) return hr;
        if (const HRESULT hr = trigger->SetTrigger(&m_triggers.at(i)); FAILED(hr)) return hr;
    }
    m_original = m_triggers;
    return S_OK;
}
