#include "ProgramStartup.h"

#include "SelectActions.h"
#include "TMainForm.h"
#include "TTaskActivation.h"
#include "TUserPrompts.h"
#include "kvTask.h"

#include <QApplication>
#include <QDateTime>
#include <QScopeGuard>
#include <cstdio>
#include <cstdlib>
#include <memory>

QString RunTaskName;

namespace {
// Run mode has nobody to answer: messages go to the error stream and questions are declined.
class TRunModePrompts : public TUserPrompts {
public:
    void ShowException(QWidget*, const QString& AMessage, QMessageBox::Icon) override { Print(AMessage); }
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
/// While the application object is made: the platform's messages are held back, and its
/// failure to open any display becomes one line that says what is needed, instead of the
/// toolkit's advice to reinstall.
class TDisplayGuard {
public:
    TDisplayGuard() : FPrevious(qInstallMessageHandler(&TDisplayGuard::Handle)) { FActive = this; }
    ~TDisplayGuard()
    {
        qInstallMessageHandler(FPrevious);
        FActive = nullptr;
    }
    /// The application object exists: the held messages go where they would have gone.
    void Release()
    {
        qInstallMessageHandler(FPrevious);
        FActive = nullptr;
        for (const Held& held : std::as_const(FHeld)) {
            const QMessageLogContext context(nullptr, 0, nullptr, held.category.constData());
            if (FPrevious) FPrevious(held.type, context, held.text);
        }
    }

private:
    struct Held {
        QtMsgType type;
        QByteArray category;
        QString text;
    };
    static void Handle(QtMsgType AType, const QMessageLogContext& AContext, const QString& AText)
    {
        if (AType == QtFatalMsg) {
            std::fprintf(stderr, "taskscheduler-demo: %s\n", NoDisplayText);
            std::fflush(stderr);
            std::_Exit(2);
        }
        if (FActive && AContext.category && qstrncmp(AContext.category, "qt.qpa", 6) == 0)
            FActive->FHeld << Held{AType, QByteArray(AContext.category), AText};
        else if (FActive && FActive->FPrevious)
            FActive->FPrevious(AType, AContext, AText);
    }

    static inline TDisplayGuard* FActive = nullptr;
    QtMessageHandler FPrevious;
    QList<Held> FHeld;
};

} // namespace

const char* const NoDisplayText =
    "the window needs a graphical display and none could be opened (set DISPLAY or WAYLAND_DISPLAY); "
    "\"-run NAME\" works without one";

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
    TTaskActivation active(task);
    task->SetComment(task->GetComment() + RunRecordLine());
    active.DeactivateSaving();
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

    auto displayGuard = std::make_unique<TDisplayGuard>();
    QApplication app(argc, argv);
    displayGuard->Release();
    displayGuard.reset();
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
