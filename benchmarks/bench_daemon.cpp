// The service process with many tasks: how long taskschedd takes to start, what it costs
// while nothing is due, how late a due task's program starts, and how much memory it holds.
// The lateness comes with its floor, measured in the same run under the same load: the same
// shell command started directly by this program at a known instant. The daemon hands such a
// start to its supervisor a moment ahead, so the lateness is the supervisor's own wake-up and
// the program's start, as the floor's.
// Usage:
//   bench_daemon [tasks] [idle-seconds] [late-starts] [root]
// Defaults: 10,000 tasks, 60 idle seconds, 5 timed starts. The tasks live in a fresh
// temporary root, filled through the in-process service, removed afterwards; or in `root`,
// filled on the first run and used as it is by later ones (its tasks start two days after
// the first run).

#include "ServiceCalls.h"
#include "DaemonLauncher.h"
#include "DaemonProtocol.h"
#include "LocalSocketTransport.h"
#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "TaskService2.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

void Register(ITaskService* service, ITaskFolder* folder, const QString& name, const QString& start, int trigger,
              const QString& program, const QString& arguments)
{
    ComPtr<ITaskDefinition> def;
    Check(service->NewTask(0, def.Put()), "NewTask");
    ComPtr<ITriggerCollection> triggers;
    def->get_Triggers(triggers.Put());
    ComPtr<ITrigger> t;
    Check(triggers->Create(TASK_TRIGGER_TYPE2(trigger), t.Put()), "Create trigger");
    t->put_StartBoundary(start);
    if (trigger == TASK_TRIGGER_WEEKLY) Cast<IWeeklyTrigger>(t)->put_DaysOfWeek(TASK_MONDAY | TASK_THURSDAY);
    if (trigger == TASK_TRIGGER_MONTHLY) {
        Cast<IMonthlyTrigger>(t)->put_DaysOfMonth(1 << 14);
        Cast<IMonthlyTrigger>(t)->put_MonthsOfYear(0xFFF);
    }
    ComPtr<IActionCollection> actions;
    def->get_Actions(actions.Put());
    ComPtr<IAction> action;
    actions->Create(TASK_ACTION_EXEC, action.Put());
    Cast<IExecAction>(action)->put_Path(program);
    Cast<IExecAction>(action)->put_Arguments(arguments);
    ComPtr<IRegisteredTask> task;
    Check(folder->RegisterTaskDefinition(name, def.Get(), TASK_CREATE_OR_UPDATE, VARIANT::Empty(), VARIANT::Empty(),
                                         TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put()),
          "RegisterTaskDefinition");
}

struct ProcessFigures {
    double cpuMs = 0;
    long rssKiB = 0;
    long peakKiB = 0;
    long wakeups = 0;   // context switches of all its threads
};

ProcessFigures Measure(pid_t pid)
{
    ProcessFigures f;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
        if (fields.size() > 13) f.cpuMs = (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() < 2) continue;
            if (parts[0] == "VmRSS:") f.rssKiB = parts[1].toLong();
            if (parts[0] == "VmHWM:") f.peakKiB = parts[1].toLong();
        }
    }
    for (const QString& thread : QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile s(QStringLiteral("/proc/%1/task/%2/status").arg(pid).arg(thread));
        if (!s.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : s.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                f.wakeups += line.mid(line.indexOf(':') + 1).trimmed().toLong();
        }
    }
    return f;
}

/// The milliseconds from `dueMs` (on the wall clock) to the time the program that wrote `file`
/// began, as `date +%s%N` wrote it; nothing while the file has none.
std::optional<double> DelayFromFile(const QString& file, qint64 dueMs)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() == 0) return std::nullopt;
    return f.readAll().trimmed().toDouble() / 1e6 - double(dueMs);
}

/// The floor of a due start: the shell command the task runs, started by this process itself
/// with posix_spawn at a moment it sleeps until on the wall clock, as the daemon sleeps until
/// a start on its timer. Nothing when it did not run.
std::optional<double> DirectStart(const QString& out)
{
    QFile::remove(out);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // 200 ms ahead, at a whole millisecond: the same rounding the start times of tasks have.
    const qint64 dueMs = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 200;
    const timespec due{time_t(dueMs / 1000), long(dueMs % 1000) * 1000000L};
    while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &due, nullptr) == EINTR) {}
    const QByteArray command = "date +%s%N > '" + QFile::encodeName(out) + "'";
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command.constData()), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "sh", nullptr, nullptr, argv, environ) != 0) return std::nullopt;
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    return DelayFromFile(out, dueMs);
}

/// "median M ms, min N ms, max X ms" of `values`, sorted in place. The least shows whether a
/// program ever started before its time (a negative figure), which a start prepared ahead of
/// its time must never do.
QByteArray Summary(QList<double>& values)
{
    std::sort(values.begin(), values.end());
    return QByteArray("median ") + QByteArray::number(values[values.size() / 2], 'f', 1) + " ms, min "
           + QByteArray::number(values.first(), 'f', 1) + " ms, max " + QByteArray::number(values.last(), 'f', 1) + " ms";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int taskCount = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int lateStarts = argc > 3 ? std::atoi(argv[3]) : 5;
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    const QString rootPath = argc > 4 ? QString::fromLocal8Bit(argv[4]) : dir.path();
    const bool filled = argc > 4 && QDir(rootPath + QStringLiteral("/tasks")).exists();
    qputenv("TASKSCHEDULER_HOME", rootPath.toLocal8Bit());
    CoInitialize(nullptr);

    // Fill the store without a daemon. None of the tasks is due during the measurement: they
    // start at 03:17 on days that lie ahead, in daily, weekly and monthly schedules.
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    QElapsedTimer timer;
    timer.start();
    if (!filled) {
        ComPtr<ITaskService> service = Connect();
        ComPtr<ITaskFolder> root;
        Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
        const QDateTime first(QDate::currentDate().addDays(2), QTime(3, 17));
        const int perFolder = 100;
        for (int f = 0; f * perFolder < taskCount; ++f) {
            ComPtr<ITaskFolder> folder;
            Check(root->CreateFolder(QStringLiteral("Folder %1").arg(f), VARIANT::Empty(), folder.Put()), "CreateFolder");
            for (int t = 0; t < perFolder && f * perFolder + t < taskCount; ++t) {
                const int kind = (t % 3 == 0) ? TASK_TRIGGER_DAILY : (t % 3 == 1) ? TASK_TRIGGER_WEEKLY : TASK_TRIGGER_MONTHLY;
                Register(service.Get(), folder.Get(), QStringLiteral("Task %1").arg(t),
                         first.addDays(t % 7).toString(Qt::ISODate), kind, QStringLiteral("/bin/true"), QString());
            }
        }
    }
    if (!filled) std::printf("registered %d tasks in %.1f s\n", taskCount, timer.elapsed() / 1000.0);
    qunsetenv("TASKSCHEDULER_TRANSPORT");

    // Start-up: from launching the program to its first answer.
    timer.restart();
    QString error;
    if (!DaemonLauncher::Launch(rootPath, &error)) {
        std::fprintf(stderr, "cannot start taskschedd: %s\n", qPrintable(error));
        return 1;
    }
    LocalSocketTransport transport(rootPath);
    if (!transport.Connect(60000)) {
        std::fprintf(stderr, "taskschedd did not answer\n");
        return 1;
    }
    const QCborMap pong = transport.Call(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}});
    const qint64 startMs = timer.elapsed();
    const pid_t pid = pid_t(pong.value(DaemonProtocol::Key::Pid).toInteger());
    if (pid <= 0) {
        std::fprintf(stderr, "no process id in the daemon's answer\n");
        return 1;
    }
    std::printf("start-up with %d tasks: %lld ms to the first answer\n", taskCount, static_cast<long long>(startMs));
    QThread::msleep(1000);   // let whatever follows the first answer settle
    const ProcessFigures started = Measure(pid);
    std::printf("after start-up: %.0f ms processor time, resident %ld KiB (peak %ld KiB)\n", started.cpuMs, started.rssKiB,
                started.peakKiB);

    // Idle: nothing is due, so the daemon should not wake at all.
    QThread::sleep(static_cast<unsigned long>(idleSeconds));
    const ProcessFigures idle = Measure(pid);
    std::printf("idle %d s: %.0f ms processor time, %ld context switches\n", idleSeconds, idle.cpuMs - started.cpuMs,
                idle.wakeups - started.wakeups);

    // Lateness: a task whose one start lies a little ahead, at a whole second, writes the time
    // its program began; the difference to the start time is the delay.
    QList<double> delays, floor;
    {
        ComPtr<ITaskService> service = Connect();
        ComPtr<ITaskFolder> root;
        Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
        for (int i = 0; i < lateStarts; ++i) {
            QDateTime at = QDateTime::currentDateTime().addSecs(2);
            at.setTime(QTime(at.time().hour(), at.time().minute(), at.time().second()));
            const QString out = rootPath + QStringLiteral("/late-%1.txt").arg(i);
            // A reused root still holds what the last run's programs wrote.
            QFile::remove(out);
            Register(service.Get(), root.Get(), QStringLiteral("Late %1").arg(i), at.toString(Qt::ISODate), TASK_TRIGGER_TIME,
                     QStringLiteral("sh"), QStringLiteral("-c \"date +%s%N > '%1'\"").arg(out));
            QElapsedTimer wait;
            wait.start();
            std::optional<double> delay;
            while (!(delay = DelayFromFile(out, at.toMSecsSinceEpoch())) && wait.elapsed() < 10000) QThread::msleep(20);
            if (delay) delays.append(*delay);
            // Each timed start is followed by its floor, so that both see the same load.
            QThread::msleep(100);   // past whatever the daemon does after the program's end
            if (const auto direct = DirectStart(rootPath + QStringLiteral("/direct-%1.txt").arg(i))) floor.append(*direct);
        }
    }
    if (!delays.isEmpty()) {
        std::printf("due start to program start (%lld runs, including the shell's own start): %s\n",
                    static_cast<long long>(delays.size()), Summary(delays).constData());
    }
    if (!floor.isEmpty()) {
        std::printf("floor: the same command started directly at a known instant (%lld runs): %s\n",
                    static_cast<long long>(floor.size()), Summary(floor).constData());
    }
    const ProcessFigures end = Measure(pid);
    std::printf("at the end: resident %ld KiB (peak %ld KiB)\n", end.rssKiB, end.peakKiB);

    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) QThread::msleep(50);
    CoUninitialize();
    return 0;
}
