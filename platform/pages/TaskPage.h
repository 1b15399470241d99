#pragma once
// The service's Task page of a 1.0 task: program, arguments, working directory, comment,
// account and whether the task is enabled.

#include "TaskPropertyPage.h"

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TaskPage;
}

/// Edits what the task runs and as whom.
class TaskPage : public TaskPropertyPage {
    Q_OBJECT
public:
    /// Asks the user for a program file; empty when the user gives none.
    using ProgramChooser = std::function<QString(QWidget* parent, const QString& current)>;
    /// Asks for the account's password; no value when the user cancels.
    using PasswordPrompt = std::function<std::optional<QString>(QWidget* parent, const QString& account)>;

    /// The page of `task`, filled from the task.
    TaskPage(ITask* task, bool persistChanges, QWidget* parent = nullptr);
    ~TaskPage() override;

    /// Replaces the file dialog of "Browse..." (empty: the file dialog again).
    static void SetProgramChooser(ProgramChooser chooser);
    /// Replaces the dialog of "Set password..." (empty: the dialog again).
    static void SetPasswordPrompt(PasswordPrompt prompt);

    QString Title() const override { return tr("Task"); }
    bool Validate(QString* message, QWidget** field) override;

protected:
    HRESULT WriteTask() override;

private:
    void Browse();
    void AskPassword();

    std::unique_ptr<Ui::TaskPage> ui;
    QString m_account;
    /// A password the user set on this page, sent with the account when the page applies.
    std::optional<QString> m_password;
};
