// taskscheduler-demo-screenshot FILE.png: renders the main window, with a few example tasks
// of a private, temporary service, into an image without any display.

#include "ProgramStartup.h"
#include "TMainForm.h"
#include "TTaskListView.h"
#include "TUserPrompts.h"
#include "kvTask.h"

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <cstring>

namespace {

class TSilentPrompts : public TUserPrompts {
public:
    void ShowException(QWidget*, const QString& AMessage) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(AMessage));
    }
};

void AddExample(TTaskScheduler& AScheduler, const QString& AFolder, const QString& AName, const QString& AProgram,
                TTriggerType AType, QTime AStart, const QString& AComment)
{
    AScheduler.CurrentFolderPath = AFolder;
    TTaskItem* task = AScheduler.CreateNewItem(AName);
    task->SetCurrentAction(1);
    task->InsertAction(0);
    task->SetApplicationName(AProgram);
    task->SetComment(AComment);
    task->SetCreator(QStringLiteral("operator"));
    TTrigger* trigger = task->GetTriggers()->Add(AType);
    if (trigger) {
        TRIGGER_TYPE_UNION details;
        std::memset(&details, 0, sizeof details);
        if (AType == ttDaily) details.Daily.DaysInterval = 1;
        if (AType == ttWeekly) {
            details.Weekly.WeeksInterval = 1;
            details.Weekly.rgfDaysOfTheWeek = 0x02 | 0x10; // Monday and Thursday
        }
        const QDate today = QDate::currentDate();
        trigger->SetStartTime(EncodeDateTime(today, AStart));
        trigger->SetBeginDate(EncodeDateTime(today, QTime(0, 0)));
        trigger->SetDetails(details);
        task->GetTriggers()->UpdateTriggers();
    }
    task->Save();
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
    try {
        TTaskScheduler scheduler;
        scheduler.Open();
        scheduler.CreateFolder(QStringLiteral("\\Reports"));
        scheduler.CreateFolder(QStringLiteral("\\Reports\\Monthly"));
        scheduler.CreateFolder(QStringLiteral("\\Maintenance"));
        const QString top = QStringLiteral("\\");
        AddExample(scheduler, top, QStringLiteral("Back up documents"), QStringLiteral("/usr/bin/tar"), ttDaily,
                   QTime(2, 30), QStringLiteral("Copies the documents folder to the backup disk."));
        AddExample(scheduler, top, QStringLiteral("Clean temporary files"), QStringLiteral("/usr/bin/find"), ttWeekly,
                   QTime(18, 0), QStringLiteral("Removes week-old files."));
        AddExample(scheduler, top, QStringLiteral("Check for updates"), QStringLiteral("/usr/bin/apt-get"), ttAtStartup,
                   QTime(0, 0), {});
        AddExample(scheduler, top, QStringLiteral("Sync calendar"), QStringLiteral("/usr/bin/true"), ttOnce,
                   QTime(12, 15), {});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "could not make the example tasks: %s\n", e.what());
        return 1;
    }
    TSilentPrompts prompts;
    TMainForm form(&prompts);
    form.show();
    QApplication::processEvents();
    if (auto* list = form.findChild<TTaskListView*>(QStringLiteral("ListView")); list && list->RowCount() > 1)
        list->SetSelected(1, true);
    QApplication::processEvents();
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
