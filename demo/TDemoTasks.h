#pragma once
// The demonstration tasks of the main window's application menu.

#include <QString>

class TTaskItem;
class TTaskScheduler;

/// Makes and saves the quick demonstration tasks in the scheduler's current folder (2.0) or
/// its task folder (1.0). Each runs only while its user is logged on, as the current user
/// without a password. Service errors reach the caller.
class TDemoTasks {
public:
    explicit TDemoTasks(TTaskScheduler* AScheduler) : FScheduler(AScheduler) {}

    /// "New task %d" running `AProgram` every 10 minutes for 24 hours, daily, from the next
    /// hour on.
    TTaskItem* EveryTenMinutes(const QString& AProgram);
    /// "New task %d" opening the text editor every day at 09:00 for the next 30 days.
    TTaskItem* DailyTextEditor();

    /// The text editor the daily task opens: the first desktop text editor installed here,
    /// else "notepad.exe", which such systems may offer through a compatibility layer.
    static QString TextEditorProgram();

private:
    /// A new task "New task %d" with one program action for `AProgram`.
    TTaskItem* NewTask(const QString& AProgram);
    /// Makes `ATask` run only while the user is logged on, as the current user without a password.
    void SetAccount(TTaskItem* ATask);

    TTaskScheduler* FScheduler;
};
