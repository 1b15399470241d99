#pragma once
// What the property sheet asks of each of the service's pages of a task.

#include "ComBase.h"
#include "tvMSTask.h"

#include <QString>
#include <QWidget>

/// A page showing part of one 1.0 task. It edits its controls only; the task object changes
/// when the sheet applies the page, and with persist-changes the page then saves the task
/// file too.
class TaskPropertyPage : public QWidget {
    Q_OBJECT
public:
    /// A page of `task`; `persistChanges` makes Apply save the task file.
    TaskPropertyPage(ITask* task, bool persistChanges, QWidget* parent = nullptr);

    /// The page's tab caption.
    virtual QString Title() const = 0;
    /// Checks the controls. On bad input gives false, a message naming the field and the
    /// control to focus; nothing is written.
    virtual bool Validate(QString* message, QWidget** field) = 0;
    /// Writes the controls into the task object, then saves the task file when changes are
    /// persisted and the object has changed. A failure is the service's code.
    HRESULT Apply();
    /// Whether the task's changes are saved by Apply.
    bool PersistChanges() const { return m_persist; }

signals:
    /// The user changed a control.
    void Changed();

protected:
    /// Writes the controls into the task object (only values that differ).
    virtual HRESULT WriteTask() = 0;
    ITask* Task() const { return m_task.Get(); }

private:
    ComPtr<ITask> m_task;
    bool m_persist;
};
