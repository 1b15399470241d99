#pragma once
// The program's start: the interactive window, or run mode, in which the program records a
// run of the task named on its command line in that task's comment and ends.

#include <QString>
#include <QStringList>

class TMainForm;

/// The application's title.
inline const QString SApplicationTitle = QStringLiteral("Task Scheduler Demo");

/// The one line (after the program's name) printed when no display can be opened for the window.
extern const char* const NoDisplayText;

/// The task name given after "-run"; empty otherwise.
extern QString RunTaskName;

/// Whether `AArguments` (the program first) ask for run mode: the first argument is "-run"
/// in any letter case and the second a non-empty task name, which `ATaskName` receives.
bool IsRunModeCommandLine(const QStringList& AArguments, QString& ATaskName);

/// The line run mode appends to a task's comment for a run at the current moment.
QString RunRecordLine();

/// Run mode: finds `ATaskName` among the tasks of the root folder (2.0) or of the computer
/// (1.0) of `AForm`'s scheduler and appends `RunRecordLine` to its comment. The window is
/// closed however this ends; errors pass to the caller. A name without a task does nothing.
void ExecuteRunMode(TMainForm& AForm, const QString& ATaskName);

/// The whole program: start-up, then the message loop or run mode. Its exit code.
int RunProgram(int argc, char** argv);
