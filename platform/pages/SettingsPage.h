#pragma once
// The service's Settings page of a 1.0 task: what happens when a run ends, idle and power
// conditions, waking the computer.

#include "TaskPropertyPage.h"

#include <memory>

namespace Ui {
class SettingsPage;
}

/// Edits the task's flags, run-time limit and idle wait.
class SettingsPage : public TaskPropertyPage {
    Q_OBJECT
public:
    /// The page of `task`, filled from the task.
    SettingsPage(ITask* task, bool persistChanges, QWidget* parent = nullptr);
    ~SettingsPage() override;

    QString Title() const override { return tr("Settings"); }
    bool Validate(QString* message, QWidget** field) override;

protected:
    HRESULT WriteTask() override;

private:
    void UpdateEnabled();

    std::unique_ptr<Ui::SettingsPage> ui;
};
