#include "TDemoTasks.h"

#include "UserAccount.h"
#include "kvTask.h"

#include <QDateTime>
#include <QStandardPaths>
#include <cstring>
#include <ctime>

namespace {

/// The milliseconds since the system started, as the signed 32-bit number the platform's
/// tick count gives (it wraps after 24.8 days).
qint32 TickCount()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const qint64 ms = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return static_cast<qint32>(static_cast<quint32>(ms));
}

TRIGGER_TYPE_UNION DailyEvery(WORD days)
{
    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    details.Daily.DaysInterval = days;
    return details;
}

} // namespace

TTaskItem* TDemoTasks::NewTask(const QString& AProgram)
{
    TTaskItem* task = FScheduler->CreateNewItem(QStringLiteral("New task %1").arg(TickCount()));
    task->SetCurrentAction(1);
    task->InsertAction(0);
    task->SetApplicationName(AProgram);
    return task;
}

void TDemoTasks::SetAccount(TTaskItem* ATask)
{
    if (FScheduler->RunningVistaOrLater()) {
        TTaskVistaFlags flags = ATask->GetVistaFlags();
        ATask->SetVistaFlags(flags.Include(tfvNeedLogon));
    } else {
        TTaskFlags flags = ATask->GetFlags();
        ATask->SetFlags(flags.Include(tfRunOnlyIfLoggedOn));
    }
    ATask->SetAccountInformation(UserAccount::CurrentLogonName(), QString(), QString());
}

TTaskItem* TDemoTasks::EveryTenMinutes(const QString& AProgram)
{
    TTaskItem* task = NewTask(AProgram);
    task->GetTriggers()->Add(ttDaily);
    TTrigger* trigger = task->GetTriggers()->GetItem(0);
    const TDateTime now = QDateTimeToDateTime(QDateTime::currentDateTime());
    const TDateTime today = EncodeDateTime(QDate::currentDate(), QTime(0, 0));
    trigger->SetStartTime((now * 24 + 1) / 24);
    trigger->SetBeginDate(today);
    trigger->SetEndDate(today + 30);
    trigger->SetHasEndDate(false);
    trigger->SetDetails(DailyEvery(1));
    trigger->SetDuration(1440);
    trigger->SetInterval(10);
    task->GetTriggers()->UpdateTriggers();
    SetAccount(task);
    task->Save();
    return task;
}

QString TDemoTasks::TextEditorProgram()
{
    // There is no notepad.exe on this system; the demo keeps its point, a daily start of
    // the text editor, with an editor that is actually installed.
    for (const char* editor : {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma", "featherpad", "leafpad"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(editor));
        if (!path.isEmpty()) return path;
    }
    return QStringLiteral("notepad.exe");
}

TTaskItem* TDemoTasks::DailyTextEditor()
{
    TTaskItem* task = NewTask(TextEditorProgram());
    task->GetTriggers()->Add(ttDaily);
    TTrigger* trigger = task->GetTriggers()->GetItem(0);
    const QDate today = QDate::currentDate();
    trigger->SetStartTime(EncodeDateTime(today, QTime(9, 0)));
    trigger->SetBeginDate(EncodeDateTime(today, QTime(0, 0)));
    trigger->SetEndDate(EncodeDateTime(today.addDays(30), QTime(0, 0)));
    trigger->SetHasEndDate(true);
    trigger->SetDetails(DailyEvery(1));
    task->GetTriggers()->UpdateTriggers();
    SetAccount(task);
    task->Save();
    return task;
}
