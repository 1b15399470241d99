// The runner with real programs: what runs, as what, how it ends, and what is recorded.

#include "catalog/Gen1Catalog.h"
#include "catalog/Gen2Catalog.h"
#include "gen1/JobStore.h"
#include "run/InstanceDescription.h"
#include "run/InstanceLauncher.h"
#include "MemoryCatalog.h"
#include "run/ProcessFd.h"
#include "run/RunAccount.h"
#include "run/RunResults.h"
#include "run/SupervisorScan.h"
#include "run/TaskRunner.h"
#include "supervisor/ExecSupervisor.h"
#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>
#include <functional>
#include <grp.h>

namespace {

RunnableTask Shell(const QString& path, const QString& script)
{
    RunnableTask task;
    task.key = TaskKey{TaskGeneration::Gen2, path};
    task.actions = {TaskAction{TaskAction::Exec, QStringLiteral("sh"), QStringLiteral("-c \"%1\"").arg(script), {}}};
    return task;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The fields of /proc/PID/stat after the process's name: state, parent, group, session, ...
QList<QByteArray> StatFields(const QString& pid)
{
    const QByteArray text = ReadFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : text.mid(close + 2).split(' ');
}

pid_t ParentOf(pid_t pid)
{
    const QList<QByteArray> fields = StatFields(QString::number(pid));
    return fields.size() > 1 ? pid_t(fields[1].toInt()) : 0;
}

// The live processes (not zombies) whose fields of /proc/PID/stat `which` picks.
QList<pid_t> LiveProcesses(const std::function<bool(pid_t, const QList<QByteArray>&)>& which)
{
    QList<pid_t> out;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (!ok) continue;
        const QList<QByteArray> fields = StatFields(entry);
        if (fields.size() > 3 && fields[0] != "Z" && which(pid, fields)) out.append(pid);
    }
    return out;
}

QList<pid_t> InSession(pid_t sid)
{
    return LiveProcesses([sid](pid_t, const QList<QByteArray>& fields) { return fields[3].toInt() == sid; });
}

pid_t SessionOf(pid_t pid)
{
    const QList<QByteArray> fields = StatFields(QString::number(pid));
    return fields.size() > 3 ? pid_t(fields[3].toInt()) : 0;
}

// The supervisors that `launcher` keeps waiting: its children whose command line still holds
// the placeholder that an instance file takes the place of.
QList<pid_t> WaitingOf(pid_t launcher)
{
    return LiveProcesses([launcher](pid_t pid, const QList<QByteArray>& fields) {
        if (pid_t(fields[1].toInt()) != launcher) return false;
        const QList<QByteArray> args = ReadFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
        return args.size() > 1 && args[1] == ExecSupervisor::LauncherArgument;
    });
}

bool ProcessAlive(pid_t pid)
{
    const int fd = OpenProcessFd(pid);
    if (fd < 0) return false;
    const bool ended = ProcessFdEnded(fd, 0);
    ::close(fd);
    return !ended;
}

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void runsAProgramAndRecordsIt();
    void theLogAsTheSupervisorFindsIt_data();
    void theLogAsTheSupervisorFindsIt();
    void instancesDirectoryBetweenStarts_data();
    void instancesDirectoryBetweenStarts();
    void programEnvironmentAndDirectory();
    void programsRunAsTheTaskAccount_data();
    void programsRunAsTheTaskAccount();
    void anotherAccountWithoutItsGroupsIsRefused();
    void results_data();
    void results();
    void stopEndsTheWholeProgram();
    void stopKillsWhatIgnoresIt();
    void stopRightAfterTheStart();
    void timeLimit();
    void stopsAtTheEndOfItsRepetition();
    void instancePolicies_data();
    void instancePolicies();
    void restartsAfterFailure();
    void unsupportedActions();
    void disabledTaskNeverStarts();
    void takesOverAfterDaemonDeath();
    void supervisorsFromTheLauncher_data();
    void supervisorsFromTheLauncher();
    void recordsWhatEndedWithoutDaemon();
    void instanceFilesAfterAPowerFailure_data();
    void instanceFilesAfterAPowerFailure();
    void instancesEndingTogether();
    void runStatesOfAnEarlierBoot_data();
    void runStatesOfAnEarlierBoot();
    void unsettledTasksOfTheStores();
    void logAndHistoryNamesNeverCollide();
    void historyOfAnEarlierVersionIsRead();
    void historyChangedByOthersIsReadAgain_data();
    void historyChangedByOthersIsReadAgain();
    void runStateChangedByOthersIsReadAgain_data();
    void runStateChangedByOthersIsReadAgain();
    void historyFileIsTheJsonOfItsRuns_data();
    void historyFileIsTheJsonOfItsRuns();
    void supervisorOfABuildOrAnInstalledTree_data();
    void supervisorOfABuildOrAnInstalledTree();
    void startsAheadOnlyWhatWouldLaunch_data();
    void startsAheadOnlyWhatWouldLaunch();
    void aStartHandedOverRunsAtItsTime_data();
    void aStartHandedOverRunsAtItsTime();
    void aStopDuringTheWaitRunsNothing();
    void aStartHandedOverOutlivesTheDaemon();

private:
    /// When the program that `task` runs wrote "date +%s%N" to `file`, in ms since 1970; 0 when it did not.
    static qint64 ProgramStartMs(const QString& file) { return ReadFile(file).trimmed().toLongLong() / 1000000; }
    /// Puts `task` into the catalog and hands its start `aheadMs` from now over ahead of its
    /// time, as a daemon does, with its launcher running. Returns that time; an invalid one
    /// when the start was not taken.
    QDateTime HandOverAhead(const RunnableTask& task, qint64 aheadMs);
    /// Waits until `count` instances of all tasks have ended.
    bool WaitForEnds(int count, int timeoutMs = 15000);
    std::unique_ptr<TaskRunner> NewRunner();
    QString Dir() const { return m_root->Path(); }

    std::unique_ptr<TemporaryServiceRoot> m_root;
    std::unique_ptr<MemoryCatalog> m_catalog;
    SystemClock m_clock;
    std::unique_ptr<TaskRunner> m_runner;
    std::unique_ptr<QSignalSpy> m_ended;
};

void TestRunner::init()
{
    m_root = std::make_unique<TemporaryServiceRoot>();
    QVERIFY(ServiceRoot(Dir()).Ensure());
    m_catalog = std::make_unique<MemoryCatalog>();
    m_runner = NewRunner();
}

std::unique_ptr<TaskRunner> TestRunner::NewRunner()
{
    auto runner = std::make_unique<TaskRunner>(ServiceRoot(Dir()), QList<TaskCatalog*>{m_catalog.get()}, m_clock);
    m_ended = std::make_unique<QSignalSpy>(runner.get(), &TaskRunner::InstanceEnded);
    return runner;
}

void TestRunner::cleanup()
{
    // Nothing a test started may outlive it.
    if (m_runner) {
        for (const RunningInstance* instance : m_runner->AllInstances()) ::kill(instance->Pid(), SIGUSR1);
        const int running = int(m_runner->AllInstances().size());
        if (running) WaitForEnds(int(m_ended->count()) + running);
    }
    m_ended.reset();
    m_runner.reset();
    m_catalog.reset();
    m_root.reset();
}

bool TestRunner::WaitForEnds(int count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (m_ended->count() < count && timer.elapsed() < timeoutMs) m_ended->wait(int(timeoutMs - timer.elapsed()));
    return m_ended->count() >= count;
}

void TestRunner::runsAProgramAndRecordsIt()
{
    const QString out = Dir() + QStringLiteral("/ran.txt");
    RunnableTask task = Shell(QStringLiteral("\\Writer"), QStringLiteral("echo ran > '%1'; echo to-the-log").arg(out));
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QCOMPARE(m_runner->Instances(task.key).size(), 1);
    QCOMPARE(m_catalog->runtime[task.key].runState, TaskRuntime::Running);
    QCOMPARE(m_catalog->runtime[task.key].lastResult, RunResults::Running);
    QVERIFY(m_runner->IsBusy(task.key));

    QVERIFY(WaitForEnds(1));
    QCOMPARE(ReadFile(out), QByteArray("ran\n"));
    const TaskRuntime& runtime = m_catalog->runtime[task.key];
    QCOMPARE(runtime.runState, TaskRuntime::Idle);
    QCOMPARE(runtime.lastResult, S_OK);
    QVERIFY(runtime.lastRunTime.isValid());
    QVERIFY(!m_runner->IsBusy(task.key));

    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 1);
    QCOMPARE(history[0].cause, QStringLiteral("demand"));
    QCOMPARE(history[0].result, S_OK);
    QCOMPARE(history[0].start, runtime.lastRunTime);
    QVERIFY(history[0].end >= history[0].start);

    const QByteArray log = ReadFile(m_runner->Launcher().LogFile(task.key));
    QVERIFY2(log.contains("to-the-log") && log.contains("\\Writer: start") && log.contains("exit code 0"), log.constData());
    // Nothing is left of the instance once its result is recorded.
    QTRY_VERIFY(QDir(m_runner->Launcher().InstancesDir()).entryList(QDir::Files).isEmpty());
}

void TestRunner::theLogAsTheSupervisorFindsIt_data()
{
    QTest::addColumn<QString>("before");    // the task's log before the run
    QTest::addColumn<bool>("appended");     // the run's lines follow what was there
    QTest::addColumn<bool>("rotated");      // what was there is kept as ".1"
    QTest::newRow("no log, no directory") << QStringLiteral("none") << false << false;
    QTest::newRow("a short log") << QStringLiteral("short") << true << false;
    QTest::newRow("at the limit") << QStringLiteral("limit") << true << false;
    QTest::newRow("over the limit") << QStringLiteral("over") << false << true;
    QTest::newRow("a link to elsewhere") << QStringLiteral("link") << false << false;
}

void TestRunner::theLogAsTheSupervisorFindsIt()
{
    QFETCH(QString, before);
    QFETCH(bool, appended);
    QFETCH(bool, rotated);
    RunnableTask task = Shell(QStringLiteral("\\Logged"), QStringLiteral("echo this-run"));
    m_catalog->Put(task);
    const QString log = m_runner->Launcher().LogFile(task.key);
    const QString elsewhere = Dir() + QStringLiteral("/elsewhere.txt");
    const QByteArray earlier = before == QLatin1String("short") ? QByteArray("earlier\n")
                             : before == QLatin1String("limit") ? QByteArray(qsizetype(ExecSupervisor::LogRotateBytes), 'x')
                             : before == QLatin1String("over")  ? QByteArray(qsizetype(ExecSupervisor::LogRotateBytes) + 1, 'x')
                                                                : QByteArray("not a log\n");
    QDir(QFileInfo(log).absolutePath()).removeRecursively();
    if (before != QLatin1String("none")) {
        QVERIFY(QDir().mkpath(QFileInfo(log).absolutePath()));
        QFile file(before == QLatin1String("link") ? elsewhere : log);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(earlier), earlier.size());
        file.close();
        if (before == QLatin1String("link")) QVERIFY(QFile::link(elsewhere, log));
    }
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(1));
    if (before == QLatin1String("link")) {
        // Never written through: the program's output goes nowhere rather than into another file.
        QCOMPARE(ReadFile(elsewhere), earlier);
        QVERIFY(QFileInfo(log).isSymLink());
        return;
    }
    const QByteArray text = ReadFile(log);
    QVERIFY2(text.contains("this-run") && text.contains("exit code 0"), text.right(200).constData());
    QCOMPARE(text.startsWith(earlier), appended);
    QCOMPARE(ReadFile(log + QStringLiteral(".1")), rotated ? earlier : QByteArray());
    if (before == QLatin1String("none")) QCOMPARE(QFileInfo(log).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFileDevice::Permissions());
}

void TestRunner::instancesDirectoryBetweenStarts_data()
{
    // What becomes of the instances directory after a first start, before a second.
    QTest::addColumn<QString>("change");
    QTest::addColumn<HRESULT>("second");
    QTest::newRow("left alone") << QString() << S_OK;
    QTest::newRow("removed") << QStringLiteral("remove") << S_OK;
    QTest::newRow("replaced by a file") << QStringLiteral("file") << E_FAIL;
}

void TestRunner::instancesDirectoryBetweenStarts()
{
    QFETCH(QString, change);
    QFETCH(HRESULT, second);
    const QString out = Dir() + QStringLiteral("/ran.txt");
    RunnableTask task = Shell(QStringLiteral("\\Twice"), QStringLiteral("echo ran >> '%1'").arg(out));
    task.instances = InstancesPolicy::Parallel;
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(1));
    const QString dir = m_runner->Launcher().InstancesDir();
    QTRY_VERIFY(QDir(dir).entryList(QDir::Files).isEmpty());
    if (change == QLatin1String("remove")) QVERIFY(QDir(dir).removeRecursively());
    if (change == QLatin1String("file")) {
        QVERIFY(QDir(dir).removeRecursively());
        QFile file(dir);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), second);
    QVERIFY(WaitForEnds(2));
    // A start that could not write its instance down runs nothing, and is recorded as failed.
    QCOMPARE(ReadFile(out), second == S_OK ? QByteArray("ran\nran\n") : QByteArray("ran\n"));
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 2);
    QCOMPARE(history[1].result, second == S_OK ? S_OK : E_FAIL);
    if (second != S_OK) return;
    // Made again as the first time: for the daemon's account alone.
    QCOMPARE(QFileInfo(dir).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner),
             QFileDevice::Permissions());
    QTRY_VERIFY(QDir(dir).entryList(QDir::Files).isEmpty());
}

void TestRunner::programEnvironmentAndDirectory()
{
    const QString work = Dir() + QStringLiteral("/work dir");
    QVERIFY(QDir().mkpath(work));
    RunnableTask task = Shell(QStringLiteral("\\Env"), QStringLiteral("pwd > out; echo $TASKSCHEDULER_HOME >> out; echo ${TASKSCHEDULER_TRANSPORT:-none} >> out; echo $0 $1 >> out"));
    task.actions[0].arguments += QStringLiteral(" first \"second arg\"");
    task.actions[0].workingDirectory = QStringLiteral("\"%TASKSCHEDULER_HOME%/work dir\"");
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(1));
    QCOMPARE(m_catalog->runtime[task.key].lastResult, S_OK);
    const QList<QByteArray> lines = ReadFile(work + QStringLiteral("/out")).split('\n');
    QCOMPARE(lines.value(0), QDir(work).canonicalPath().toLocal8Bit());
    QCOMPARE(lines.value(1), QDir::cleanPath(Dir()).toLocal8Bit());
    QCOMPARE(lines.value(2), QByteArray("none"));   // programs are clients of the daemon
    QCOMPARE(lines.value(3), QByteArray("first second arg"));
}

void TestRunner::programsRunAsTheTaskAccount_data()
{
    QTest::addColumn<bool>("groupTask");   // the daemon's own account with the task's group
    QTest::newRow("another account") << false;
    QTest::newRow("a group task") << true;
}

void TestRunner::programsRunAsTheTaskAccount()
{
    QFETCH(bool, groupTask);
    if (::geteuid() != 0) QSKIP("needs root to make a throwaway account and group");
    const QString user = QStringLiteral("tsr%1").arg(::getpid());
    const QString extra = QStringLiteral("tsx%1").arg(::getpid());
    const auto run = [](const QString& program, const QStringList& arguments) { return QProcess::execute(program, arguments) == 0; };
    QVERIFY(run(QStringLiteral("groupadd"), {extra}));
    auto removeGroup = qScopeGuard([&] { run(QStringLiteral("groupdel"), {extra}); });
    QVERIFY(run(QStringLiteral("useradd"), {QStringLiteral("--no-create-home"), QStringLiteral("--groups"), extra, user}));
    auto removeUser = qScopeGuard([&] { run(QStringLiteral("userdel"), {user}); });
    const std::optional<RunAccount> account = RunAccount::Resolve(groupTask ? QString() : user, groupTask ? extra : QString(), nullptr, nullptr);
    QVERIFY(account.has_value());
    // What a login of the account gets: its group and its other groups, those of the database.
    const std::optional<QList<gid_t>> groups = account->Groups();
    QVERIFY(groups.has_value());
    QVERIFY(groups->contains(account->gid));
    const ::group* extraEntry = ::getgrnam(extra.toLocal8Bit().constData());
    QVERIFY(extraEntry);
    const gid_t extraGid = extraEntry->gr_gid;
    // The account's other group, from the database; the group task's own group.
    QVERIFY(groups->contains(extraGid));
    QCOMPARE(account->gid == extraGid, groupTask);
    RunnableTask task = Shell(QStringLiteral("\\AsAccount"), QStringLiteral("echo ids: $(id -u) $(id -g) / $(id -G)"));
    task.account = groupTask ? QString() : user;
    task.group = groupTask ? extra : QString();
    task.actions[0].workingDirectory = QStringLiteral("/");   // the account has no home
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(1));
    QCOMPARE(m_catalog->runtime[task.key].lastResult, S_OK);
    const QByteArray log = ReadFile(m_runner->Launcher().LogFile(task.key));
    const qsizetype at = log.indexOf("ids: ");
    QVERIFY2(at >= 0, log.constData());
    const QList<QByteArray> ids = log.mid(at + 5, log.indexOf('\n', at) - at - 5).split(' ');
    QCOMPARE(ids.value(0), QByteArray::number(account->uid));
    QCOMPARE(ids.value(1), QByteArray::number(account->gid));
    QCOMPARE(ids.value(2), QByteArray("/"));
    QList<gid_t> got;
    for (const QByteArray& id : ids.mid(3)) got << gid_t(id.toUInt());
    QList<gid_t> want = *groups;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    QCOMPARE(got, want);
}

void TestRunner::anotherAccountWithoutItsGroupsIsRefused()
{
    // A description that switches accounts but names no groups (the daemon always does): the
    // programs would keep the supervisor's groups, so none starts.
    const QString marker = Dir() + QStringLiteral("/ran");
    InstanceDescription d;
    d.id = QStringLiteral("nogroups");
    d.task = QStringLiteral("\\NoGroups");
    d.start = QDateTime::currentDateTime();
    d.steps = {ExecStep{QStringLiteral("/usr/bin/touch"), {marker}, QStringLiteral("/")}};
    d.uid = ::geteuid() == 65534 ? 65533 : 65534;
    d.gid = 65534;
    d.logFile = Dir() + QStringLiteral("/nogroups.log");
    const QString file = InstanceFiles::DescriptionFile(Dir(), d.id);
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QVERIFY(out.write(InstanceFiles::EncodeDescription(d)) > 0);
    out.close();
    QCOMPARE(QProcess::execute(InstanceLauncher::SupervisorProgram(QCoreApplication::applicationDirPath()), {file}), 0);
    QString error;
    const std::optional<InstanceOutcome> outcome = InstanceFiles::DecodeOutcome(ReadFile(InstanceFiles::OutcomeFile(Dir(), d.id)), &error);
    QVERIFY2(outcome.has_value(), qPrintable(error));
    QCOMPARE(outcome->startStage, qint32(InstanceOutcome::AccountStage));
    QCOMPARE(outcome->startErrno, EINVAL);
    QCOMPARE(outcome->failedStep, 0);
    QVERIFY(!QFile::exists(marker));
}

void TestRunner::results_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<qint64>("result");
    QTest::newRow("exit code") << "sh" << "-c \"exit 7\"" << "" << qint64(7);
    QTest::newRow("large exit code") << "sh" << "-c \"exit 255\"" << "" << qint64(255);
    QTest::newRow("killed by a signal") << "sh" << "-c \"kill -9 $$\"" << "" << qint64(128 + 9);
    QTest::newRow("no such program") << "/no/such/program" << "" << "" << qint64(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    QTest::newRow("no such program on PATH") << "no-such-program-anywhere" << "" << "" << qint64(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    QTest::newRow("not executable") << "%TASKSCHEDULER_HOME%/plain.txt" << "" << "" << qint64(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    QTest::newRow("a directory") << "/tmp" << "" << "" << qint64(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    QTest::newRow("not a program") << "%TASKSCHEDULER_HOME%/garbage.bin" << "" << "" << qint64(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
    QTest::newRow("no such directory") << "sh" << "-c true" << "/no/such/dir" << qint64(RunResults::BadDirectory);
}

void TestRunner::results()
{
    QFETCH(QString, program);
    QFETCH(QString, arguments);
    QFETCH(QString, directory);
    QFETCH(qint64, result);
    {
        QFile plain(Dir() + QStringLiteral("/plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("text\n");
        QFile garbage(Dir() + QStringLiteral("/garbage.bin"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray("\x7f\x45\x4c\x46\x01\x02\x03", 7));
        garbage.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    RunnableTask task;
    task.key = TaskKey{TaskGeneration::Gen2, QStringLiteral("\\Result")};
    task.actions = {TaskAction{TaskAction::Exec, program, arguments, directory}};
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(1));
    QCOMPARE(qint64(m_catalog->runtime[task.key].lastResult), result);
    QCOMPARE(qint64(m_runner->History().Read(task.key).value(0).result), result);
}

void TestRunner::stopEndsTheWholeProgram()
{
    const QString pidFile = Dir() + QStringLiteral("/child.pid");
    // The shell starts a child of its own; stopping the task must end both.
    RunnableTask task = Shell(QStringLiteral("\\Long"), QStringLiteral("sleep 60 & echo $! > '%1'; wait").arg(pidFile));
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QTRY_VERIFY(!ReadFile(pidFile).trimmed().isEmpty());
    const pid_t child = pid_t(ReadFile(pidFile).trimmed().toInt());
    QVERIFY(ProcessAlive(child));

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_runner->Stop(task.key), 1);
    QVERIFY(WaitForEnds(1));
    QVERIFY(timer.elapsed() < RunningInstance::StopGraceMs);   // SIGTERM was enough
    QCOMPARE(m_catalog->runtime[task.key].lastResult, RunResults::StoppedByRequest);
    QTRY_VERIFY(!ProcessAlive(child));
    QCOMPARE(m_runner->Stop(task.key), 0);
}

void TestRunner::stopRightAfterTheStart()
{
    // A stop that reaches the supervisor from the launcher while it still prepares the program
    // must not be lost: the program then never starts, or ends with its group. Repeated, so
    // that the stop meets the supervisor at different moments of its start.
    const RunnableTask task = Shell(QStringLiteral("\\Brief"), QStringLiteral("sleep 60"));
    m_catalog->Put(task);
    for (int i = 0; i < 20; ++i) {
        QTRY_VERIFY(m_runner->Launcher().LauncherPid() > 0);   // started at once, as by a daemon
        QString error;
        QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(m_runner->Stop(task.key), 1);
        QVERIFY(WaitForEnds(i + 1));
        // Only a lost stop waits for the kill after the grace.
        QVERIFY2(timer.elapsed() < RunningInstance::StopGraceMs, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(m_catalog->runtime[task.key].lastResult, RunResults::StoppedByRequest);
    }
}

void TestRunner::stopKillsWhatIgnoresIt()
{
    const QString ready = Dir() + QStringLiteral("/ready");
    RunnableTask task = Shell(QStringLiteral("\\Stubborn"), QStringLiteral("trap '' TERM; touch '%1'; while true; do sleep 1; done").arg(ready));
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QTRY_VERIFY(QFile::exists(ready));
    QElapsedTimer timer;
    timer.start();
    m_runner->Stop(task.key);
    QVERIFY(WaitForEnds(1, RunningInstance::StopGraceMs + 10000));
    // It shrugged off SIGTERM: only the kill once the grace was over ended it (the grace's
    // timer is a coarse one, which may fire up to 5% early).
    QVERIFY2(timer.elapsed() >= RunningInstance::StopGraceMs * 95 / 100, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(m_catalog->runtime[task.key].lastResult, RunResults::StoppedByRequest);
}

void TestRunner::timeLimit()
{
    RunnableTask task = Shell(QStringLiteral("\\Slow"), QStringLiteral("sleep 30"));
    task.executionTimeLimitMs = 700;
    m_catalog->Put(task);
    QString error;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(1));
    QVERIFY(timer.elapsed() >= 600);
    QCOMPARE(m_catalog->runtime[task.key].lastResult, RunResults::TimedOut);
    // A run that ends by its limit is not a failure to retry.
    QVERIFY(!m_runner->IsBusy(task.key));
}

void TestRunner::stopsAtTheEndOfItsRepetition()
{
    RunnableTask task = Shell(QStringLiteral("\\Repeating"), QStringLiteral("sleep 30"));
    task.instances = InstancesPolicy::Queue;
    m_catalog->Put(task);
    QString error;
    // A start whose repetition is already over does not start at all.
    QCOMPARE(m_runner->Start(task, QStringLiteral("scheduled"), &error, 0, m_clock.Now().addSecs(-1)), S_FALSE);
    QVERIFY(!m_runner->IsBusy(task.key));

    QCOMPARE(m_runner->Start(task, QStringLiteral("scheduled"), &error, 0, m_clock.Now().addMSecs(700)), S_OK);
    // A start queued behind it whose repetition ends first is dropped, not run late.
    QCOMPARE(m_runner->Start(task, QStringLiteral("scheduled"), &error, 0, m_clock.Now().addMSecs(300)), SCHED_S_TASK_QUEUED);
    QVERIFY(WaitForEnds(1));
    QCOMPARE(m_catalog->runtime[task.key].lastResult, RunResults::StoppedByRequest);
    const QList<RunHistoryEntry> runs = m_runner->History().Read(task.key);
    QCOMPARE(runs.size(), 1);
    QVERIFY(runs.first().start.msecsTo(runs.first().end) >= 600);
    QTRY_VERIFY(!m_runner->IsBusy(task.key));
    QCOMPARE(m_runner->History().Read(task.key).size(), 1);
}

void TestRunner::instancePolicies_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<qint64>("secondStart");
    QTest::addColumn<int>("runningAfterSecond");
    QTest::addColumn<int>("runs");
    QTest::addColumn<qint64>("firstResult");
    QTest::newRow("parallel") << int(InstancesPolicy::Parallel) << qint64(S_OK) << 2 << 2 << qint64(0);
    QTest::newRow("queue") << int(InstancesPolicy::Queue) << qint64(SCHED_S_TASK_QUEUED) << 1 << 2 << qint64(0);
    QTest::newRow("ignore new") << int(InstancesPolicy::IgnoreNew) << qint64(SCHED_E_ALREADY_RUNNING) << 1 << 1 << qint64(0);
    QTest::newRow("stop existing") << int(InstancesPolicy::StopExisting) << qint64(S_OK) << 1 << 2 << qint64(RunResults::StoppedByRequest);
}

void TestRunner::instancePolicies()
{
    QFETCH(int, policy);
    QFETCH(qint64, secondStart);
    QFETCH(int, runningAfterSecond);
    QFETCH(int, runs);
    QFETCH(qint64, firstResult);
    const QString gate = Dir() + QStringLiteral("/gate");
    const QString log = Dir() + QStringLiteral("/starts");
    // Each run notes its start and then waits for the gate (or its stop).
    RunnableTask task = Shell(QStringLiteral("\\Policy"), QStringLiteral("echo start >> '%1'; i=0; while [ ! -e '%2' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done").arg(log, gate));
    task.instances = InstancesPolicy(policy);
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("scheduled"), &error), S_OK);
    QTRY_COMPARE(ReadFile(log).count("start"), 1);
    QCOMPARE(qint64(m_runner->Start(task, QStringLiteral("demand"), &error)), secondStart);
    if (task.instances == InstancesPolicy::Queue) QCOMPARE(m_catalog->runtime[task.key].runState, TaskRuntime::Running);
    if (task.instances == InstancesPolicy::StopExisting) QVERIFY(WaitForEnds(1));
    QTRY_COMPARE(int(m_runner->Instances(task.key).size()), runningAfterSecond);
    if (task.instances != InstancesPolicy::Queue) QTRY_COMPARE(int(ReadFile(log).count("start")), runs);

    QFile(gate).open(QIODevice::WriteOnly);
    QVERIFY(WaitForEnds(runs));
    QCOMPARE(int(ReadFile(log).count("start")), runs);
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), runs);
    QCOMPARE(qint64(history[0].result), firstResult);
    QCOMPARE(m_catalog->runtime[task.key].runState, TaskRuntime::Idle);
}

void TestRunner::restartsAfterFailure()
{
    RunnableTask task = Shell(QStringLiteral("\\Flaky"), QStringLiteral("exit 3"));
    task.restartCount = 2;
    task.restartIntervalMs = 150;
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("scheduled"), &error), S_OK);
    // The first run and two restarts, no more: a restart is armed as the run's end is
    // handled, so by the third end one more would be waiting.
    QVERIFY(WaitForEnds(3));
    QVERIFY(!m_runner->IsBusy(task.key));
    QCOMPARE(m_ended->count(), 3);
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(history[i].attempt, i);
        QCOMPARE(history[i].result, HRESULT(3));
        QCOMPARE(history[i].cause, QStringLiteral("scheduled"));
    }
    QVERIFY(history[1].start >= history[0].end.addMSecs(100));

    // A run that succeeds is not restarted; a stopped one neither.
    RunnableTask fine = Shell(QStringLiteral("\\Fine"), QStringLiteral("exit 0"));
    fine.restartCount = 2;
    fine.restartIntervalMs = 100;
    m_catalog->Put(fine);
    QCOMPARE(m_runner->Start(fine, QStringLiteral("scheduled"), &error), S_OK);
    QVERIFY(WaitForEnds(4));
    QVERIFY(!m_runner->IsBusy(fine.key));
    QCOMPARE(m_ended->count(), 4);
}

void TestRunner::unsupportedActions()
{
    const QString out = Dir() + QStringLiteral("/first");
    RunnableTask mixed = Shell(QStringLiteral("\\Mixed"), QStringLiteral("touch '%1'").arg(out));
    mixed.actions.append(TaskAction{TaskAction::Email, {}, {}, {}});
    mixed.actions.append(TaskAction{TaskAction::Exec, QStringLiteral("sh"), QStringLiteral("-c \"touch '%1-never'\"").arg(out), {}});
    RunnableTask mailOnly;
    mailOnly.key = TaskKey{TaskGeneration::Gen2, QStringLiteral("\\Mail")};
    mailOnly.actions = {TaskAction{TaskAction::Message, {}, {}, {}}};
    m_catalog->Put(mixed);
    m_catalog->Put(mailOnly);
    QString error;
    QCOMPARE(m_runner->Start(mixed, QStringLiteral("demand"), &error), S_OK);
    QCOMPARE(m_runner->Start(mailOnly, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(2));
    QVERIFY(QFile::exists(out));
    QVERIFY(!QFile::exists(out + QStringLiteral("-never")));
    QCOMPARE(m_catalog->runtime[mixed.key].lastResult, RunResults::NotSupported);
    QCOMPARE(m_catalog->runtime[mailOnly.key].lastResult, RunResults::NotSupported);
    QCOMPARE(m_runner->History().Read(mailOnly.key).size(), 1);
}

void TestRunner::disabledTaskNeverStarts()
{
    RunnableTask task = Shell(QStringLiteral("\\Off"), QStringLiteral("true"));
    task.enabled = false;
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), SCHED_E_TASK_DISABLED);
    QVERIFY(m_runner->Instances(task.key).isEmpty());
    QVERIFY(m_runner->History().Read(task.key).isEmpty());
    QVERIFY(!m_catalog->runtime.contains(task.key));

    // Nor does a start that was queued before the task was disabled.
    const QString gate = Dir() + QStringLiteral("/gate");
    const QString log = Dir() + QStringLiteral("/starts");
    RunnableTask queued = Shell(QStringLiteral("\\Queued"), QStringLiteral("echo start >> '%1'; i=0; while [ ! -e '%2' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done").arg(log, gate));
    queued.instances = InstancesPolicy::Queue;
    m_catalog->Put(queued);
    QCOMPARE(m_runner->Start(queued, QStringLiteral("scheduled"), &error), S_OK);
    QCOMPARE(m_runner->Start(queued, QStringLiteral("scheduled"), &error), SCHED_S_TASK_QUEUED);
    queued.enabled = false;
    m_catalog->Put(queued);
    QFile(gate).open(QIODevice::WriteOnly);
    QVERIFY(WaitForEnds(1));
    QVERIFY(!WaitForEnds(2, 1500));
    QVERIFY(m_runner->Instances(queued.key).isEmpty());
    QCOMPARE(int(ReadFile(log).count("start")), 1);
    QCOMPARE(m_catalog->runtime[queued.key].runState, TaskRuntime::Idle);
}

void TestRunner::takesOverAfterDaemonDeath()
{
    const QString gate = Dir() + QStringLiteral("/gate");
    RunnableTask task = Shell(QStringLiteral("\\Survivor"), QStringLiteral("i=0; while [ ! -e '%1' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; exit 5").arg(gate));
    task.executionTimeLimitMs = 60000;
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    const pid_t supervisor = m_runner->Instances(task.key).value(0)->Pid();

    // The daemon goes away; its instance does not.
    m_runner.reset();
    QVERIFY(ProcessAlive(supervisor));
    m_runner = NewRunner();
    m_runner->Recover();
    QCOMPARE(m_runner->Instances(task.key).size(), 1);
    QCOMPARE(m_runner->Instances(task.key).value(0)->Pid(), supervisor);

    QFile(gate).open(QIODevice::WriteOnly);
    QVERIFY(WaitForEnds(1));
    QCOMPARE(m_catalog->runtime[task.key].lastResult, HRESULT(5));
    QCOMPARE(m_runner->History().Read(task.key).size(), 1);
}

void TestRunner::supervisorsFromTheLauncher_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("its waiting supervisor runs the start") << QString();
    QTest::newRow("a waiting supervisor that died is replaced by another") << QStringLiteral("kill the waiting supervisor");
    QTest::newRow("without it, a start gets a supervisor of its own and a new launcher follows") << QStringLiteral("kill the launcher");
    QTest::newRow("its instance is taken over by the next daemon; the launcher goes with its daemon") << QStringLiteral("daemon dies");
}

void TestRunner::supervisorsFromTheLauncher()
{
    QFETCH(QString, before);
    QTRY_VERIFY(m_runner->Launcher().LauncherPid() > 0);
    const pid_t launcher = m_runner->Launcher().LauncherPid();
    // The launcher leads a session of its own, and so does every supervisor, the one that
    // waits included once it has settled: signals meant for one never reach another.
    QCOMPARE(SessionOf(launcher), launcher);
    QTRY_COMPARE(WaitingOf(launcher).size(), 1);
    const pid_t waiting = WaitingOf(launcher).value(0);
    QTRY_COMPARE(SessionOf(waiting), waiting);
    if (before == QLatin1String("kill the waiting supervisor")) {
        QCOMPARE(::kill(waiting, SIGKILL), 0);
        QTRY_VERIFY(!WaitingOf(launcher).contains(waiting));
    } else if (before == QLatin1String("kill the launcher")) {
        QCOMPARE(::kill(launcher, SIGKILL), 0);
        QTRY_VERIFY(InSession(launcher).isEmpty());
        QTRY_VERIFY(!ProcessAlive(waiting));   // it does not wait for a launcher that is gone
    }
    const QString gate = Dir() + QStringLiteral("/gate");
    const RunnableTask task = Shell(QStringLiteral("\\Launched"), QStringLiteral("while [ ! -e '%1' ]; do sleep 0.05; done; exit 6").arg(gate));
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    const RunningInstance* instance = m_runner->Instances(task.key).value(0);
    QVERIFY(instance);
    const pid_t supervisor = instance->Pid();
    const bool launched = before != QLatin1String("kill the launcher");
    QCOMPARE(ParentOf(supervisor), launched ? launcher : ::getpid());
    if (before == QLatin1String("kill the waiting supervisor")) QVERIFY(supervisor != waiting);
    else if (launched) QCOMPARE(supervisor, waiting);
    // Recognised by its instance file as soon as the start is answered.
    const QString file = QFileInfo(InstanceFiles::DescriptionFile(m_runner->Launcher().InstancesDir(), instance->Description().id)).absoluteFilePath();
    QCOMPARE(SupervisorScan().Running().value(file), supervisor);
    QCOMPARE(SessionOf(supervisor), supervisor);
    if (launched) {
        // The next one waits already for the start after it.
        QTRY_COMPARE(WaitingOf(launcher).size(), 1);
        QVERIFY(WaitingOf(launcher).value(0) != supervisor);
        QCOMPARE(m_runner->Launcher().LauncherPid(), launcher);
    } else {
        QTRY_VERIFY(m_runner->Launcher().LauncherPid() > 0 && m_runner->Launcher().LauncherPid() != launcher);
    }
    if (before == QLatin1String("daemon dies")) {
        const pid_t next = WaitingOf(launcher).value(0);
        m_runner.reset();
        QVERIFY(ProcessAlive(supervisor));
        // Neither it nor its waiting supervisor outlives the daemon.
        QTRY_VERIFY(InSession(launcher).isEmpty());
        QTRY_VERIFY(!ProcessAlive(next));
        m_runner = NewRunner();
        m_runner->Recover();
        QCOMPARE(m_runner->Instances(task.key).value(0)->Pid(), supervisor);
    }
    QFile(gate).open(QIODevice::WriteOnly);
    QVERIFY(WaitForEnds(1));
    QCOMPARE(m_catalog->runtime[task.key].lastResult, HRESULT(6));
    QCOMPARE(m_runner->History().Read(task.key).size(), 1);
}

void TestRunner::logAndHistoryNamesNeverCollide()
{
    const QStringList paths{QStringLiteral("\\foo"), QStringLiteral("\\foo.log\\bar"), QStringLiteral("\\foo.json\\baz"),
                            QStringLiteral("\\foo.folder\\x"), QStringLiteral("\\taskschedd")};
    QSet<QString> files;
    for (const QString& path : paths) {
        const RunnableTask task = Shell(path, QStringLiteral("echo output-of-%1").arg(paths.indexOf(path)));
        m_catalog->Put(task);
        QString error;
        QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
        files << m_runner->Launcher().LogFile(task.key) << m_runner->History().File(task.key);
    }
    QCOMPARE(files.size(), 2 * paths.size());
    QVERIFY(WaitForEnds(int(paths.size())));
    for (const QString& path : paths) {
        const TaskKey key{TaskGeneration::Gen2, path};
        const QByteArray log = ReadFile(m_runner->Launcher().LogFile(key));
        for (int other = 0; other < paths.size(); ++other)
            QCOMPARE(log.contains("output-of-" + QByteArray::number(other)), other == paths.indexOf(path));
        QCOMPARE(m_runner->History().Read(key).size(), 1);
    }
}

void TestRunner::historyOfAnEarlierVersionIsRead()
{
    // Earlier versions kept "\A\b" in history/v2/A/b.json; a file there that names another
    // task (whose name collided) is not taken.
    const QString old = Dir() + QStringLiteral("/history/v2/A/b.json");
    QVERIFY(QDir().mkpath(QFileInfo(old).absolutePath()));
    QFile file(old);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"version":1,"task":"v2:\\A\\b","runs":[{"instance":"i1","cause":"scheduled","attempt":0,"start":1000,"end":2000,"result":0}]})");
    file.close();
    const QList<RunHistoryEntry> runs = m_runner->History().Read(TaskKey{TaskGeneration::Gen2, QStringLiteral("\\A\\b")});
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first().instance, QStringLiteral("i1"));
    QVERIFY(m_runner->History().Read(TaskKey{TaskGeneration::Gen2, QStringLiteral("\\A\\c")}).isEmpty());
    const QString other = Dir() + QStringLiteral("/history/v2/A/c.json");
    QVERIFY(QFile::copy(old, other));
    QVERIFY(m_runner->History().Read(TaskKey{TaskGeneration::Gen2, QStringLiteral("\\A\\c")}).isEmpty());
}

void TestRunner::historyChangedByOthersIsReadAgain_data()
{
    QTest::addColumn<QByteArray>("replacement");   // empty: the file is removed
    QTest::addColumn<QStringList>("instances");
    const QByteArray other = R"({"version":1,"task":"v2:\\H","runs":[{"instance":"other","cause":"demand","attempt":0,"start":1000,"end":2000,"result":0}]})";
    QTest::newRow("replaced by another history") << other << QStringList{QStringLiteral("other")};
    QTest::newRow("damaged") << QByteArray("{\"version\":1,\"runs\":[") << QStringList{};
    QTest::newRow("removed") << QByteArray() << QStringList{};
}

void TestRunner::historyChangedByOthersIsReadAgain()
{
    // What the history wrote last is kept in memory; a file changed since, even to the same
    // size, is read from the disk again.
    QFETCH(QByteArray, replacement);
    QFETCH(QStringList, instances);
    const TaskKey key{TaskGeneration::Gen2, QStringLiteral("\\H")};
    RunHistory history{ServiceRoot(Dir())};
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(1000);
    QVERIFY(history.Append(key, RunHistoryEntry{QStringLiteral("first"), QStringLiteral("demand"), 0, at, at, 0, {}}));
    QCOMPARE(history.Read(key).value(0).instance, QStringLiteral("first"));
    if (replacement.isEmpty()) {
        QVERIFY(QFile::remove(history.File(key)));
    } else {
        QFile file(history.File(key));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(replacement);
    }
    QString error;
    QStringList read;
    for (const RunHistoryEntry& e : history.Read(key, &error)) read << e.instance;
    QCOMPARE(read, instances);
    // Appending starts from what is on the disk, not from what was remembered.
    QVERIFY(history.Append(key, RunHistoryEntry{QStringLiteral("next"), QStringLiteral("demand"), 0, at, at, 0, {}}));
    read.clear();
    for (const RunHistoryEntry& e : history.Read(key)) read << e.instance;
    QCOMPARE(read, instances + QStringList{QStringLiteral("next")});
}

void TestRunner::runStateChangedByOthersIsReadAgain_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("stateFileLeft");
    QTest::addColumn<qint32>("lastResult");   // after the catalog's next change, which sets only the run state
    QTest::addColumn<int>("missedRuns");
    QTest::newRow("untouched") << QString() << true << qint32(5) << 0;
    QTest::newRow("replaced by another writer") << QStringLiteral("replace") << true << qint32(7) << 3;
    QTest::newRow("damaged in place") << QStringLiteral("damage") << true << qint32(SCHED_S_TASK_HAS_NOT_RUN) << 0;
    QTest::newRow("removed") << QStringLiteral("remove") << true << qint32(SCHED_S_TASK_HAS_NOT_RUN) << 0;
    QTest::newRow("task deleted") << QStringLiteral("delete") << false << qint32(0) << 0;
}

void TestRunner::runStateChangedByOthersIsReadAgain()
{
    // The catalog keeps the state it wrote last; a state file changed since is read from the
    // disk again, and the state of a task deleted meanwhile is not written back.
    QFETCH(QString, change);
    QFETCH(bool, stateFileLeft);
    QFETCH(qint32, lastResult);
    QFETCH(int, missedRuns);
    const ServiceRoot root(Dir());
    TaskStore store(root);
    const TaskPath path = *TaskPath::Parse(QStringLiteral("\\S"));
    TaskDocument doc;
    ActionData exec;
    exec.path = QStringLiteral("/bin/true");
    doc.actions = {exec};
    store.StoreTask(path, doc, TaskStore::Mode::Create);
    Gen2Catalog catalog(root);
    const TaskKey key{TaskGeneration::Gen2, path.ToString()};
    QString error;
    QVERIFY(catalog.ChangeRuntime(key, [](TaskRuntime& r) {
        r.runState = TaskRuntime::Running;
        r.lastResult = 5;
    }, &error, TaskCatalog::RuntimeWrite::Cached));

    const QString file = store.StateFile(path);
    if (change == QLatin1String("replace")) {
        TaskRuntimeState other;
        other.lastTaskResult = 7;
        other.missedRuns = 3;
        TaskStore(root).WriteState(path, other);
    } else if (change == QLatin1String("damage")) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
        f.write("}}");
    } else if (change == QLatin1String("remove")) {
        QVERIFY(QFile::remove(file));
    } else if (change == QLatin1String("delete")) {
        store.DeleteTask(path);
    }

    QVERIFY2(catalog.ChangeRuntime(key, [](TaskRuntime& r) { r.runState = TaskRuntime::Idle; }, &error), qPrintable(error));
    QCOMPARE(QFile::exists(file), stateFileLeft);
    if (!stateFileLeft) return;
    const auto state = store.ReadState(path, &error);
    QVERIFY2(state, qPrintable(error));
    QCOMPARE(state->runState, TaskRuntimeState::Idle);
    QCOMPARE(state->lastTaskResult, lastResult);
    QCOMPARE(state->missedRuns, missedRuns);
}

void TestRunner::recordsWhatEndedWithoutDaemon()
{
    RunnableTask quick = Shell(QStringLiteral("\\Quick"), QStringLiteral("sleep 0.3; exit 4"));
    m_catalog->Put(quick);
    QString error;
    QCOMPARE(m_runner->Start(quick, QStringLiteral("scheduled"), &error), S_OK);
    const pid_t supervisor = m_runner->Instances(quick.key).value(0)->Pid();
    m_runner.reset();
    QTRY_VERIFY(!ProcessAlive(supervisor));

    // An instance whose supervisor vanished without a word.
    InstanceDescription lost;
    lost.id = QStringLiteral("0f0e0d0c-0000-4000-8000-000000000001");
    lost.task = QStringLiteral("v2:\\Lost");
    lost.cause = QStringLiteral("missed");
    lost.start = QDateTime::currentDateTime().addSecs(-60);
    lost.logFile = Dir() + QStringLiteral("/lost.log");
    m_catalog->Put(Shell(QStringLiteral("\\Lost"), QStringLiteral("true")));
    const QString instances = Dir() + QStringLiteral("/instances");
    QFile descriptionFile(InstanceFiles::DescriptionFile(instances, lost.id));
    QVERIFY(descriptionFile.open(QIODevice::WriteOnly));
    descriptionFile.write(InstanceFiles::EncodeDescription(lost));
    descriptionFile.close();
    // And a damaged one, which is dropped.
    QFile damaged(InstanceFiles::DescriptionFile(instances, QStringLiteral("damaged")));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"kind\":");
    damaged.close();

    m_runner = NewRunner();
    m_runner->Recover();
    QCOMPARE(m_catalog->runtime[quick.key].lastResult, HRESULT(4));
    QCOMPARE(m_catalog->runtime[quick.key].runState, TaskRuntime::Idle);
    const TaskKey lostKey{TaskGeneration::Gen2, QStringLiteral("\\Lost")};
    QCOMPARE(m_catalog->runtime[lostKey].lastResult, RunResults::Lost);
    QCOMPARE(m_runner->History().Read(lostKey).value(0).instance, lost.id);
    QVERIFY(QDir(instances).entryList(QDir::Files).isEmpty());
    // For a catch-up, a run that ended counts as made; a lost one (maybe never spawned) does not.
    QVERIFY(m_runner->StartedSince(quick.key, QStringLiteral("scheduled"), lost.start));
    QVERIFY(!m_runner->StartedSince(lostKey, QStringLiteral("missed"), lost.start.addSecs(-1)));
}

// Instance files are not flushed to disk, so after a power failure an instance may come back
// whose run was recorded already, or with an outcome whose data never reached the disk.
void TestRunner::instanceFilesAfterAPowerFailure_data()
{
    QTest::addColumn<bool>("recordedBefore");
    QTest::addColumn<QByteArray>("outcome");
    QTest::addColumn<bool>("stateSaysRunning");   // the daemon went between recording the run and its state
    QTest::addColumn<HRESULT>("lastResult");
    QTest::addColumn<int>("runs");
    InstanceOutcome ended;
    ended.end = QDateTime::currentDateTime();
    ended.exitCode = 9;
    ended.stepsRun = 1;
    QTest::newRow("recorded before, its removal undone") << true << InstanceFiles::EncodeOutcome(ended) << false << HRESULT(4) << 1;
    QTest::newRow("recorded before, without its outcome") << true << QByteArray() << false << HRESULT(4) << 1;
    QTest::newRow("recorded, its state not written") << true << InstanceFiles::EncodeOutcome(ended) << true << HRESULT(4) << 1;
    QTest::newRow("not recorded, its outcome empty") << false << QByteArray("") << false << RunResults::Lost << 2;
    QTest::newRow("not recorded, its outcome cut short") << false << InstanceFiles::EncodeOutcome(ended).left(20) << false << RunResults::Lost << 2;
    QTest::newRow("not recorded, its outcome whole") << false << InstanceFiles::EncodeOutcome(ended) << false << HRESULT(9) << 2;
    QTest::newRow("not recorded, its state not written") << false << InstanceFiles::EncodeOutcome(ended) << true << HRESULT(9) << 2;
}

void TestRunner::instanceFilesAfterAPowerFailure()
{
    QFETCH(bool, recordedBefore);
    QFETCH(QByteArray, outcome);
    QFETCH(bool, stateSaysRunning);
    QFETCH(HRESULT, lastResult);
    QFETCH(int, runs);
    const RunnableTask task = Shell(QStringLiteral("\\Back"), QStringLiteral("exit 4"));
    m_catalog->Put(task);
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QVERIFY(WaitForEnds(1));
    const RunHistoryEntry recorded = m_runner->History().Read(task.key).value(0);
    QCOMPARE(recorded.result, HRESULT(4));
    m_runner.reset();

    InstanceDescription back;
    back.id = recordedBefore ? recorded.instance : QStringLiteral("0f0e0d0c-0000-4000-8000-000000000002");
    back.task = task.key.ToString();
    back.cause = QStringLiteral("demand");
    back.start = recorded.start;
    back.logFile = Dir() + QStringLiteral("/back.log");
    const QString instances = Dir() + QStringLiteral("/instances");
    QFile description(InstanceFiles::DescriptionFile(instances, back.id));
    QVERIFY(description.open(QIODevice::WriteOnly));
    description.write(InstanceFiles::EncodeDescription(back));
    description.close();
    if (!outcome.isNull()) {
        QFile file(InstanceFiles::OutcomeFile(instances, back.id));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(outcome);
    }
    if (stateSaysRunning) {
        m_catalog->runtime[task.key].runState = TaskRuntime::Running;
        m_catalog->runtime[task.key].lastResult = RunResults::Running;
    }

    m_runner = NewRunner();
    m_runner->Recover();
    QCOMPARE(m_catalog->runtime[task.key].lastResult, lastResult);
    QCOMPARE(m_catalog->runtime[task.key].runState, TaskRuntime::Idle);
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), runs);
    QCOMPARE(history.first(), recorded);
    QCOMPARE(m_ended->count(), runs - 1);
    QVERIFY(QDir(instances).entryList(QDir::Files).isEmpty());
}

// Instances that end close together are recorded together; each is a run of its own, and a
// run counts as made from its start on, also while its end waits to be recorded.
void TestRunner::instancesEndingTogether()
{
    const QString gate = Dir() + QStringLiteral("/gate");
    RunnableTask task = Shell(QStringLiteral("\\Together"), QStringLiteral("true"));
    task.instances = InstancesPolicy::Parallel;
    const QDateTime since = QDateTime::currentDateTime().addSecs(-1);
    QString error;
    for (int code = 1; code <= 3; ++code) {
        task.actions[0].arguments = QStringLiteral("-c \"i=0; while [ ! -e '%1' ] && [ $i -lt 600 ]; do sleep 0.02; i=$((i+1)); done; exit %2\"").arg(gate).arg(code);
        m_catalog->Put(task);
        QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    }
    QCOMPARE(m_runner->Instances(task.key).size(), 3);
    QList<bool> counted;
    for (const RunningInstance* instance : m_runner->Instances(task.key)) {
        // Called right after the runner saw the end, before it is recorded.
        connect(instance, &RunningInstance::Ended, this, [&] { counted.append(m_runner->StartedSince(task.key, QStringLiteral("demand"), since)); });
    }
    QFile(gate).open(QIODevice::WriteOnly);
    QVERIFY(WaitForEnds(3));
    QCOMPARE(counted, (QList<bool>{true, true, true}));
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 3);
    QSet<HRESULT> results;
    for (const RunHistoryEntry& run : history) results.insert(run.result);
    QCOMPARE(results, (QSet<HRESULT>{1, 2, 3}));
    QCOMPARE(m_catalog->runtime[task.key].runState, TaskRuntime::Idle);
    QCOMPARE(m_catalog->runtime[task.key].lastResult, history.last().result);
    QTRY_VERIFY(QDir(m_runner->Launcher().InstancesDir()).entryList(QDir::Files).isEmpty());
}

// Run states as a power failure leaves them when the instance files did not reach the disk.
void TestRunner::runStatesOfAnEarlierBoot_data()
{
    QTest::addColumn<bool>("newBoot");
    QTest::newRow("the same boot: its instances may still run") << false;
    QTest::newRow("a new boot: none of them runs") << true;
}

void TestRunner::runStatesOfAnEarlierBoot()
{
    QFETCH(bool, newBoot);
    const RunnableTask running = Shell(QStringLiteral("\\Running"), QStringLiteral("true"));
    const RunnableTask queued = Shell(QStringLiteral("\\Queued"), QStringLiteral("true"));
    const RunnableTask idle = Shell(QStringLiteral("\\Idle"), QStringLiteral("true"));
    for (const RunnableTask& task : {running, queued, idle}) m_catalog->Put(task);
    const QDateTime start = QDateTime::currentDateTime().addSecs(-30);
    m_catalog->runtime[running.key] = TaskRuntime{TaskRuntime::Running, start, RunResults::Running, 0};
    m_catalog->runtime[queued.key] = TaskRuntime{TaskRuntime::Queued, start, HRESULT(3), 0};
    m_catalog->runtime[idle.key] = TaskRuntime{TaskRuntime::Idle, start, HRESULT(5), 1};

    m_runner->Recover(newBoot);
    const TaskRuntime& wasRunning = m_catalog->runtime[running.key];
    QCOMPARE(wasRunning.runState, newBoot ? TaskRuntime::Idle : TaskRuntime::Running);
    QCOMPARE(wasRunning.lastResult, newBoot ? RunResults::Lost : RunResults::Running);
    QCOMPARE(wasRunning.lastRunTime, start);
    QCOMPARE(m_catalog->runtime[queued.key].runState, newBoot ? TaskRuntime::Idle : TaskRuntime::Queued);
    QCOMPARE(m_catalog->runtime[queued.key].lastResult, HRESULT(3));
    const TaskRuntime& wasIdle = m_catalog->runtime[idle.key];
    QCOMPARE(wasIdle.runState, TaskRuntime::Idle);
    QCOMPARE(wasIdle.lastResult, HRESULT(5));
    QCOMPARE(wasIdle.missedRuns, 1);
}

// The tasks whose stored run state says they run or wait, read from the stores' files.
void TestRunner::unsettledTasksOfTheStores()
{
    const ServiceRoot root(Dir());
    TaskStore store(root);
    TaskDocument doc;
    ActionData exec;
    exec.path = QStringLiteral("/bin/true");
    doc.actions = {exec};
    const QList<std::pair<QString, TaskRuntimeState::RunState>> states{
        {QStringLiteral("\\Top"), TaskRuntimeState::Running},
        {QStringLiteral("\\A\\B\\Deep"), TaskRuntimeState::Queued},
        {QStringLiteral("\\A\\Calm"), TaskRuntimeState::Idle},
        {QStringLiteral("\\x.folder\\y.state"), TaskRuntimeState::Running}};
    for (const auto& [path, runState] : states) {
        const TaskPath task = *TaskPath::Parse(path);
        store.StoreTask(task, doc, TaskStore::Mode::Create);
        TaskRuntimeState state;
        state.runState = runState;
        store.WriteState(task, state);
    }
    // A state file that does not load says nothing.
    QFile damaged(store.StateFile(*TaskPath::Parse(QStringLiteral("\\A\\Calm"))));
    QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Append));
    damaged.write("}}");
    damaged.close();
    QStringList found;
    for (const TaskKey& key : Gen2Catalog(root).Unsettled()) found << key.ToString();
    found.sort();
    QCOMPARE(found, (QStringList{QStringLiteral("v2:\\A\\B\\Deep"), QStringLiteral("v2:\\Top"), QStringLiteral("v2:\\x.folder\\y.state")}));

    JobStore jobs(root);
    for (const QString& name : {QStringLiteral("Busy.job"), QStringLiteral("Calm.job")}) {
        JobDefinition job;
        job.applicationName = QStringLiteral("/bin/true");
        QVERIFY(jobs.Save(name, job, JobStore::SaveMode::CreateNew).Ok());
    }
    JobRuntime busy;
    busy.running = true;
    QVERIFY(jobs.SaveRuntime(QStringLiteral("Busy.job"), busy).Ok());
    const QList<TaskKey> jobKeys = Gen1Catalog(root).Unsettled();
    QCOMPARE(jobKeys, (QList<TaskKey>{TaskKey{TaskGeneration::Gen1, QStringLiteral("Busy.job")}}));
}

// Where a daemon finds its supervisor: beside itself in a build tree, in libexec installed.
// A file there that is not a program does not count, and PATH is the last resort.
void TestRunner::historyFileIsTheJsonOfItsRuns_data()
{
    QTest::addColumn<QString>("text");   // a skip reason, a cause and part of the task's name
    QTest::newRow("plain") << QStringLiteral("The computer is on batteries.");
    QTest::newRow("quotes, backslashes and a slash") << QStringLiteral(R"(say "no" to C:\temp\ and a/b)");
    QTest::newRow("control characters") << QStringLiteral("tab\tline\nreturn\rbell\x07" "form\fback\b\x1f end\x7f");
    QTest::newRow("beyond ASCII") << QStringLiteral("Grüße, 東京, \U0001F600");
    QTest::newRow("no reason") << QString();
}

void TestRunner::historyFileIsTheJsonOfItsRuns()
{
    // The file is the JSON document of the runs it keeps, byte for byte as QJsonDocument
    // writes it, and reads back as written; the oldest runs go beyond the limit.
    QFETCH(QString, text);
    const TaskKey key{TaskGeneration::Gen2, QStringLiteral("\\History ") + QString(text).remove(QRegularExpression(QStringLiteral("[\\\\/\\x00-\\x1f]")))};
    RunHistory history{ServiceRoot(Dir())};
    QList<RunHistoryEntry> written;
    const int total = RunHistory::MaxEntries + 3;
    for (int i = 0; i < total; i += 2) {
        QList<RunHistoryEntry> runs;
        for (int j = i; j < std::min(i + 2, total); ++j) {
            // Times in local time as well as in UTC, and one before 1970.
            const QDateTime start = j == 1 ? QDateTime::fromMSecsSinceEpoch(-86400000) : QDateTime::fromMSecsSinceEpoch(1700000000000 + j * 1000, j % 2 ? Qt::UTC : Qt::LocalTime);
            runs.append(RunHistoryEntry{QStringLiteral("instance-%1").arg(j), j % 3 ? QStringLiteral("demand") : text, j, start, start.addMSecs(250 + j),
                                        HRESULT(j % 4 ? quint32(j) : 0x8004130Fu), j % 2 ? text : QString()});
        }
        QCOMPARE(history.Append(key, runs), runs);
        written += runs;
    }
    written.erase(written.begin(), written.end() - RunHistory::MaxEntries);
    QJsonArray runs;
    for (const RunHistoryEntry& e : std::as_const(written)) {
        QJsonObject o{{QStringLiteral("instance"), e.instance}, {QStringLiteral("cause"), e.cause}, {QStringLiteral("attempt"), e.attempt},
                      {QStringLiteral("start"), e.start.toMSecsSinceEpoch()}, {QStringLiteral("end"), e.end.toMSecsSinceEpoch()},
                      {QStringLiteral("result"), qint64(quint32(e.result))}};
        if (!e.reason.isEmpty()) o.insert(QStringLiteral("reason"), e.reason);
        runs.append(o);
    }
    const QByteArray expected = QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("task"), key.ToString()},
                                                          {QStringLiteral("runs"), runs}}).toJson(QJsonDocument::Indented);
    QCOMPARE(ReadFile(history.File(key)), expected);
    QCOMPARE(history.Read(key), written);
    // Read from the file by a daemon that did not write it.
    QCOMPARE(RunHistory(ServiceRoot(Dir())).Read(key), written);
}

void TestRunner::supervisorOfABuildOrAnInstalledTree_data()
{
    enum Place { None, Program, NotAProgram };
    QTest::addColumn<int>("beside");
    QTest::addColumn<int>("libexec");
    QTest::addColumn<int>("onPath");
    QTest::addColumn<QString>("expected");
    QTest::newRow("build tree") << int(Program) << int(None) << int(Program) << "bin";
    QTest::newRow("installed") << int(None) << int(Program) << int(Program) << "libexec";
    QTest::newRow("beside wins") << int(Program) << int(Program) << int(None) << "bin";
    QTest::newRow("not a program beside") << int(NotAProgram) << int(Program) << int(None) << "libexec";
    QTest::newRow("only on PATH") << int(NotAProgram) << int(None) << int(Program) << "path";
    QTest::newRow("nowhere") << int(None) << int(NotAProgram) << int(None) << "";
}

void TestRunner::supervisorOfABuildOrAnInstalledTree()
{
    QFETCH(int, beside);
    QFETCH(int, libexec);
    QFETCH(int, onPath);
    QFETCH(QString, expected);
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QString bin = tree.filePath(QStringLiteral("prefix/bin"));
    const QHash<QString, QString> dirs{{QStringLiteral("bin"), bin},
                                       {QStringLiteral("libexec"), QDir::cleanPath(bin + QStringLiteral("/" TS_SUPERVISOR_DIR_FROM_BIN))},
                                       {QStringLiteral("path"), tree.filePath(QStringLiteral("elsewhere"))}};
    const auto place = [&](const QString& dir, int kind) {
        QVERIFY(QDir().mkpath(dirs[dir]));
        if (kind == 0) return;
        QFile file(dirs[dir] + QStringLiteral("/taskschedd-exec"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(kind == 1 ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner : QFile::ReadOwner | QFile::WriteOwner));
    };
    place(QStringLiteral("bin"), beside);
    place(QStringLiteral("libexec"), libexec);
    place(QStringLiteral("path"), onPath);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dirs[QStringLiteral("path")]));
    const QString found = InstanceLauncher::SupervisorProgram(bin);
    qputenv("PATH", path);
    QCOMPARE(found, expected.isEmpty() ? QString() : dirs[expected] + QStringLiteral("/taskschedd-exec"));
}

QTEST_GUILESS_MAIN(TestRunner)
void TestRunner::startsAheadOnlyWhatWouldLaunch_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("policy");
    QTest::addColumn<bool>("ahead");
    QTest::newRow("nothing runs") << QStringLiteral("idle") << int(InstancesPolicy::IgnoreNew) << true;
    QTest::newRow("another runs, in parallel") << QStringLiteral("running") << int(InstancesPolicy::Parallel) << true;
    QTest::newRow("another runs, new ones ignored") << QStringLiteral("running") << int(InstancesPolicy::IgnoreNew) << false;
    QTest::newRow("another runs, new ones queued") << QStringLiteral("running") << int(InstancesPolicy::Queue) << false;
    QTest::newRow("another runs, it is replaced") << QStringLiteral("running") << int(InstancesPolicy::StopExisting) << false;
    QTest::newRow("disabled") << QStringLiteral("disabled") << int(InstancesPolicy::Parallel) << false;
    QTest::newRow("its repetition ends at its time") << QStringLiteral("over") << int(InstancesPolicy::Parallel) << false;
}

void TestRunner::startsAheadOnlyWhatWouldLaunch()
{
    QFETCH(QString, situation);
    QFETCH(int, policy);
    QFETCH(bool, ahead);
    RunnableTask task = Shell(QStringLiteral("\\Ahead"), QStringLiteral("sleep 30"));
    task.instances = InstancesPolicy(policy);
    task.enabled = situation != QLatin1String("disabled");
    m_catalog->Put(task);
    QString error;
    if (situation == QLatin1String("running")) QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    const qsizetype running = m_runner->Instances(task.key).size();
    const QDateTime at = QDateTime::currentDateTimeUtc().addMSecs(100);
    QCOMPARE(m_runner->StartAhead(task, at, situation == QLatin1String("over") ? at : QDateTime()), ahead);
    QCOMPARE(m_runner->Instances(task.key).size(), running + (ahead ? 1 : 0));
    // One that is declined is left for its time, with nothing done or recorded now.
    QVERIFY(m_runner->History().Read(task.key).isEmpty());
    if (!ahead) return;
    // The task runs from the hand-over on; its run counts from its time.
    const InstanceDescription& made = m_runner->Instances(task.key).last()->Description();
    QCOMPARE(made.notBefore, at);
    QCOMPARE(made.start, at);
    QCOMPARE(made.cause, QStringLiteral("scheduled"));
    const TaskRuntime& runtime = m_catalog->runtime[task.key];
    QCOMPARE(runtime.runState, TaskRuntime::Running);
    QCOMPARE(runtime.lastRunTime, at);
    QCOMPARE(runtime.lastResult, RunResults::Running);
}

QDateTime TestRunner::HandOverAhead(const RunnableTask& task, qint64 aheadMs)
{
    m_catalog->Put(task);
    if (!QTest::qWaitFor([this] { return m_runner->Launcher().LauncherPid() > 0; })) return {};
    const QDateTime at = QDateTime::currentDateTimeUtc().addMSecs(aheadMs);
    return m_runner->StartAhead(task, at, {}) ? at : QDateTime();
}

void TestRunner::aStartHandedOverRunsAtItsTime_data()
{
    QTest::addColumn<qint64>("aheadMs");
    QTest::newRow("a moment ahead") << qint64(150);
    QTest::newRow("its time has passed") << qint64(-1000);
    QTest::newRow("far ahead: its wait is cut short") << qint64(3600000);
}

void TestRunner::aStartHandedOverRunsAtItsTime()
{
    QFETCH(qint64, aheadMs);
    const QString out = Dir() + QStringLiteral("/when.txt");
    const RunnableTask task = Shell(QStringLiteral("\\OnTime"), QStringLiteral("date +%s%N > '%1'").arg(out));
    const QDateTime at = HandOverAhead(task, aheadMs);
    QVERIFY(at.isValid());
    QVERIFY(WaitForEnds(1));
    const qint64 ran = ProgramStartMs(out);
    QVERIFY(ran > 0);
    // Never before its time; but a time further off than any lead does not hold it back.
    if (aheadMs < ExecSupervisor::MaxStartWaitMs) QVERIFY2(ran >= at.toMSecsSinceEpoch(), qPrintable(QString::number(at.toMSecsSinceEpoch() - ran)));
    else QVERIFY(ran < at.toMSecsSinceEpoch());
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 1);
    QCOMPARE(history[0].start, at);
    QCOMPARE(history[0].result, S_OK);
    QCOMPARE(m_catalog->runtime[task.key].lastResult, S_OK);
    QCOMPARE(m_catalog->runtime[task.key].runState, TaskRuntime::Idle);
    const QByteArray log = ReadFile(m_runner->Launcher().LogFile(task.key));
    QVERIFY2(log.contains("\\OnTime: start (scheduled") && log.contains("exit code 0"), log.constData());
}

void TestRunner::aStopDuringTheWaitRunsNothing()
{
    const QString out = Dir() + QStringLiteral("/ran.txt");
    const RunnableTask task = Shell(QStringLiteral("\\StoppedEarly"), QStringLiteral("touch '%1'").arg(out));
    const QDateTime at = HandOverAhead(task, 200);
    QVERIFY(at.isValid());
    // Its supervisor writes the log's first line once it has prepared everything, just before it waits.
    const QString logFile = m_runner->Launcher().LogFile(task.key);
    while (!ReadFile(logFile).contains("StoppedEarly: start") && QDateTime::currentDateTimeUtc() < at) QTest::qSleep(1);
    QVERIFY2(QDateTime::currentDateTimeUtc() < at, "the supervisor did not prepare the start in time");
    QCOMPARE(m_runner->Stop(task.key), 1);
    QVERIFY(WaitForEnds(1));
    QVERIFY(!QFile::exists(out));
    // Recorded as the stop of an instance that runs.
    QCOMPARE(m_catalog->runtime[task.key].lastResult, RunResults::StoppedByRequest);
    QCOMPARE(m_catalog->runtime[task.key].runState, TaskRuntime::Idle);
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 1);
    QCOMPARE(history[0].result, RunResults::StoppedByRequest);
    QCOMPARE(history[0].start, at);
    const QByteArray log = ReadFile(logFile);
    QVERIFY2(log.contains("stopped before its program started"), log.constData());
}

void TestRunner::aStartHandedOverOutlivesTheDaemon()
{
    const QString out = Dir() + QStringLiteral("/when.txt");
    const RunnableTask task = Shell(QStringLiteral("\\Orphan"), QStringLiteral("date +%s%N > '%1'").arg(out));
    const QDateTime at = HandOverAhead(task, 200);
    QVERIFY(at.isValid());
    const pid_t supervisor = m_runner->Instances(task.key).value(0)->Pid();

    // The daemon goes while the supervisor waits for the start's time: the next one takes the
    // instance over as any that runs, and its program starts at its time all the same.
    m_runner.reset();
    m_runner = NewRunner();
    m_runner->Recover();
    QCOMPARE(m_runner->Instances(task.key).size(), 1);
    QCOMPARE(m_runner->Instances(task.key).value(0)->Pid(), supervisor);
    QCOMPARE(m_runner->Instances(task.key).value(0)->Description().notBefore, at);
    QVERIFY(WaitForEnds(1));
    QVERIFY(ProgramStartMs(out) >= at.toMSecsSinceEpoch());
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 1);
    QCOMPARE(history[0].start, at);
    QCOMPARE(history[0].result, S_OK);
}

#include "tst_runner.moc"
