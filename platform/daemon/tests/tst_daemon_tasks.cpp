// Tasks registered through the client interfaces and run by a real daemon: on demand, at a
// trigger's time, stopped, caught up after the daemon was down, and after the daemon was
// killed in the middle of a run. Several client processes change tasks at the same time.

#include "DaemonFixture.h"
#include "DaemonLauncher.h"
#include "DaemonProtocol.h"
#include "FrameReader.h"
#include "schedule/DaemonState.h"
#include "Gen2Protocol.h"
#include "ObjectRuntime.h"
#include "OleDate.h"
#include "ResultCodes.h"
#include "run/RunResults.h"
#include "ServiceNotifications.h"
#include "ServiceRoot.h"
#include "TaskService2.h"
#include "tvMSTask.h"

#include <QCborArray>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

namespace {

using ServiceCalls::Folder;
using ServiceCalls::Task;

// A task that runs `script` with sh, with a one-time trigger at `at` when that is valid.
HRESULT RegisterScript(const QString& name, const QString& script, const QDateTime& at = {}, bool startWhenAvailable = false,
                       ComPtr<IRegisteredTask>* out = nullptr)
{
    const ComPtr<ITaskService> service = ServiceCalls::Connected();
    const ComPtr<ITaskFolder> root = Folder();
    if (!service || !root) return SCHED_E_SERVICE_NOT_RUNNING;
    const ComPtr<ITaskDefinition> def = DaemonFixture::ScriptDefinition(service.Get(), script);
    if (at.isValid()) {
        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        ComPtr<ITrigger> trigger;
        triggers->Create(TASK_TRIGGER_TIME, trigger.Put());
        trigger->put_StartBoundary(at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    }
    ComPtr<ITaskSettings> settings;
    def->get_Settings(settings.Put());
    settings->put_StartWhenAvailable(startWhenAvailable ? VARIANT_TRUE : VARIANT_FALSE);
    return ServiceCalls::Register(root.Get(), name, def.Get(), TASK_CREATE_OR_UPDATE, out);
}

TASK_STATE State(const QString& name)
{
    TASK_STATE state = TASK_STATE_UNKNOWN;
    if (auto task = Task(name)) task->get_State(&state);
    return state;
}

LONG LastResult(const QString& name)
{
    LONG result = 0;
    if (auto task = Task(name)) task->get_LastTaskResult(&result);
    return result;
}

bool RunCommand(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(program, args);
    if (!input.isEmpty()) {
        p.write(input);
        p.closeWriteChannel();
    }
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Sends `request` on `socket` and reads the first frame that comes back.
QCborMap FirstFrameAfter(QLocalSocket& socket, const QCborMap& request)
{
    socket.write(DaemonProtocol::EncodeFrame(request));
    FrameReader reader(DaemonProtocol::MaxReplySize);
    for (;;) {
        QCborMap message;
        QString error;
        const FrameReader::Status status = reader.Next(&message, &error);
        if (status == FrameReader::Message) return message;
        if (status != FrameReader::NeedMore || !socket.waitForReadyRead(10000)) return {};
        reader.Append(socket.readAll());
    }
}

QByteArray ReadFile(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int LineCount(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : 0;
}

// As a child process (TS_CLIENT_PREFIX set): registers, changes and deletes tasks of its own
// through its own connection, and exits 0 when every call succeeded.
int RunAsClient(const QString& prefix)
{
    CoInitialize(nullptr);
    int failures = 0;
    for (int i = 0; i < 15; ++i) {
        const QString name = QStringLiteral("%1-%2").arg(prefix).arg(i);
        if (FAILED(RegisterScript(name, QStringLiteral("true")))) ++failures;
        if (FAILED(RegisterScript(name, QStringLiteral("exit 0")))) ++failures;   // an update
        if (i % 3 == 0) {
            ComPtr<ITaskFolder> root = Folder();
            if (!root || FAILED(root->DeleteTask(name, 0))) ++failures;
        }
    }
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}

} // namespace

class TestDaemonTasks : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void runsOnDemandAndAtItsTime();
    void stopEndsALongRun();
    void missedStartRunsOnceAfterRestart();
    void killsDuringCatchUpRunNothingTwice();
    void daemonKilledDuringARun();
    void clientsChangeTasksAtOnce();
    void legacyTaskRunsAndTerminates();
    void namesSpeltOtherwiseReachTheRunningTask();
    void passwordCheckedAndNotStored();
    void programsGetOnlyTheirStandardStreams();
    void subscribersHearOfChangesOthersDoNot();

private:
    std::unique_ptr<DaemonFixture> m_f;
};

void TestDaemonTasks::init()
{
    m_f = std::make_unique<DaemonFixture>();
    QVERIFY(m_f->Serve());
}

void TestDaemonTasks::cleanup() { m_f.reset(); }

void TestDaemonTasks::runsOnDemandAndAtItsTime()
{
    const QString out = m_f->File(QStringLiteral("writer.txt"));
    QDateTime at = QDateTime::currentDateTime().addSecs(3);
    at.setTime(QTime(at.time().hour(), at.time().minute(), at.time().second()));
    ComPtr<IRegisteredTask> task;
    QCOMPARE(RegisterScript(QStringLiteral("Writer"), QStringLiteral("echo ran >> '%1'").arg(out), at, false, &task), S_OK);
    QCOMPARE(LastResult(QStringLiteral("Writer")), SCHED_S_TASK_HAS_NOT_RUN);

    ComPtr<IRunningTask> running;
    QCOMPARE(task->Run(VARIANT::Empty(), running.Put()), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(LineCount(out), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("Writer")), TASK_STATE_READY, 10000);
    QCOMPARE(LastResult(QStringLiteral("Writer")), S_OK);
    QCOMPARE(m_f->RunCount(QStringLiteral("\\Writer")), 1);

    // The trigger's own start, a few seconds on.
    QTRY_COMPARE_WITH_TIMEOUT(LineCount(out), 2, 15000);
    QVERIFY(QDateTime::currentDateTime() >= at);
    DATE last = 0;
    Task(QStringLiteral("Writer"))->get_LastRunTime(&last);
    QVERIFY(qAbs(OleDate::ToDateTime(last).secsTo(at)) <= 2);
    QTRY_COMPARE_WITH_TIMEOUT(m_f->RunCount(QStringLiteral("\\Writer")), 2, 10000);

    // A task registered again under the name of a deleted one starts without its runs.
    QCOMPARE(Folder()->DeleteTask(QStringLiteral("Writer"), 0), S_OK);
    QCOMPARE(RegisterScript(QStringLiteral("Writer"), QStringLiteral("true")), S_OK);
    QCOMPARE(m_f->RunCount(QStringLiteral("\\Writer")), 0);
}

void TestDaemonTasks::stopEndsALongRun()
{
    ComPtr<IRegisteredTask> task;
    QCOMPARE(RegisterScript(QStringLiteral("Long"), QStringLiteral("sleep 60")), S_OK);
    task = Task(QStringLiteral("Long"));
    ComPtr<IRunningTask> running;
    QCOMPARE(task->Run(VARIANT::Empty(), running.Put()), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("Long")), TASK_STATE_RUNNING, 10000);
    QCOMPARE(LastResult(QStringLiteral("Long")), SCHED_S_TASK_RUNNING);

    QCOMPARE(task->Stop(0), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("Long")), TASK_STATE_READY, 15000);
    QCOMPARE(LastResult(QStringLiteral("Long")), RunResults::StoppedByRequest);
}

void TestDaemonTasks::missedStartRunsOnceAfterRestart()
{
    const QString caught = m_f->File(QStringLiteral("caught.txt"));
    const QString missed = m_f->File(QStringLiteral("missed.txt"));
    const QDateTime at = QDateTime::currentDateTime().addSecs(2);
    QCOMPARE(RegisterScript(QStringLiteral("CatchUp"), QStringLiteral("echo ran >> '%1'").arg(caught), at, true), S_OK);
    QCOMPARE(RegisterScript(QStringLiteral("NoCatchUp"), QStringLiteral("echo ran >> '%1'").arg(missed), at, false), S_OK);
    m_f->daemon.Stop();
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime() > at.addSecs(1), 10000);

    QVERIFY(m_f->daemon.Start());
    QTRY_COMPARE_WITH_TIMEOUT(LineCount(caught), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("CatchUp")), TASK_STATE_READY, 10000);
    QCOMPARE(m_f->RunCount(QStringLiteral("\\CatchUp")), 1);
    // Another restart does not run the same missed start again. A daemon has made its
    // catch-up starts by the time it answers: a second run would be running now, or over and
    // in the history.
    m_f->daemon.Stop();
    QVERIFY(m_f->daemon.Start());
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("CatchUp")), TASK_STATE_READY, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("NoCatchUp")), TASK_STATE_READY, 10000);
    QCOMPARE(m_f->RunCount(QStringLiteral("\\CatchUp")), 1);
    QCOMPARE(m_f->RunCount(QStringLiteral("\\NoCatchUp")), 0);
    QCOMPARE(LineCount(caught), 1);
    QCOMPARE(LineCount(missed), 0);
}

void TestDaemonTasks::killsDuringCatchUpRunNothingTwice()
{
    // Every task's run leaves a mark. Once a few of them have run, a run kills the daemon that
    // started it; the first run another daemon starts kills that one too; a third daemon
    // finishes. A run finds its daemon as the parent of its supervisor. The first kill comes
    // early, so that even a daemon that starts its catch-up runs quickly is killed amid them
    // and leaves some to the next.
    constexpr int Count = 60;
    constexpr int RunsBeforeTheFirstKill = 3;
    const QString marks = m_f->File(QStringLiteral("marks"));
    QVERIFY(QDir().mkpath(marks));
    const QString first = m_f->File(QStringLiteral("kill1"));
    const QString second = m_f->File(QStringLiteral("kill2"));
    const QString killer = QStringLiteral("mkdir '%1' 2>/dev/null && echo $d > '%1/p' && mv '%1/p' '%1/pid' && kill -9 $d");
    const QDateTime at = QDateTime::currentDateTime().addSecs(-600);
    for (int i = 0; i < Count; ++i) {
        const QString name = QStringLiteral("T%1").arg(i, 2, 10, QLatin1Char('0'));
        const QString script = QStringLiteral("echo ran >> '%1/%2'; d=$(cut -d' ' -f4 /proc/$PPID/stat); "
                                              "if [ $(cat /proc/$d/comm) = taskschedd ]; then "
                                              "if [ $(ls '%1' | wc -l) -ge %3 ] && %4; then :; "
                                              "elif [ -e '%5/pid' ] && [ $d != $(cat '%5/pid') ]; then %6; fi; fi")
                                   .arg(marks, name)
                                   .arg(RunsBeforeTheFirstKill)
                                   .arg(killer.arg(first), first, killer.arg(second));
        QCOMPARE(RegisterScript(name, script, at, true), S_OK);
    }
    // The daemon that ran last handled the schedule up to a moment before every start.
    m_f->daemon.Stop();
    DaemonState(ServiceRoot(m_f->root.Path())).Save(DaemonState::CurrentBootId(), at.addSecs(-60));

    // Each daemon is started right after the last one's kill, while the system may still hold
    // the killed one's lock for a moment: it must wait for it, not leave.
    for (const QString& kill : {first, second}) {
        m_f->daemon.Start();   // killed, maybe before it answers
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kill + QStringLiteral("/pid")), 60000);
        QVERIFY(DaemonHarness::WaitForExit(pid_t(ReadFile(kill + QStringLiteral("/pid")).trimmed().toLongLong()), 10000));
        m_f->daemon.Forget();
    }
    const bool started = m_f->daemon.Start();
    if (!started) qWarning().noquote() << ReadFile(DaemonLauncher::LogFile(m_f->root.Path())).right(6000);
    QVERIFY(started);
    QTRY_COMPARE_WITH_TIMEOUT(QDir(marks).entryList(QDir::Files).size(), Count, 60000);
    for (int i = 0; i < Count; ++i) {
        const QString name = QStringLiteral("T%1").arg(i, 2, 10, QLatin1Char('0'));
        QTRY_COMPARE_WITH_TIMEOUT(State(name), TASK_STATE_READY, 20000);
    }
    for (int i = 0; i < Count; ++i) {
        const QString name = QStringLiteral("T%1").arg(i, 2, 10, QLatin1Char('0'));
        QVERIFY2(LineCount(marks + QLatin1Char('/') + name) == 1, qPrintable(name + QStringLiteral(" ran %1 times").arg(LineCount(marks + QLatin1Char('/') + name))));
    }
}

void TestDaemonTasks::daemonKilledDuringARun()
{
    const QString out = m_f->File(QStringLiteral("survivor.txt"));
    const QString gate = m_f->File(QStringLiteral("gate"));
    QCOMPARE(RegisterScript(QStringLiteral("Survivor"),
                            QStringLiteral("i=0; while [ ! -e '%1' ] && [ $i -lt 300 ]; do sleep 0.05; i=$((i+1)); done; echo done >> '%2'; exit 3")
                                .arg(gate, out)),
             S_OK);
    ComPtr<IRunningTask> running;
    QCOMPARE(Task(QStringLiteral("Survivor"))->Run(VARIANT::Empty(), running.Put()), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("Survivor")), TASK_STATE_RUNNING, 10000);

    m_f->daemon.Kill();
    QVERIFY(m_f->daemon.Start());
    // The new daemon took the instance over: it still runs, and its end is recorded.
    QCOMPARE(State(QStringLiteral("Survivor")), TASK_STATE_RUNNING);
    QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("Survivor")), TASK_STATE_READY, 15000);
    QCOMPARE(LastResult(QStringLiteral("Survivor")), 3);
    QCOMPARE(LineCount(out), 1);
}

void TestDaemonTasks::clientsChangeTasksAtOnce()
{
    QList<QProcess*> clients;
    for (const QString& prefix : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}) {
        auto* p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TS_CLIENT_PREFIX"), prefix);
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(QCoreApplication::applicationFilePath(), {});
        clients.append(p);
    }
    for (QProcess* p : clients) {
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }
    qDeleteAll(clients);

    ComPtr<IRegisteredTaskCollection> tasks;
    QCOMPARE(Folder()->GetTasks(0, tasks.Put()), S_OK);
    LONG count = 0;
    tasks->get_Count(&count);
    QCOMPARE(count, 3 * 10);   // fifteen each, every third one deleted again
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<IRegisteredTask> task;
        QCOMPARE(tasks->get_Item(VARIANT::I4(i), task.Put()), S_OK);
        ComPtr<ITaskDefinition> def;
        QCOMPARE(task->get_Definition(def.Put()), S_OK);   // every stored definition reads back whole
    }
}

void TestDaemonTasks::legacyTaskRunsAndTerminates()
{
    ComPtr<ITaskScheduler> scheduler;
    QCOMPARE(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler, scheduler.PutVoid()), S_OK);
    const auto save = [&](const QString& name, const QString& script) {
        ComPtr<ITask> task;
        if (FAILED(scheduler->NewWorkItem(name, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put())))) return ComPtr<ITask>();
        task->SetApplicationName(QStringLiteral("sh"));
        task->SetParameters(QStringLiteral("-c \"%1\"").arg(script));
        ComPtr<IPersistFile> file;
        task.As(file);
        return file && SUCCEEDED(file->Save(nullptr, true)) ? task : ComPtr<ITask>();
    };
    const auto status = [](ITask* task) {
        HRESULT hr = E_FAIL;
        task->GetStatus(&hr);
        return hr;
    };

    const QString out = m_f->File(QStringLiteral("legacy.txt"));
    ComPtr<ITask> quick = save(QStringLiteral("Quick.job"), QStringLiteral("echo ran >> '%1'; exit 7").arg(out));
    QVERIFY(quick);
    QCOMPARE(quick->Run(), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(LineCount(out), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(status(quick.Get()) != SCHED_S_TASK_RUNNING, 10000);
    DWORD exitCode = 0;
    QCOMPARE(quick->GetExitCode(&exitCode), S_OK);
    QCOMPARE(exitCode, DWORD(7));

    ComPtr<ITask> slow = save(QStringLiteral("Slow.job"), QStringLiteral("sleep 30"));
    QVERIFY(slow);
    QCOMPARE(slow->Run(), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(status(slow.Get()), SCHED_S_TASK_RUNNING, 10000);
    QCOMPARE(slow->Terminate(), S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(status(slow.Get()) != SCHED_S_TASK_RUNNING, 15000);
    QCOMPARE(slow->Terminate(), SCHED_E_TASK_NOT_RUNNING);
}

void TestDaemonTasks::namesSpeltOtherwiseReachTheRunningTask()
{
    // Names are found ignoring case: a run asked for in one spelling and a stop in another
    // reach the same instance, in both generations.
    const auto hr = [](const QCborMap& reply) { return HRESULT(reply.value(QStringLiteral("hr")).toInteger()); };
    QCOMPARE(RegisterScript(QStringLiteral("Long"), QStringLiteral("sleep 60")), S_OK);
    const auto v2 = [](const QString& op, const QString& name) {
        return QCborMap{{QStringLiteral("op"), op}, {QStringLiteral("folder"), QStringLiteral("\\")}, {QStringLiteral("path"), name}};
    };
    QCOMPARE(hr(m_f->daemon.Call(v2(Gen2Protocol::kTaskRun, QStringLiteral("long")))), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("Long")), TASK_STATE_RUNNING, 10000);
    QCOMPARE(hr(m_f->daemon.Call(v2(Gen2Protocol::kTaskStop, QStringLiteral("LONG")))), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(State(QStringLiteral("Long")), TASK_STATE_READY, 15000);
    QCOMPARE(LastResult(QStringLiteral("Long")), RunResults::StoppedByRequest);

    ComPtr<ITaskScheduler> scheduler;
    QCOMPARE(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler, scheduler.PutVoid()), S_OK);
    ComPtr<ITask> slow;
    QCOMPARE(scheduler->NewWorkItem(QStringLiteral("Slow.job"), CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(slow.Put())), S_OK);
    slow->SetApplicationName(QStringLiteral("sleep"));
    slow->SetParameters(QStringLiteral("60"));
    ComPtr<IPersistFile> file;
    QCOMPARE(slow.As(file), S_OK);
    QCOMPARE(file->Save(nullptr, 1), S_OK);
    const auto v1 = [](const QString& op, const QString& name) {
        return QCborMap{{QStringLiteral("op"), op}, {QStringLiteral("name"), name}};
    };
    const auto status = [&] {
        HRESULT s = E_FAIL;
        slow->GetStatus(&s);
        return s;
    };
    QCOMPARE(hr(m_f->daemon.Call(v1(QStringLiteral("v1.run"), QStringLiteral("slow.job")))), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(status(), SCHED_S_TASK_RUNNING, 10000);
    QCOMPARE(hr(m_f->daemon.Call(v1(QStringLiteral("v1.terminate"), QStringLiteral("SLOW.JOB")))), S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(status() != SCHED_S_TASK_RUNNING, 15000);
}

void TestDaemonTasks::passwordCheckedAndNotStored()
{
    if (geteuid() != 0) QSKIP("needs root to make a throwaway user with a password");
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's crypt() interceptor has no real function behind it when PAM loads
    // libcrypt later with dlopen, so pam_unix crashes in an instrumented daemon.
    QSKIP("pam_unix cannot check passwords in a daemon built with AddressSanitizer");
#endif
    const QString user = QStringLiteral("tsp%1").arg(getpid());
    const QString password = QStringLiteral("Secret-%1-pw").arg(getpid());
    QVERIFY(RunCommand(QStringLiteral("useradd"), {QStringLiteral("--no-create-home"), QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), user}));
    auto removeUser = qScopeGuard([&] { RunCommand(QStringLiteral("userdel"), {user}); });
    QVERIFY(RunCommand(QStringLiteral("chpasswd"), {}, (user + QLatin1Char(':') + password + QLatin1Char('\n')).toLocal8Bit()));

    ComPtr<ITaskService> service;
    QCOMPARE(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service.PutVoid()), S_OK);
    QCOMPARE(service->Connect(VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty(), VARIANT::Empty()), S_OK);
    const ComPtr<ITaskDefinition> def = DaemonFixture::ScriptDefinition(service.Get(), QStringLiteral("true"));
    ComPtr<ITaskFolder> root = Folder();
    const auto registerWith = [&](const QString& given) {
        ComPtr<IRegisteredTask> task;
        return root->RegisterTaskDefinition(QStringLiteral("AsUser"), def.Get(), TASK_CREATE_OR_UPDATE, VARIANT::String(user),
                                            VARIANT::String(given), TASK_LOGON_PASSWORD, VARIANT::Empty(), task.Put());
    };
    QCOMPARE(registerWith(password + QStringLiteral("x")), HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE));
    ComPtr<IRegisteredTask> none;
    QVERIFY(FAILED(root->GetTask(QStringLiteral("AsUser"), none.Put())));
    QCOMPARE(registerWith(password), S_OK);

    // A 1.0 task's password is checked when it is saved, and only when one was given.
    ComPtr<ITaskScheduler> scheduler;
    QCOMPARE(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler, scheduler.PutVoid()), S_OK);
    ComPtr<ITask> job;
    QCOMPARE(scheduler->NewWorkItem(QStringLiteral("AsUser.job"), CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(job.Put())), S_OK);
    job->SetApplicationName(QStringLiteral("/bin/true"));
    ComPtr<IPersistFile> file;
    QCOMPARE(job.As(file), S_OK);
    const QString wrong = password + QStringLiteral("x");
    QCOMPARE(job->SetAccountInformation(user, &wrong), S_OK);
    QCOMPARE(file->Save(nullptr, 1), HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE));
    QVERIFY(FAILED(scheduler->IsOfType(QStringLiteral("AsUser.job"), IID_ITask)));
    QCOMPARE(job->SetAccountInformation(user, &password), S_OK);
    QCOMPARE(file->Save(nullptr, 1), S_OK);
    QCOMPARE(job->SetComment(QStringLiteral("saved again without a password")), S_OK);
    QCOMPARE(file->Save(nullptr, 1), S_OK);

    // The password appears in no file of the root.
    QDirIterator files(m_f->root.Path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile f(files.next());
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray content = f.readAll();
            QVERIFY2(!content.contains(password.toUtf8()) && !content.contains(password.toUtf8().toBase64()), qPrintable(f.fileName()));
        }
    }
}

void TestDaemonTasks::programsGetOnlyTheirStandardStreams()
{
    // The daemon is started by a client that holds a descriptor open across exec, as programs
    // that start it often do. Neither that descriptor nor any of the daemon's or supervisor's
    // own (socket, lock, timer, process handles, pipes) may reach a task's program.
    m_f->daemon.Stop();
    const int stray = ::open("/dev/null", O_RDONLY);
    QVERIFY(stray >= 0);
    const bool started = m_f->daemon.Start();
    ::close(stray);
    QVERIFY(started);

    const QString pidFile = m_f->File(QStringLiteral("program.pid"));
    QCOMPARE(RegisterScript(QStringLiteral("Fds"), QStringLiteral("echo $$ > '%1.part'; mv '%1.part' '%1'; exec sleep 30").arg(pidFile)), S_OK);
    ComPtr<IRunningTask> running;
    QCOMPARE(Task(QStringLiteral("Fds"))->Run(VARIANT::Empty(), running.Put()), S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), 10000);
    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString process = QStringLiteral("/proc/") + QString::fromLatin1(f.readAll().trimmed());
    // Checked once the shell has become "sleep" and the exec has closed what it had to close.
    const auto descriptors = [&] {
        if (ReadFile(process + QStringLiteral("/comm")).trimmed() != "sleep") return QStringList{QStringLiteral("not yet")};
        return QDir(process + QStringLiteral("/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    };
    QTRY_COMPARE_WITH_TIMEOUT(descriptors(), (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}), 5000);
}

void TestDaemonTasks::subscribersHearOfChangesOthersDoNot()
{
    ServiceNotifications notices;
    QVERIFY(notices.Subscribe(m_f->root.Path()));
    QList<ServiceNotice> heard;
    connect(&notices, &ServiceNotifications::Notified, this, [&heard](const ServiceNotice& notice) { heard.append(notice); });
    // A client as it was before notices: it never subscribes.
    QLocalSocket plain;
    plain.connectToServer(ServiceRoot(m_f->root.Path()).SocketPath());
    QVERIFY(plain.waitForConnected(5000));
    const QCborMap ping{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}};
    QCOMPARE(FirstFrameAfter(plain, ping).value(DaemonProtocol::Key::Hr).toInteger(), S_OK);

    QCOMPARE(RegisterScript(QStringLiteral("Told"), QStringLiteral("exit 3")), S_OK);
    // Replaced under another spelling: a change of the task as it is stored.
    QCOMPARE(RegisterScript(QStringLiteral("TOLD"), QStringLiteral("exit 3")), S_OK);
    QCOMPARE(Task(QStringLiteral("Told"))->put_Enabled(VARIANT_FALSE), S_OK);
    QCOMPARE(Task(QStringLiteral("Told"))->put_Enabled(VARIANT_TRUE), S_OK);
    ComPtr<IRunningTask> running;
    QCOMPARE(Task(QStringLiteral("Told"))->Run(VARIANT::Empty(), running.Put()), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 6, 10000);
    QCOMPARE(Folder()->DeleteTask(QStringLiteral("Told"), 0), S_OK);
    // A refused request changes nothing and tells nothing.
    QVERIFY(FAILED(Folder()->DeleteTask(QStringLiteral("Told"), 0)));
    QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 7, 10000);

    const QList<ServiceNotice::Kind> expected{ServiceNotice::TaskAdded,  ServiceNotice::TaskChanged, ServiceNotice::TaskChanged,
                                              ServiceNotice::TaskChanged, ServiceNotice::RunStarted, ServiceNotice::RunEnded,
                                              ServiceNotice::TaskDeleted};
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(heard.at(i).kind, expected.at(i));
        QCOMPARE(heard.at(i).generation, 2);
        QCOMPARE(heard.at(i).path, QStringLiteral("\\Told"));
    }
    QCOMPARE(heard.at(5).result, 3u);

    // The plain client's next frame is the reply to its request: no notice came before it.
    const QCborMap reply = FirstFrameAfter(plain, ping);
    QCOMPARE(reply.value(DaemonProtocol::Key::Hr).toInteger(), S_OK);
    QVERIFY(reply.contains(DaemonProtocol::Key::Pid));

    // The daemon stops: the subscriber hears that its notices have ended.
    QSignalSpy lost(&notices, &ServiceNotifications::Lost);
    m_f->daemon.Stop();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QVERIFY(!notices.IsSubscribed());
}

int main(int argc, char** argv)
{
    const QString prefix = qEnvironmentVariable("TS_CLIENT_PREFIX");
    if (!prefix.isEmpty()) {
        QCoreApplication app(argc, argv);
        return RunAsClient(prefix);
    }
    QCoreApplication app(argc, argv);
    TestDaemonTasks test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_daemon_tasks.moc"
