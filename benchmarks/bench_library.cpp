// The component library over one folder of many tasks, through the service process: a fresh
// scheduler refreshes its list, then every item is activated and its trigger text and next
// run time are read, as a window filling its rows does. First right after the service's
// start, then again (best of several) with a fresh scheduler each time while the service is
// warm. Prints the times and the memory this process holds for the list; asserts nothing.
// Usage:
//   bench_library [tasks] [root]
// Default: 10,000 tasks in the root folder of a fresh temporary root that is removed
// afterwards, or of `root`, which is filled on the first run and only listed on later ones.
// The tasks are registered by a child process, so that this one holds only what the library
// holds. The service process started here is ended here.

#include "BestTiming.h"
#include "DaemonHarness.h"
#include "ServiceCalls.h"
#include "kvTask.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long PeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// The resident memory of this process now, in KiB.
long ResidentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

/// The resident pages of this process that map files (the code and data of its libraries),
/// in KiB: a list read for the first time touches code no earlier step ran.
long ResidentFileKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("RssFile:")) return line.mid(8).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

/// The free room the allocator keeps in its heap, in KiB.
long FreeHeapKiB()
{
    const struct mallinfo2 info = mallinfo2();
    return long(info.fordblks / 1024);
}

/// The bytes the allocator hands out now, in KiB: what the objects take, without the room
/// freed blocks leave in the process (which the resident figure includes).
long HeapKiB()
{
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

/// Registers `count` tasks in the root folder straight into the store: one trigger each, of
/// the four calendar kinds in turn, and one program action.
void RegisterTasks(int count)
{
    ComPtr<ITaskService> service = Connect();
    ComPtr<ITaskFolder> root;
    Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
    for (int t = 0; t < count; ++t) {
        ComPtr<ITaskDefinition> def;
        Check(service->NewTask(0, def.Put()), "NewTask");
        ComPtr<IRegistrationInfo> info;
        def->get_RegistrationInfo(info.Put());
        info->put_Description(QStringLiteral("Benchmark task %1").arg(t));
        info->put_Author(QStringLiteral("bench"));
        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        ComPtr<ITrigger> trigger;
        const TASK_TRIGGER_TYPE2 kinds[] = {TASK_TRIGGER_DAILY, TASK_TRIGGER_WEEKLY, TASK_TRIGGER_MONTHLY, TASK_TRIGGER_TIME};
        const TASK_TRIGGER_TYPE2 kind = kinds[t % 4];
        Check(triggers->Create(kind, trigger.Put()), "Create trigger");
        trigger->put_StartBoundary(QStringLiteral("2030-03-15T09:%1:00").arg(t % 60, 2, 10, QLatin1Char('0')));
        if (kind == TASK_TRIGGER_WEEKLY) Cast<IWeeklyTrigger>(trigger)->put_DaysOfWeek(SHORT(0x2A));
        if (kind == TASK_TRIGGER_MONTHLY) {
            Cast<IMonthlyTrigger>(trigger)->put_DaysOfMonth(LONG(0x4001));
            Cast<IMonthlyTrigger>(trigger)->put_MonthsOfYear(SHORT(0xFFF));
        }
        ComPtr<IActionCollection> actions;
        def->get_Actions(actions.Put());
        ComPtr<IAction> action;
        actions->Create(TASK_ACTION_EXEC, action.Put());
        Cast<IExecAction>(action)->put_Path(QStringLiteral("/usr/bin/true"));
        Cast<IExecAction>(action)->put_Arguments(QStringLiteral("--task %1").arg(t));
        ComPtr<IRegisteredTask> task;
        Check(root->RegisterTaskDefinition(QStringLiteral("Task %1").arg(t, 5, 10, QLatin1Char('0')), def.Get(), TASK_CREATE,
                                           VARIANT::Empty(), VARIANT::Empty(), TASK_LOGON_INTERACTIVE_TOKEN,
                                           VARIANT::Empty(), task.Put()),
              "RegisterTaskDefinition");
    }
}

/// Fills the store of `rootPath` in a child process, which ends when it is done.
bool FillInChild(int argc, char** argv, const QString& rootPath, int count)
{
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        QCoreApplication app(argc, argv);
        qputenv("TASKSCHEDULER_HOME", rootPath.toLocal8Bit());
        qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
        CoInitialize(nullptr);
        RegisterTasks(count);
        CoUninitialize();
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/// What one pass over the list read.
struct Pass {
    double refreshMs = 0;
    double readMs = 0;
    int items = 0;
    int scheduled = 0;
};

/// A fresh scheduler lists the root folder, then reads every item as a list row would.
/// `AKeep` receives the scheduler, so that the memory it holds can be measured.
Pass ListAndRead(std::unique_ptr<TTaskScheduler>* AKeep = nullptr)
{
    Pass pass;
    auto scheduler = std::make_unique<TTaskScheduler>();
    scheduler->Open();
    scheduler->CurrentFolderPath = QStringLiteral("\\");
    QElapsedTimer timer;
    timer.start();
    scheduler->Refresh();
    pass.refreshMs = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    pass.items = scheduler->GetCount();
    for (int i = 0; i < pass.items; ++i) {
        TTaskItem* item = scheduler->GetItem(i);
        item->Activate();
        const QString text = item->GetTriggerString();
        if (item->GetNextRunTime() > 1.0 && !text.isEmpty()) ++pass.scheduled;
    }
    pass.readMs = double(timer.nsecsElapsed()) / 1e6;
    if (AKeep) *AKeep = std::move(scheduler);
    return pass;
}

} // namespace

int main(int argc, char** argv)
{
    const int tasks = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    const QString rootPath = argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.path();
    const bool filled = argc > 2 && QDir(rootPath + QStringLiteral("/tasks")).exists();
    QElapsedTimer timer;
    timer.start();
    if (!filled && !FillInChild(argc, argv, rootPath, tasks)) {
        std::fprintf(stderr, "registering the tasks failed\n");
        return 1;
    }
    const qint64 registerMs = timer.elapsed();

    QCoreApplication app(argc, argv);
    qputenv("TASKSCHEDULER_HOME", rootPath.toLocal8Bit());
    qunsetenv("TASKSCHEDULER_TRANSPORT");
    DaemonHarness daemon(rootPath);
    if (!daemon.Start()) {
        std::fprintf(stderr, "the service process did not start\n");
        return 1;
    }

    const long beforeKiB = ResidentKiB();
    const long heapBeforeKiB = HeapKiB();
    const long fileBeforeKiB = ResidentFileKiB();
    const long freeBeforeKiB = FreeHeapKiB();
    std::unique_ptr<TTaskScheduler> kept;
    const Pass first = ListAndRead(&kept);
    const long heldKiB = ResidentKiB() - beforeKiB;
    const long heapHeldKiB = HeapKiB() - heapBeforeKiB;
    const long fileHeldKiB = ResidentFileKiB() - fileBeforeKiB;
    const long freeHeldKiB = FreeHeapKiB() - freeBeforeKiB;
    kept.reset();

    Pass best;
    best.refreshMs = best.readMs = 1e300;
    double bestTotal = 1e300;
    for (int i = 0; i < TimingRepeats; ++i) {
        const Pass pass = ListAndRead();
        best.refreshMs = std::min(best.refreshMs, pass.refreshMs);
        best.readMs = std::min(best.readMs, pass.readMs);
        bestTotal = std::min(bestTotal, pass.refreshMs + pass.readMs);
        best.items = pass.items;
        best.scheduled = pass.scheduled;
    }
    daemon.Stop();

    std::printf("tasks: %d in one folder, items listed: %d, with a trigger text and a next run: %d\n", tasks, best.items,
                best.scheduled);
    if (!filled) std::printf("registered in a child process: %lld ms\n", registerMs);
    std::printf("first after the service's start: refresh %.1f ms, then read %.1f ms, in all %.1f ms\n", first.refreshMs,
                first.readMs, first.refreshMs + first.readMs);
    std::printf("fresh scheduler, warm service (best of %d): refresh %.1f ms, read %.1f ms, in all %.1f ms\n",
                TimingRepeats, best.refreshMs, best.readMs, bestTotal);
    std::printf("memory held by the refreshed and read list: %ld KiB; peak memory of this process: %ld KiB\n", heldKiB,
                PeakKiB());
    std::printf("of which allocated and in use: %ld KiB; pages of files (code, data) touched: %ld KiB; free room in the heap: %ld KiB\n",
                heapHeldKiB, fileHeldKiB, freeHeldKiB);
    return best.items == tasks && first.items == tasks ? 0 : 1;
}
