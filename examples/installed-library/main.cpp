// run-one-task MARK-FILE: registers a task that creates MARK-FILE, has the service run it now,
// waits until it ran and ended well, and deletes the task again. The service is the one of
// $TASKSCHEDULER_HOME, started when it does not run: the taskschedd installed with the library,
// else the one on PATH. Exit status 0 when all of it worked, 1 with the reason otherwise.

#include "ResultCodes.h"
#include "kvTask.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <cstdio>
#include <functional>

namespace {

const QString kTaskName = QStringLiteral("Example from outside");

bool WaitFor(const std::function<bool()>& done, int seconds)
{
    const QDeadlineTimer deadline(seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(50);
    }
    return true;
}

int Fail(const QString& reason)
{
    std::fprintf(stderr, "run-one-task: %s\n", qPrintable(reason));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) return Fail(QStringLiteral("usage: run-one-task MARK-FILE"));
    const QString mark = QFile::decodeName(argv[1]);
    try {
        TTaskScheduler scheduler;
        scheduler.Open();
        scheduler.SetVistaSelectedFolder(scheduler.VistaRootFolder().Get());
        TTaskItem* item = scheduler.CreateNewItem(kTaskName);
        item->SetApplicationName(QStringLiteral("/usr/bin/touch"));
        item->SetParameters(mark);
        item->Save();

        scheduler.Refresh();
        TTaskItem* listed = scheduler.ActivateTask(kTaskName);
        if (!listed) return Fail(QStringLiteral("the saved task is not listed"));
        listed->Activate();
        listed->Run();
        listed->Deactivate(false);
        if (!WaitFor([&] { return QFile::exists(mark); }, 30)) return Fail(QStringLiteral("the task did not run"));

        TTaskItem* ended = nullptr;
        const bool stopped = WaitFor([&] {
            scheduler.Refresh();
            ended = scheduler.ActivateTask(kTaskName);
            // Until its end is recorded, the last result of a task that was started is "running".
            return ended && ended->GetStatus() != tsRunning && ended->GetExitCode() != quint32(SCHED_S_TASK_RUNNING);
        }, 30);
        if (!stopped) return Fail(QStringLiteral("the task did not end"));
        if (ended->GetExitCode() != 0) return Fail(QStringLiteral("the task ended with %1").arg(ended->GetExitCode()));
        scheduler.DeleteTask(kTaskName);
    } catch (const Exception& e) {
        return Fail(e.Message());
    }
    std::puts("run-one-task: the task ran and ended with 0");
    return 0;
}
