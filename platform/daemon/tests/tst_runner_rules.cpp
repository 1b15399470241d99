// The runner's rules that need no process: what a start request becomes under each instance
// policy, and how the supervisors left running are recognised in the process table.

#include "run/StartDecision.h"
#include "run/SupervisorScan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(InstancesPolicy)
Q_DECLARE_METATYPE(StartDecision)

class TestRunnerRules : public QObject {
    Q_OBJECT
private slots:
    void decideStart_data();
    void decideStart();
    void supervisorScan_data();
    void supervisorScan();
};

void TestRunnerRules::decideStart_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("repetitionOver");
    QTest::addColumn<int>("live");
    QTest::addColumn<int>("waiting");
    QTest::addColumn<InstancesPolicy>("policy");
    QTest::addColumn<StartDecision>("expected");
    using P = InstancesPolicy;
    using D = StartDecision;
    QTest::newRow("disabled refuses even with nothing running") << false << false << 0 << 0 << P::Parallel << D::RefuseDisabled;
    QTest::newRow("disabled wins over an ended repetition") << false << true << 0 << 0 << P::Queue << D::RefuseDisabled;
    QTest::newRow("an ended repetition drops the start") << true << true << 0 << 0 << P::Parallel << D::Drop;
    QTest::newRow("an ended repetition drops it while one runs") << true << true << 1 << 0 << P::StopExisting << D::Drop;
    for (const auto& [policy, name] : {std::pair{P::Parallel, "parallel"}, std::pair{P::Queue, "queue"},
                                       std::pair{P::IgnoreNew, "ignore-new"}, std::pair{P::StopExisting, "stop-existing"}})
        QTest::addRow("an idle task launches, policy %s", name) << true << false << 0 << 0 << policy << D::Launch;
    QTest::newRow("parallel launches beside a running one") << true << false << 2 << 0 << P::Parallel << D::Launch;
    QTest::newRow("queue waits behind a running one") << true << false << 1 << 0 << P::Queue << D::Queue;
    QTest::newRow("queue waits behind a waiting one, nothing live") << true << false << 0 << 1 << P::Queue << D::Queue;
    QTest::newRow("ignore-new refuses while one runs") << true << false << 1 << 0 << P::IgnoreNew << D::RefuseRunning;
    QTest::newRow("ignore-new refuses while one waits") << true << false << 0 << 1 << P::IgnoreNew << D::RefuseRunning;
    QTest::newRow("stop-existing replaces a running one") << true << false << 1 << 0 << P::StopExisting << D::ReplaceRunning;
    QTest::newRow("stop-existing replaces a waiting one") << true << false << 0 << 1 << P::StopExisting << D::ReplaceRunning;
}

void TestRunnerRules::decideStart()
{
    QFETCH(bool, enabled);
    QFETCH(bool, repetitionOver);
    QFETCH(int, live);
    QFETCH(int, waiting);
    QFETCH(InstancesPolicy, policy);
    QFETCH(StartDecision, expected);
    QCOMPARE(DecideStart(StartSituation{enabled, repetitionOver, live, waiting, policy}), expected);
}

namespace {

// One process of a fake process table: its command line (NUL-separated, as the kernel gives
// it) and its stat line.
struct FakeProcess {
    int pid;
    QByteArray cmdline;
    int parent;
    QByteArray name = "taskschedd-exec";
};

using Found = QHash<QString, pid_t>;

} // namespace

Q_DECLARE_METATYPE(QList<FakeProcess>)

void TestRunnerRules::supervisorScan_data()
{
    QTest::addColumn<QList<FakeProcess>>("processes");
    QTest::addColumn<Found>("expected");
    const QByteArray exec = "/usr/libexec/taskschedd-exec";
    QTest::newRow("a supervisor is found by its instance file")
        << QList<FakeProcess>{{10, exec + '\0' + "/r/instances/a.instance" + '\0', 1}}
        << Found{{QStringLiteral("/r/instances/a.instance"), 10}};
    QTest::newRow("the child it forked before exec is left out")
        << QList<FakeProcess>{{10, exec + '\0' + "/r/a" + '\0', 1}, {11, exec + '\0' + "/r/a" + '\0', 10}}
        << Found{{QStringLiteral("/r/a"), 10}};
    QTest::newRow("two supervisors of two instances")
        << QList<FakeProcess>{{10, exec + '\0' + "/r/a" + '\0', 1}, {20, exec + '\0' + "/r/b" + '\0', 1}}
        << Found{{QStringLiteral("/r/a"), 10}, {QStringLiteral("/r/b"), 20}};
    QTest::newRow("a zombie has no command line")
        << QList<FakeProcess>{{10, QByteArray(), 1}} << Found{};
    QTest::newRow("another program is not a supervisor")
        << QList<FakeProcess>{{10, "/bin/sleep" + QByteArray(1, '\0') + "/r/a" + '\0', 1, "sleep"}} << Found{};
    QTest::newRow("a supervisor's command line with more arguments is not one it was given")
        << QList<FakeProcess>{{10, exec + '\0' + "/r/a" + '\0' + "extra" + '\0', 1}} << Found{};
    const QByteArray launcher = exec + '\0' + "--launcher" + '\0' + QByteArray(40, '.') + '\0';
    QTest::newRow("a supervisor of the launcher, its file over the placeholder, and its program's child before exec")
        << QList<FakeProcess>{{5, launcher, 1}, {10, exec + '\0' + "/r/a" + QByteArray(40, '\0'), 5}, {11, exec + '\0' + "/r/a" + QByteArray(40, '\0'), 10}}
        << Found{{QStringLiteral("/r/a"), 10}};
    QTest::newRow("neither the launcher nor the supervisor it keeps waiting runs an instance")
        << QList<FakeProcess>{{5, launcher, 1}, {6, launcher, 5}} << Found{};
    QTest::newRow("a process name with blanks and parentheses does not hide the parent")
        << QList<FakeProcess>{{10, exec + '\0' + "/r/a" + '\0', 1}, {11, exec + '\0' + "/r/a" + '\0', 10, "exec) (x y"}}
        << Found{{QStringLiteral("/r/a"), 10}};
}

void TestRunnerRules::supervisorScan()
{
    QFETCH(QList<FakeProcess>, processes);
    QFETCH(Found, expected);
    QTemporaryDir proc;
    QVERIFY(proc.isValid());
    // What else a process table holds: entries that are not processes.
    QVERIFY(QDir(proc.path()).mkpath(QStringLiteral("self")));
    QVERIFY(QDir(proc.path()).mkpath(QStringLiteral("sys/kernel")));
    for (const FakeProcess& p : processes) {
        const QString dir = proc.path() + QLatin1Char('/') + QString::number(p.pid);
        QVERIFY(QDir().mkpath(dir));
        QFile cmdline(dir + QStringLiteral("/cmdline"));
        QVERIFY(cmdline.open(QIODevice::WriteOnly));
        cmdline.write(p.cmdline);
        QFile stat(dir + QStringLiteral("/stat"));
        QVERIFY(stat.open(QIODevice::WriteOnly));
        stat.write(QByteArray::number(p.pid) + " (" + p.name + ") S " + QByteArray::number(p.parent) + " 1 1 0 -1\n");
    }
    QCOMPARE(SupervisorScan(proc.path()).Running(), expected);
}

QTEST_GUILESS_MAIN(TestRunnerRules)
#include "tst_runner_rules.moc"
