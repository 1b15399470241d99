#include "SettingsPage.h"

#include "ResultCodes.h"
#include "ui_SettingsPage.h"

#include <utility>

namespace {

// The check boxes that stand for one flag each, in the order of the form.
using FlagBox = std::pair<QCheckBox* Ui::SettingsPage::*, DWORD>;
constexpr FlagBox kFlagBoxes[] = {
    {&Ui::SettingsPage::ckbDeleteWhenDone, TASK_FLAG_DELETE_WHEN_DONE},
    {&Ui::SettingsPage::ckbStartIdle, TASK_FLAG_START_ONLY_IF_IDLE},
    {&Ui::SettingsPage::ckbStopIdle, TASK_FLAG_KILL_ON_IDLE_END},
    {&Ui::SettingsPage::ckbNoStartOnBatteries, TASK_FLAG_DONT_START_IF_ON_BATTERIES},
    {&Ui::SettingsPage::ckbStopOnBatteries, TASK_FLAG_KILL_IF_GOING_ON_BATTERIES},
    {&Ui::SettingsPage::ckbWakeToRun, TASK_FLAG_SYSTEM_REQUIRED},
};

constexpr DWORD kMinute = 60000;
// A new limit when the user first ticks "Stop the task": the service's default of 72 hours.
constexpr int kDefaultStopHours = 72;

} // namespace

SettingsPage::SettingsPage(ITask* task, bool persistChanges, QWidget* parent)
    : TaskPropertyPage(task, persistChanges, parent), ui(std::make_unique<Ui::SettingsPage>())
{
    ui->setupUi(this);
    DWORD flags = 0;
    task->GetFlags(&flags);
    for (const auto& [box, bit] : kFlagBoxes) (ui.get()->*box)->setChecked(flags & bit);
    DWORD maxRun = TASK_NO_MAX_RUN_TIME;
    task->GetMaxRunTime(&maxRun);
    ui->ckbStopAfter->setChecked(maxRun != TASK_NO_MAX_RUN_TIME);
    const DWORD minutes = maxRun == TASK_NO_MAX_RUN_TIME ? kDefaultStopHours * 60 : maxRun / kMinute;
    ui->sbStopHours->setValue(int(qMin<DWORD>(minutes / 60, DWORD(ui->sbStopHours->maximum()))));
    ui->sbStopMinutes->setValue(int(minutes % 60));
    WORD idle = 10;
    WORD deadline = 60;
    task->GetIdleWait(&idle, &deadline);
    ui->sbIdleMinutes->setValue(idle);
    ui->sbDeadlineMinutes->setValue(deadline);

    for (QCheckBox* box : findChildren<QCheckBox*>()) {
        connect(box, &QCheckBox::toggled, this, &TaskPropertyPage::Changed);
        connect(box, &QCheckBox::toggled, this, &SettingsPage::UpdateEnabled);
    }
    for (QSpinBox* spin : findChildren<QSpinBox*>()) connect(spin, &QSpinBox::valueChanged, this, &TaskPropertyPage::Changed);
    UpdateEnabled();
}

SettingsPage::~SettingsPage() = default;

void SettingsPage::UpdateEnabled()
{
    const bool stop = ui->ckbStopAfter->isChecked();
    ui->sbStopHours->setEnabled(stop);
    ui->sbStopMinutes->setEnabled(stop);
    const bool idle = ui->ckbStartIdle->isChecked();
    ui->sbIdleMinutes->setEnabled(idle);
    ui->sbDeadlineMinutes->setEnabled(idle);
}

bool SettingsPage::Validate(QString* message, QWidget** field)
{
    if (ui->ckbStopAfter->isChecked() && ui->sbStopHours->value() == 0 && ui->sbStopMinutes->value() == 0) {
        *message = tr("Stop the task if it runs for: enter at least one minute.");
        *field = ui->sbStopMinutes;
        return false;
    }
    return true;
}

HRESULT SettingsPage::WriteTask()
{
    ITask* task = Task();
    DWORD flags = 0;
    if (const HRESULT hr = task->GetFlags(&flags); FAILED(hr)) return hr;
    DWORD wanted = flags;
    for (const auto& [box, bit] : kFlagBoxes) wanted = (ui.get()->*box)->isChecked() ? wanted | bit : wanted & ~bit;
    if (wanted != flags) {
        if (const HRESULT hr = task->SetFlags(wanted); FAILED(hr)) return hr;
    }
    DWORD maxRun = 0;
    if (const HRESULT hr = task->GetMaxRunTime(&maxRun); FAILED(hr)) return hr;
    const DWORD wantedRun = ui->ckbStopAfter->isChecked()
        ? (DWORD(ui->sbStopHours->value()) * 60 + DWORD(ui->sbStopMinutes->value())) * kMinute
        : TASK_NO_MAX_RUN_TIME;
    // A limit that is not whole minutes stays as it is unless the user changed the minutes.
    const bool sameRun = wantedRun == maxRun
        || (maxRun != TASK_NO_MAX_RUN_TIME && wantedRun != TASK_NO_MAX_RUN_TIME && wantedRun == maxRun / kMinute * kMinute);
    if (!sameRun) {
        if (const HRESULT hr = task->SetMaxRunTime(wantedRun); FAILED(hr)) return hr;
    }
    WORD idle = 0;
    WORD deadline = 0;
    if (const HRESULT hr = task->GetIdleWait(&idle, &deadline); FAILED(hr)) return hr;
    const WORD wantedIdle = WORD(ui->sbIdleMinutes->value());
    const WORD wantedDeadline = WORD(ui->sbDeadlineMinutes->value());
    if (wantedIdle != idle || wantedDeadline != deadline) return task->SetIdleWait(wantedIdle, wantedDeadline);
    return S_OK;
}
