// Another computer's service through ssh: how fast each way of failing is reported (a closed
// port, a name that does not resolve, a computer that never answers, a refused key, no service
// program, a dropped connection) and what a connection, a listing and a run cost against the
// same calls on this computer's socket. The other computer is a second root of this machine
// behind a throwaway sshd on 127.0.0.1, as in the remote tests (root and openssh-server needed).
// Prints its figures; asserts nothing. Usage:
//   bench_remote [tasks-listed]
// Default: 20 tasks.

#include "BestTiming.h"
#include "DaemonLauncher.h"
#include "ServiceCalls.h"
#include "TemporaryServiceRoot.h"
#include "ThrowawaySshServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

// Accepts connections and never says a word: a computer that does not answer.
const QString kSilentHost = QStringLiteral("tssilent");
const QString kUnknownHost = QStringLiteral("tsnowhere.invalid");

double Milliseconds(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

ComPtr<ITaskService> NewService()
{
    ComPtr<ITaskService> service;
    Check(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service.PutVoid()),
          "CoCreateInstance");
    return service;
}

HRESULT ConnectTo(ITaskService* service, const QString& host)
{
    return service->Connect(VARIANT::String(host), VARIANT::Null(), VARIANT::Null(), VARIANT::Null());
}

// The first line of the error text, which names the computer and what happened.
QString FirstLine(HRESULT hr)
{
    return ErrorDescription(hr).section(QLatin1Char('\n'), 0, 0).trimmed();
}

// Connects `repeats` times to a computer that cannot serve; prints the fastest and the slowest
// time until the error, and the error.
void FailureRow(const char* label, const QString& host, int repeats)
{
    double best = 1e300, worst = 0;
    QString message;
    for (int i = 0; i < repeats; ++i) {
        const ComPtr<ITaskService> service = NewService();
        QElapsedTimer timer;
        timer.start();
        const HRESULT hr = ConnectTo(service.Get(), host);
        const double ms = Milliseconds(timer);
        if (SUCCEEDED(hr)) {
            std::fprintf(stderr, "%s: connected where it should fail\n", label);
            std::exit(1);
        }
        best = std::min(best, ms);
        worst = std::max(worst, ms);
        message = FirstLine(hr);
    }
    std::printf("%-34s %8.1f ms %8.1f ms   %s\n", label, best, worst, qPrintable(message));
}

void Register(ITaskService* service, ITaskFolder* folder, const QString& name)
{
    ComPtr<ITaskDefinition> def;
    Check(service->NewTask(0, def.Put()), "NewTask");
    // Runs timed one after the other must not wait for the one before to end.
    ComPtr<ITaskSettings> settings;
    def->get_Settings(settings.Put());
    settings->put_MultipleInstances(TASK_INSTANCES_PARALLEL);
    ComPtr<IActionCollection> actions;
    def->get_Actions(actions.Put());
    ComPtr<IAction> action;
    Check(actions->Create(TASK_ACTION_EXEC, action.Put()), "Create action");
    Cast<IExecAction>(action)->put_Path(QStringLiteral("/bin/true"));
    ComPtr<IRegisteredTask> task;
    Check(folder->RegisterTaskDefinition(name, def.Get(), TASK_CREATE_OR_UPDATE, VARIANT::Empty(), VARIANT::Empty(),
                                         TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put()),
          "RegisterTaskDefinition");
}

struct RoundTrips {
    double list = 0;
    double run = 0;
};

// Registers `tasks` tasks in the root folder of `service`, then times listing them with each
// one's name, and running one of them.
RoundTrips Measure(ITaskService* service, int tasks)
{
    ComPtr<ITaskFolder> root;
    Check(service->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
    for (int i = 0; i < tasks; ++i) Register(service, root.Get(), QStringLiteral("Task %1").arg(i));
    RoundTrips figures;
    figures.list = Best([&] {
        ComPtr<IRegisteredTaskCollection> collection;
        Check(root->GetTasks(0, collection.Put()), "GetTasks");
        LONG count = 0;
        collection->get_Count(&count);
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<IRegisteredTask> task;
            Check(collection->get_Item(VARIANT::I4(i), task.Put()), "get_Item");
            QString name;
            task->get_Name(&name);
        }
        if (count != tasks) {
            std::fprintf(stderr, "listed %ld tasks, not %d\n", long(count), tasks);
            std::exit(1);
        }
    }) * 1e3;
    ComPtr<IRegisteredTask> task;
    Check(root->GetTask(QStringLiteral("Task 0"), task.Put()), "GetTask");
    figures.run = Best([&] {
        ComPtr<IRunningTask> running;
        Check(task->Run(VARIANT::Empty(), running.Put()), "Run");
    }) * 1e3;
    return figures;
}

bool WriteConfig(const QString& path, const QString& base, quint16 silentPort)
{
    QFile in(base);
    QFile out(path);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) return false;
    out.write(in.readAll());
    out.write(QStringLiteral("Host %1\n  HostName 127.0.0.1\n  Port %2\n  User root\n  IdentitiesOnly yes\n"
                             "  UserKnownHostsFile /dev/null\n  GlobalKnownHostsFile /dev/null\n")
                  .arg(kSilentHost)
                  .arg(silentPort)
                  .toLocal8Bit());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int tasks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const QString unavailable = ThrowawaySshServer::Unavailable();
    if (!unavailable.isEmpty()) {
        std::fprintf(stderr, "no ssh server for the benchmark: %s\n", qPrintable(unavailable));
        return 1;
    }
    QTemporaryDir localRoot, remoteRoot, configDir;
    if (!localRoot.isValid() || !remoteRoot.isValid() || !configDir.isValid()) return 1;
    qputenv("TASKSCHEDULER_HOME", localRoot.path().toLocal8Bit());
    qunsetenv("TASKSCHEDULER_TRANSPORT");
    qunsetenv("TASKSCHEDULER_SSH");

    ThrowawaySshServer server(remoteRoot.path(), QCoreApplication::applicationDirPath());
    QString error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QTcpServer silent;
    if (!silent.listen(QHostAddress::LocalHost, 0)) return 1;
    const QString config = configDir.filePath(QStringLiteral("ssh_config"));
    if (!WriteConfig(config, server.ConfigFile(), silent.serverPort())) return 1;
    qputenv("TASKSCHEDULER_SSH_CONFIG", config.toLocal8Bit());
    if (!DaemonLauncher::Launch(localRoot.path(), &error)) {
        std::fprintf(stderr, "cannot start taskschedd: %s\n", qPrintable(error));
        return 1;
    }
    CoInitialize(nullptr);

    std::printf("Errors from another computer (time until the error: fastest, slowest)\n\n");
    FailureRow("port closed", ThrowawaySshServer::ClosedHost(), TimingRepeats);
    FailureRow("name does not resolve", kUnknownHost, TimingRepeats);
    FailureRow("refused key", ThrowawaySshServer::RefusedHost(), TimingRepeats);
    FailureRow("no service program", ThrowawaySshServer::NoServiceHost(), TimingRepeats);
    FailureRow("never answers", kSilentHost, 2);

    std::printf("\nRound trips (best of %d), %d tasks listed with their names\n\n", TimingRepeats, tasks);
    const double connect = Best([] {
        const ComPtr<ITaskService> service = NewService();
        Check(ConnectTo(service.Get(), ThrowawaySshServer::RemoteHost()), "Connect (remote)");
    }) * 1e3;
    const double connectLocal = Best([] { Connect(); }) * 1e3;
    const ComPtr<ITaskService> remote = NewService();
    Check(ConnectTo(remote.Get(), ThrowawaySshServer::RemoteHost()), "Connect (remote)");
    const RoundTrips far = Measure(remote.Get(), tasks);
    const RoundTrips near = Measure(Connect().Get(), tasks);
    std::printf("%-34s %10s %10s\n", "", "ssh", "local");
    std::printf("%-34s %7.2f ms %7.2f ms\n", "connect", connect, connectLocal);
    std::printf("%-34s %7.2f ms %7.2f ms\n", "list the tasks", far.list, near.list);
    std::printf("%-34s %7.2f ms %7.2f ms\n", "run a task", far.run, near.run);

    // The connection drops: the next call makes it again, once.
    ComPtr<ITaskFolder> root;
    Check(remote->GetFolder(QStringLiteral("\\"), root.Put()), "GetFolder");
    server.DropSessions();
    QElapsedTimer timer;
    timer.start();
    ComPtr<IRegisteredTask> task;
    Check(root->GetTask(QStringLiteral("Task 0"), task.Put()), "GetTask after a dropped connection");
    std::printf("\n%-34s %7.1f ms\n", "call after a dropped connection", Milliseconds(timer));
    // Dropped, and the computer takes no connections any more: that one attempt fails.
    server.Stop();
    timer.restart();
    const HRESULT hr = root->GetTask(QStringLiteral("Task 0"), task.Put());
    std::printf("%-34s %7.1f ms   %s\n", "dropped, computer gone", Milliseconds(timer),
                SUCCEEDED(hr) ? "(answered?)" : qPrintable(FirstLine(hr)));

    task = nullptr;
    root = nullptr;
    CoUninitialize();
    const bool stopped = TemporaryServiceRoot::StopServiceProcesses(remoteRoot.path())
        && TemporaryServiceRoot::StopServiceProcesses(localRoot.path());
    return stopped ? 0 : 1;
}
