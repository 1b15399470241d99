// taskscheduler-demo-screenshot FILE.png: renders the main window, with a few example tasks
// of a private, temporary service, into an image without any display.
//
// When the service process (taskschedd) is built beside this program, it serves the
// temporary root and two of the examples are run first, so that the list shows real last run
// times; otherwise the service core runs inside this program and no task has run yet.

#include "ProgramStartup.h"
#include "TMainForm.h"
#include "TTaskListView.h"
#include "TUserPrompts.h"
#include "kvTask.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>
#include <cstring>

namespace {

class TSilentPrompts : public TUserPrompts {
public:
    void ShowException(QWidget*, const QString& AMessage, QMessageBox::Icon) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(AMessage));
    }
};

struct TExample {
    QString folder;
    QString name;
    QString program;
    TTriggerType type;
    QDate begin;
    QTime start;
    WORD weekDays = 0; // weekly: bit 0 Sunday up to bit 6 Saturday
    bool disabled = false;
    bool runFirst = false;
};

void AddExample(TTaskScheduler& AScheduler, const TExample& AExample)
{
    AScheduler.CurrentFolderPath = AExample.folder;
    TTaskItem* task = AScheduler.CreateNewItem(AExample.name);
    task->SetCurrentAction(1);
    task->InsertAction(0);
    task->SetApplicationName(AExample.program);
    task->SetCreator(QStringLiteral("operator"));
    TTrigger* trigger = task->GetTriggers()->Add(AExample.type);
    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    switch (AExample.type) {
    case ttDaily: details.Daily.DaysInterval = 1; break;
    case ttWeekly:
        details.Weekly.WeeksInterval = 1;
        details.Weekly.rgfDaysOfTheWeek = AExample.weekDays;
        break;
    case ttMonthlyDate:
        details.MonthlyDate.rgfDays = 0x1;      // the first day
        details.MonthlyDate.rgfMonths = 0xFFF;  // of every month
        break;
    default: break;
    }
    trigger->SetStartTime(EncodeDateTime(AExample.begin, AExample.start));
    trigger->SetBeginDate(EncodeDateTime(AExample.begin, QTime(0, 0)));
    trigger->SetDetails(details);
    task->GetTriggers()->UpdateTriggers();
    if (AExample.disabled) task->SetVistaFlag(tfvEnabled, false);
    task->Save();
}

/// Runs the task and waits until the service has recorded the run (at most 20 seconds).
void RunAndWait(TTaskScheduler& AScheduler, const TExample& AExample)
{
    AScheduler.CurrentFolderPath = AExample.folder;
    AScheduler.Refresh();
    TTaskItem* task = AScheduler.ActivateTask(AExample.name);
    if (!task) return;
    task->Activate();
    task->Run();
    task->Deactivate(false);
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        AScheduler.Refresh();
        task = AScheduler.ActivateTask(AExample.name);
        task->Activate();
        const bool recorded = task->GetMostRecentRunTime() > 1.0 && task->GetStatus() != ts2Running;
        task->Deactivate(false);
        if (recorded) return;
        QThread::msleep(100);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    QTemporaryDir config;
    qputenv("TASKSCHEDULER_HOME", root.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(SApplicationTitle);
    // The same date and time formats wherever the picture is taken.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    QProcess service;
    const QString daemon = QCoreApplication::applicationDirPath() + QStringLiteral("/taskschedd");
    if (QFile::exists(daemon)) {
        qunsetenv("TASKSCHEDULER_TRANSPORT");
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.setStandardOutputFile(QProcess::nullDevice());
        service.start(daemon, {QStringLiteral("--root"), root.path()});
        if (!service.waitForStarted(10000)) {
            std::fprintf(stderr, "could not start %s\n", qPrintable(daemon));
            return 1;
        }
    } else {
        qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    }
    const auto stopService = [&service] {
        if (service.state() == QProcess::NotRunning) return;
        service.terminate();
        if (!service.waitForFinished(10000)) {
            service.kill();
            service.waitForFinished(5000);
        }
    };

    const QDate today = QDate::currentDate();
    const QString top = QStringLiteral("\\");
    const QList<TExample> examples{
        {top, QStringLiteral("Back up documents"), QStringLiteral("/usr/bin/true"), ttDaily, today.addDays(-20),
         QTime(2, 30), 0, false, true},
        {top, QStringLiteral("Clean temporary files"), QStringLiteral("/usr/bin/find"), ttWeekly, today.addDays(-40),
         QTime(18, 0), 0x02 | 0x10},
        {top, QStringLiteral("Check for updates"), QStringLiteral("/usr/bin/apt-get"), ttAtStartup, today, QTime(0, 0)},
        {top, QStringLiteral("Rotate logs"), QStringLiteral("/usr/bin/gzip"), ttMonthlyDate, today.addDays(-90),
         QTime(3, 15)},
        {top, QStringLiteral("Sync calendar"), QStringLiteral("/usr/bin/true"), ttOnce, today.addDays(2), QTime(12, 15),
         0, true},
        {top, QStringLiteral("Send weekly report"), QStringLiteral("/usr/bin/true"), ttWeekly, today.addDays(-7),
         QTime(8, 0), 0x20, false, true},
        {QStringLiteral("\\Reports"), QStringLiteral("Monthly summary"), QStringLiteral("/usr/bin/true"), ttMonthlyDate,
         today, QTime(6, 0)},
    };
    try {
        TTaskScheduler scheduler;
        scheduler.Open();
        scheduler.CreateFolder(QStringLiteral("\\Reports"));
        scheduler.CreateFolder(QStringLiteral("\\Reports\\Monthly"));
        scheduler.CreateFolder(QStringLiteral("\\Maintenance"));
        for (const TExample& example : examples) AddExample(scheduler, example);
        if (service.state() == QProcess::Running) {
            for (const TExample& example : examples) {
                if (example.runFirst) RunAndWait(scheduler, example);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "could not make the example tasks: %s\n", e.what());
        stopService();
        return 1;
    }

    int exitCode = 0;
    {
        TSilentPrompts prompts;
        TMainForm form(&prompts);
        // Wide enough for every column of the list.
        form.resize(1060, 540);
        form.show();
        QApplication::processEvents();
        if (auto* list = form.findChild<TTaskListView*>(QStringLiteral("ListView")); list && list->RowCount() > 1)
            list->SetSelected(1, true);
        QApplication::processEvents();
        if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "could not write %s\n", argv[1]);
            exitCode = 1;
        }
    }
    stopService();
    return exitCode;
}
