// Power and network conditions: which unattended starts are made, which are skipped and
// recorded with their reason, and which running instances a switch to batteries stops.

#include "FakeConditionSources.h"
#include "catalog/Gen1Catalog.h"
#include "catalog/Gen2Catalog.h"
#include "MemoryCatalog.h"
#include "run/RunResults.h"
#include "run/TaskRunner.h"
#include "TemporaryServiceRoot.h"

#include <QSignalSpy>
#include <QtTest>
#include <csignal>

namespace {

RunnableTask Gen2Task(bool noBatteries, bool stopOnBatteries, bool network, const QString& profile)
{
    TaskDocument doc;
    doc.settings.disallowStartIfOnBatteries = noBatteries;
    doc.settings.stopIfGoingOnBatteries = stopOnBatteries;
    doc.settings.runOnlyIfNetworkAvailable = network;
    doc.settings.network.name = profile;
    doc.actions = {ActionData{}};
    doc.actions[0].path = QStringLiteral("sleep");
    doc.actions[0].arguments = QStringLiteral("30");
    return Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Conditional")), doc);
}

RunnableTask Gen1Task(bool noBatteries, bool stopOnBatteries, bool network)
{
    JobDefinition d;
    d.applicationName = QStringLiteral("sleep");
    d.parameters = QStringLiteral("30");
    d.flags = (noBatteries ? TASK_FLAG_DONT_START_IF_ON_BATTERIES : 0) | (stopOnBatteries ? TASK_FLAG_KILL_IF_GOING_ON_BATTERIES : 0)
              | (network ? TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET : 0);
    return Gen1Catalog::ToRunnable(QStringLiteral("Conditional.job"), d, std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone()));
}

} // namespace

class TestConditions : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void unattendedStarts_data();
    void unattendedStarts();
    void startsAhead_data() { unattendedStarts_data(); }
    void startsAhead();
    void demandStartIgnoresConditions();
    void switchToBatteriesStops_data();
    void switchToBatteriesStops();
    void idleEndStops_data();
    void idleEndStops();

private:
    /// The task of a row of unattendedStarts_data, in its catalog, with the power and network
    /// as the row says; `why` is why it must not start, or empty.
    RunnableTask ArrangeRow(QString* why);

    std::unique_ptr<TemporaryServiceRoot> m_root;
    MemoryCatalog m_gen2{TaskGeneration::Gen2};
    MemoryCatalog m_gen1{TaskGeneration::Gen1};
    FakePower m_power;
    FakeNetwork m_network;
    SystemClock m_clock;
    std::unique_ptr<StartConditions> m_conditions;
    std::unique_ptr<TaskRunner> m_runner;
    std::unique_ptr<QSignalSpy> m_ended;
};

void TestConditions::init()
{
    m_root = std::make_unique<TemporaryServiceRoot>();
    QVERIFY(ServiceRoot(m_root->Path()).Ensure());
    m_gen1.tasks.clear();
    m_gen2.tasks.clear();
    m_gen1.runtime.clear();
    m_gen2.runtime.clear();
    m_power.onBattery = false;
    m_network = FakeNetwork{};
    m_conditions = std::make_unique<StartConditions>(m_power, m_network);
    m_runner = std::make_unique<TaskRunner>(ServiceRoot(m_root->Path()), QList<TaskCatalog*>{&m_gen2, &m_gen1}, m_clock);
    m_runner->SetConditions(m_conditions.get());
    m_ended = std::make_unique<QSignalSpy>(m_runner.get(), &TaskRunner::InstanceEnded);
}

void TestConditions::cleanup()
{
    // Nothing a test started may outlive it.
    const int running = int(m_runner->AllInstances().size());
    for (const RunningInstance* instance : m_runner->AllInstances()) ::kill(instance->Pid(), SIGUSR1);
    const int expected = int(m_ended->count()) + running;
    QTRY_VERIFY_WITH_TIMEOUT(m_ended->count() >= expected, 15000);
    m_ended.reset();
    m_runner.reset();
    m_root.reset();
}

void TestConditions::unattendedStarts_data()
{
    QTest::addColumn<RunnableTask>("task");
    QTest::addColumn<bool>("onBattery");
    QTest::addColumn<bool>("networkUp");
    QTest::addColumn<QStringList>("profiles");
    QTest::addColumn<QString>("reason");   // empty: it starts

    const QString batteries = QStringLiteral("The computer runs on batteries, and the task starts only on mains power.");
    const QString noNetwork = QStringLiteral("No network is available, and the task starts only with one.");
    const QString office = QStringLiteral("The network \"Office\" is not connected, and the task starts only with it.");
    const QStringList none;
    const QStringList officeUp{QStringLiteral("office")};

    QTest::newRow("2.0 mains only, on batteries") << Gen2Task(true, false, false, {}) << true << true << none << batteries;
    QTest::newRow("2.0 mains only, on mains") << Gen2Task(true, false, false, {}) << false << true << none << QString();
    QTest::newRow("2.0 any power, on batteries") << Gen2Task(false, false, false, {}) << true << true << none << QString();
    QTest::newRow("2.0 network, none") << Gen2Task(false, false, true, {}) << false << false << none << noNetwork;
    QTest::newRow("2.0 network, up") << Gen2Task(false, false, true, {}) << false << true << none << QString();
    QTest::newRow("2.0 profile, another") << Gen2Task(false, false, true, QStringLiteral("Office")) << false << true << QStringList{QStringLiteral("Home")} << office;
    QTest::newRow("2.0 profile, connected") << Gen2Task(false, false, true, QStringLiteral("Office")) << false << true << officeUp << QString();
    QTest::newRow("2.0 profile without the network condition") << Gen2Task(false, false, false, QStringLiteral("Office")) << false << false << none << QString();
    QTest::newRow("1.0 mains only, on batteries") << Gen1Task(true, false, false) << true << true << none << batteries;
    QTest::newRow("1.0 mains only, on mains") << Gen1Task(true, false, false) << false << true << none << QString();
    QTest::newRow("1.0 connected only, none") << Gen1Task(false, false, true) << false << false << none << noNetwork;
    QTest::newRow("1.0 no conditions") << Gen1Task(false, false, false) << true << false << none << QString();
}

RunnableTask TestConditions::ArrangeRow(QString* why)
{
    QFETCH(RunnableTask, task);
    QFETCH(bool, onBattery);
    QFETCH(bool, networkUp);
    QFETCH(QStringList, profiles);
    QFETCH(QString, reason);
    (task.key.generation == TaskGeneration::Gen1 ? m_gen1 : m_gen2).Put(task);
    m_power.onBattery = onBattery;
    m_network.available = networkUp;
    m_network.profiles = profiles;
    *why = reason;
    return task;
}

void TestConditions::unattendedStarts()
{
    QString reason;
    const RunnableTask task = ArrangeRow(&reason);
    m_runner->StartUnattended(task, QStringLiteral("scheduled"));
    QCOMPARE(m_runner->Instances(task.key).size(), reason.isEmpty() ? 1 : 0);
    if (reason.isEmpty()) return;
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 1);
    QCOMPARE(history[0].cause, QStringLiteral("scheduled"));
    QCOMPARE(history[0].result, RunResults::ConditionNotMet);
    QCOMPARE(history[0].reason, reason);
    // A skipped start is no run: the task's last result stays as it was.
    QCOMPARE((task.key.generation == TaskGeneration::Gen1 ? m_gen1 : m_gen2).runtime.value(task.key).lastResult, SCHED_S_TASK_HAS_NOT_RUN);
}

void TestConditions::startsAhead()
{
    QString reason;
    const RunnableTask task = ArrangeRow(&reason);

    // The conditions as they are at the hand-over decide; one that does not hold leaves the
    // start for its time, which skips and records it.
    const QDateTime at = QDateTime::currentDateTimeUtc().addMSecs(100);
    QCOMPARE(m_runner->StartAhead(task, at, {}), reason.isEmpty());
    QCOMPARE(m_runner->Instances(task.key).size(), reason.isEmpty() ? 1 : 0);
    QVERIFY(m_runner->History().Read(task.key).isEmpty());
    if (reason.isEmpty()) QCOMPARE(m_runner->Instances(task.key).value(0)->Description().notBefore, at);
}

void TestConditions::demandStartIgnoresConditions()
{
    // The user asked for this run: it is made whatever the conditions say.
    const RunnableTask task = Gen2Task(true, false, true, {});
    m_gen2.Put(task);
    m_power.onBattery = true;
    m_network.available = false;
    QString error;
    QCOMPARE(m_runner->Start(task, QStringLiteral("demand"), &error), S_OK);
    QCOMPARE(m_runner->Instances(task.key).size(), 1);
}

void TestConditions::switchToBatteriesStops_data()
{
    QTest::addColumn<RunnableTask>("task");
    QTest::addColumn<bool>("stops");
    QTest::newRow("2.0 stops") << Gen2Task(false, true, false, {}) << true;
    QTest::newRow("2.0 keeps running") << Gen2Task(false, false, false, {}) << false;
    QTest::newRow("1.0 killed") << Gen1Task(false, true, false) << true;
    QTest::newRow("1.0 keeps running") << Gen1Task(false, false, false) << false;
}

void TestConditions::switchToBatteriesStops()
{
    QFETCH(RunnableTask, task);
    QFETCH(bool, stops);
    (task.key.generation == TaskGeneration::Gen1 ? m_gen1 : m_gen2).Put(task);
    m_runner->StartUnattended(task, QStringLiteral("scheduled"));
    QCOMPARE(m_runner->Instances(task.key).size(), 1);

    m_power.Switch(false);   // back to mains: nothing happens
    m_power.Switch(true);
    if (!stops) {
        QCOMPARE(m_runner->Instances(task.key).size(), 1);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_ended->count(), 1, 15000);
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 1);
    QCOMPARE(history[0].result, RunResults::StoppedByRequest);
}

void TestConditions::idleEndStops_data()
{
    QTest::addColumn<RunnableTask>("task");
    QTest::addColumn<bool>("stops");
    QTest::addColumn<bool>("restarts");
    auto gen2 = [](bool runOnlyIfIdle, bool stopOnIdleEnd, bool restartOnIdle) {
        RunnableTask task = Gen2Task(false, false, false, {});
        TaskDocument doc;
        doc.settings.runOnlyIfIdle = runOnlyIfIdle;
        doc.settings.idle.stopOnIdleEnd = stopOnIdleEnd;
        doc.settings.idle.restartOnIdle = restartOnIdle;
        task.idle = Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Conditional")), doc).idle;
        return task;
    };
    auto gen1 = [](DWORD flags) {
        JobDefinition d;
        d.applicationName = QStringLiteral("sleep");
        d.parameters = QStringLiteral("30");
        d.flags = flags;
        return Gen1Catalog::ToRunnable(QStringLiteral("Conditional.job"), d, std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone()));
    };
    QTest::newRow("2.0 stops and runs again") << gen2(true, true, true) << true << true;
    QTest::newRow("2.0 stops") << gen2(true, true, false) << true << false;
    QTest::newRow("2.0 keeps running") << gen2(true, false, true) << false << false;
    // Stopping at idle end is on by default; a task that does not run on idleness is not stopped.
    QTest::newRow("2.0 not an idle task") << gen2(false, true, true) << false << false;
    QTest::newRow("1.0 killed") << gen1(TASK_FLAG_START_ONLY_IF_IDLE | TASK_FLAG_KILL_ON_IDLE_END) << true << false;
    QTest::newRow("1.0 killed and restarted") << gen1(TASK_FLAG_KILL_ON_IDLE_END | TASK_FLAG_RESTART_ON_IDLE_RESUME) << true << true;
    QTest::newRow("1.0 keeps running") << gen1(TASK_FLAG_START_ONLY_IF_IDLE) << false << false;
}

void TestConditions::idleEndStops()
{
    QFETCH(RunnableTask, task);
    QFETCH(bool, stops);
    QFETCH(bool, restarts);
    (task.key.generation == TaskGeneration::Gen1 ? m_gen1 : m_gen2).Put(task);
    m_runner->StartUnattended(task, QStringLiteral("scheduled"));
    QCOMPARE(m_runner->Instances(task.key).size(), 1);
    QCOMPARE(m_runner->StopOnIdleEnd(), restarts ? QList<TaskKey>{task.key} : QList<TaskKey>{});
    if (!stops) {
        QCOMPARE(m_runner->Instances(task.key).size(), 1);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_ended->count(), 1, 15000);
    const QList<RunHistoryEntry> history = m_runner->History().Read(task.key);
    QCOMPARE(history.size(), 1);
    QCOMPARE(history[0].result, RunResults::StoppedByRequest);
}

QTEST_GUILESS_MAIN(TestConditions)
#include "tst_conditions.moc"
