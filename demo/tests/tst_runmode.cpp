// Run mode: the command line, the run record in the task's comment, and, with the real
// service process, runs started by the service itself.

#include "DemoTestSupport.h"
#include "ProgramStartup.h"
#include "Registry.h"
#include "ScriptedPrompts.h"
#include "ServiceControl.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestRunMode : public QObject {
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void eachRunAppendsOneLine_data();
    void eachRunAppendsOneLine();
    void onlyTheRootFolderIsSearched();
    void unknownTaskDoesNothing();
    void failureStillClosesTheWindow();
    void programRunsWithoutADisplay_data();
    void programRunsWithoutADisplay();
    void serviceStartsTheProgram();
};

namespace {

/// The comment of the task `AName` in folder `AFolder`, read through a scheduler of its own.
QString CommentOf(const QString& AName, const QString& AFolder = QStringLiteral("\\"))
{
    TTaskScheduler scheduler;
    scheduler.Open();
    if (scheduler.RunningVistaOrLater()) scheduler.CurrentFolderPath = AFolder;
    scheduler.Refresh();
    TTaskItem* task = scheduler.ActivateTask(AName);
    if (!task) return QStringLiteral("<no task>");
    task->Activate();
    const QString comment = task->GetComment();
    task->Deactivate(false);
    return comment;
}

/// Whether the task `AName` of the root folder has an instance running.
bool IsRunning(const QString& AName)
{
    TTaskScheduler scheduler;
    scheduler.Open();
    scheduler.CurrentFolderPath = QStringLiteral("\\");
    scheduler.Refresh();
    TTaskItem* task = scheduler.ActivateTask(AName);
    if (!task) return false;
    task->Activate();
    const bool running = task->GetStatus() == ts2Running;
    task->Deactivate(false);
    return running;
}

/// One line that run mode appends to a comment, whatever the moment it names.
const QRegularExpression kRunLine(QStringLiteral("\r\nTask has run at [^\r\n]+"));

int RunLines(const QString& AComment)
{
    int count = 0;
    for (auto it = kRunLine.globalMatch(AComment); it.hasNext(); it.next()) ++count;
    return count;
}

} // namespace

void TestRunMode::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("runMode");
    QTest::addColumn<QString>("taskName");
    QTest::newRow("no arguments") << QStringList{"demo"} << false << "";
    QTest::newRow("-run alone") << QStringList{"demo", "-run"} << false << "";
    QTest::newRow("-run with an empty name") << QStringList{"demo", "-run", ""} << false << "";
    QTest::newRow("-run and a name") << QStringList{"demo", "-run", "Backup"} << true << "Backup";
    QTest::newRow("-RUN in capitals") << QStringList{"demo", "-RUN", "My task"} << true << "My task";
    QTest::newRow("further arguments ignored") << QStringList{"demo", "-Run", "T", "extra"} << true << "T";
    QTest::newRow("another first argument") << QStringList{"demo", "run", "T"} << false << "";
    QTest::newRow("name first") << QStringList{"demo", "T", "-run"} << false << "";
}

void TestRunMode::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, runMode);
    QFETCH(QString, taskName);
    QString name = QStringLiteral("stale");
    QCOMPARE(IsRunModeCommandLine(arguments, name), runMode);
    if (runMode) QCOMPARE(name, taskName);
}

void TestRunMode::eachRunAppendsOneLine_data()
{
    AddGenerations();
}

void TestRunMode::eachRunAppendsOneLine()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    AddTask(QStringLiteral("Payload"));
    const QString before = CommentOf(QStringLiteral("Payload"));
    for (int run = 1; run <= 2; ++run) {
        ScriptedPrompts prompts;
        TMainForm form(&prompts);
        ExecuteRunMode(form, QStringLiteral("Payload"));
        QCOMPARE(prompts.errors, QStringList());
        QVERIFY(!form.isVisible());
        QCOMPARE(RunTaskName, QStringLiteral("Payload"));
        const QString comment = CommentOf(QStringLiteral("Payload"));
        QVERIFY2(comment.startsWith(before + QStringLiteral("\r\nTask has run at ")), qPrintable(comment));
        QCOMPARE(RunLines(comment), run);
        const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
        QVERIFY2(comment.endsWith(QStringLiteral("\r\nTask has run at ") + today)
                     || comment.contains(QStringLiteral("\r\nTask has run at ") + today + QLatin1Char(' ')),
                 qPrintable(comment));
    }
    // The window was closed without being shown: its design placement is stored.
    Registry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("Software\\Talvera\\Task Scheduler\\Task Scheduler Demo\\TMainForm"), false));
    QVERIFY(reg.ReadInteger(QStringLiteral("Width")) >= 901);
}

void TestRunMode::onlyTheRootFolderIsSearched()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Nested"), QStringLiteral("/bin/true"), QStringLiteral("\\Reports"));
    const QString before = CommentOf(QStringLiteral("Nested"), QStringLiteral("\\Reports"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    ExecuteRunMode(form, QStringLiteral("Nested"));
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(CommentOf(QStringLiteral("Nested"), QStringLiteral("\\Reports")), before);
}

void TestRunMode::unknownTaskDoesNothing()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Other"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    ExecuteRunMode(form, QStringLiteral("No such task"));
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(RunLines(CommentOf(QStringLiteral("Other"))), 0);
}

void TestRunMode::failureStillClosesTheWindow()
{
    DemoTestEnvironment env;
    QVERIFY(env.UseImpossibleRoot());
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QVERIFY_THROWS_EXCEPTION(Exception, ExecuteRunMode(form, QStringLiteral("Payload")));
    // Closing stored the placement, so the window did close.
    QVERIFY(Registry().KeyExists(QStringLiteral("Software\\Talvera\\Task Scheduler\\Task Scheduler Demo\\TMainForm")));

    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/taskscheduler-demo");
    if (!QFile::exists(program)) QSKIP("taskscheduler-demo is not built beside the tests");
    QProcess demo;
    demo.start(program, {QStringLiteral("-run"), QStringLiteral("Payload")});
    QVERIFY(demo.waitForFinished(60000));
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 1);
    QVERIFY(demo.readAllStandardError().contains("taskscheduler-demo: "));
}

void TestRunMode::programRunsWithoutADisplay_data()
{
    // The service's environment may name no platform at all, or the desktop's although no
    // display can be reached from it.
    QTest::addColumn<QString>("platform");
    QTest::newRow("no platform named") << QString();
    QTest::newRow("a desktop platform named") << QStringLiteral("xcb");
}

void TestRunMode::programRunsWithoutADisplay()
{
    // The program itself, started the way the service starts it: no display, nothing asked.
    QFETCH(QString, platform);
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Payload"));
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/taskscheduler-demo");
    if (!QFile::exists(program)) QSKIP("taskscheduler-demo is not built beside the tests");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!platform.isEmpty()) environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));

    const auto runProgram = [&](const QStringList& arguments) {
        QProcess demo;
        demo.setProcessEnvironment(environment);
        demo.start(program, arguments);
        if (!demo.waitForFinished(60000)) return -1;
        if (demo.exitStatus() != QProcess::NormalExit) return -2;
        return demo.exitCode();
    };
    QCOMPARE(runProgram({QStringLiteral("-RUN"), QStringLiteral("No such task")}), 0);
    QCOMPARE(RunLines(CommentOf(QStringLiteral("Payload"))), 0);
    QCOMPARE(runProgram({QStringLiteral("-Run"), QStringLiteral("Payload"), QStringLiteral("ignored")}), 0);
    QCOMPARE(RunLines(CommentOf(QStringLiteral("Payload"))), 1);

    // The window itself cannot come up: one line says what is missing, and the exit says it failed.
    QProcess window;
    window.setProcessEnvironment(environment);
    window.start(program, {QStringLiteral("-run")});
    QVERIFY(window.waitForFinished(60000));
    QCOMPARE(window.exitStatus(), QProcess::NormalExit);
    QVERIFY(window.exitCode() != 0);
    const QString error = QString::fromLocal8Bit(window.readAllStandardError()).trimmed();
    QCOMPARE(error, QStringLiteral("taskscheduler-demo: ") + QString::fromUtf8(NoDisplayText));
    QCOMPARE(RunLines(CommentOf(QStringLiteral("Payload"))), 1);
}

void TestRunMode::serviceStartsTheProgram()
{
    const QString daemon = QCoreApplication::applicationDirPath() + QStringLiteral("/taskschedd");
    if (!QFile::exists(daemon)) QSKIP("the scheduling service (build/bin/taskschedd) is not built yet");
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/taskscheduler-demo");
    QVERIFY(QFile::exists(program));

    DemoTestEnvironment env(false, false);
    QProcess service;
    service.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(daemon, {QStringLiteral("--root"), qEnvironmentVariable("TASKSCHEDULER_HOME")});
    QVERIFY2(service.waitForStarted(10000), qPrintable(service.errorString()));
    const auto stopService = qScopeGuard([&service] {
        service.terminate();
        if (!service.waitForFinished(10000)) {
            service.kill();
            service.waitForFinished(5000);
        }
    });
    const ServiceControl control;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&control] {
            ServiceControl::State state = ServiceControl::State::Stopped;
            return control.QueryState(ServiceControl::ScheduleServiceName(), state) == 0
                && state == ServiceControl::State::Running;
        }(),
        15000);

    const QString name = QStringLiteral("RunModeProbe");
    {
        TTaskScheduler scheduler;
        scheduler.Open();
        scheduler.CurrentFolderPath = QStringLiteral("\\");
        TTaskItem* task = scheduler.CreateNewItem(name);
        task->SetCurrentAction(1);
        task->InsertAction(0);
        task->SetApplicationName(program);
        task->SetParameters(QStringLiteral("-run ") + name);
        task->Save();
        task->Run();
    }
    QTRY_COMPARE_WITH_TIMEOUT(RunLines(CommentOf(name)), 1, 60000);
    // The program saves the comment just before it ends; the scheduled start must not find
    // that instance still running.
    QTRY_VERIFY_WITH_TIMEOUT(!IsRunning(name), 60000);

    // A time trigger a few seconds ahead starts it once more. The library sets start times to
    // the minute; the service's own trigger object takes seconds, so the test need not wait
    // for the next whole minute.
    {
        TTaskScheduler scheduler;
        scheduler.Open();
        scheduler.CurrentFolderPath = QStringLiteral("\\");
        scheduler.Refresh();
        TTaskItem* task = scheduler.ActivateTask(name);
        QVERIFY(task);
        task->Activate();
        const QDateTime next = QDateTime::currentDateTime().addSecs(5);
        task->GetTriggers()->Add(ttOnce);
        TTrigger* trigger = task->GetTriggers()->GetItem(0);
        trigger->SetStartTime(EncodeDateTime(next.date(), QTime(next.time().hour(), next.time().minute())));
        trigger->SetBeginDate(EncodeDateTime(next.date(), QTime(0, 0)));
        task->GetTriggers()->UpdateTriggers();
        OleCheck(trigger->GetVistaTrigger()->put_StartBoundary(next.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))));
        task->Deactivate(true);
    }
    QTRY_COMPARE_WITH_TIMEOUT(RunLines(CommentOf(name)), 2, 150000);
}

QTEST_MAIN(TestRunMode)
#include "tst_runmode.moc"
