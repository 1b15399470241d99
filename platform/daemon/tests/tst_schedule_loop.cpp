// The schedule loop with a hand-moved clock: which task starts when, and why.

#include "HeapFill.h"
#include "catalog/Gen1Catalog.h"
#include "catalog/Gen2Catalog.h"
#include "MemoryCatalog.h"
#include "schedule/ScheduleLoop.h"
#include "schedule/TaskStarter.h"
#include "schedule/WallClockTimer.h"
#include "TriggerRecords.h"

#include <QtTest>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Started {
    TaskKey key;
    QString cause;
    QDateTime stopAt;
    QDateTime at;          ///< when the loop asked for the start
    QDateTime notBefore;   ///< for a start handed over ahead: its time
};

class RecordingStarter : public TaskStarter {
public:
    void StartUnattended(const RunnableTask& task, const QString& cause, const QDateTime& stopAt) override
    {
        started.append(Started{task.key, cause, stopAt, clock ? clock->Now() : QDateTime(), {}});
        live.insert(task.key, task);
    }
    // As the runner does it: a start ahead of its time is taken unless told otherwise.
    bool StartAhead(const RunnableTask& task, const QDateTime& at, const QDateTime& stopAt) override
    {
        if (!takesAhead) return false;
        started.append(Started{task.key, QStringLiteral("scheduled"), stopAt, clock ? clock->Now() : QDateTime(), at});
        live.insert(task.key, task);
        return true;
    }
    const Clock* clock = nullptr;
    bool takesAhead = true;
    bool IsBusy(const TaskKey& key) const override { return busy.contains(key); }
    bool StartedSince(const TaskKey& key, const QString& cause, const QDateTime& since) const override
    {
        return std::any_of(started.cbegin(), started.cend(), [&](const Started& s) {
            return s.key == key && s.cause == cause && (s.notBefore.isValid() ? s.notBefore : s.at) >= since;
        });
    }
    void SkipStart(const RunnableTask& task, const QString& cause, const QString& reason) override
    {
        skipped.append(Started{task.key, cause, {}, clock ? clock->Now() : QDateTime(), {}});
        reasons.append(reason);
    }
    // As the runner does it: what it started and asks for it is stopped.
    QList<TaskKey> StopOnIdleEnd() override
    {
        QList<TaskKey> restart;
        for (auto it = live.begin(); it != live.end();) {
            if (!it->idle.stopOnIdleEnd) {
                ++it;
                continue;
            }
            ++idleEndStops;
            if (it->idle.restartOnIdle) restart.append(it.key());
            it = live.erase(it);
        }
        return restart;
    }
    QList<Started> started;
    QList<Started> skipped;
    QStringList reasons;
    QList<TaskKey> busy;
    QHash<TaskKey, RunnableTask> live;   ///< what was started, as if it still ran
    int idleEndStops = 0;
};

/// Idleness as the test sets it.
class FakeSessions : public SessionSource {
public:
    bool KnowsIdle() const override { return knows; }
    bool IsIdle() const override { return since.isValid(); }
    QDateTime IdleSince() const override { return since; }
    void Set(const QDateTime& idleSince)
    {
        since = idleSince;
        emit IdleChanged(since.isValid());
    }
    bool knows = true;
    QDateTime since;
};

const QDateTime T0 = QDateTime(QDate(2030, 3, 1), QTime(8, 0));

TaskKey Key(const QString& path) { return TaskKey{TaskGeneration::Gen2, path}; }

/// When the loop wakes for a plain scheduled start at `at`: its lead before it.
QDateTime Lead(const QDateTime& at) { return at.addMSecs(-ScheduleLoop::StartLeadMs); }

} // namespace

Q_DECLARE_METATYPE(RunnableTask)

class TestScheduleLoop : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void clocksTellTheMomentInUtc_data();
    void clocksTellTheMomentInUtc();
    void sleepsUntilTheFirstStart();
    void startsWhatIsDueAndMovesOn();
    void lateWakeRunsOnceAndSkipsAhead();
    void disabledTaskNeverStarts();
    void registrationAndDeletionRearmAtOnce();
    void changeWhileAStartIsDue();
    void missedStarts_data();
    void missedStarts();
    void startsBeforeRegistrationAreNotMissed();
    void crashDuringCatchUp_data();
    void crashDuringCatchUp();
    void bootStarts();
    void logonStarts();
    void eventTriggerBoundaries_data();
    void eventTriggerBoundaries();
    void sessionStateTriggers_data();
    void sessionStateTriggers();
    void idle_data();
    void idle();
    void wakeTimerFollowsTasksThatWake();
    void wallClockTimers_data();
    void wallClockTimers();
    void expiredTaskIsDeleted();
    void expiredTaskThatRunsWaits();
    void expiryMovesWhenTriggersChange();
    void randomDelay_data();
    void randomDelay();
    void repetitionEndReachesTheStarter();
    void startsCarryTheirTriggersSettings_data();
    void startsCarryTheirTriggersSettings();
    void gen2StartsAreStrictlyAfter_data();
    void gen2StartsAreStrictlyAfter();
    void readingFillsTheHeapAsItGrows();
    void startsAheadOfTheirTime_data();
    void startsAheadOfTheirTime();
    void aStartHandedOverIsNotMadeAgain_data();
    void aStartHandedOverIsNotMadeAgain();

private:
    std::unique_ptr<MemoryCatalog> m_catalog;
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<ManualTimer> m_timer;
    std::unique_ptr<RecordingStarter> m_starter;
    std::unique_ptr<ChosenRandom> m_random;
    std::unique_ptr<ScheduleLoop> m_loop;
};

void TestScheduleLoop::clocksTellTheMomentInUtc_data()
{
    QTest::addColumn<QString>("clock");
    QTest::newRow("the system's") << QStringLiteral("system");
    QTest::newRow("set in local time") << QStringLiteral("local");
    QTest::newRow("set in UTC") << QStringLiteral("utc");
}

void TestScheduleLoop::clocksTellTheMomentInUtc()
{
    QFETCH(QString, clock);
    const QDateTime set(QDate(2025, 3, 30), QTime(2, 30, 0, 123));
    SystemClock system;
    ManualClock manual(clock == QLatin1String("utc") ? set.toUTC() : set);
    const Clock& c = clock == QLatin1String("system") ? static_cast<const Clock&>(system) : manual;
    const QDateTime before = c.Now();
    const QDateTime utc = c.NowUtc();
    const QDateTime after = c.Now();
    QCOMPARE(utc.timeSpec(), Qt::UTC);
    // The same moment as the clock's own reading, to the millisecond.
    QVERIFY2(before <= utc && utc <= after, qPrintable(utc.toString(Qt::ISODateWithMs)));
    if (clock != QLatin1String("system")) QCOMPARE(utc.toMSecsSinceEpoch(), set.toMSecsSinceEpoch());
}

void TestScheduleLoop::init()
{
    m_catalog = std::make_unique<MemoryCatalog>();
    m_clock = std::make_unique<ManualClock>(T0);
    m_timer = std::make_unique<ManualTimer>();
    m_starter = std::make_unique<RecordingStarter>();
    m_starter->clock = m_clock.get();
    m_random = std::make_unique<ChosenRandom>();
    m_loop = std::make_unique<ScheduleLoop>(QList<TaskCatalog*>{m_catalog.get()}, *m_starter, *m_clock, *m_timer);
    m_loop->SetRandomSource(m_random.get());
}

void TestScheduleLoop::cleanup()
{
    m_loop.reset();
    m_starter.reset();
    m_timer.reset();
    m_clock.reset();
    m_catalog.reset();
}

void TestScheduleLoop::sleepsUntilTheFirstStart()
{
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\Late"), {T0.addSecs(600)}));
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\Early"), {T0.addSecs(5), T0.addSecs(3600)}));
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\Past"), {T0.addSecs(-60)}));
    QSignalSpy handled(m_loop.get(), &ScheduleLoop::Handled);
    m_loop->Begin({}, false);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(5)));
    QCOMPARE(m_loop->QueuedCount(), 2);
    QVERIFY(m_starter->started.isEmpty());
    QCOMPARE(handled.count(), 1);
}

void TestScheduleLoop::startsWhatIsDueAndMovesOn()
{
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\A"), {T0.addSecs(5), T0.addSecs(20)}));
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\B"), {T0.addSecs(5), T0.addSecs(10)}));
    m_loop->Begin({}, false);
    m_timer->FireAt(*m_clock, T0.addSecs(5));
    QCOMPARE(m_starter->started.size(), 2);
    QCOMPARE(m_starter->started[0].cause, QStringLiteral("scheduled"));
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(10)));
    QCOMPARE(m_loop->HandledThrough(), T0.addSecs(5));

    m_timer->FireAt(*m_clock, T0.addSecs(10));
    QCOMPARE(m_starter->started.size(), 3);
    QCOMPARE(m_starter->started.last().key, Key(QStringLiteral("\\B")));
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(20)));

    m_timer->FireAt(*m_clock, T0.addSecs(20));
    QCOMPARE(m_starter->started.size(), 4);
    QVERIFY(!m_timer->armedAt.isValid());   // nothing is due ever again
    QVERIFY(!m_loop->NextWake().isValid());
}

void TestScheduleLoop::lateWakeRunsOnceAndSkipsAhead()
{
    QList<QDateTime> everyMinute;
    for (int i = 1; i <= 10; ++i) everyMinute.append(T0.addSecs(60 * i));
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\Minutely"), everyMinute));
    m_loop->Begin({}, false);
    // The computer slept through five starts.
    m_timer->FireAt(*m_clock, T0.addSecs(5 * 60 + 30));
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(6 * 60)));
}

void TestScheduleLoop::disabledTaskNeverStarts()
{
    RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Off"), {T0.addSecs(5)});
    task.enabled = false;
    m_catalog->Put(task);
    m_loop->Begin(T0.addSecs(-3600), true);
    QCOMPARE(m_loop->QueuedCount(), 0);
    m_timer->FireAt(*m_clock, T0.addSecs(5));
    QVERIFY(m_starter->started.isEmpty());

    // Disabled after it was queued: the due start finds it disabled.
    task.enabled = true;
    task = MemoryCatalog::At(QStringLiteral("\\Off"), {T0.addSecs(10)});
    m_catalog->Put(task);
    m_loop->Refresh(task.key);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(10)));
    m_catalog->tasks[task.key].enabled = false;
    m_timer->FireAt(*m_clock, T0.addSecs(10));
    QVERIFY(m_starter->started.isEmpty());
}

void TestScheduleLoop::registrationAndDeletionRearmAtOnce()
{
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\Old"), {T0.addSecs(3600)}));
    m_loop->Begin({}, false);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(3600)));

    const RunnableTask added = MemoryCatalog::At(QStringLiteral("\\New"), {T0.addSecs(30)});
    m_catalog->Put(added);
    m_loop->Refresh(added.key);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(30)));

    // A change that moves its start replaces the old entry instead of adding one.
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\New"), {T0.addSecs(60)}));
    m_loop->Refresh(added.key);
    QCOMPARE(m_loop->QueuedCount(), 2);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(60)));

    m_catalog->tasks.remove(added.key);
    m_loop->Refresh(added.key);
    QCOMPARE(m_loop->QueuedCount(), 1);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(3600)));
    m_catalog->tasks.clear();
    m_loop->Refresh(Key(QStringLiteral("\\Old")));
    QVERIFY(!m_timer->armedAt.isValid());
}

void TestScheduleLoop::changeWhileAStartIsDue()
{
    // The start's time has come, but before the loop sees its wake-up a client changes the
    // task (here: registers it again as it was). The start still happens, once.
    const RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Due"), {T0.addSecs(10), T0.addSecs(20)});
    m_catalog->Put(task);
    m_loop->Begin({}, false);
    m_clock->now = T0.addSecs(10).addMSecs(3);
    m_loop->Refresh(task.key);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(10)));
    m_timer->FireAt(*m_clock, m_clock->now);
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(20)));
    QCOMPARE(m_loop->QueuedCount(), 1);
    m_timer->FireAt(*m_clock, T0.addSecs(20));
    QCOMPARE(m_starter->started.size(), 2);

    // Disabled at that moment, it does not start.
    const RunnableTask off = MemoryCatalog::At(QStringLiteral("\\DueOff"), {T0.addSecs(30)});
    m_catalog->Put(off);
    m_loop->Refresh(off.key);
    m_clock->now = T0.addSecs(30);
    m_catalog->tasks[off.key].enabled = false;
    m_loop->Refresh(off.key);
    m_timer->FireAt(*m_clock, m_clock->now);
    QCOMPARE(m_starter->started.size(), 2);
    QCOMPARE(m_loop->QueuedCount(), 0);
}

void TestScheduleLoop::missedStarts_data()
{
    QTest::addColumn<bool>("startWhenAvailable");
    QTest::addColumn<int>("downMinutes");
    QTest::addColumn<int>("missed");
    QTest::addColumn<bool>("caughtUp");
    QTest::newRow("asks for it, missed three") << true << 185 << 3 << true;
    QTest::newRow("asks for it, missed none") << true << 20 << 0 << false;
    QTest::newRow("does not ask, missed three") << false << 185 << 3 << false;
}

void TestScheduleLoop::missedStarts()
{
    QFETCH(bool, startWhenAvailable);
    QFETCH(int, downMinutes);
    QFETCH(int, missed);
    QFETCH(bool, caughtUp);
    // Hourly starts; the last daemon handled the schedule up to `downMinutes` ago.
    QList<QDateTime> hourly;
    for (int h = -10; h <= 10; ++h) hourly.append(T0.addSecs(3600 * h));
    RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Hourly"), hourly);
    task.startWhenAvailable = startWhenAvailable;
    m_catalog->Put(task);
    m_clock->now = T0.addSecs(1800);
    m_loop->Begin(m_clock->now.addSecs(-60 * downMinutes), false);
    QCOMPARE(m_starter->started.size(), caughtUp ? 1 : 0);
    if (caughtUp) QCOMPARE(m_starter->started[0].cause, QStringLiteral("missed"));
    QCOMPARE(m_catalog->runtime.value(task.key).missedRuns, missed);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(3600)));
}

void TestScheduleLoop::startsBeforeRegistrationAreNotMissed()
{
    // Nothing is due for hours; then a task is registered whose trigger began earlier today.
    m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\Weekly"), {T0.addDays(7)}));
    m_loop->Begin({}, false);
    RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Daily"), {T0.addSecs(3600), T0.addDays(1).addSecs(3600)});
    task.startWhenAvailable = true;
    m_catalog->Put(task);
    m_clock->now = T0.addSecs(5 * 3600);
    QSignalSpy handled(m_loop.get(), &ScheduleLoop::Handled);
    m_loop->Refresh(task.key);
    QCOMPARE(handled.count(), 1);
    QCOMPARE(m_loop->HandledThrough(), m_clock->now);

    // The daemon is killed and started again: its start of 09:00, before it existed, was not missed.
    m_clock->now = m_clock->now.addSecs(600);
    ScheduleLoop next({m_catalog.get()}, *m_starter, *m_clock, *m_timer);
    next.Begin(handled.last().at(0).toDateTime(), false);
    QVERIFY(m_starter->started.isEmpty());
    QCOMPARE(m_catalog->runtime.value(task.key).missedRuns, 0);
}

void TestScheduleLoop::crashDuringCatchUp_data()
{
    QTest::addColumn<int>("crashAfter");
    QTest::newRow("before the first start") << 0;
    QTest::newRow("after the first") << 1;
    QTest::newRow("in the middle") << 5;
    QTest::newRow("before the last") << 9;
}

void TestScheduleLoop::crashDuringCatchUp()
{
    QFETCH(int, crashAfter);
    // Five tasks with three missed hourly starts each and a start-up start: ten starts in all,
    // and the daemon dies after `crashAfter` of them. The next daemon, in the same boot, is
    // given what the first one recorded.
    struct Crash {};
    class CrashingStarter : public RecordingStarter {
    public:
        void StartUnattended(const RunnableTask& task, const QString& cause, const QDateTime& stopAt) override
        {
            if (crashAfter >= 0 && started.size() >= crashAfter) throw Crash{};
            RecordingStarter::StartUnattended(task, cause, stopAt);
        }
        qsizetype crashAfter = -1;
    } starter;
    starter.clock = m_clock.get();
    starter.crashAfter = crashAfter;
    QList<QDateTime> hourly;
    for (int h = -10; h <= 10; ++h) hourly.append(T0.addSecs(3600 * h));
    for (int i = 0; i < 5; ++i) {
        RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Task%1").arg(i), hourly);
        task.startWhenAvailable = true;
        task.bootStarts = {EventStart{{}, 0, {}, {}}};
        m_catalog->Put(task);
    }
    const QDateTime handled = T0.addSecs(-3 * 3600 + 60);
    m_clock->now = T0.addSecs(1800);

    CatchUpMarks marks;
    {
        ScheduleLoop first({m_catalog.get()}, starter, *m_clock, *m_timer);
        connect(&first, &ScheduleLoop::CatchingUp, this, [&](const TaskKey& key, const CatchUpMark& mark) {
            // Recorded before anything of the task is carried out.
            QVERIFY(std::none_of(starter.started.cbegin(), starter.started.cend(), [&](const Started& s) { return s.key == key; }));
            marks.insert(key, mark);
        });
        QVERIFY_THROWS_EXCEPTION(Crash, first.Begin(handled, true));
    }
    QCOMPARE(starter.started.size(), crashAfter);

    m_clock->now = m_clock->now.addSecs(120);
    starter.crashAfter = -1;
    ScheduleLoop next({m_catalog.get()}, starter, *m_clock, *m_timer);
    next.Begin(handled, true, marks);
    for (const RunnableTask& task : std::as_const(m_catalog->tasks)) {
        for (const QString& cause : {QStringLiteral("missed"), QStringLiteral("boot")}) {
            const auto runs = std::count_if(starter.started.cbegin(), starter.started.cend(),
                                            [&](const Started& s) { return s.key == task.key && s.cause == cause; });
            QVERIFY2(runs == 1, qPrintable(QStringLiteral("%1 %2: %3 runs").arg(task.key.path, cause).arg(runs)));
        }
        QCOMPARE(m_catalog->runtime.value(task.key).missedRuns, 3);
    }
}

void TestScheduleLoop::bootStarts()
{
    RunnableTask now = MemoryCatalog::At(QStringLiteral("\\AtBoot"), {});
    now.bootStarts = {EventStart{{}, 0, {}, {}}};
    RunnableTask later = MemoryCatalog::At(QStringLiteral("\\AfterBoot"), {});
    later.bootStarts = {EventStart{{}, 90000, {}, {}}};
    m_catalog->Put(now);
    m_catalog->Put(later);

    m_loop->Begin({}, false);   // the same boot as the last daemon: nothing
    QVERIFY(m_starter->started.isEmpty());
    QCOMPARE(m_loop->QueuedCount(), 0);

    ScheduleLoop fresh({m_catalog.get()}, *m_starter, *m_clock, *m_timer);
    fresh.Begin({}, true);
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_starter->started[0].key, now.key);
    QCOMPARE(m_starter->started[0].cause, QStringLiteral("boot"));
    QCOMPARE(m_timer->armedAt, T0.addSecs(90));
    m_timer->FireAt(*m_clock, T0.addSecs(90));
    QCOMPARE(m_starter->started.size(), 2);   // the first loop saw the wake too, and had nothing due
    QCOMPARE(m_starter->started.last().key, later.key);
}

void TestScheduleLoop::logonStarts()
{
    RunnableTask anyone = MemoryCatalog::At(QStringLiteral("\\AnyLogon"), {});
    anyone.logonStarts = {EventStart{{}, 0, {}, {}}};
    RunnableTask alice = MemoryCatalog::At(QStringLiteral("\\AliceLogon"), {});
    alice.logonStarts = {EventStart{QStringLiteral("HOST\\alice"), 0, {}, {}}};
    RunnableTask bobLater = MemoryCatalog::At(QStringLiteral("\\BobLogon"), {});
    bobLater.logonStarts = {EventStart{QStringLiteral("bob"), 30000, {}, {}}};
    for (const RunnableTask& t : {anyone, alice, bobLater}) m_catalog->Put(t);
    m_loop->Begin({}, false);

    m_loop->OnLogon(QStringLiteral("alice"));
    QCOMPARE(m_starter->started.size(), 2);
    for (const Started& s : m_starter->started) {
        QVERIFY(s.key == anyone.key || s.key == alice.key);
        QCOMPARE(s.cause, QStringLiteral("logon"));
    }
    m_starter->started.clear();
    m_loop->OnLogon(QStringLiteral("bob"));
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_timer->armedAt, T0.addSecs(30));
    m_timer->FireAt(*m_clock, T0.addSecs(30));
    QCOMPARE(m_starter->started.size(), 2);
    QCOMPARE(m_starter->started.last().key, bobLater.key);
}

void TestScheduleLoop::eventTriggerBoundaries_data()
{
    QTest::addColumn<RunnableTask>("task");
    QTest::addColumn<bool>("fires");

    // Each task has a boot and a logon trigger with the same boundaries.
    auto gen2 = [](const QDateTime& from, const QDateTime& until, bool enabled) {
        TaskDocument doc;
        for (int type : {8, 9}) {
            TriggerData t;
            t.type = type;
            t.enabled = enabled;
            if (from.isValid()) t.startBoundary = from.toString(Qt::ISODate);
            if (until.isValid()) t.endBoundary = until.toString(Qt::ISODate);
            doc.triggers.append(t);
        }
        return Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Event")), doc);
    };
    auto gen1 = [](const QDate& from, const QDate& until, bool enabled) {
        JobDefinition d;
        d.applicationName = QStringLiteral("true");
        for (WORD type : {WORD(TASK_EVENT_TRIGGER_AT_SYSTEMSTART), WORD(TASK_EVENT_TRIGGER_AT_LOGON)}) {
            TASK_TRIGGER t = TriggerRecords::Record(TASK_TRIGGER_TYPE(type), from, QTime(0, 0));
            if (until.isValid()) TriggerRecords::SetEnd(t, until);
            if (!enabled) t.rgFlags |= TASK_TRIGGER_FLAG_DISABLED;
            d.triggers.append(t);
        }
        RunnableTask task = Gen1Catalog::ToRunnable(QStringLiteral("Event.job"), d, std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone()));
        task.key = TaskKey{TaskGeneration::Gen2, QStringLiteral("\\Event")};   // the loop's catalog here is a 2.0 one
        return task;
    };
    const QDateTime now = T0.toLocalTime();
    QTest::newRow("2.0 no boundaries") << gen2({}, {}, true) << true;
    QTest::newRow("2.0 within") << gen2(now.addDays(-1), now.addDays(1), true) << true;
    QTest::newRow("2.0 ended") << gen2(now.addDays(-2), now.addSecs(-1), true) << false;
    QTest::newRow("2.0 not begun") << gen2(now.addSecs(60), {}, true) << false;
    QTest::newRow("2.0 disabled") << gen2({}, {}, false) << false;
    QTest::newRow("1.0 within") << gen1(now.date(), now.date(), true) << true;
    QTest::newRow("1.0 ended yesterday") << gen1(now.date().addDays(-5), now.date().addDays(-1), true) << false;
    QTest::newRow("1.0 begins tomorrow") << gen1(now.date().addDays(1), {}, true) << false;
    QTest::newRow("1.0 disabled") << gen1(now.date(), {}, false) << false;
}

void TestScheduleLoop::eventTriggerBoundaries()
{
    QFETCH(RunnableTask, task);
    QFETCH(bool, fires);
    m_catalog->Put(task);
    m_loop->Begin({}, true);
    m_loop->OnLogon(QStringLiteral("alice"));
    QCOMPARE(m_starter->started.size(), fires ? 2 : 0);
}

void TestScheduleLoop::sessionStateTriggers_data()
{
    QTest::addColumn<int>("stateChange");
    QTest::addColumn<QString>("userId");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<int>("endsInSecs");   // 0: no end boundary
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("change");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("startsAfterSecs");   // -1: it does not start

    const int lock = int(SessionChange::Lock);
    QTest::newRow("a lock of anybody") << lock << QString() << QString() << 0 << true << lock << "alice" << 0;
    QTest::newRow("alice's lock") << lock << "alice" << QString() << 0 << true << lock << "alice" << 0;
    QTest::newRow("alice's lock, spelt with her computer") << lock << "HOST\\alice" << QString() << 0 << true << lock << "ALICE" << 0;
    QTest::newRow("alice's lock, bob locks") << lock << "alice" << QString() << 0 << true << lock << "bob" << -1;
    QTest::newRow("an unlock is no lock") << lock << QString() << QString() << 0 << true << int(SessionChange::Unlock) << "alice" << -1;
    QTest::newRow("an unlock") << int(SessionChange::Unlock) << QString() << QString() << 0 << true << int(SessionChange::Unlock) << "alice" << 0;
    QTest::newRow("a remote connect") << int(SessionChange::RemoteConnect) << QString() << QString() << 0 << true
                                      << int(SessionChange::RemoteConnect) << "alice" << 0;
    QTest::newRow("a console connect is not remote") << int(SessionChange::RemoteConnect) << QString() << QString() << 0 << true
                                                     << int(SessionChange::ConsoleConnect) << "alice" << -1;
    QTest::newRow("a console disconnect") << int(SessionChange::ConsoleDisconnect) << QString() << QString() << 0 << true
                                          << int(SessionChange::ConsoleDisconnect) << "alice" << 0;
    QTest::newRow("a remote disconnect") << int(SessionChange::RemoteDisconnect) << QString() << QString() << 0 << true
                                         << int(SessionChange::RemoteDisconnect) << "alice" << 0;
    QTest::newRow("delayed") << lock << QString() << "PT1M" << 0 << true << lock << "alice" << 60;
    QTest::newRow("ended") << lock << QString() << QString() << -1 << true << lock << "alice" << -1;
    QTest::newRow("not ended yet") << lock << QString() << QString() << 60 << true << lock << "alice" << 0;
    QTest::newRow("disabled") << lock << QString() << QString() << 0 << false << lock << "alice" << -1;
}

void TestScheduleLoop::sessionStateTriggers()
{
    QFETCH(int, stateChange);
    QFETCH(QString, userId);
    QFETCH(QString, delay);
    QFETCH(int, endsInSecs);
    QFETCH(bool, enabled);
    QFETCH(int, change);
    QFETCH(QString, user);
    QFETCH(int, startsAfterSecs);
    TaskDocument doc;
    TriggerData t;
    t.type = 11;
    t.stateChange = stateChange;
    t.userId = userId;
    t.delay = delay;
    t.enabled = enabled;
    if (endsInSecs != 0) t.endBoundary = T0.addSecs(endsInSecs).toString(Qt::ISODate);
    doc.triggers.append(t);
    m_catalog->Put(Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Session")), doc));
    m_loop->Begin({}, false);

    m_loop->OnLogon(user);
    m_loop->OnSessionChange(SessionChange(change), user);
    if (startsAfterSecs > 0) {
        QCOMPARE(m_starter->started.size(), 0);
        QCOMPARE(m_timer->armedAt, T0.addSecs(startsAfterSecs));
        m_timer->FireAt(*m_clock, T0.addSecs(startsAfterSecs));
    }
    QCOMPARE(m_starter->started.size(), startsAfterSecs < 0 ? 0 : 1);
    if (startsAfterSecs >= 0) QCOMPARE(m_starter->started.first().cause, QStringLiteral("session"));
}

void TestScheduleLoop::idle_data()
{
    QTest::addColumn<RunnableTask>("task");
    QTest::addColumn<QStringList>("steps");    // "idle M": idle since M minutes from now; "busy"; "wait M"; "unknown"
    QTest::addColumn<QStringList>("expected"); // "start CAUSE +M", "skip CAUSE +M", "stop +M", at M minutes after T0

    auto gen2 = [](bool idleTrigger, bool runOnlyIfIdle, const QString& duration, const QString& wait, bool restart = false) {
        TaskDocument doc;
        TriggerData t;
        t.type = idleTrigger ? 6 : 1;
        if (!idleTrigger) t.startBoundary = T0.addSecs(60).toString(Qt::ISODate);
        doc.triggers.append(t);
        doc.settings.runOnlyIfIdle = runOnlyIfIdle;
        doc.settings.idle.idleDuration = duration;
        doc.settings.idle.waitTimeout = wait;
        doc.settings.idle.restartOnIdle = restart;
        return Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Idle")), doc);
    };
    auto gen1 = [](bool idleTrigger, DWORD flags, WORD idleMinutes, WORD deadlineMinutes) {
        JobDefinition d;
        d.applicationName = QStringLiteral("true");
        d.flags = flags;
        d.idleMinutes = idleMinutes;
        d.deadlineMinutes = deadlineMinutes;
        const QDateTime at = T0.addSecs(60);
        const TASK_TRIGGER t = TriggerRecords::Record(idleTrigger ? TASK_EVENT_TRIGGER_ON_IDLE : TASK_TIME_TRIGGER_ONCE, at.date(), at.time());
        d.triggers.append(t);
        RunnableTask task = Gen1Catalog::ToRunnable(QStringLiteral("Idle.job"), d, std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone()));
        task.key = TaskKey{TaskGeneration::Gen2, QStringLiteral("\\Idle")};   // the loop's catalog here is a 2.0 one
        return task;
    };
    const RunnableTask idleTrigger = gen2(true, false, QStringLiteral("PT10M"), QStringLiteral("PT1H"));
    QTest::newRow("2.0 idle trigger after its duration") << idleTrigger << QStringList{"idle 0", "wait 30"} << QStringList{"start idle +10"};
    QTest::newRow("2.0 idle for long already") << idleTrigger << QStringList{"idle -15", "wait 1"} << QStringList{"start idle +0"};
    QTest::newRow("2.0 a user comes back too soon")
        << idleTrigger << QStringList{"idle 0", "wait 5", "busy", "wait 10", "idle 0", "wait 12"} << QStringList{"start idle +25"};
    QTest::newRow("2.0 once in each idle time")
        << idleTrigger << QStringList{"idle 0", "wait 60", "busy", "idle 0", "wait 10"} << QStringList{"start idle +10", "stop +60", "start idle +70"};
    QTest::newRow("2.0 run only if idle, idle at its time")
        << gen2(false, true, QStringLiteral("PT10M"), QStringLiteral("PT30M")) << QStringList{"idle -20", "wait 5"} << QStringList{"start scheduled +1"};
    QTest::newRow("2.0 run only if idle, waits for idleness")
        << gen2(false, true, QStringLiteral("PT10M"), QStringLiteral("PT30M")) << QStringList{"wait 3", "idle 0", "wait 40"}
        << QStringList{"start scheduled +13"};
    QTest::newRow("2.0 run only if idle, gives up")
        << gen2(false, true, QStringLiteral("PT10M"), QStringLiteral("PT30M")) << QStringList{"wait 25", "idle 0", "wait 40"}
        << QStringList{"skip scheduled +31"};
    QTest::newRow("2.0 no wait timeout waits on")
        << gen2(false, true, QStringLiteral("PT10M"), QString()) << QStringList{"wait 600", "idle 0", "wait 40"} << QStringList{"start scheduled +610"};
    QTest::newRow("2.0 without run only if idle, idleness does not matter") << gen2(false, false, QStringLiteral("PT10M"), QString()) << QStringList{"wait 5"}
                                                 << QStringList{"start scheduled +1"};
    QTest::newRow("2.0 stopped at idle end and restarted")
        << gen2(false, true, QStringLiteral("PT10M"), QStringLiteral("PT30M"), true) << QStringList{"idle -20", "wait 5", "busy", "idle 0", "wait 15"}
        << QStringList{"start scheduled +1", "stop +5", "start idle +15"};
    QTest::newRow("2.0 idleness cannot be told")
        << gen2(false, true, QStringLiteral("PT10M"), QStringLiteral("PT30M")) << QStringList{"unknown", "wait 5"} << QStringList{"skip scheduled +1"};
    QTest::newRow("1.0 idle trigger") << gen1(true, 0, 3, 60) << QStringList{"idle 0", "wait 30"} << QStringList{"start idle +3"};
    QTest::newRow("1.0 start only if idle, waits")
        << gen1(false, TASK_FLAG_START_ONLY_IF_IDLE, 5, 10) << QStringList{"wait 2", "idle 0", "wait 20"} << QStringList{"start scheduled +7"};
    QTest::newRow("1.0 start only if idle, its deadline passes")
        << gen1(false, TASK_FLAG_START_ONLY_IF_IDLE, 5, 10) << QStringList{"wait 8", "idle 0", "wait 20"} << QStringList{"skip scheduled +11"};
    QTest::newRow("1.0 killed at idle end") << gen1(true, TASK_FLAG_KILL_ON_IDLE_END, 3, 60) << QStringList{"idle 0", "wait 5", "busy"}
                                            << QStringList{"start idle +3", "stop +5"};
}

void TestScheduleLoop::idle()
{
    QFETCH(RunnableTask, task);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    m_catalog->Put(task);
    FakeSessions sessions;
    m_loop->SetSessions(&sessions);
    m_loop->Begin({}, false);
    QStringList seen;
    int stops = 0;
    auto minutes = [](const QDateTime& t) { return QStringLiteral("+%1").arg(T0.secsTo(t) / 60); };
    auto collect = [&] {
        // A start handed over ahead counts from its time.
        for (const Started& s : std::as_const(m_starter->started))
            seen.append(QStringLiteral("start %1 %2").arg(s.cause, minutes(s.notBefore.isValid() ? s.notBefore : s.at)));
        for (const Started& s : std::as_const(m_starter->skipped)) seen.append(QStringLiteral("skip %1 %2").arg(s.cause, minutes(s.at)));
        for (; stops < m_starter->idleEndStops; ++stops) seen.append(QStringLiteral("stop ") + minutes(m_clock->now));
        m_starter->started.clear();
        m_starter->skipped.clear();
    };
    for (const QString& step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        if (words[0] == QLatin1String("idle")) sessions.Set(m_clock->now.addSecs(60 * words[1].toInt()));
        else if (words[0] == QLatin1String("busy")) sessions.Set({});
        else if (words[0] == QLatin1String("unknown")) sessions.knows = false;
        else if (words[0] == QLatin1String("wait")) {
            const QDateTime until = m_clock->now.addSecs(60 * words[1].toInt());
            while (m_timer->armedAt.isValid() && m_timer->armedAt <= until) m_timer->FireAt(*m_clock, std::max(m_clock->now, m_timer->armedAt));
            m_clock->now = until;
        }
        collect();
    }
    QCOMPARE(seen, expected);
    if (!m_starter->reasons.isEmpty()) QVERIFY2(m_starter->reasons.first().contains(QLatin1String("idle")), qPrintable(m_starter->reasons.first()));
}

void TestScheduleLoop::wakeTimerFollowsTasksThatWake()
{
    // Both generations ask for it in their own way.
    TaskDocument doc;
    doc.settings.wakeToRun = true;
    QVERIFY(Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Wakes")), doc).wakeToRun);
    JobDefinition job;
    job.flags = TASK_FLAG_SYSTEM_REQUIRED;
    QVERIFY(Gen1Catalog::ToRunnable(QStringLiteral("Wakes.job"), job, std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone())).wakeToRun);

    RunnableTask sleeper = MemoryCatalog::At(QStringLiteral("\\Sleeper"), {T0.addSecs(600), T0.addSecs(1500)});
    RunnableTask waker = MemoryCatalog::At(QStringLiteral("\\Waker"), {T0.addSecs(1200), T0.addSecs(1800)});
    waker.wakeToRun = true;
    m_catalog->Put(sleeper);
    m_catalog->Put(waker);
    ManualTimer wakeTimer;
    m_loop->SetWakeTimer(&wakeTimer);
    m_loop->Begin({}, false);
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(600)));
    QCOMPARE(wakeTimer.armedAt, Lead(T0.addSecs(1200)));
    m_timer->FireAt(*m_clock, T0.addSecs(600));
    QCOMPARE(wakeTimer.armedAt, Lead(T0.addSecs(1200)));
    // The computer slept through: the wake timer brings it back, and the loop starts what is due.
    wakeTimer.FireAt(*m_clock, T0.addSecs(1200));
    QCOMPARE(m_starter->started.size(), 2);
    QCOMPARE(m_starter->started.last().key, waker.key);
    QCOMPARE(wakeTimer.armedAt, Lead(T0.addSecs(1800)));
    m_timer->FireAt(*m_clock, T0.addSecs(1800));
    QVERIFY(!wakeTimer.armedAt.isValid());
}

void TestScheduleLoop::wallClockTimers_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("plain") << int(WallClockTimer::Plain);
    QTest::newRow("waking the system") << int(WallClockTimer::WakesSystem);
}

void TestScheduleLoop::wallClockTimers()
{
    QFETCH(int, kind);
    WallClockTimer timer{WallClockTimer::Kind(kind)};
    if (!timer.IsValid()) {
        // Without CAP_WAKE_ALARM or a wake-up clock: the daemon is told why.
        QCOMPARE(kind, int(WallClockTimer::WakesSystem));
        QVERIFY(!timer.Error().isEmpty());
        return;
    }
    QSignalSpy woken(&timer, &WakeTimer::Woken);
    timer.ArmAt(QDateTime::currentDateTime().addMSecs(50));
    QTRY_COMPARE(woken.count(), 1);
}

void TestScheduleLoop::expiredTaskIsDeleted()
{
    RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Once"), {T0.addSecs(10)});
    task.expiry = T0.addSecs(20);
    task.deleteExpiredAfterMs = 30000;
    m_catalog->Put(task);
    QSignalSpy expired(m_loop.get(), &ScheduleLoop::TaskExpired);
    m_loop->Begin({}, false);
    m_timer->FireAt(*m_clock, T0.addSecs(10));
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_timer->armedAt, T0.addSecs(50));
    QVERIFY(m_catalog->deleted.isEmpty());
    m_timer->FireAt(*m_clock, T0.addSecs(50));
    QCOMPARE(m_catalog->deleted, QList<TaskKey>{task.key});
    QCOMPARE(expired.count(), 1);
    QVERIFY(!m_timer->armedAt.isValid());
}

void TestScheduleLoop::expiredTaskThatRunsWaits()
{
    RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Busy"), {});
    task.expiry = T0;
    task.deleteExpiredAfterMs = 0;
    m_catalog->Put(task);
    m_starter->busy = {task.key};
    m_clock->now = T0.addSecs(1);
    m_loop->Begin({}, false);
    m_timer->FireAt(*m_clock, T0.addSecs(1));
    QVERIFY(m_catalog->deleted.isEmpty());
    QCOMPARE(m_timer->armedAt, T0.addSecs(1).addMSecs(ScheduleLoop::ExpiryRetryMs));
    m_starter->busy.clear();
    m_timer->FireAt(*m_clock, m_timer->armedAt);
    QCOMPARE(m_catalog->deleted, QList<TaskKey>{task.key});
}

void TestScheduleLoop::expiryMovesWhenTriggersChange()
{
    RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Moved"), {});
    task.expiry = T0.addSecs(10);
    task.deleteExpiredAfterMs = 0;
    m_catalog->Put(task);
    m_loop->Begin({}, false);
    // Before the expiry comes, the task gets a start later on (its stored expiry is stale).
    RunnableTask changed = MemoryCatalog::At(QStringLiteral("\\Moved"), {T0.addSecs(100)});
    changed.expiry = T0.addSecs(10);
    changed.deleteExpiredAfterMs = 0;
    m_catalog->Put(changed);
    m_timer->FireAt(*m_clock, T0.addSecs(10));
    QVERIFY(m_catalog->deleted.isEmpty());
    QCOMPARE(m_timer->armedAt, Lead(T0.addSecs(100)));
}

void TestScheduleLoop::randomDelay_data()
{
    QTest::addColumn<double>("fraction");
    QTest::newRow("none drawn") << 0.0;
    QTest::newRow("a quarter") << 0.25;
    QTest::newRow("the whole bound") << 1.0;
}

void TestScheduleLoop::randomDelay()
{
    QFETCH(double, fraction);
    m_random->fraction = fraction;
    const qint64 bound = 600000;
    m_catalog->Put(MemoryCatalog::WithStarts(QStringLiteral("\\Spread"), {ScheduledStart{T0.addSecs(60), bound, {}},
                                                                          ScheduledStart{T0.addSecs(3600), bound, {}}}));
    m_loop->Begin({}, false);
    QCOMPARE(m_timer->armedAt, T0.addSecs(60));   // the scheduled time, not a delayed one

    m_timer->FireAt(*m_clock, T0.addSecs(60));
    QCOMPARE(m_random->bounds, QList<qint64>{bound});
    const QDateTime actual = T0.addSecs(60).addMSecs(qint64(bound * fraction));
    if (fraction > 0) {
        QVERIFY(m_starter->started.isEmpty());
        QCOMPARE(m_timer->armedAt, actual);
        // While the start waits, a daemon that ends leaves it to its successor.
        QVERIFY(m_loop->HandledThrough() < T0.addSecs(60));
        m_timer->FireAt(*m_clock, actual);
    }
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_starter->started[0].at, actual);
    QCOMPARE(m_starter->started[0].cause, QStringLiteral("scheduled"));
    QCOMPARE(m_loop->HandledThrough(), actual);
    QCOMPARE(m_timer->armedAt, T0.addSecs(3600));
}

void TestScheduleLoop::repetitionEndReachesTheStarter()
{
    const QDateTime end = T0.addSecs(90);
    m_catalog->Put(MemoryCatalog::WithStarts(QStringLiteral("\\Repeat"), {ScheduledStart{T0.addSecs(30), 0, end},
                                                                          ScheduledStart{T0.addSecs(60), 0, end},
                                                                          ScheduledStart{T0.addSecs(3600), 0, {}}}));
    m_loop->Begin({}, false);
    m_timer->FireAt(*m_clock, T0.addSecs(30));
    m_timer->FireAt(*m_clock, T0.addSecs(60));
    m_timer->FireAt(*m_clock, T0.addSecs(3600));
    QCOMPARE(m_starter->started.size(), 3);
    QCOMPARE(m_starter->started[0].stopAt, end);
    QCOMPARE(m_starter->started[1].stopAt, end);
    QVERIFY(!m_starter->started[2].stopAt.isValid());
}

void TestScheduleLoop::startsCarryTheirTriggersSettings_data()
{
    QTest::addColumn<RunnableTask>("task");
    QTest::addColumn<qint64>("randomDelayMs");
    QTest::addColumn<bool>("stops");

    const QDateTime first(QDate(2030, 3, 1), QTime(8, 0));
    auto gen2 = [&](const QString& randomDelay, bool stop) {
        TaskDocument doc;
        TriggerData daily;
        daily.type = 2;
        daily.startBoundary = first.toString(Qt::ISODate);
        daily.randomDelay = randomDelay;
        daily.repetition = RepetitionData{QStringLiteral("PT15M"), QStringLiteral("PT1H"), stop};
        doc.triggers = {daily};
        return Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Daily")), doc);
    };
    auto gen1 = [&](WORD randomMinutes, bool stop) {
        TASK_TRIGGER t = TriggerRecords::Daily(QDate(2030, 3, 1), QTime(8, 0));
        t.MinutesInterval = 15;
        t.MinutesDuration = 60;
        t.rgFlags = stop ? TASK_TRIGGER_FLAG_KILL_AT_DURATION_END : 0;
        t.wRandomMinutesInterval = randomMinutes;
        JobDefinition d;
        d.applicationName = QStringLiteral("true");
        d.triggers = {t};
        return Gen1Catalog::ToRunnable(QStringLiteral("Daily.job"), d, std::make_shared<ScheduleEngine>(QTimeZone::systemTimeZone()));
    };
    QTest::newRow("2.0, random delay and stop") << gen2(QStringLiteral("PT10M"), true) << qint64(600000) << true;
    QTest::newRow("2.0, neither") << gen2(QString(), false) << qint64(0) << false;
    QTest::newRow("1.0, random minutes and kill at the end") << gen1(10, true) << qint64(600000) << true;
    QTest::newRow("1.0, neither") << gen1(0, false) << qint64(0) << false;
}

void TestScheduleLoop::startsCarryTheirTriggersSettings()
{
    QFETCH(RunnableTask, task);
    QFETCH(qint64, randomDelayMs);
    QFETCH(bool, stops);

    const QDateTime first(QDate(2030, 3, 1), QTime(8, 0));
    const QList<QDateTime> runTimes = task.StartsAfter(first.addSecs(-1), first.addSecs(3600), 10);
    QCOMPARE(runTimes.size(), 4);   // 08:00 to 08:45; the series ends at 09:00
    for (const QDateTime& at : runTimes) {
        const auto start = task.NextStart(at.addSecs(-1));
        QVERIFY(start);
        QCOMPARE(start->at, at);
        QCOMPARE(start->randomDelayMs, randomDelayMs);
        QCOMPARE(start->stopAt, stops ? first.addSecs(3600) : QDateTime());
    }
}

void TestScheduleLoop::gen2StartsAreStrictlyAfter_data()
{
    // A daily start at 08:00:00Z, asked from moments around one of its starts.
    QTest::addColumn<QDateTime>("after");
    QTest::addColumn<QDateTime>("first");
    const QDateTime start(QDate(2030, 5, 10), QTime(8, 0), QTimeZone::utc());
    QTest::newRow("a millisecond before") << start.addMSecs(-1) << start;
    QTest::newRow("at it") << start << start.addDays(1);
    QTest::newRow("a millisecond after") << start.addMSecs(1) << start.addDays(1);
    QTest::newRow("a second before, in another zone") << start.addSecs(-1).toOffsetFromUtc(3600) << start;
    QTest::newRow("long before the first") << start.addYears(-3) << QDateTime(QDate(2030, 1, 1), QTime(8, 0), QTimeZone::utc());
}

void TestScheduleLoop::gen2StartsAreStrictlyAfter()
{
    QFETCH(QDateTime, after);
    QFETCH(QDateTime, first);
    TaskDocument doc;
    TriggerData daily;
    daily.type = TASK_TRIGGER_DAILY;
    daily.daysInterval = 1;
    daily.startBoundary = QStringLiteral("2030-01-01T08:00:00Z");
    doc.triggers = {daily};
    const RunnableTask task = Gen2Catalog::ToRunnable(*TaskPath::Parse(QStringLiteral("\\Daily")), doc);
    const QList<QDateTime> three = task.StartsAfter(after, {}, 3);
    QCOMPARE(three, (QList<QDateTime>{first, first.addDays(1), first.addDays(2)}));
    QCOMPARE(task.NextStart(after)->at, first);
    // Up to and including `until`, and never more than asked for.
    QCOMPARE(task.StartsAfter(after, first.addDays(1), 10).size(), 2);
    QCOMPARE(task.StartsAfter(after, first.addMSecs(-1), 10).size(), 0);
    QVERIFY(task.StartsAfter(QDateTime(), {}, 3).isEmpty());
}

namespace {

long MinorFaults()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Grows the heap by about `bytes` in blocks that the allocator carves from the heap's end
// (below the size it maps apart), touching a page or two of each. An allocator that does not
// take its memory from the heap's end (a sanitizer's) never moves it: after twice `bytes`
// in blocks it gives up and says so by `grown`.
std::vector<void*> GrowHeap(size_t bytes, bool* grown)
{
    std::vector<void*> blocks;
    blocks.reserve(2 * bytes / 65536 + 1);
    const char* const start = static_cast<char*>(sbrk(0));
    while (static_cast<char*>(sbrk(0)) < start + bytes && blocks.size() < 2 * bytes / 65536)
        blocks.push_back(std::malloc(65536));
    *grown = static_cast<char*>(sbrk(0)) >= start + bytes;
    return blocks;
}

void FreeAll(std::vector<void*>& blocks)
{
    for (void* block : blocks) std::free(block);
    blocks.clear();
}

// The faults of writing every block whole.
long FaultsOfWriting(const std::vector<void*>& blocks)
{
    const long before = MinorFaults();
    for (void* block : blocks) std::memset(block, 1, 65536);
    return MinorFaults() - before;
}

} // namespace

void TestScheduleLoop::readingFillsTheHeapAsItGrows()
{
#if !defined(__GLIBC__)
    QSKIP("the heap is followed by its end as the GNU C library moves it");
#endif
    // Each of the daemon's start-up reads calls back after each task; the heap it grows is
    // filled then, not page by page as it is written.
    bool grown = false;
    std::vector<void*> plain = GrowHeap(4 << 20, &grown);
    if (!grown) {
        FreeAll(plain);
        QSKIP("this allocator does not take its memory from the heap's end");
    }
    const long unfilled = FaultsOfWriting(plain);
    if (unfilled < 500) QSKIP("this system fills a growing heap by other means");
    HeapFill fill;
    std::vector<void*> filled = GrowHeap(4 << 20, &grown);
    fill.Follow();
    const long faults = FaultsOfWriting(filled);
    if (faults > unfilled / 2 && madvise(sbrk(0), 0, MADV_POPULATE_WRITE) != 0 && errno == EINVAL)
        QSKIP("the system cannot fill a range of pages at once");
    // (No message made before the end: it would sit on the heap's end.)
    const bool fewFaults = faults < unfilled / 10;

    // The heap's end falls back when its last blocks are freed; grown again, it is filled
    // from there.
    const char* const high = static_cast<char*>(sbrk(0));
    for (auto it = filled.rbegin(); it != filled.rend(); ++it) std::free(*it);
    filled.clear();
    if (static_cast<char*>(sbrk(0)) >= high) QSKIP("the allocator kept the freed end of the heap");
    fill.Follow();
    std::vector<void*> again = GrowHeap(2 << 20, &grown);
    fill.Follow();
    const long faultsAgain = FaultsOfWriting(again);
    for (void* block : again) std::free(block);
    for (void* block : plain) std::free(block);
    QVERIFY2(fewFaults, qPrintable(QStringLiteral("%1 faults writing the filled heap, %2 without").arg(faults).arg(unfilled)));
    QVERIFY2(faultsAgain < unfilled / 20, qPrintable(QStringLiteral("%1 faults after the heap shrank").arg(faultsAgain)));
}

QTEST_GUILESS_MAIN(TestScheduleLoop)
#include "tst_schedule_loop.moc"

void TestScheduleLoop::startsAheadOfTheirTime_data()
{
    QTest::addColumn<qint64>("randomDelayMs");
    QTest::addColumn<bool>("runOnlyIfIdle");
    QTest::addColumn<bool>("takesAhead");   // what the starter says to a start ahead of its time
    QTest::addColumn<bool>("wokenLate");    // the loop's wake comes only after the start's time
    QTest::addColumn<bool>("ahead");        // the start is handed over its lead ahead
    QTest::newRow("a plain start") << qint64(0) << false << true << false << true;
    QTest::newRow("the starter leaves it for its time") << qint64(0) << false << false << false << false;
    QTest::newRow("woken after its time") << qint64(0) << false << true << true << false;
    QTest::newRow("a random delay, none drawn") << qint64(60000) << false << true << false << false;
    QTest::newRow("waits for an idle computer") << qint64(0) << true << true << false << false;
}

void TestScheduleLoop::startsAheadOfTheirTime()
{
    QFETCH(qint64, randomDelayMs);
    QFETCH(bool, runOnlyIfIdle);
    QFETCH(bool, takesAhead);
    QFETCH(bool, wokenLate);
    QFETCH(bool, ahead);
    const QDateTime at = T0.addSecs(60), stopAt = T0.addSecs(90), next = T0.addSecs(3600);
    RunnableTask task = MemoryCatalog::WithStarts(QStringLiteral("\\Soon"), {ScheduledStart{at, randomDelayMs, stopAt}, ScheduledStart{next, 0, {}}});
    task.idle.runOnlyIfIdle = runOnlyIfIdle;
    m_catalog->Put(task);
    FakeSessions sessions;
    sessions.since = T0.addSecs(-3600);   // idle for long: the idle start is made at its time
    m_loop->SetSessions(&sessions);
    m_random->fraction = 0;
    m_starter->takesAhead = takesAhead;
    m_loop->Begin({}, false);
    // Only a start that needs nothing but its time is looked at before it; the others are
    // not even woken for before their time.
    const bool early = randomDelayMs == 0 && !runOnlyIfIdle;
    QCOMPARE(m_timer->armedAt, early ? Lead(at) : at);

    m_timer->FireAt(*m_clock, wokenLate ? at.addSecs(2) : m_timer->armedAt);
    if (early && !ahead && !wokenLate) {
        // Declined: nothing happens before its time, and then it is started as ever.
        QVERIFY(m_starter->started.isEmpty());
        QCOMPARE(m_timer->armedAt, at);
        QCOMPARE(m_loop->HandledThrough(), Lead(at));
        m_timer->FireAt(*m_clock, at);
    }
    QCOMPARE(m_starter->started.size(), 1);
    const Started& made = m_starter->started[0];
    QCOMPARE(made.cause, QStringLiteral("scheduled"));
    QCOMPARE(made.stopAt, stopAt);
    QCOMPARE(made.notBefore, ahead ? at : QDateTime());
    QCOMPARE(made.at, ahead ? Lead(at) : wokenLate ? at.addSecs(2) : at);
    // A start handed over is handled, so that a daemon that ends before its time leaves it
    // to its supervisor rather than to its successor.
    QCOMPARE(m_loop->HandledThrough(), std::max(at, m_clock->now));
    QCOMPARE(m_timer->armedAt, runOnlyIfIdle ? next : Lead(next));
}

void TestScheduleLoop::aStartHandedOverIsNotMadeAgain_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("afterMs");   // when it happens, after the hand-over
    QTest::newRow("registered again as it was") << QStringLiteral("refresh") << 10;
    QTest::newRow("disabled and enabled again") << QStringLiteral("toggle") << 10;
    QTest::newRow("its trigger now starts at once") << QStringLiteral("sooner") << 10;
    QTest::newRow("the daemon restarts before its time") << QStringLiteral("restart") << 20;
    QTest::newRow("the daemon restarts after its time") << QStringLiteral("restart") << 5000;
}

void TestScheduleLoop::aStartHandedOverIsNotMadeAgain()
{
    QFETCH(QString, meanwhile);
    QFETCH(int, afterMs);
    const QDateTime at = T0.addSecs(60), next = T0.addSecs(3600);
    RunnableTask task = MemoryCatalog::At(QStringLiteral("\\Once"), {at, next});
    task.startWhenAvailable = true;   // a start seen as missed would be made again
    task.instances = InstancesPolicy::Parallel;
    m_catalog->Put(task);
    QSignalSpy handled(m_loop.get(), &ScheduleLoop::Handled);
    m_loop->Begin({}, false);
    m_timer->FireAt(*m_clock, Lead(at));
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_starter->started[0].notBefore, at);

    // Whatever happens to the task or the daemon in the lead, the instance handed over stands
    // for the start, as an instance that already runs would.
    m_clock->now = Lead(at).addMSecs(afterMs);
    if (meanwhile == QLatin1String("restart")) {
        const QDateTime mark = handled.last().at(0).toDateTime();
        m_loop.reset();
        m_loop = std::make_unique<ScheduleLoop>(QList<TaskCatalog*>{m_catalog.get()}, *m_starter, *m_clock, *m_timer);
        m_loop->Begin(mark, false);
    } else if (meanwhile == QLatin1String("toggle")) {
        m_catalog->tasks[task.key].enabled = false;
        m_loop->Refresh(task.key);
        m_catalog->tasks[task.key].enabled = true;
        m_loop->Refresh(task.key);
    } else {
        // Changed to start a moment from now as well, within the lead: the start handed over
        // already covers it.
        if (meanwhile == QLatin1String("sooner")) m_catalog->Put(MemoryCatalog::At(QStringLiteral("\\Once"), {m_clock->now.addMSecs(5), at, next}));
        m_catalog->tasks[task.key].startWhenAvailable = true;
        m_catalog->tasks[task.key].instances = InstancesPolicy::Parallel;
        m_loop->Refresh(task.key);
    }
    while (m_timer->armedAt.isValid() && m_timer->armedAt < next.addSecs(-600)) m_timer->FireAt(*m_clock, std::max(m_clock->now, m_timer->armedAt));
    QCOMPARE(m_starter->started.size(), 1);
    QCOMPARE(m_catalog->runtime.value(task.key).missedRuns, 0);
    QCOMPARE(m_timer->armedAt, Lead(next));
}
