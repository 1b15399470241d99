#include "ProgramStartup.h"

#include "SelectActions.h"
#include "TMainForm.h"
#include "TUserPrompts.h"
#include "kvTask.h"

#include <QApplication>
#include <QDateTime>
#include <QScopeGuard>
#include <cstdio>

QString RunTaskName;

namespace {
// Run mode has nobody to answer: messages go to the error stream and questions are declined.
class TRunModePrompts : public TUserPrompts {
public:
    void ShowException(QWidget*, const QString& AMessage) override { Print(AMessage); }
    void ShowMessage(QWidget*, const QString& AText, const QString&, QMessageBox::Icon) override { Print(AText); }
    bool ConfirmWarning(QWidget*, const QString&) override { return false; }
    bool InputQuery(QWidget*, const QString&, const QString&, QString&) override { return false; }
    bool SelectExecutable(QWidget*, QString&) override { return false; }
    bool SelectTargetComputer(QWidget*, const QString&, QString&) override { return false; }
    void ShowAbout(QWidget*, const QString&, const QString&, const QIcon&) override {}
    bool OpenUrl(const QUrl&) override { return false; }

private:
    static void Print(const QString& text) { std::fprintf(stderr, "taskscheduler-demo: %s\n", qPrintable(text)); }
};
} // namespace

bool IsRunModeCommandLine(const QStringList& AArguments, QString& ATaskName)
{
    ATaskName.clear();
    if (AArguments.size() < 3 || LocaleCompareText(AArguments.at(1), QStringLiteral("-run")) != 0) return false;
    ATaskName = AArguments.at(2);
    return !ATaskName.isEmpty();
}

QString RunRecordLine()
{
    return QStringLiteral("\r\nTask has run at ") + DateTimeToUserText(QDateTimeToDateTime(QDateTime::currentDateTime()));
}

void ExecuteRunMode(TMainForm& AForm, const QString& ATaskName)
{
    RunTaskName = ATaskName;
    struct CloseWindow {
        TMainForm& form;
        ~CloseWindow() { form.close(); }
    } closeWindow{AForm};

    TTaskScheduler* scheduler = AForm.Scheduler;
    scheduler->Open();
    scheduler->Refresh();
    TTaskItem* task = scheduler->ActivateTask(RunTaskName);
    if (!task) return;
    task->Activate();
    task->SetComment(task->GetComment() + RunRecordLine());
    task->Deactivate(true);
}

int RunProgram(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QString taskName;
    const bool runMode = IsRunModeCommandLine(arguments, taskName);
    // Run mode never shows a window, and the service starts it on machines that may have no
    // display at all: a platform chosen for the desktop (or none) must not stop it there.
    if (runMode) qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("taskscheduler-demo"));
    QApplication::setApplicationDisplayName(SApplicationTitle);
    int exitCode = 0;
    {
        TRunModePrompts quiet;
        TMainForm form(runMode ? &quiet : nullptr);
        // One action chooser serves the whole run and remembers its last choice.
        TSelectActionsForm selectActions(&form);
        SelectActionsForm = &selectActions;
        const auto forgetChooser = qScopeGuard([] { SelectActionsForm = nullptr; });
        if (runMode) {
            try {
                ExecuteRunMode(form, taskName);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "taskscheduler-demo: %s\n", e.what());
                exitCode = 1;
            }
        } else {
            form.show();
            exitCode = app.exec();
        }
    }
    RunTaskName.clear();
    return exitCode;
}
