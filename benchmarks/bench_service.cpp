// The service's answers at the size of one call: run times listed through the service against
// the engine alone, registering a task through the daemon, and run-now throughput. Prints its
// figures; asserts nothing. Usage:
//   bench_service [tasks-to-register] [runs] [root]
// Defaults: 200 registrations, 300 runs. The root is a fresh temporary one, removed afterwards;
// a root that is given is used as it is, with the daemon already serving it if there is one
// (started by hand under a profiler, say).

#include "ServiceCalls.h"
#include "BestTiming.h"
#include "DaemonLauncher.h"
#include "DaemonProtocol.h"
#include "run/InstanceDescription.h"
#include "LocalSocketTransport.h"
#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "ScheduleEngine.h"
#include "gen2/ScheduledRuns.h"
#include "TaskService2.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {


// A task that starts at midnight and repeats every minute, running `program` in parallel instances.
ComPtr<IRegisteredTask> Register(ITaskService* service, ITaskFolder* folder, const QString& name, const QString& program)
{
    ComPtr<ITaskDefinition> def;
    Check(service->NewTask(0, def.Put()), "NewTask");
    ComPtr<ITaskSettings> settings;
    def->get_Settings(settings.Put());
    settings->put_MultipleInstances(TASK_INSTANCES_PARALLEL);
    ComPtr<ITriggerCollection> triggers;
    def->get_Triggers(triggers.Put());
    ComPtr<ITrigger> trigger;
    Check(triggers->Create(TASK_TRIGGER_DAILY, trigger.Put()), "Create trigger");
    trigger->put_StartBoundary(QStringLiteral("2025-01-01T00:00:00"));
    ComPtr<IRepetitionPattern> repetition;
    trigger->get_Repetition(repetition.Put());
    repetition->put_Interval(QStringLiteral("PT1M"));
    ComPtr<IActionCollection> actions;
    def->get_Actions(actions.Put());
    ComPtr<IAction> action;
    actions->Create(TASK_ACTION_EXEC, action.Put());
    Cast<IExecAction>(action)->put_Path(program);
    ComPtr<IRegisteredTask> task;
    Check(folder->RegisterTaskDefinition(name, def.Get(), TASK_CREATE_OR_UPDATE, VARIANT::Empty(), VARIANT::Empty(),
                                         TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put()),
          "RegisterTaskDefinition");
    return task;
}

// Run times of one task for a year and more, through the service, and the engine's own time
// for the same runs in the same process.
void RunTimes(const char* through)
{
    ComPtr<ITaskService> service = Connect();
    ComPtr<ITaskFolder> root;
    Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
    const ComPtr<IRegisteredTask> task = Register(service.Get(), root.Get(), QStringLiteral("Every minute"), QStringLiteral("/bin/true"));
    const SYSTEMTIME start{2025, 3, 0, 1, 0, 0, 0, 0};
    DWORD count = 0;
    const double seconds = Best([&] {
        QList<SYSTEMTIME> times;
        count = 65535;
        Check(task->GetRunTimes(&start, nullptr, &count, &times), "GetRunTimes");
    });
    std::printf("run times through the service (%s): %u runs, %.1f ns per run\n", through, count, seconds * 1e9 / count);
}

// The processor time (user and system) process `pid` has used so far, from /proc.
std::optional<double> ProcessorSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray text = stat.readAll();
    // The fields after the command's closing parenthesis: utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return std::nullopt;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

double OwnProcessorSeconds()
{
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
}

// The wall clock in nanoseconds, the clock `date +%s%N` prints.
qint64 RealtimeNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// From starting the supervisor of one instance to its program's start, the program being
// `date +%s%N` that writes when it began; and the same program started directly, the floor.
void SupervisorLatency(const QString& rootPath, int starts)
{
    const QString exec = QFileInfo(DaemonLauncher::FindProgram()).absolutePath() + QStringLiteral("/taskschedd-exec");
    const QString dir = rootPath + QStringLiteral("/bench-instances");
    QDir().mkpath(dir);
    InstanceDescription d;
    d.id = QStringLiteral("bench");
    d.task = QStringLiteral("\\Bench");
    d.start = QDateTime::currentDateTime();
    d.cause = QStringLiteral("demand");
    d.steps = {ExecStep{QStringLiteral("date"), {QStringLiteral("+%s%N")}, dir}};
    d.user = QString::fromLocal8Bit(qgetenv("USER"));
    d.uid = ::geteuid();
    d.gid = ::getegid();
    d.environment = {QStringLiteral("PATH=/usr/bin:/bin")};
    d.logFile = dir + QStringLiteral("/out.log");
    QFile file(InstanceFiles::DescriptionFile(dir, d.id));
    if (!file.open(QIODevice::WriteOnly) || file.write(InstanceFiles::EncodeDescription(d)) < 0) return;
    file.close();
    const auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v.isEmpty() ? 0.0 : v[v.size() / 2];
    };
    const auto startedAt = [&](qint64 beforeNs) -> std::optional<double> {
        QFile log(d.logFile);
        if (!log.open(QIODevice::ReadOnly)) return std::nullopt;
        for (const QByteArray& line : log.readAll().split('\n')) {
            bool ok = false;
            const qint64 at = line.toLongLong(&ok);
            if (ok) return double(at - beforeNs) / 1e6;
        }
        return std::nullopt;
    };
    // As the daemon starts an instance: its launcher, started once, has a supervisor forked
    // and waiting, which is handed the instance file and answers its process id.
    QList<double> launched;
    const QByteArray program = QFile::encodeName(exec);
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    QByteArray launcherArgument("--launcher"), placeholder(4096, '.');
    char* argv[] = {const_cast<char*>(program.constData()), launcherArgument.data(), placeholder.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    pid_t launcher = 0;
    const int rc = posix_spawn(&launcher, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (rc != 0) return;
    for (int i = 0; i < starts; ++i) {
        // Its next supervisor is forked and has settled (which it does 50 ms after its fork),
        // as the daemon's has before a start that is not one of a burst.
        QThread::msleep(100);
        QFile::remove(d.logFile);
        const QByteArray line = QFile::encodeName(file.fileName()) + '\n';
        const qint64 beforeNs = RealtimeNs();
        QByteArray answer;
        if (::send(ends[0], line.constData(), size_t(line.size()), MSG_NOSIGNAL) != line.size()) break;
        char buffer[32];
        ssize_t got = 0;
        while (!answer.endsWith('\n') && (got = ::recv(ends[0], buffer, sizeof buffer, 0)) > 0) answer.append(buffer, got);
        const pid_t supervisor = pid_t(answer.trimmed().toLong());
        if (supervisor <= 0) break;
        // Not our child: watched until it is gone.
        const int fd = int(::syscall(SYS_pidfd_open, supervisor, 0));
        if (fd >= 0) {
            pollfd gone{fd, POLLIN, 0};
            ::poll(&gone, 1, 10000);
            ::close(fd);
        }
        if (const auto ms = startedAt(beforeNs)) launched << *ms;
    }
    ::close(ends[0]);
    ::waitpid(launcher, nullptr, 0);
    QList<double> supervised, direct;
    for (int i = 0; i < starts; ++i) {
        QFile::remove(d.logFile);
        const qint64 beforeNs = RealtimeNs();
        if (QProcess::execute(exec, {file.fileName()}) != 0) return;
        if (const auto ms = startedAt(beforeNs)) supervised << *ms;
        QProcess date;
        const qint64 directBefore = RealtimeNs();
        date.start(QStringLiteral("date"), {QStringLiteral("+%s%N")});
        date.waitForFinished();
        direct << double(date.readAllStandardOutput().trimmed().toLongLong() - directBefore) / 1e6;
    }
    std::printf("supervisor start to program start (%d starts of date): median %.2f ms; the program started directly: median %.2f ms\n",
                starts, median(supervised), median(direct));
    std::printf("instance handed to the launcher's waiting supervisor to program start: median %.2f ms\n", median(launched));
}

// The floor of run-now throughput: `runs` starts of /bin/true made by this process itself, each
// left to run beside the next as the daemon leaves its instances, per second. The children are
// reaped after the clock stops, as a run-now does not wait for its program either.
double DirectStarts(int runs)
{
    QList<pid_t> started;
    started.reserve(runs);
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i) {
        pid_t child = 0;
        if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) == 0) started << child;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    for (const pid_t child : started)
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
    return double(started.size()) / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int registrations = argc > 1 ? std::atoi(argv[1]) : 200;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 300;
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    const QString rootPath = argc > 3 ? QString::fromLocal8Bit(argv[3]) : dir.path();
    qputenv("TASKSCHEDULER_HOME", rootPath.toLocal8Bit());
    CoInitialize(nullptr);
    std::printf("Service benchmark (best of %d where repeated)\n\n", TimingRepeats);

    // The engine alone, for the same runs as the service lists below.
    {
        const ScheduleEngine engine(ScheduleZone());
        const TriggerSchedule trigger =
            TriggerSchedule::Daily(LocalDateTime(QDate(2025, 1, 1), QTime(0, 0))).Repeating(60);
        const QDateTime from(QDate(2025, 3, 1), QTime(0, 0), ScheduleZone());
        qsizetype count = 0;
        const double seconds = Best([&] { count = engine.RunTimes(trigger, from, std::nullopt, 65535).size(); });
        std::printf("run times from the engine alone: %lld runs, %.1f ns per run\n", static_cast<long long>(count),
                    seconds * 1e9 / double(count));
    }
    SupervisorLatency(rootPath, 40);
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    RunTimes("in process");
    qunsetenv("TASKSCHEDULER_TRANSPORT");

    QString error;
    if (!DaemonLauncher::Launch(rootPath, &error)) {
        std::fprintf(stderr, "cannot start taskschedd: %s\n", qPrintable(error));
        return 1;
    }
    qint64 pid = 0;
    {
        LocalSocketTransport transport(rootPath);
        if (!transport.Connect(60000)) {
            std::fprintf(stderr, "taskschedd did not answer\n");
            return 1;
        }
        pid = transport.Call(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}}).value(DaemonProtocol::Key::Pid).toInteger();
    }
    RunTimes("through the daemon");

    {
        ComPtr<ITaskService> service = Connect();
        ComPtr<ITaskFolder> root, folder;
        Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
        Check(root->CreateFolder(QStringLiteral("Registered"), VARIANT::Empty(), folder.Put()), "CreateFolder");
        QList<double> ms;
        for (int i = 0; i < registrations; ++i) {
            QElapsedTimer timer;
            timer.start();
            Register(service.Get(), folder.Get(), QStringLiteral("Task %1").arg(i), QStringLiteral("/bin/true"));
            ms << double(timer.nsecsElapsed()) / 1e6;
        }
        std::sort(ms.begin(), ms.end());
        // With none asked for, nothing is timed; the daemon is still ended below.
        if (!ms.isEmpty())
            std::printf("register a task through the daemon (%d tasks): median %.2f ms, fastest %.2f ms\n", registrations,
                        ms[ms.size() / 2], ms.first());

        const ComPtr<IRegisteredTask> task = Register(service.Get(), root.Get(), QStringLiteral("Run now"), QStringLiteral("/bin/true"));
        const std::optional<double> daemonBefore = ProcessorSeconds(pid_t(pid));
        const double ownBefore = OwnProcessorSeconds();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < runs; ++i) {
            ComPtr<IRunningTask> running;
            Check(task->Run(VARIANT::Empty(), running.Put()), "Run");
        }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("run now, one after the other (%d runs of /bin/true): %.0f runs/s\n", runs, runs / seconds);
        // Processor time, which the others on a shared machine disturb less than the wall clock.
        // The daemon's is read after its last instances have ended and been recorded.
        const double own = OwnProcessorSeconds() - ownBefore;
        QThread::msleep(500);
        const std::optional<double> daemonAfter = ProcessorSeconds(pid_t(pid));
        if (runs > 0 && daemonBefore && daemonAfter)
            std::printf("run now, processor time per run: the daemon %.3f ms, this client %.3f ms\n",
                        (*daemonAfter - *daemonBefore) * 1e3 / runs, own * 1e3 / runs);
        if (runs > 0) std::printf("floor: /bin/true started directly, one after the other: %.0f runs/s\n", DirectStarts(runs));
    }

    if (pid > 0) {
        QThread::msleep(500);   // let the last instances end
        ::kill(pid_t(pid), SIGTERM);
        for (int i = 0; i < 100 && ::kill(pid_t(pid), 0) == 0; ++i) QThread::msleep(50);
    }
    CoUninitialize();
    return 0;
}
