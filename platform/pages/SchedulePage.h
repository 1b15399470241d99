#pragma once
// The service's Schedule page of a 1.0 task: its triggers, one edited at a time.

#include "TaskPropertyPage.h"

#include <QList>
#include <QStringList>
#include <memory>

namespace Ui {
class SchedulePage;
}
class QCheckBox;

/// Lists the task's triggers with the service's text for each and edits every field of the
/// selected one. Edits stay on the page until the sheet applies it.
class SchedulePage : public TaskPropertyPage {
    Q_OBJECT
public:
    /// The page of `task`, filled with the task's triggers.
    SchedulePage(ITask* task, bool persistChanges, QWidget* parent = nullptr);
    ~SchedulePage() override;

    QString Title() const override { return tr("Schedule"); }
    bool Validate(QString* message, QWidget** field) override;

protected:
    HRESULT WriteTask() override;

private:
    /// A record for a new trigger: daily at 09:00 from today.
    static TASK_TRIGGER NewTrigger();
    /// Shows trigger `index` in the controls.
    void Select(int index);
    /// Writes the controls into the trigger shown.
    void Store();
    /// Rebuilds the list of triggers and the description of the one shown.
    void RefreshTexts();
    /// Shows the controls the kind of the trigger needs.
    void ShowKind(int kind);
    void Edited();
    void AddTrigger();
    void DeleteTrigger();
    void EditAdvanced();
    void UpdateMultiple();

    std::unique_ptr<Ui::SchedulePage> ui;
    QList<QCheckBox*> m_days;
    QList<QCheckBox*> m_months;
    QList<TASK_TRIGGER> m_original;
    QList<TASK_TRIGGER> m_triggers;
    /// The day list of each trigger as entered, checked on Apply.
    QStringList m_monthDays;
    int m_current = -1;
    bool m_loading = false;
};
