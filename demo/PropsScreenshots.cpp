// taskscheduler-props-screenshots DIR: renders each page of the classic properties dialog, for
// a 2.0 task and for a 1.0 task, into DIR/props-*.png, without any display and against a
// private, temporary service root.

#include "OsVersion.h"
#include "Props.h"
#include "TUserPrompts.h"
#include "kvTask.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

namespace {

int Shoot(TTaskItem* ATask, const QDir& AOut, const QString& APrefix)
{
    TUserPrompts prompts;
    TPropsDlg dialog(ATask, &prompts);
    dialog.show();
    auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("PageControl"));
    const char* names[] = {"task", "schedule", "settings", "custom"};
    int failures = 0;
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        QApplication::processEvents();
        const QString file = AOut.filePath(QStringLiteral("%1-%2.png").arg(APrefix, QLatin1String(names[page])));
        if (!dialog.grab().save(file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            ++failures;
        }
    }
    return failures;
}

void AddWeekly(TTaskItem* ATask)
{
    TTrigger* trigger = ATask->GetTriggers()->Add(ttWeekly);
    const QDate begin = QDate::currentDate();
    trigger->SetStartTime(EncodeDateTime(begin, QTime(7, 30)));
    trigger->SetBeginDate(EncodeDateTime(begin, QTime(0, 0)));
    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    details.Weekly.WeeksInterval = 1;
    details.Weekly.rgfDaysOfTheWeek = 0x2 | 0x8 | 0x20;
    trigger->SetDetails(details);
    ATask->GetTriggers()->UpdateTriggers();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    qputenv("TASKSCHEDULER_HOME", root.path().toLocal8Bit());
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Task Scheduler Demo"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    int failures = 0;
    try {
        TTaskScheduler scheduler;
        scheduler.Open();
        TTaskItem* task = scheduler.CreateNewItem(QStringLiteral("Weekly backup"));
        task->InsertAction(TASK_ACTION_EXEC);
        task->SetCurrentAction(1);
        task->SetApplicationName(QStringLiteral("/usr/bin/rsync"));
        task->SetParameters(QStringLiteral("-a /home/alice/Documents /mnt/backup"));
        task->SetWorkingDirectory(QStringLiteral("/home/alice"));
        task->InsertAction(TASK_ACTION_SEND_EMAIL);
        task->SetCurrentAction(2);
        task->SetMailSendTo(QStringLiteral("alice@example.org"));
        task->SetMailSubject(QStringLiteral("Backup finished"));
        task->SetComment(QStringLiteral("Copies the documents to the backup disk."));
        AddWeekly(task);
        task->Save();
        task->Activate();
        failures += Shoot(task, out, QStringLiteral("props"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        ++failures;
    }
    try {
        // The same dialog on a platform that offers only the older generation.
        OsVersion::ScopedOverride classic(OsVersion(5, 1));
        TTaskScheduler scheduler;
        scheduler.Open();
        TTaskItem* task = scheduler.CreateNewItem(QStringLiteral("Clean temporary files"));
        task->SetApplicationName(QStringLiteral("/usr/bin/find"));
        task->SetParameters(QStringLiteral("/tmp -mtime +7 -delete"));
        task->SetWorkingDirectory(QStringLiteral("/tmp"));
        task->SetCreator(QStringLiteral("alice"));
        task->SetComment(QStringLiteral("Removes files older than a week."));
        task->SetFlags(TTaskFlags{tfStartOnlyIfIdle, tfDontStartIfOnBatteries});
        task->SetIdleTime(TIdleTime{10, 60});
        AddWeekly(task);
        task->Save();
        failures += Shoot(task, out, QStringLiteral("props-classic"));
        task->Deactivate(false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
