#include "AdvancedScheduleDialog.h"

#include "ui_AdvancedScheduleDialog.h"

#include <QDate>

namespace {

QDate DateOf(WORD year, WORD month, WORD day)
{
    const QDate date(year, month, day);
    return date.isValid() ? date : QDate::currentDate();
}

} // namespace

AdvancedScheduleDialog::AdvancedScheduleDialog(const TASK_TRIGGER& t, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AdvancedScheduleDialog>())
{
    ui->setupUi(this);
    ui->deStartDate->setDate(DateOf(t.wBeginYear, t.wBeginMonth, t.wBeginDay));
    ui->ckbEndDate->setChecked(t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE);
    ui->deEndDate->setDate(DateOf(t.wEndYear, t.wEndMonth, t.wEndDay));
    ui->ckbRepeat->setChecked(t.MinutesInterval != 0);
    const bool hours = t.MinutesInterval != 0 && t.MinutesInterval % 60 == 0;
    ui->cbIntervalUnit->setCurrentIndex(hours ? 1 : 0);
    ui->sbInterval->setValue(t.MinutesInterval == 0 ? 10 : int(hours ? t.MinutesInterval / 60 : t.MinutesInterval));
    const quint32 duration = t.MinutesInterval == 0 && t.MinutesDuration == 0 ? 60 : t.MinutesDuration;
    ui->sbDurationHours->setValue(int(qMin<quint32>(duration / 60, 9999)));
    ui->sbDurationMinutes->setValue(int(duration % 60));
    ui->ckbKillAtDurationEnd->setChecked(t.rgFlags & TASK_TRIGGER_FLAG_KILL_AT_DURATION_END);
    connect(ui->ckbEndDate, &QCheckBox::toggled, this, &AdvancedScheduleDialog::UpdateEnabled);
    connect(ui->ckbRepeat, &QCheckBox::toggled, this, &AdvancedScheduleDialog::UpdateEnabled);
    connect(ui->bbButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->bbButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    UpdateEnabled();
}

AdvancedScheduleDialog::~AdvancedScheduleDialog() = default;

void AdvancedScheduleDialog::UpdateEnabled()
{
    ui->deEndDate->setEnabled(ui->ckbEndDate->isChecked());
    const bool repeat = ui->ckbRepeat->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(ui->sbInterval), static_cast<QWidget*>(ui->cbIntervalUnit),
                       static_cast<QWidget*>(ui->sbDurationHours), static_cast<QWidget*>(ui->sbDurationMinutes),
                       static_cast<QWidget*>(ui->ckbKillAtDurationEnd)})
        w->setEnabled(repeat);
}

TASK_TRIGGER AdvancedScheduleDialog::Edited(TASK_TRIGGER t) const
{
    const QDate begin = ui->deStartDate->date();
    t.wBeginYear = WORD(begin.year());
    t.wBeginMonth = WORD(begin.month());
    t.wBeginDay = WORD(begin.day());
    if (ui->ckbEndDate->isChecked()) {
        const QDate end = ui->deEndDate->date();
        t.wEndYear = WORD(end.year());
        t.wEndMonth = WORD(end.month());
        t.wEndDay = WORD(end.day());
        t.rgFlags |= TASK_TRIGGER_FLAG_HAS_END_DATE;
    } else {
        t.rgFlags &= ~TASK_TRIGGER_FLAG_HAS_END_DATE;
    }
    if (ui->ckbRepeat->isChecked()) {
        const quint32 unit = ui->cbIntervalUnit->currentIndex() == 1 ? 60 : 1;
        t.MinutesInterval = quint32(ui->sbInterval->value()) * unit;
        t.MinutesDuration = quint32(ui->sbDurationHours->value()) * 60 + quint32(ui->sbDurationMinutes->value());
        if (ui->ckbKillAtDurationEnd->isChecked())
            t.rgFlags |= TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
        else
            t.rgFlags &= ~TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
    } else {
        t.MinutesInterval = 0;
        t.MinutesDuration = 0;
        t.rgFlags &= ~TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
    }
    return t;
}
