// A task's status, exit code and run times, in both generations, against a private service root.

#include "ResultCodes.h"
#include "ServiceRoot.h"
#include "TaskPath.h"
#include "gen2/TaskRuntimeState.h"
#include "TaskService2.h"
#include "gen2/TaskStore.h"
#include "LibraryTestSupport.h"
#include "tvMSTask.h"

using namespace LibraryTests;

namespace {

/// A new task with a program and, when `daily`, a trigger every day at 09:00 from
/// 2030-01-01; not saved.
TTaskItem* NewTask(Fixture& f, const QString& name, bool daily)
{
    TTaskItem* item = f.New(name);
    if (daily) {
        TTrigger* t = item->GetTriggers()->Add(ttDaily);
        t->SetStartTime(Time(9, 0));
        t->SetBeginDate(Date(2030, 1, 1));
        TRIGGER_TYPE_UNION details{};
        details.Daily.DaysInterval = 1;
        t->SetDetails(details);
        item->GetTriggers()->UpdateTriggers();
    }
    return item;
}

/// The task saved and listed again: activated in 1.0, registered in 2.0.
TTaskItem* SavedTask(Fixture& f, const QString& name, bool daily = true)
{
    return f.SaveAndReload(NewTask(f, name, daily));
}

/// False while the 2.0 service computes no run times: its registered task then knows no next
/// run even for a task with a daily trigger. The 1.0 service always computes them.
bool ServiceSchedules(TTaskItem* item)
{
    ComPtr<IRegisteredTask> registered;
    DATE next = 0;
    if (FAILED(item->GetTaskInterface().As(registered)) || !registered) return true;
    return FAILED(registered->get_NextRunTime(&next)) || next != 0;
}

/// Records runtime facts of a registered 2.0 task the way the service process does.
void WriteRuntimeState(Fixture& f, const QString& name, const TaskRuntimeState& state)
{
    const std::optional<TaskPath> path = TaskPath::Parse(QStringLiteral("\\") + name);
    QVERIFY(path);
    TaskStore(ServiceRoot(f.root.Path())).WriteState(*path, state);
}

} // namespace

class TestStatus : public QObject {
    Q_OBJECT

private slots:
    void notActivated_data() { AddBothGenerations(); }
    void notActivated();
    void neverRun_data() { AddBothGenerations(); }
    void neverRun();
    void notScheduledV1();
    void noValidTriggersV1();
    void noMoreRunsV1();
    void runStatesV2_data();
    void runStatesV2();
    void disabled_data() { AddBothGenerations(); }
    void disabled();
    void nextRunTime_data() { AddBothGenerations(); }
    void nextRunTime();
    void runTimes_data();
    void runTimes();
    void runTimesWithoutEnd_data() { AddBothGenerations(); }
    void runTimesWithoutEnd();
    void runTimesNone_data() { AddBothGenerations(); }
    void runTimesNone();
    void runTimesFailureKeepsArray();
};

void TestStatus::notActivated()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = nullptr;
    if (vista) {
        item = NewTask(f, QStringLiteral("Unsaved"), true); // a definition, never registered
    } else {
        SavedTask(f, QStringLiteral("Unsaved"));
        item = f.scheduler->GetItem(0);
        item->Deactivate(false);
    }
    const QString expected = QStringLiteral("Task \"Unsaved\" is not activated.");
    TDateTimeArray times{1.5, 2.5};
    quint16 count = 5;
    const QList<std::function<void()>> members{
        [&] { item->GetStatus(); },
        [&] { item->GetExitCode(); },
        [&] { item->GetMostRecentRunTime(); },
        [&] { item->GetNextRunTime(); },
        [&] { item->GetRunTimes(Date(2030, 1, 1), 0, count, times); },
    };
    for (qsizetype i = 0; i < members.size(); ++i)
        QVERIFY2(MessageOf<ETaskError>(members[i]) == expected, qPrintable(QString::number(i)));
    QCOMPARE(times, (TDateTimeArray{1.5, 2.5}));
    QCOMPARE(count, quint16(5));
}

void TestStatus::neverRun()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = SavedTask(f, QStringLiteral("Fresh"));
    QCOMPARE(item->GetStatus(), vista ? ts2Ready : tsHasNotRun);
    // 1.0 reports an all-zero record, 2.0 the date 0; both stand for "never".
    QCOMPARE(item->GetMostRecentRunTime(), vista ? 0.0 : -693959.0);
    QVERIFY(item->GetMostRecentRunTime() <= 1.0);
    QCOMPARE(item->GetExitCode(), vista ? quint32(SCHED_S_TASK_HAS_NOT_RUN) : 0u);
}

void TestStatus::notScheduledV1()
{
    Fixture f(false);
    TTaskItem* item = SavedTask(f, QStringLiteral("Unscheduled"), false);
    QCOMPARE(item->GetStatus(), tsNotScheduled);
    QVERIFY(item->GetNextRunTime() <= 1.0);
    QCOMPARE(item->GetNextRunTime(), -693959.0);
}

void TestStatus::noValidTriggersV1()
{
    Fixture f(false);
    TTaskItem* item = NewTask(f, QStringLiteral("Switched off"), true);
    item->GetTriggers()->GetItem(0)->SetEnabled(false); // the trigger only, not the task
    item->GetTriggers()->UpdateTriggers();
    item = f.SaveAndReload(item);
    QCOMPARE(item->GetStatus(), tsNoValidTriggers);
    QVERIFY(item->GetNextRunTime() <= 1.0);
}

void TestStatus::noMoreRunsV1()
{
    Fixture f(false);
    TTaskItem* item = NewTask(f, QStringLiteral("Long past"), false);
    TTrigger* t = item->GetTriggers()->Add(ttOnce);
    t->SetStartTime(Time(6, 0));
    t->SetBeginDate(Date(2001, 1, 1));
    item->GetTriggers()->UpdateTriggers();
    item = f.SaveAndReload(item);
    QCOMPARE(item->GetStatus(), tsNoMoreRuns);
    QVERIFY(item->GetNextRunTime() <= 1.0);
}

void TestStatus::runStatesV2_data()
{
    QTest::addColumn<int>("runState");
    QTest::addColumn<int>("status");
    QTest::newRow("running") << int(TaskRuntimeState::Running) << int(ts2Running);
    QTest::newRow("queued") << int(TaskRuntimeState::Queued) << int(ts2Queued);
    QTest::newRow("idle") << int(TaskRuntimeState::Idle) << int(ts2Ready);
}

void TestStatus::runStatesV2()
{
    QFETCH(int, runState);
    QFETCH(int, status);
    Fixture f(true);
    TTaskItem* item = SavedTask(f, QStringLiteral("Busy"));
    TaskRuntimeState state;
    state.lastRunTime = QDateTime(QDate(2029, 12, 31), QTime(23, 15, 30));
    state.lastTaskResult = qint32(0x80070005);
    state.runState = static_cast<TaskRuntimeState::RunState>(runState);
    WriteRuntimeState(f, QStringLiteral("Busy"), state);

    QCOMPARE(int(item->GetStatus()), status);
    QCOMPARE(item->GetExitCode(), 0x80070005u);
    QCOMPARE(item->GetMostRecentRunTime(), Date(2029, 12, 31) + (23 * 3600 + 15 * 60 + 30) / 86400.0);
}

void TestStatus::disabled()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = NewTask(f, QStringLiteral("Off"), true);
    if (vista)
        item->GetTriggers()->GetItem(0)->SetEnabled(false); // the whole 2.0 task
    else
        item->SetFlags(TTaskFlags{tfDisabled});
    item = f.SaveAndReload(item);
    QCOMPARE(item->GetStatus(), vista ? ts2Disabled : tsDisabled);
}

void TestStatus::nextRunTime()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = SavedTask(f, QStringLiteral("Daily"));
    if (!ServiceSchedules(item)) QSKIP("The 2.0 service computes no run times yet");
    QCOMPARE(item->GetNextRunTime(), Date(2030, 1, 1) + Time(9, 0));
}

void TestStatus::runTimes_data()
{
    QTest::addColumn<bool>("vista");
    QTest::addColumn<double>("begin");
    QTest::addColumn<double>("end");
    QTest::addColumn<int>("requested");
    QTest::addColumn<QList<double>>("expected");
    const QList<double> firstThree{Date(2030, 1, 1) + Time(9, 0), Date(2030, 1, 2) + Time(9, 0), Date(2030, 1, 3) + Time(9, 0)};
    for (bool vista : {true, false}) {
        const char* g = vista ? "2.0" : "1.0";
        QTest::addRow("%s period", g) << vista << Date(2030, 1, 1) << Date(2030, 1, 3) + Time(23, 0) << 10 << firstThree;
        QTest::addRow("%s period cut by count", g) << vista << Date(2030, 1, 1) << Date(2030, 2, 1) << 2 << firstThree.mid(0, 2);
        QTest::addRow("%s begin within a day", g) << vista << Date(2030, 1, 2) + Time(10, 0) << Date(2030, 1, 3) + Time(23, 0)
                                                   << 10 << firstThree.mid(2);
    }
}

void TestStatus::runTimes()
{
    QFETCH(bool, vista);
    QFETCH(double, begin);
    QFETCH(double, end);
    QFETCH(int, requested);
    QFETCH(QList<double>, expected);
    Fixture f(vista);
    TTaskItem* item = SavedTask(f, QStringLiteral("Daily"));
    if (!ServiceSchedules(item)) QSKIP("The 2.0 service computes no run times yet");
    quint16 count = quint16(requested);
    TDateTimeArray times{42.0};
    item->GetRunTimes(begin, end, count, times);
    QCOMPARE(int(count), int(expected.size()));
    QCOMPARE(times, TDateTimeArray(expected));
}

void TestStatus::runTimesWithoutEnd()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = NewTask(f, QStringLiteral("Far"), false);
    TTrigger* t = item->GetTriggers()->Add(ttOnce);
    t->SetStartTime(Time(6, 30));
    t->SetBeginDate(Date(2200, 6, 1));
    item->GetTriggers()->UpdateTriggers();
    item = f.SaveAndReload(item);
    if (!ServiceSchedules(item)) QSKIP("The 2.0 service computes no run times yet");

    quint16 count = 3;
    TDateTimeArray times;
    item->GetRunTimes(Date(2030, 1, 1), 0, count, times); // no end: runs far ahead are found
    QCOMPARE(count, quint16(1));
    QCOMPARE(times, (TDateTimeArray{Date(2200, 6, 1) + Time(6, 30)}));
}

void TestStatus::runTimesNone()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = SavedTask(f, QStringLiteral("Daily"));
    quint16 count = 5;
    TDateTimeArray times{1.0, 2.0};
    item->GetRunTimes(Date(2029, 1, 1), Date(2029, 12, 31), count, times);
    QCOMPARE(count, quint16(0));
    QVERIFY(times.isEmpty());
}

void TestStatus::runTimesFailureKeepsArray()
{
    Fixture f(false);
    TTaskItem* item = SavedTask(f, QStringLiteral("Daily"));
    quint16 count = 0; // the 1.0 service hands out 1 to 1440 run times per call
    TDateTimeArray times{7.0};
    QVERIFY(MessageOf<EPlatformError>([&] { item->GetRunTimes(Date(2030, 1, 1), 0, count, times); })
            != QStringLiteral("<no error>"));
    QCOMPARE(times, (TDateTimeArray{7.0}));
}

QTEST_GUILESS_MAIN(TestStatus)
#include "tst_status.moc"
