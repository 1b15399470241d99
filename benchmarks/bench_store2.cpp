// Registers 10,000 tasks in 100 folders straight into the store, starts the service process
// on it, and lists every folder with the definition of every task through it: first right
// after the service's start, then again (best of several) with a fresh connection each time
// while the service is warm. Prints the times and the peak memory of this process. Usage:
//   bench_store2 [folders] [tasks-per-folder] [root]
// The store lives in a fresh temporary root that is removed afterwards, or in `root`,
// which is filled on the first run and only listed on later ones. The service process
// started here is ended here.

#include "BestTiming.h"
#include "DaemonHarness.h"
#include "ServiceCalls.h"
#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "TaskService2.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Processor time of this process so far, in milliseconds: the cost of the work itself,
// whatever else the machine is busy with.
double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long PeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int folders = argc > 1 ? std::atoi(argv[1]) : 100;
    const int perFolder = argc > 2 ? std::atoi(argv[2]) : 100;
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    const QString rootPath = argc > 3 ? QString::fromLocal8Bit(argv[3]) : dir.path();
    const bool filled = argc > 3 && QDir(rootPath + QStringLiteral("/tasks")).exists();
    qputenv("TASKSCHEDULER_HOME", rootPath.toLocal8Bit());
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    CoInitialize(nullptr);

    QElapsedTimer timer;
    timer.start();
    if (!filled) {
        ComPtr<ITaskService> service = Connect();
        ComPtr<ITaskFolder> root;
        Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
        for (int f = 0; f < folders; ++f) {
            ComPtr<ITaskFolder> folder;
            Check(root->CreateFolder(QStringLiteral("Folder %1").arg(f), VARIANT::Empty(), folder.Put()), "CreateFolder");
            for (int t = 0; t < perFolder; ++t) {
                ComPtr<ITaskDefinition> def;
                Check(service->NewTask(0, def.Put()), "NewTask");
                ComPtr<IRegistrationInfo> info;
                def->get_RegistrationInfo(info.Put());
                info->put_Description(QStringLiteral("Benchmark task %1 of folder %2").arg(t).arg(f));
                info->put_Author(QStringLiteral("bench"));
                ComPtr<ITriggerCollection> triggers;
                def->get_Triggers(triggers.Put());
                ComPtr<ITrigger> trigger;
                triggers->Create(TASK_TRIGGER_DAILY, trigger.Put());
                trigger->put_StartBoundary(QStringLiteral("2024-03-15T09:%1:00").arg(t % 60, 2, 10, QLatin1Char('0')));
                ComPtr<IActionCollection> actions;
                def->get_Actions(actions.Put());
                ComPtr<IAction> action;
                actions->Create(TASK_ACTION_EXEC, action.Put());
                ComPtr<IExecAction> exec;
                action.As(exec);
                exec->put_Path(QStringLiteral("/usr/bin/true"));
                exec->put_Arguments(QStringLiteral("--task %1").arg(t));
                ComPtr<IRegisteredTask> task;
                Check(folder->RegisterTaskDefinition(QStringLiteral("Task %1").arg(t), def.Get(), TASK_CREATE, VARIANT::Empty(),
                                                     VARIANT::Empty(), TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put()),
                      "RegisterTaskDefinition");
            }
        }
    }
    const qint64 registerMs = timer.elapsed();
    const long afterRegisterKiB = PeakKiB();

    // Listed through the service process of the root, as an application lists.
    qunsetenv("TASKSCHEDULER_TRANSPORT");
    DaemonHarness daemon(rootPath);
    timer.restart();
    if (!daemon.Start()) {
        std::fprintf(stderr, "the service process did not start\n");
        return 1;
    }
    const qint64 daemonStartMs = timer.elapsed();

    long listed = 0;
    const auto listAll = [&] {
        listed = 0;
        ComPtr<ITaskService> service = Connect();
        for (int f = 0; f < folders; ++f) {
            ComPtr<ITaskFolder> folder;
            Check(service->GetFolder(QStringLiteral("\\Folder %1").arg(f), folder.Put()), "GetFolder");
            ComPtr<IRegisteredTaskCollection> tasks;
            Check(folder->GetTasks(TASK_ENUM_HIDDEN, tasks.Put()), "GetTasks");
            LONG count = 0;
            tasks->get_Count(&count);
            for (LONG i = 1; i <= count; ++i) {
                ComPtr<IRegisteredTask> task;
                Check(tasks->get_Item(VARIANT::I4(i), task.Put()), "get_Item");
                ComPtr<ITaskDefinition> def;
                Check(task->get_Definition(def.Put()), "get_Definition");
                ComPtr<IRegistrationInfo> info;
                def->get_RegistrationInfo(info.Put());
                QString description;
                info->get_Description(&description);
                if (!description.isEmpty()) ++listed;
            }
        }
    };
    timer.restart();
    listAll();
    const qint64 firstMs = timer.elapsed();
    const long firstListed = listed;
    const double cpuBefore = CpuMs();
    const double warm = Best(listAll);
    const double listCpuMs = (CpuMs() - cpuBefore) / TimingRepeats;
    daemon.Stop();
    CoUninitialize();

    std::printf("folders: %d, tasks per folder: %d, tasks listed with definitions: %ld\n", folders, perFolder, listed);
    if (!filled)
        std::printf("register in process: %lld ms (%.2f ms per task, crash-safe writes)\n", registerMs,
                    double(registerMs) / std::max(1, folders * perFolder));
    std::printf("service process start to first answer: %lld ms\n", daemonStartMs);
    std::printf("list all with definitions, first after the service's start: %lld ms\n", firstMs);
    std::printf("list all with definitions, fresh connection, warm service (best of %d): %.1f ms (%.0f ms of this process's processor time)\n",
                TimingRepeats, warm * 1e3, listCpuMs);
    std::printf("peak memory of this process: %ld KiB after registering, %ld KiB at the end\n", afterRegisterKiB, PeakKiB());
    const long expected = long(folders) * perFolder;
    return listed == expected && firstListed == expected ? 0 : 1;
}
