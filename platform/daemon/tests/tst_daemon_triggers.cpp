// Trigger settings that a real daemon carries out: a start put off by its random delay, an
// instance stopped when its trigger's repetition ends, and starts a change brought that are
// never caught up.

#include "DaemonFixture.h"
#include "FakeLogindBus.h"
#include "ObjectRuntime.h"
#include "OleDate.h"
#include "ResultCodes.h"
#include "run/RunResults.h"
#include "TaskService2.h"

#include <QCborArray>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <functional>

namespace {

using ServiceCalls::Cast;
using ServiceCalls::Task;

QString Boundary(const QDateTime& at) { return at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")); }

// Registers a task running `script` with one trigger of `type`, shaped by `shape`.
HRESULT Register(const QString& name, const QString& script, const std::function<void(ITrigger*)>& shape,
                 TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_TIME, const std::function<void(ITaskSettings*)>& shapeSettings = {})
{
    const ComPtr<ITaskService> service = ServiceCalls::Connected();
    const ComPtr<ITaskFolder> root = ServiceCalls::Folder();
    if (!service || !root) return SCHED_E_SERVICE_NOT_RUNNING;
    const ComPtr<ITaskDefinition> def = DaemonFixture::ScriptDefinition(service.Get(), script);
    ComPtr<ITriggerCollection> triggers;
    def->get_Triggers(triggers.Put());
    ComPtr<ITrigger> trigger;
    triggers->Create(type, trigger.Put());
    shape(trigger.Get());
    ComPtr<ITaskSettings> settings;
    def->get_Settings(settings.Put());
    if (shapeSettings) shapeSettings(settings.Get());
    return ServiceCalls::Register(root.Get(), name, def.Get());
}

} // namespace

class TestDaemonTriggers : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void randomDelayWithinItsBound();
    void stopAtTheEndOfTheRepetition();
    void sessionTriggersFromLogind();
    void stopDeadlinesOutliveTheDaemon_data();
    void stopDeadlinesOutliveTheDaemon();
    void changeIsNotCaughtUpAfterAKill();

private:
    std::unique_ptr<DaemonFixture> m_f;
    std::unique_ptr<FakeLogindBus> m_logind;
};

void TestDaemonTriggers::init()
{
    m_f = std::make_unique<DaemonFixture>();
    QVERIFY(m_f->Serve());
}

void TestDaemonTriggers::cleanup()
{
    m_f.reset();
    m_logind.reset();
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

void TestDaemonTriggers::randomDelayWithinItsBound()
{
    const QDateTime at = QDateTime::currentDateTime().addSecs(2);
    QCOMPARE(Register(QStringLiteral("Spread"), QStringLiteral("true"),
                      [&](ITrigger* trigger) {
                          trigger->put_StartBoundary(Boundary(at));
                          Cast<ITimeTrigger>(ComPtr<ITrigger>(trigger))->put_RandomDelay(QStringLiteral("PT8S"));
                      }),
             S_OK);
    const qint64 scheduled = QDateTime::fromString(Boundary(at), Qt::ISODate).toMSecsSinceEpoch();
    QTRY_COMPARE_WITH_TIMEOUT(m_f->Runs(QStringLiteral("\\Spread")).size(), 1, 30000);
    const qint64 started = m_f->Runs(QStringLiteral("\\Spread")).at(0).toMap().value(QStringLiteral("start")).toInteger();
    // The history has the actual start: not before its time, and not past the delay's bound
    // (with a second for the wake itself).
    QVERIFY2(started >= scheduled && started <= scheduled + 9000, qPrintable(QString::number(started - scheduled)));
}

void TestDaemonTriggers::stopAtTheEndOfTheRepetition()
{
    // A repetition that began 57 seconds ago: its next run comes in about 3 seconds, and the
    // repetition ends 10 seconds after that, long before the program would.
    const QDateTime began = QDateTime::currentDateTime().addSecs(-57);
    QCOMPARE(Register(QStringLiteral("Repeating"), QStringLiteral("sleep 120"),
                      [&](ITrigger* trigger) {
                          trigger->put_StartBoundary(Boundary(began));
                          ComPtr<IRepetitionPattern> repetition;
                          trigger->get_Repetition(repetition.Put());
                          repetition->put_Interval(QStringLiteral("PT1M"));
                          repetition->put_Duration(QStringLiteral("PT1M10S"));
                          repetition->put_StopAtDurationEnd(VARIANT_TRUE);
                      }),
             S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(m_f->Runs(QStringLiteral("\\Repeating")).size(), 1, 60000);
    const QCborMap run = m_f->Runs(QStringLiteral("\\Repeating")).at(0).toMap();
    QCOMPARE(run.value(QStringLiteral("cause")).toString(), QStringLiteral("scheduled"));
    QCOMPARE(run.value(QStringLiteral("result")).toInteger(), qint64(quint32(RunResults::StoppedByRequest)));
    const qint64 end = QDateTime::fromString(Boundary(began), Qt::ISODate).addSecs(70).toMSecsSinceEpoch();
    QVERIFY(run.value(QStringLiteral("end")).toInteger() >= end);
    LONG result = 0;
    Task(QStringLiteral("Repeating"))->get_LastTaskResult(&result);
    QCOMPARE(HRESULT(result), RunResults::StoppedByRequest);
}

void TestDaemonTriggers::sessionTriggersFromLogind()
{
    // A daemon whose system bus has a stand-in for logind on it.
    m_f->daemon.Stop();
    m_logind = std::make_unique<FakeLogindBus>();
    QVERIFY2(m_logind->IsValid(), qPrintable(m_logind->Error()));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_logind->Address().toUtf8());
    QVERIFY(m_f->daemon.Start());

    const QDateTime now = QDateTime::currentDateTime();
    QCOMPARE(Register(QStringLiteral("AnyLogon"), QStringLiteral("true"), [](ITrigger*) {}, TASK_TRIGGER_LOGON), S_OK);
    QCOMPARE(Register(QStringLiteral("EndedLogon"), QStringLiteral("true"),
                      [&](ITrigger* trigger) {
                          trigger->put_StartBoundary(Boundary(now.addDays(-2)));
                          trigger->put_EndBoundary(Boundary(now.addSecs(-60)));
                      },
                      TASK_TRIGGER_LOGON),
             S_OK);
    QCOMPARE(Register(QStringLiteral("OthersLogon"), QStringLiteral("true"),
                      [](ITrigger* trigger) { Cast<ILogonTrigger>(ComPtr<ITrigger>(trigger))->put_UserId(QStringLiteral("nobody-else")); },
                      TASK_TRIGGER_LOGON),
             S_OK);
    QCOMPARE(Register(QStringLiteral("OnLock"), QStringLiteral("true"),
                      [](ITrigger* trigger) {
                          const auto session = Cast<ISessionStateChangeTrigger>(ComPtr<ITrigger>(trigger));
                          session->put_StateChange(TASK_SESSION_LOCK);
                          session->put_UserId(QStringLiteral("alice"));
                      },
                      TASK_TRIGGER_SESSION_STATE_CHANGE),
             S_OK);

    QCOMPARE(Register(QStringLiteral("OnIdle"), QStringLiteral("true"), [](ITrigger*) {}, TASK_TRIGGER_IDLE), S_OK);

    QVERIFY2(m_logind->Send(QStringLiteral("new s1 alice")), qPrintable(m_logind->Error()));
    QTRY_COMPARE_WITH_TIMEOUT(m_f->Runs(QStringLiteral("\\AnyLogon")).size(), 1, 30000);
    QCOMPARE(m_f->Runs(QStringLiteral("\\AnyLogon")).at(0).toMap().value(QStringLiteral("cause")).toString(), QStringLiteral("logon"));
    QVERIFY2(m_logind->Send(QStringLiteral("lock s1")), qPrintable(m_logind->Error()));
    QTRY_COMPARE_WITH_TIMEOUT(m_f->Runs(QStringLiteral("\\OnLock")).size(), 1, 30000);
    QCOMPARE(m_f->Runs(QStringLiteral("\\OnLock")).at(0).toMap().value(QStringLiteral("cause")).toString(), QStringLiteral("session"));
    // The daemon handles one bus's signals in order: by the lock's run, the logon has been
    // handled for every task, and the trigger that ended did not start its task.
    QCOMPARE(m_f->Runs(QStringLiteral("\\EndedLogon")).size(), 0);
    QCOMPARE(m_f->Runs(QStringLiteral("\\OthersLogon")).size(), 0);

    // Alice's session, the only one, has been idle for 20 minutes, longer than the 10 the
    // idle settings ask for by default.
    QCOMPARE(m_f->Runs(QStringLiteral("\\OnIdle")).size(), 0);
    const qint64 since = QDateTime::currentDateTime().addSecs(-20 * 60).toMSecsSinceEpoch();
    QVERIFY2(m_logind->Send(QStringLiteral("idle s1 1 %1").arg(since)), qPrintable(m_logind->Error()));
    QTRY_COMPARE_WITH_TIMEOUT(m_f->Runs(QStringLiteral("\\OnIdle")).size(), 1, 30000);
    QCOMPARE(m_f->Runs(QStringLiteral("\\OnIdle")).at(0).toMap().value(QStringLiteral("cause")).toString(), QStringLiteral("idle"));
}

void TestDaemonTriggers::stopDeadlinesOutliveTheDaemon_data()
{
    QTest::addColumn<bool>("repetitionEnds");   // otherwise: its time limit
    QTest::addColumn<qint64>("result");
    QTest::newRow("the end of its repetition") << true << qint64(quint32(RunResults::StoppedByRequest));
    QTest::newRow("its time limit") << false << qint64(quint32(RunResults::TimedOut));
}

void TestDaemonTriggers::stopDeadlinesOutliveTheDaemon()
{
    QFETCH(bool, repetitionEnds);
    QFETCH(qint64, result);
    // Either a repetition that began 57 seconds ago, whose next run comes in about 3 seconds
    // and which ends 10 seconds after that, or a start in 3 seconds limited to 10 seconds.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime start = repetitionEnds ? now.addSecs(-57) : now.addSecs(3);
    QCOMPARE(Register(
                 QStringLiteral("Deadline"), QStringLiteral("sleep 120"),
                 [&](ITrigger* trigger) {
                     trigger->put_StartBoundary(Boundary(start));
                     if (!repetitionEnds) return;
                     ComPtr<IRepetitionPattern> repetition;
                     trigger->get_Repetition(repetition.Put());
                     repetition->put_Interval(QStringLiteral("PT1M"));
                     repetition->put_Duration(QStringLiteral("PT1M10S"));
                     repetition->put_StopAtDurationEnd(VARIANT_TRUE);
                 },
                 TASK_TRIGGER_TIME,
                 [&](ITaskSettings* settings) { settings->put_ExecutionTimeLimit(repetitionEnds ? QStringLiteral("PT0S") : QStringLiteral("PT10S")); }),
             S_OK);
    QTRY_VERIFY_WITH_TIMEOUT([] {
        TASK_STATE state = TASK_STATE_UNKNOWN;
        if (const auto task = Task(QStringLiteral("Deadline"))) task->get_State(&state);
        return state == TASK_STATE_RUNNING;
    }(), 30000);
    // The daemon dies; the next one takes the instance over and must still stop it in time.
    m_f->daemon.Kill();
    QVERIFY(m_f->daemon.Start());
    QTRY_COMPARE_WITH_TIMEOUT(m_f->Runs(QStringLiteral("\\Deadline")).size(), 1, 60000);
    const QCborMap run = m_f->Runs(QStringLiteral("\\Deadline")).at(0).toMap();
    QCOMPARE(run.value(QStringLiteral("result")).toInteger(), result);
    const qint64 deadline = QDateTime::fromString(Boundary(start), Qt::ISODate).addSecs(repetitionEnds ? 70 : 10).toMSecsSinceEpoch();
    QVERIFY(run.value(QStringLiteral("end")).toInteger() >= deadline);
}

// A change is answered only once the schedule's mark is on disk whenever the changed task has
// starts since the mark written before, which it never had: a daemon killed right after the
// answer must neither count them as missed nor catch them up.
void TestDaemonTriggers::changeIsNotCaughtUpAfterAKill()
{
    const auto written = [&] {
        QFile file(m_f->File(QStringLiteral("taskschedd.state")));
        if (!file.open(QIODevice::ReadOnly)) return qint64(-1);
        return qint64(QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("handledThrough")).toDouble(-1));
    };
    const qint64 begun = written();
    QVERIFY(begun > 0);
    // Whole seconds: the first one after the mark the daemon wrote when it began.
    const QDateTime start = QDateTime::fromSecsSinceEpoch(begun / 1000 + 1);
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime() > start.addMSecs(100), 5000);
    QCOMPARE(Register(
                 QStringLiteral("Earlier"), QStringLiteral("true"), [&](ITrigger* trigger) { trigger->put_StartBoundary(Boundary(start)); },
                 TASK_TRIGGER_TIME, [](ITaskSettings* settings) { settings->put_StartWhenAvailable(VARIANT_TRUE); }),
             S_OK);
    QVERIFY(written() > start.toMSecsSinceEpoch());

    m_f->daemon.Kill();
    QVERIFY(m_f->daemon.Start());
    LONG missed = -1;
    const auto task = Task(QStringLiteral("Earlier"));
    QVERIFY(task);
    QCOMPARE(task->get_NumberOfMissedRuns(&missed), S_OK);
    QCOMPARE(missed, 0);
    QCOMPARE(m_f->RunCount(QStringLiteral("\\Earlier")), 0);
}

QTEST_GUILESS_MAIN(TestDaemonTriggers)
#include "tst_daemon_triggers.moc"
