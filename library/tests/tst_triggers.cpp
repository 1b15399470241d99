// The trigger collection, the trigger model and the trigger texts, in both generations,
// against a private service root.

#include "ResultCodes.h"
#include "TaskService2.h"
#include "LibraryTestSupport.h"
#include "TriggerText.h"
#include "tvMSTask.h"

#include <QLocale>
#include <cstring>
#include <iterator>

using namespace LibraryTests;

namespace {

const QString kTask = QStringLiteral("Triggered");

ComPtr<ITriggerCollection> ServiceTriggers(TTaskItem* item)
{
    ComPtr<ITriggerCollection> triggers;
    item->GetTaskDefinition()->get_Triggers(triggers.Put());
    return triggers;
}

ComPtr<ITrigger> ServiceTrigger(TTaskItem* item, LONG position)
{
    ComPtr<ITrigger> trigger;
    ServiceTriggers(item)->get_Item(position, trigger.Put());
    return trigger;
}

LONG ServiceCount(TTaskItem* item)
{
    LONG count = -1;
    ServiceTriggers(item)->get_Count(&count);
    return count;
}

template <typename I>
ComPtr<I> KindOf(const ComPtr<ITrigger>& trigger)
{
    ComPtr<I> kind;
    trigger.As(kind);
    return kind;
}

ComPtr<ITask> TaskOf(TTaskItem* item)
{
    ComPtr<ITask> task;
    item->GetTaskInterface().As(task);
    return task;
}

WORD LegacyCount(TTaskItem* item)
{
    WORD count = 0xFFFF;
    TaskOf(item)->GetTriggerCount(&count);
    return count;
}

TASK_TRIGGER LegacyRecord(TTaskItem* item, WORD index)
{
    ComPtr<ITaskTrigger> trigger;
    TaskOf(item)->GetTrigger(index, trigger.Put());
    TASK_TRIGGER record{};
    trigger->GetTrigger(&record);
    return record;
}

QString StartBoundary(const ComPtr<ITrigger>& trigger)
{
    QString text;
    trigger->get_StartBoundary(&text);
    return text;
}

QString EndBoundary(const ComPtr<ITrigger>& trigger)
{
    QString text;
    trigger->get_EndBoundary(&text);
    return text;
}

ComPtr<ITaskSettings> SettingsOf(TTaskItem* item)
{
    ComPtr<ITaskSettings> settings;
    item->GetTaskDefinition()->get_Settings(settings.Put());
    return settings;
}

bool IsTimeKind(TTriggerType kind)
{
    return kind <= ttMonthlyDow;
}

bool HasDelay(TTriggerType kind)
{
    return kind >= ttAtStartup && kind <= ttOnUnlock;
}

bool HasUser(TTriggerType kind)
{
    return kind >= ttAtLogon && kind <= ttOnUnlock;
}

TASK_TRIGGER_TYPE2 ServiceKind(TTriggerType kind)
{
    static const TASK_TRIGGER_TYPE2 kinds[] = {
        TASK_TRIGGER_TIME, TASK_TRIGGER_DAILY, TASK_TRIGGER_WEEKLY, TASK_TRIGGER_MONTHLY,
        TASK_TRIGGER_MONTHLYDOW, TASK_TRIGGER_IDLE, TASK_TRIGGER_BOOT, TASK_TRIGGER_LOGON,
        TASK_TRIGGER_SESSION_STATE_CHANGE, TASK_TRIGGER_SESSION_STATE_CHANGE,
        TASK_TRIGGER_SESSION_STATE_CHANGE, TASK_TRIGGER_SESSION_STATE_CHANGE};
    return kinds[kind];
}

TRIGGER_TYPE_UNION DetailsOf(TTriggerType kind)
{
    TRIGGER_TYPE_UNION details{};
    switch (kind) {
    case ttDaily:
        details.Daily.DaysInterval = 3;
        break;
    case ttWeekly:
        details.Weekly.WeeksInterval = 2;
        details.Weekly.rgfDaysOfTheWeek = 0x22; // Monday, Friday
        break;
    case ttMonthlyDate:
        details.MonthlyDate.rgfDays = 0x1 | (1u << 14); // days 1 and 15
        details.MonthlyDate.rgfMonths = 0x805;           // January, March, December
        break;
    case ttMonthlyDow:
        details.MonthlyDOW.wWhichWeek = 2;
        details.MonthlyDOW.rgfDaysOfTheWeek = 0x2;
        details.MonthlyDOW.rgfMonths = 0x1;
        break;
    default:
        break;
    }
    return details;
}

/// Fills a new trigger of `kind` in the documented order and sends it.
void Fill(TTriggers* triggers, TTrigger* t, TTriggerType kind, bool vista)
{
    t->SetStartTime(Time(9, 5));
    t->SetBeginDate(Date(2030, 4, 10));
    t->SetEndDate(Date(2030, 12, 31));
    t->SetHasEndDate(true);
    t->SetDetails(DetailsOf(kind));
    if (IsTimeKind(kind)) {
        t->SetDuration(120);
        t->SetInterval(15);
        t->SetKillAtDurationEnd(true);
    }
    if (vista) {
        switch (kind) {
        case ttOnce:
            t->SetTimeTriggerRundomDelayMinutes(11);
            break;
        case ttDaily:
            t->SetDailyTriggerRundomDelayMinutes(12);
            break;
        case ttWeekly:
            t->SetWeeklyTriggerRundomDelayMinutes(13);
            break;
        case ttMonthlyDate:
            t->SetRunOnLastDayOfMonth(true);
            t->SetMonthlyTriggerRundomDelayMinutes(14);
            break;
        case ttMonthlyDow:
            t->SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks{tvmdowSecond, tvmdowLast});
            t->SetMonthlyDOWTriggerRundomDelayMinutes(15);
            break;
        default:
            break;
        }
        if (HasDelay(kind)) t->SetTriggerDelayMinutes(25);
        if (HasUser(kind)) t->SetUserName(QStringLiteral("alice"));
    }
    triggers->UpdateTriggers();
}

/// A 2.0 trigger made directly in the definition, bypassing the library.
ComPtr<ITrigger> RawTrigger(TTaskItem* item, TASK_TRIGGER_TYPE2 type, const QString& start)
{
    ComPtr<ITrigger> trigger;
    ServiceTriggers(item)->Create(type, trigger.Put());
    if (!start.isEmpty()) trigger->put_StartBoundary(start);
    return trigger;
}


} // namespace

class TestTriggers : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void newTriggerRecord_data() { AddBothGenerations(); }
    void newTriggerRecord();
    void addKindsOutsideGeneration();
    void withoutTaskObject();
    void updateRefusesKindV1CannotHold();
    void indexOutOfBounds_data();
    void indexOutOfBounds();
    void deleteMiddle_data() { AddBothGenerations(); }
    void deleteMiddle();
    void failedAddAppendsNothing();
    void failedDeleteKeepsItem_data() { AddBothGenerations(); }
    void failedDeleteKeepsItem();
    void clear_data() { AddBothGenerations(); }
    void clear();
    void failedClearKeepsItems();
    void intervalZeroWrittenAsOne_data();
    void intervalZeroWrittenAsOne();
    void zeroDurationsSentEmpty();
    void repetitionReadLive();
    void startBoundaryRewritten_data();
    void startBoundaryRewritten();
    void beginDateBeforeStartTime();
    void startWithoutBoundary();
    void endBoundaryOnlyWhenInForce();
    void weeksOfMonthRead_data();
    void weeksOfMonthRead();
    void weeksFromWeekNumber_data();
    void weeksFromWeekNumber();
    void enabledV2DisablesTask();
    void enabledV1();
    void setOnlyWhenDifferent();
    void weeksAlwaysRewritten();
    void kindMismatch();
    void sessionStateKept_data();
    void sessionStateKept();
    void otherServiceKindsLoadAsUnknown_data();
    void otherServiceKindsLoadAsUnknown();
    void invalidDatesAndTimes();
    void texts_data();
    void texts();
    void textReadsLiveTrigger();
    void textV1FromService();
    void textV1ServiceFailure();
    void triggerStrings_data() { AddBothGenerations(); }
    void triggerStrings();
};

void TestTriggers::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestTriggers::roundTrip_data()
{
    QTest::addColumn<bool>("vista");
    QTest::addColumn<int>("kind");
    static const char* const kinds[] = {"once",    "daily",      "weekly",     "monthly by date", "monthly by weekday", "on idle",
                                        "at startup", "at logon", "on connect", "on disconnect",   "on lock",            "on unlock"};
    static_assert(std::size(kinds) == ttOnUnlock + 1);
    for (int kind = ttOnce; kind <= ttOnUnlock; ++kind) QTest::addRow("2.0 %s", kinds[kind]) << true << kind;
    for (int kind = ttOnce; kind <= ttAtLogon; ++kind) QTest::addRow("1.0 %s", kinds[kind]) << false << kind;
}

void TestTriggers::roundTrip()
{
    QFETCH(bool, vista);
    QFETCH(int, kind);
    const auto type = static_cast<TTriggerType>(kind);
    Fixture f(vista);
    TTaskItem* item = f.New(kTask);
    TTrigger* added = item->GetTriggers()->Add(type);
    QVERIFY(added);
    QCOMPARE(added->GetTriggerType(), type);
    Fill(item->GetTriggers(), added, type, vista);

    TTaskItem* loaded = f.SaveAndReload(item);
    TTriggers* triggers = loaded->GetTriggers();
    QCOMPARE(triggers->Count(), 1);
    TTrigger* t = triggers->GetItem(0);
    QCOMPARE(t->GetTriggerType(), type);
    QCOMPARE(t->GetStartTime(), Time(9, 5));
    const TRIGGER_TYPE_UNION expected = DetailsOf(type);
    const TRIGGER_TYPE_UNION details = t->GetDetails();
    if (IsTimeKind(type)) {
        QCOMPARE(t->GetDuration(), 120u);
        QCOMPARE(t->GetInterval(), 15u);
        QVERIFY(t->GetKillAtDurationEnd());
    }

    if (!vista) {
        QCOMPARE(t->GetBeginDate(), Date(2030, 4, 10));
        QVERIFY(t->GetHasEndDate());
        QCOMPARE(t->GetEndDate(), Date(2030, 12, 31));
        QVERIFY(t->GetEnabled());
        QCOMPARE(std::memcmp(&details, &expected, sizeof details), 0);
        QVERIFY(!t->GetVistaTrigger());
        return;
    }

    const ComPtr<ITrigger> service = t->GetVistaTrigger();
    QVERIFY(service);
    TASK_TRIGGER_TYPE2 serviceKind = TASK_TRIGGER_EVENT;
    service->get_Type(&serviceKind);
    QCOMPARE(serviceKind, ServiceKind(type));
    QCOMPARE(t->GetBeginDate(), Date(2030, 4, 10) + Time(9, 5));
    QCOMPARE(StartBoundary(service), QStringLiteral("2030-04-10T09:05:00"));
    // The end boundary is not read back; the service keeps its own.
    QVERIFY(!t->GetHasEndDate());
    QCOMPARE(t->GetEndDate(), 0.0);
    QCOMPARE(EndBoundary(service), type == ttOnIdle ? QString() : QStringLiteral("2030-12-31T00:00:00"));

    switch (type) {
    case ttOnce:
        QCOMPARE(t->GetTimeTriggerRundomDelayMinutes(), 11u);
        break;
    case ttDaily:
        QCOMPARE(details.Daily.DaysInterval, expected.Daily.DaysInterval);
        QCOMPARE(t->GetDailyTriggerRundomDelayMinutes(), 12u);
        break;
    case ttWeekly:
        QCOMPARE(details.Weekly.WeeksInterval, expected.Weekly.WeeksInterval);
        QCOMPARE(details.Weekly.rgfDaysOfTheWeek, expected.Weekly.rgfDaysOfTheWeek);
        QCOMPARE(t->GetWeeklyTriggerRundomDelayMinutes(), 13u);
        break;
    case ttMonthlyDate:
        QCOMPARE(details.MonthlyDate.rgfDays, expected.MonthlyDate.rgfDays);
        QCOMPARE(details.MonthlyDate.rgfMonths, expected.MonthlyDate.rgfMonths);
        QVERIFY(t->GetRunOnLastDayOfMonth());
        QCOMPARE(t->GetMonthlyTriggerRundomDelayMinutes(), 14u);
        break;
    case ttMonthlyDow:
        QCOMPARE(details.MonthlyDOW.rgfDaysOfTheWeek, expected.MonthlyDOW.rgfDaysOfTheWeek);
        QCOMPARE(details.MonthlyDOW.rgfMonths, expected.MonthlyDOW.rgfMonths);
        QCOMPARE(details.MonthlyDOW.wWhichWeek, WORD(5));
        QCOMPARE(t->GetVistaMonthlyDOWWeeks(), (TVistaMDOWWeeks{tvmdowSecond, tvmdowLast}));
        QCOMPARE(t->GetMonthlyDOWTriggerRundomDelayMinutes(), 15u);
        break;
    default:
        break;
    }
    if (HasDelay(type)) QCOMPARE(t->GetTriggerDelayMinutes(), 25u);
    if (type == ttAtLogon) {
        QString user;
        KindOf<ILogonTrigger>(service)->get_UserId(&user);
        QCOMPARE(user, QStringLiteral("alice"));
    }
    if (type >= ttOnConnect) {
        const ComPtr<ISessionStateChangeTrigger> session = KindOf<ISessionStateChangeTrigger>(service);
        QString user;
        session->get_UserId(&user);
        QCOMPARE(user, QStringLiteral("alice"));
        TASK_SESSION_STATE_CHANGE_TYPE change{};
        session->get_StateChange(&change);
        const TASK_SESSION_STATE_CHANGE_TYPE changes[] = {TASK_REMOTE_CONNECT, TASK_REMOTE_DISCONNECT,
                                                          TASK_SESSION_LOCK, TASK_SESSION_UNLOCK};
        QCOMPARE(change, changes[type - ttOnConnect]);
    }
    if (!IsTimeKind(type)) {
        VARIANT_BOOL whenAvailable = VARIANT_FALSE;
        SettingsOf(loaded)->get_StartWhenAvailable(&whenAvailable);
        QCOMPARE(whenAvailable, VARIANT_TRUE);
    }
}

void TestTriggers::newTriggerRecord()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttDaily);
    QCOMPARE(t->GetCollection(), item->GetTriggers());
    QCOMPARE(item->GetTriggers()->IndexOf(t), 0);
    QCOMPARE(t->GetStartTime(), 0.0);
    QCOMPARE(t->GetEndDate(), 0.0);
    QVERIFY(!t->GetHasEndDate());
    QVERIFY(t->GetEnabled());
    QVERIFY(t->GetVistaMonthlyDOWWeeks().IsEmpty());
    QCOMPARE(t->GetTriggerDelayMinutes(), 0u);
    const TRIGGER_TYPE_UNION details = t->GetDetails();
    const TRIGGER_TYPE_UNION zero{};
    QCOMPARE(std::memcmp(&details, &zero, sizeof zero), 0);
    if (!vista) {
        // The service's trigger receives the record only at UpdateTriggers.
        QCOMPARE(t->GetBeginDate(), 0.0);
        QCOMPARE(LegacyRecord(item, 0).TriggerType, TASK_TIME_TRIGGER_ONCE);
        item->GetTriggers()->UpdateTriggers();
        const TASK_TRIGGER sent = LegacyRecord(item, 0);
        QCOMPARE(sent.cbTriggerSize, WORD(48));
        QCOMPARE(sent.TriggerType, TASK_TIME_TRIGGER_DAILY);
    }
}

void TestTriggers::addKindsOutsideGeneration()
{
    {
        Fixture f(true);
        TTaskItem* item = f.New(kTask);
        QCOMPARE(item->GetTriggers()->Add(ttUnknown), nullptr);
        QCOMPARE(item->GetTriggers()->Count(), 0);
        QCOMPARE(ServiceCount(item), 0);
    }
    Fixture f(false);
    TTaskItem* item = f.New(kTask);
    for (TTriggerType kind : {ttOnConnect, ttOnDisconnect, ttOnLock, ttOnUnlock, ttUnknown}) {
        QCOMPARE(MessageOf<ETriggerError>([&] { item->GetTriggers()->Add(kind); }),
                 STriggerKindNeedsTaskService2.arg(int(kind)));
    }
    QCOMPARE(item->GetTriggers()->Count(), 0);
    QCOMPARE(LegacyCount(item), WORD(0));
}

void TestTriggers::withoutTaskObject()
{
    // A 2.0 item without a definition and a 1.0 item without a task object: every operation
    // that reaches the service raises the not-activated error and leaves the collection alone.
    for (bool vista : {true, false}) {
        Fixture f(vista);
        TTaskItem bare(f.scheduler.get());
        TTriggers triggers(&bare);
        const QString expected = QStringLiteral("Task \"\" is not activated.");
        const QList<std::function<void()>> operations{
            [&] { triggers.Add(ttDaily); },
            [&] { triggers.InitTriggers(); },
        };
        for (qsizetype i = 0; i < operations.size(); ++i)
            QVERIFY2(MessageOf<ETaskError>(operations[i]) == expected, qPrintable(QString::number(i)));
        if (vista) QCOMPARE(MessageOf<ETaskError>([&] { triggers.Clear(); }), expected);
        QCOMPARE(triggers.Count(), 0);
        QStringList lines;
        triggers.GetTriggerStrings(lines);
        QCOMPARE(lines, QStringList{QStringLiteral("<Task not scheduled>")});
    }
}

void TestTriggers::updateRefusesKindV1CannotHold()
{
    Fixture f(false);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    TTrigger* first = triggers->Add(ttDaily);
    first->SetStartTime(Time(8, 0));
    TTrigger* second = triggers->Add(ttOnce);
    second->SetTriggerType(ttOnLock);
    QCOMPARE(MessageOf<ETriggerError>([&] { triggers->UpdateTriggers(); }), STriggerKindNeedsTaskService2.arg(int(ttOnLock)));
    // Nothing was sent, not even the valid first record.
    QCOMPARE(LegacyRecord(item, 0).wStartHour, WORD(0));
    QCOMPARE(LegacyRecord(item, 0).TriggerType, TASK_TIME_TRIGGER_ONCE);
    second->SetTriggerType(ttAtLogon);
    triggers->UpdateTriggers();
    QCOMPARE(LegacyRecord(item, 0).wStartHour, WORD(8));
    QCOMPARE(LegacyRecord(item, 1).TriggerType, TASK_EVENT_TRIGGER_AT_LOGON);
}

void TestTriggers::indexOutOfBounds_data()
{
    QTest::addColumn<bool>("vista");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    for (bool vista : {true, false}) {
        const char* g = vista ? "2.0" : "1.0";
        QTest::addRow("%s empty, 0", g) << vista << 0 << 0;
        QTest::addRow("%s two, -1", g) << vista << 2 << -1;
        QTest::addRow("%s two, 2", g) << vista << 2 << 2;
    }
}

void TestTriggers::indexOutOfBounds()
{
    QFETCH(bool, vista);
    QFETCH(int, count);
    QFETCH(int, index);
    Fixture f(vista);
    TTaskItem* item = f.New(kTask);
    for (int i = 0; i < count; ++i) item->GetTriggers()->Add(ttAtStartup);
    item->GetTriggers()->UpdateTriggers();
    TTaskItem* loaded = f.SaveAndReload(item);
    TTriggers* triggers = loaded->GetTriggers();
    QCOMPARE(triggers->Count(), count);
    const QString message = QStringLiteral("Trigger index out of bounds (%1)").arg(index);
    QCOMPARE(MessageOf<ETriggerError>([&] { triggers->GetItem(index); }), message);
    QCOMPARE(MessageOf<ETriggerError>([&] { triggers->Delete(index); }), message);
    QCOMPARE(triggers->Count(), count);
}

void TestTriggers::deleteMiddle()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    TTrigger* once = triggers->Add(ttOnce);
    triggers->Add(ttDaily);
    TTrigger* weekly = triggers->Add(ttWeekly);
    triggers->UpdateTriggers();
    triggers->Delete(1);
    QCOMPARE(triggers->Count(), 2);
    QCOMPARE(triggers->GetItem(0), once);
    QCOMPARE(triggers->GetItem(1), weekly);
    if (vista) {
        QCOMPARE(ServiceCount(item), 2);
        TASK_TRIGGER_TYPE2 first{}, second{};
        ServiceTrigger(item, 1)->get_Type(&first);
        ServiceTrigger(item, 2)->get_Type(&second);
        QCOMPARE(first, TASK_TRIGGER_TIME);
        QCOMPARE(second, TASK_TRIGGER_WEEKLY);
    } else {
        QCOMPARE(LegacyCount(item), WORD(2));
        QCOMPARE(LegacyRecord(item, 0).TriggerType, TASK_TIME_TRIGGER_ONCE);
        QCOMPARE(LegacyRecord(item, 1).TriggerType, TASK_TIME_TRIGGER_WEEKLY);
    }
}

void TestTriggers::failedAddAppendsNothing()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    int added = 0;
    // The service holds a bounded number of triggers per task; the one past it is refused.
    for (; added < 1000; ++added) {
        try {
            triggers->Add(ttDaily);
        } catch (const EPlatformError& e) {
            QCOMPARE(e.Code(), SCHED_E_TOO_MANY_NODES);
            break;
        }
    }
    QVERIFY(added > 0 && added < 1000);
    QCOMPARE(triggers->Count(), added);
    QCOMPARE(ServiceCount(item), LONG(added));
    QVERIFY_THROWS_EXCEPTION(EPlatformError, triggers->Add(ttOnce));
    QCOMPARE(triggers->Count(), added);
}

void TestTriggers::failedDeleteKeepsItem()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    TTrigger* first = triggers->Add(ttOnce);
    TTrigger* second = triggers->Add(ttDaily);
    // The service loses the last trigger behind the collection's back.
    if (vista)
        QCOMPARE(ServiceTriggers(item)->Remove(VARIANT::I4(2)), S_OK);
    else
        QCOMPARE(TaskOf(item)->DeleteTrigger(1), S_OK);
    QVERIFY(MessageOf<EPlatformError>([&] { triggers->Delete(1); }).startsWith(QStringLiteral("<")) == false);
    QCOMPARE(triggers->Count(), 2);
    QCOMPARE(triggers->GetItem(0), first);
    QCOMPARE(triggers->GetItem(1), second);
}

void TestTriggers::clear()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    for (TTriggerType kind : {ttOnce, ttDaily, ttAtLogon}) triggers->Add(kind);
    triggers->Clear();
    QCOMPARE(triggers->Count(), 0);
    QCOMPARE(vista ? ServiceCount(item) : LONG(LegacyCount(item)), 0);
    for (int index : {0, 1, 2})
        QCOMPARE(MessageOf<ETriggerError>([&] { triggers->GetItem(index); }),
                 QStringLiteral("Trigger index out of bounds (%1)").arg(index));
    triggers->Clear(); // on an empty collection: nothing to do
    QCOMPARE(triggers->Count(), 0);
}

void TestTriggers::failedClearKeepsItems()
{
    Fixture f(false);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    for (TTriggerType kind : {ttOnce, ttDaily, ttWeekly}) triggers->Add(kind);
    // The last trigger goes behind the collection's back: removing it again fails first.
    QCOMPARE(TaskOf(item)->DeleteTrigger(2), S_OK);
    QVERIFY(MessageOf<EPlatformError>([&] { triggers->Clear(); }).startsWith(QStringLiteral("<")) == false);
    QCOMPARE(triggers->Count(), 3);
    QCOMPARE(LegacyCount(item), WORD(2));
}

void TestTriggers::intervalZeroWrittenAsOne_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("sent");
    QTest::newRow("daily 0") << int(ttDaily) << 0 << 1;
    QTest::newRow("daily 4") << int(ttDaily) << 4 << 4;
    QTest::newRow("weekly 0") << int(ttWeekly) << 0 << 1;
    QTest::newRow("weekly 3") << int(ttWeekly) << 3 << 3;
}

void TestTriggers::intervalZeroWrittenAsOne()
{
    QFETCH(int, kind);
    QFETCH(int, interval);
    QFETCH(int, sent);
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(static_cast<TTriggerType>(kind));
    TRIGGER_TYPE_UNION details{};
    if (kind == ttDaily) {
        details.Daily.DaysInterval = WORD(interval);
    } else {
        details.Weekly.WeeksInterval = WORD(interval);
        details.Weekly.rgfDaysOfTheWeek = 0x4;
    }
    t->SetDetails(details);
    item->GetTriggers()->UpdateTriggers();
    SHORT value = 0;
    if (kind == ttDaily)
        KindOf<IDailyTrigger>(t->GetVistaTrigger())->get_DaysInterval(&value);
    else
        KindOf<IWeeklyTrigger>(t->GetVistaTrigger())->get_WeeksInterval(&value);
    QCOMPARE(int(value), sent);
}

void TestTriggers::zeroDurationsSentEmpty()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* daily = item->GetTriggers()->Add(ttDaily);
    TTrigger* boot = item->GetTriggers()->Add(ttAtStartup);
    ComPtr<IRepetitionPattern> repetition;
    daily->GetVistaTrigger()->get_Repetition(repetition.Put());
    QString text;

    daily->SetDuration(1563);
    repetition->get_Duration(&text);
    QCOMPARE(text, QStringLiteral("P1DT2H3M"));
    daily->SetDuration(0);
    repetition->get_Duration(&text);
    QCOMPARE(text, QString());

    daily->SetInterval(90);
    repetition->get_Interval(&text);
    QCOMPARE(text, QStringLiteral("PT1H30M"));
    daily->SetInterval(0);
    repetition->get_Interval(&text);
    QCOMPARE(text, QString());

    const ComPtr<IDailyTrigger> dailyKind = KindOf<IDailyTrigger>(daily->GetVistaTrigger());
    daily->SetDailyTriggerRundomDelayMinutes(45);
    dailyKind->get_RandomDelay(&text);
    QCOMPARE(text, QStringLiteral("PT45M"));
    daily->SetDailyTriggerRundomDelayMinutes(0);
    dailyKind->get_RandomDelay(&text);
    QCOMPARE(text, QString());

    const ComPtr<IBootTrigger> bootKind = KindOf<IBootTrigger>(boot->GetVistaTrigger());
    boot->SetTriggerDelayMinutes(60);
    bootKind->get_Delay(&text);
    QCOMPARE(text, QStringLiteral("PT1H0M"));
    boot->SetTriggerDelayMinutes(0);
    bootKind->get_Delay(&text);
    QCOMPARE(text, QString());
}

void TestTriggers::repetitionReadLive()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttDaily);
    ComPtr<IRepetitionPattern> repetition;
    t->GetVistaTrigger()->get_Repetition(repetition.Put());
    repetition->put_Interval(QStringLiteral("PT20M"));
    repetition->put_Duration(QStringLiteral("PT2H"));
    repetition->put_StopAtDurationEnd(VARIANT_TRUE);
    QCOMPARE(t->GetInterval(), 20u);
    QCOMPARE(t->GetDuration(), 120u);
    QVERIFY(t->GetKillAtDurationEnd());
    t->SetKillAtDurationEnd(false);
    VARIANT_BOOL stop = VARIANT_TRUE;
    repetition->get_StopAtDurationEnd(&stop);
    QCOMPARE(stop, VARIANT_FALSE);
}

void TestTriggers::startBoundaryRewritten_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("changed");   // after the start time becomes 08:15
    QTest::newRow("seconds") << "2024-03-05T07:30:15" << "2024-03-05T08:15:00";
    QTest::newRow("zone suffix") << "2024-03-05T07:30:00+02:00" << "2024-03-05T08:15:00+02:00";
    QTest::newRow("UTC with a fraction") << "2024-03-05T07:30:15.5Z" << "2024-03-05T08:15:00Z";
    QTest::newRow("the model's own form") << "2024-03-05T07:30:00" << "2024-03-05T08:15:00";
}

void TestTriggers::startBoundaryRewritten()
{
    QFETCH(QString, stored);
    QFETCH(QString, changed);
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    const ComPtr<ITrigger> raw = RawTrigger(item, TASK_TRIGGER_DAILY, stored);
    KindOf<IDailyTrigger>(raw)->put_DaysInterval(1);
    QCOMPARE(StartBoundary(raw), stored);

    // Opening, writing back and saving a task leaves its start as it was stored.
    TTaskItem* loaded = f.SaveAndReload(item);
    TTrigger* t = loaded->GetTriggers()->GetItem(0);
    QCOMPARE(t->GetStartTime(), Time(7, 30));
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), stored);
    t->SetStartTime(Time(7, 30));
    t->SetBeginDate(t->GetBeginDate());
    loaded->GetTriggers()->UpdateTriggers();
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), stored);
    TTaskItem* again = f.SaveAndReload(loaded);
    QCOMPARE(StartBoundary(again->GetTriggers()->GetItem(0)->GetVistaTrigger()), stored);

    // A changed time is written in the model's form, in the zone the start named.
    t = again->GetTriggers()->GetItem(0);
    t->SetStartTime(Time(8, 15));
    again->GetTriggers()->UpdateTriggers();
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), changed);
    QCOMPARE(StartBoundary(f.SaveAndReload(again)->GetTriggers()->GetItem(0)->GetVistaTrigger()), changed);
}

void TestTriggers::beginDateBeforeStartTime()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttOnce);
    t->SetBeginDate(Date(2030, 1, 2) + Time(18, 45)); // only its date part is used
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), QStringLiteral("2030-01-02T00:00:00"));
    t->SetStartTime(Time(10, 15));
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), QStringLiteral("2030-01-02T00:00:00"));
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), QStringLiteral("2030-01-02T10:15:00"));
}

void TestTriggers::startWithoutBoundary()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttOnce);
    QCOMPARE(t->GetStartVistaDateTime(), 0.0); // no boundary, no begin date
    QCOMPARE(t->GetBeginDate(), 0.0);
    t->SetStartTime(Time(9, 5));
    t->SetBeginDate(Date(2031, 7, 8));
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), QStringLiteral("2031-07-08T09:05:00"));
    QCOMPARE(t->GetBeginDate(), Date(2031, 7, 8) + Time(9, 5));
    // Without a boundary the record's begin date stands in, at midnight.
    t->GetVistaTrigger()->put_StartBoundary(QString());
    QCOMPARE(t->GetStartVistaDateTime(), Date(2031, 7, 8));
    QCOMPARE(t->GetBeginDate(), Date(2031, 7, 8));
    // ... and the writer sends it with the record's time.
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), QStringLiteral("2031-07-08T09:05:00"));

    // A 1.0 trigger has no boundary: its begin date is the record's.
    Fixture v1(false);
    TTrigger* legacy = v1.New(kTask)->GetTriggers()->Add(ttOnce);
    legacy->SetStartTime(Time(9, 5));
    legacy->SetBeginDate(Date(2031, 7, 8) + Time(18, 0));
    QCOMPARE(legacy->GetBeginDate(), Date(2031, 7, 8));
    QCOMPARE(legacy->GetStartVistaDateTime(), Date(2031, 7, 8));
}

void TestTriggers::endBoundaryOnlyWhenInForce()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttDaily);
    t->SetBeginDate(Date(2030, 1, 2));
    t->SetEndDate(Date(2030, 2, 3));
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(EndBoundary(t->GetVistaTrigger()), QString());
    t->GetVistaTrigger()->put_EndBoundary(QStringLiteral("2031-01-01T00:00:00"));
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(EndBoundary(t->GetVistaTrigger()), QStringLiteral("2031-01-01T00:00:00"));
    t->SetHasEndDate(true);
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(EndBoundary(t->GetVistaTrigger()), QStringLiteral("2030-02-03T00:00:00"));
}

void TestTriggers::weeksOfMonthRead_data()
{
    QTest::addColumn<int>("weeks");
    QTest::addColumn<bool>("lastWeek");
    QTest::addColumn<int>("whichWeek");
    QTest::addColumn<uint>("set");
    QTest::addColumn<int>("sentWeeks");
    QTest::addColumn<bool>("sentLastWeek");
    QTest::newRow("second and last") << 0x12 << false << 5 << 0x12u << 0x12 << true;
    QTest::newRow("first") << 0x1 << false << 1 << 0x1u << 0x1 << false;
    QTest::newRow("third, last by flag") << 0x4 << true << 3 << 0x14u << 0x14 << true;
    QTest::newRow("last by flag only") << 0 << true << 5 << 0x10u << 0x10 << true;
}

void TestTriggers::weeksOfMonthRead()
{
    QFETCH(int, weeks);
    QFETCH(bool, lastWeek);
    QFETCH(int, whichWeek);
    QFETCH(uint, set);
    QFETCH(int, sentWeeks);
    QFETCH(bool, sentLastWeek);
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    const ComPtr<IMonthlyDOWTrigger> raw =
        KindOf<IMonthlyDOWTrigger>(RawTrigger(item, TASK_TRIGGER_MONTHLYDOW, QStringLiteral("2030-01-01T06:00:00")));
    raw->put_DaysOfWeek(0x2);
    raw->put_MonthsOfYear(0xFFF);
    raw->put_WeeksOfMonth(SHORT(weeks));
    raw->put_RunOnLastWeekOfMonth(lastWeek ? VARIANT_TRUE : VARIANT_FALSE);

    TTaskItem* loaded = f.SaveAndReload(item);
    TTrigger* t = loaded->GetTriggers()->GetItem(0);
    QCOMPARE(t->GetTriggerType(), ttMonthlyDow);
    QCOMPARE(int(t->GetDetails().MonthlyDOW.wWhichWeek), whichWeek);
    QCOMPARE(t->GetVistaMonthlyDOWWeeks().Bits(), set);
    TASK_TRIGGER record{};
    t->GetMonthlyDOWTrigger(record);
    QCOMPARE(int(record.Type.MonthlyDOW.wWhichWeek), whichWeek);
    QCOMPARE(record.Type.MonthlyDOW.rgfMonths, WORD(0xFFF));

    loaded->GetTriggers()->UpdateTriggers();
    const ComPtr<IMonthlyDOWTrigger> sent = KindOf<IMonthlyDOWTrigger>(t->GetVistaTrigger());
    SHORT sentValue = 0;
    VARIANT_BOOL sentLast = VARIANT_FALSE;
    sent->get_WeeksOfMonth(&sentValue);
    sent->get_RunOnLastWeekOfMonth(&sentLast);
    QCOMPARE(int(sentValue), sentWeeks);
    QCOMPARE(sentLast != VARIANT_FALSE, sentLastWeek);
}

void TestTriggers::weeksFromWeekNumber_data()
{
    QTest::addColumn<int>("whichWeek");
    QTest::addColumn<int>("sentWeeks");
    QTest::addColumn<bool>("sentLastWeek");
    QTest::newRow("first week") << 1 << 0x1 << false;
    QTest::newRow("third week") << 3 << 0x4 << false;
    QTest::newRow("fourth week") << 4 << 0x8 << false;
    QTest::newRow("last week, also the fifth") << 5 << 0x10 << true;
}

void TestTriggers::weeksFromWeekNumber()
{
    QFETCH(int, whichWeek);
    QFETCH(int, sentWeeks);
    QFETCH(bool, sentLastWeek);
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttMonthlyDow);
    TRIGGER_TYPE_UNION details{};
    details.MonthlyDOW.wWhichWeek = WORD(whichWeek);
    details.MonthlyDOW.rgfDaysOfTheWeek = 0x40;
    details.MonthlyDOW.rgfMonths = 0x2;
    t->SetDetails(details);
    item->GetTriggers()->UpdateTriggers();
    const ComPtr<IMonthlyDOWTrigger> sent = KindOf<IMonthlyDOWTrigger>(t->GetVistaTrigger());
    SHORT weeks = 0;
    VARIANT_BOOL last = VARIANT_TRUE;
    sent->get_WeeksOfMonth(&weeks);
    sent->get_RunOnLastWeekOfMonth(&last);
    QCOMPARE(int(weeks), sentWeeks);
    QCOMPARE(last != VARIANT_FALSE, sentLastWeek);
}

void TestTriggers::enabledV2DisablesTask()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttDaily);
    t->SetEnabled(false);
    VARIANT_BOOL enabled = VARIANT_TRUE;
    SettingsOf(item)->get_Enabled(&enabled);
    QCOMPARE(enabled, VARIANT_FALSE);
    QVERIFY(t->GetEnabled());
    VARIANT_BOOL triggerEnabled = VARIANT_FALSE;
    t->GetVistaTrigger()->get_Enabled(&triggerEnabled);
    QCOMPARE(triggerEnabled, VARIANT_TRUE);
    t->SetEnabled(true);
    SettingsOf(item)->get_Enabled(&enabled);
    QCOMPARE(enabled, VARIANT_TRUE);
}

void TestTriggers::enabledV1()
{
    Fixture f(false);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttDaily);
    t->SetStartTime(Time(6, 0));
    t->SetBeginDate(Date(2030, 1, 1));
    t->SetEnabled(false);
    QVERIFY(!t->GetEnabled());
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(LegacyRecord(item, 0).rgFlags & TASK_TRIGGER_FLAG_DISABLED, TASK_TRIGGER_FLAG_DISABLED);
    TTaskItem* loaded = f.SaveAndReload(item);
    QVERIFY(!loaded->GetTriggers()->GetItem(0)->GetEnabled());
}

void TestTriggers::setOnlyWhenDifferent()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* daily = item->GetTriggers()->Add(ttDaily);
    // A setter given the current value sends nothing, so it cannot fail on a trigger of
    // another kind; a new value reaches the kind's writer, which refuses the daily trigger.
    const QList<std::pair<std::function<void(quint32)>, const char*>> setters{
        {[&](quint32 v) { daily->SetMonthlyTriggerRundomDelayMinutes(v); }, "monthly"},
        {[&](quint32 v) { daily->SetMonthlyDOWTriggerRundomDelayMinutes(v); }, "monthly dow"},
        {[&](quint32 v) { daily->SetWeeklyTriggerRundomDelayMinutes(v); }, "weekly"},
        {[&](quint32 v) { daily->SetTimeTriggerRundomDelayMinutes(v); }, "time"},
        {[&](quint32 v) { daily->SetRunOnLastDayOfMonth(v != 0); }, "last day"},
    };
    for (const auto& [set, name] : setters) {
        QVERIFY2(MessageOf<EIntfCastError>([&] { set(0); }) == QStringLiteral("<no error>"), name);
        QVERIFY2(MessageOf<EIntfCastError>([&] { set(5); }) == QStringLiteral("Interface not supported"), name);
    }

    const ComPtr<IDailyTrigger> kind = KindOf<IDailyTrigger>(daily->GetVistaTrigger());
    kind->put_RandomDelay(QStringLiteral("PT7M"));
    daily->SetDailyTriggerRundomDelayMinutes(0);
    QString delay;
    kind->get_RandomDelay(&delay);
    QCOMPARE(delay, QStringLiteral("PT7M"));

    TTrigger* logon = item->GetTriggers()->Add(ttAtLogon);
    const ComPtr<ILogonTrigger> logonKind = KindOf<ILogonTrigger>(logon->GetVistaTrigger());
    logonKind->put_Delay(QStringLiteral("PT9M"));
    logon->SetTriggerDelayMinutes(0);
    logonKind->get_Delay(&delay);
    QCOMPARE(delay, QStringLiteral("PT9M"));
    logon->SetTriggerDelayMinutes(3);
    logonKind->get_Delay(&delay);
    QCOMPARE(delay, QStringLiteral("PT3M"));
    // A delay on a kind without one is kept, and sent nowhere.
    daily->SetTriggerDelayMinutes(4);
    QCOMPARE(daily->GetTriggerDelayMinutes(), 4u);
}

void TestTriggers::weeksAlwaysRewritten()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* daily = item->GetTriggers()->Add(ttDaily);
    QCOMPARE(MessageOf<EIntfCastError>([&] { daily->SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks{}); }),
             QStringLiteral("Interface not supported"));

    TTrigger* monthly = item->GetTriggers()->Add(ttMonthlyDow);
    const ComPtr<IMonthlyDOWTrigger> kind = KindOf<IMonthlyDOWTrigger>(monthly->GetVistaTrigger());
    kind->put_WeeksOfMonth(0x8);
    monthly->SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks{}); // unchanged, and yet written
    SHORT weeks = -1;
    kind->get_WeeksOfMonth(&weeks);
    QCOMPARE(weeks, SHORT(0));
}

void TestTriggers::kindMismatch()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* daily = item->GetTriggers()->Add(ttDaily);
    daily->SetStartTime(Time(5, 0));
    TASK_TRIGGER record{};
    const QList<std::function<void()>> calls{
        [&] { daily->SetTimeTrigger(); },         [&] { daily->SetWeeklyTrigger(); },
        [&] { daily->SetMonthlyTrigger(); },      [&] { daily->SetMonthlyDOWTrigger(); },
        [&] { daily->SetBootTrigger(); },         [&] { daily->GetTimeTrigger(record); },
        [&] { daily->GetWeeklyTrigger(record); }, [&] { daily->GetMonthlyTrigger(record); },
        [&] { daily->GetMonthlyDOWTrigger(record); },
    };
    for (qsizetype i = 0; i < calls.size(); ++i)
        QVERIFY2(MessageOf<EIntfCastError>(calls[i]) == QStringLiteral("Interface not supported"), qPrintable(QString::number(i)));
    // Nothing was sent before the cast failed.
    QCOMPARE(StartBoundary(daily->GetVistaTrigger()), QString());

    // The writers of the event kinds cast before they touch the task's settings.
    VARIANT_BOOL whenAvailable = VARIANT_TRUE;
    OleCheck(SettingsOf(item)->put_StartWhenAvailable(VARIANT_FALSE));
    TTrigger* weekly = item->GetTriggers()->Add(ttWeekly);
    const QList<std::function<void()>> more{
        [&] { weekly->SetDailyTrigger(); },          [&] { weekly->GetDailyTrigger(record); },
        [&] { daily->SetIdleTrigger(); },            [&] { daily->SetLogonTrigger(); },
        [&] { daily->SetSessionStateChangeTrigger(); },
    };
    for (qsizetype i = 0; i < more.size(); ++i)
        QVERIFY2(MessageOf<EIntfCastError>(more[i]) == QStringLiteral("Interface not supported"), qPrintable(QString::number(i)));
    QCOMPARE(StartBoundary(weekly->GetVistaTrigger()), QString());
    OleCheck(SettingsOf(item)->get_StartWhenAvailable(&whenAvailable));
    QCOMPARE(whenAvailable, VARIANT_FALSE);
    // A kind whose service kind differs fails the same way when UpdateTriggers writes it.
    daily->SetTriggerType(ttWeekly);
    QCOMPARE(MessageOf<EIntfCastError>([&] { item->GetTriggers()->UpdateTriggers(); }), QStringLiteral("Interface not supported"));
}

void TestTriggers::sessionStateKept_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("kind");
    QTest::newRow("console connect") << int(TASK_CONSOLE_CONNECT) << int(ttOnUnlock);
    QTest::newRow("console disconnect") << int(TASK_CONSOLE_DISCONNECT) << int(ttOnUnlock);
    QTest::newRow("remote connect") << int(TASK_REMOTE_CONNECT) << int(ttOnConnect);
    QTest::newRow("remote disconnect") << int(TASK_REMOTE_DISCONNECT) << int(ttOnDisconnect);
    QTest::newRow("lock") << int(TASK_SESSION_LOCK) << int(ttOnLock);
    QTest::newRow("unlock") << int(TASK_SESSION_UNLOCK) << int(ttOnUnlock);
}

void TestTriggers::sessionStateKept()
{
    QFETCH(int, stored);
    QFETCH(int, kind);
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    const ComPtr<ISessionStateChangeTrigger> raw =
        KindOf<ISessionStateChangeTrigger>(RawTrigger(item, TASK_TRIGGER_SESSION_STATE_CHANGE, QString()));
    raw->put_StateChange(TASK_SESSION_STATE_CHANGE_TYPE(stored));
    raw->put_Delay(QStringLiteral("PT5M"));

    TTaskItem* loaded = f.SaveAndReload(item);
    TTrigger* t = loaded->GetTriggers()->GetItem(0);
    QCOMPARE(int(t->GetTriggerType()), kind);
    QCOMPARE(t->GetTriggerDelayMinutes(), 5u);
    loaded->GetTriggers()->UpdateTriggers();
    TASK_SESSION_STATE_CHANGE_TYPE sent{};
    KindOf<ISessionStateChangeTrigger>(t->GetVistaTrigger())->get_StateChange(&sent);
    QCOMPARE(int(sent), stored);
    // Setting the kind it already has keeps the state change.
    t->SetTriggerType(static_cast<TTriggerType>(kind));
    loaded->GetTriggers()->UpdateTriggers();
    KindOf<ISessionStateChangeTrigger>(t->GetVistaTrigger())->get_StateChange(&sent);
    QCOMPARE(int(sent), stored);
    // Choosing another kind replaces the kept state change, also when unlock is chosen again.
    t->SetTriggerType(ttOnLock);
    loaded->GetTriggers()->UpdateTriggers();
    KindOf<ISessionStateChangeTrigger>(t->GetVistaTrigger())->get_StateChange(&sent);
    QCOMPARE(sent, TASK_SESSION_LOCK);
    t->SetTriggerType(ttOnUnlock);
    loaded->GetTriggers()->UpdateTriggers();
    KindOf<ISessionStateChangeTrigger>(t->GetVistaTrigger())->get_StateChange(&sent);
    QCOMPARE(sent, TASK_SESSION_UNLOCK);
}

void TestTriggers::otherServiceKindsLoadAsUnknown_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::newRow("event") << int(TASK_TRIGGER_EVENT) << "At event";
    QTest::newRow("registration") << int(TASK_TRIGGER_REGISTRATION) << "At task creation/modification";
}

void TestTriggers::otherServiceKindsLoadAsUnknown()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    const QString start = QStringLiteral("2024-03-05T07:30:15");
    RawTrigger(item, TASK_TRIGGER_TYPE2(type), start);
    TTriggers* triggers = item->GetTriggers();
    triggers->InitTriggers();
    QCOMPARE(triggers->Count(), 1);
    TTrigger* t = triggers->GetItem(0);
    QCOMPARE(t->GetTriggerType(), ttUnknown);
    QCOMPARE(t->GetStartTime(), Time(7, 30));
    QCOMPARE(t->GetAsString(), text);
    // No reader and no writer belongs to these kinds: the start boundary stays as stored.
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), start);
    triggers->UpdateTriggers();
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), start);
    // Nothing can be added as ttUnknown, nor as a number beyond the kinds.
    QCOMPARE(triggers->Add(ttUnknown), nullptr);
    QCOMPARE(triggers->Add(static_cast<TTriggerType>(ttUnknown + 1)), nullptr);
    QCOMPARE(ServiceCount(item), 1);
}

void TestTriggers::invalidDatesAndTimes()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttOnce);
    t->SetStartTime(Time(7, 0));
    t->SetBeginDate(Date(2030, 5, 6));
    const QString before = StartBoundary(t->GetVistaTrigger());
    QVERIFY(MessageOf<EConvertError>([&] { t->SetBeginDate(qQNaN()); }).endsWith(QStringLiteral("is not a valid date and time")));
    QVERIFY(MessageOf<EConvertError>([&] { t->SetStartTime(qQNaN()); }).endsWith(QStringLiteral("is not a valid date and time")));
    QCOMPARE(StartBoundary(t->GetVistaTrigger()), before);
    QCOMPARE(t->GetStartTime(), Time(7, 0));
    // Fields that form no date or time read as 0.
    Fixture v1(false);
    TTrigger* legacy = v1.New(kTask)->GetTriggers()->Add(ttOnce);
    QCOMPARE(legacy->GetBeginDate(), 0.0);
    legacy->SetEndDate(Date(2024, 2, 29));
    QCOMPARE(legacy->GetEndDate(), Date(2024, 2, 29));
}

void TestTriggers::texts_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("text");
    const QString start = QStringLiteral("2024-03-05T09:30:00");
    QTest::newRow("once") << int(TASK_TRIGGER_TIME) << start << QList<int>{} << "At 9:30:00 AM on 3/5/24";
    QTest::newRow("once without start") << int(TASK_TRIGGER_TIME) << QString() << QList<int>{} << "At 12:00:00 AM on 12/30/99";
    QTest::newRow("daily 0") << int(TASK_TRIGGER_DAILY) << start << QList<int>{0} << "At 9:30:00 AM every day";
    QTest::newRow("daily 1") << int(TASK_TRIGGER_DAILY) << start << QList<int>{1} << "At 9:30:00 AM every day";
    QTest::newRow("daily 3") << int(TASK_TRIGGER_DAILY) << start << QList<int>{3} << "At 9:30:00 AM every 3 days";
    QTest::newRow("weekly 1") << int(TASK_TRIGGER_WEEKLY) << start << QList<int>{1, 0x41}
                              << "At 9:30:00 AM every Sunday, Saturday of every week, starting 3/5/24";
    QTest::newRow("weekly 2") << int(TASK_TRIGGER_WEEKLY) << start << QList<int>{2, 0x22}
                              << "At 9:30:00 AM every Monday, Friday of every 2 weeks, starting 3/5/24";
    QTest::newRow("monthly") << int(TASK_TRIGGER_MONTHLY) << QStringLiteral("2024-03-05T14:05:00")
                             << QList<int>{0x1 | (1 << 14), 0x805, 1}
                             << "At 2:05:00 PM on day Last, 1, 15 of month 1, 3, 12, starting 3/5/24";
    QTest::newRow("monthly no last day") << int(TASK_TRIGGER_MONTHLY) << start << QList<int>{int(1u << 30), 0x4, 0}
                                         << "At 9:30:00 AM on day 31 of month 3, starting 3/5/24";
    QTest::newRow("monthly dow") << int(TASK_TRIGGER_MONTHLYDOW) << start << QList<int>{0x3, 1, 0x2, 0x1}
                                 << "Runs at 9:30:00 AM on the First, Second, Last Monday of month 1, starting 3/5/24";
    QTest::newRow("monthly dow last bit") << int(TASK_TRIGGER_MONTHLYDOW) << start << QList<int>{0x14, 1, 0x20, 0x800}
                                          << "Runs at 9:30:00 AM on the Third, Last Friday of month 12, starting 3/5/24";
    QTest::newRow("event") << int(TASK_TRIGGER_EVENT) << QString() << QList<int>{} << "At event";
    QTest::newRow("idle") << int(TASK_TRIGGER_IDLE) << QString() << QList<int>{} << "When computer is idle";
    QTest::newRow("registration") << int(TASK_TRIGGER_REGISTRATION) << QString() << QList<int>{}
                                  << "At task creation/modification";
    QTest::newRow("boot") << int(TASK_TRIGGER_BOOT) << QString() << QList<int>{} << "On system startup";
    QTest::newRow("logon") << int(TASK_TRIGGER_LOGON) << QString() << QList<int>{} << "At logon";
    QTest::newRow("session 1") << int(TASK_TRIGGER_SESSION_STATE_CHANGE) << QString() << QList<int>{1} << "At session unlock";
    QTest::newRow("session 3") << int(TASK_TRIGGER_SESSION_STATE_CHANGE) << QString() << QList<int>{3}
                               << "At connect to user session";
    QTest::newRow("session 4") << int(TASK_TRIGGER_SESSION_STATE_CHANGE) << QString() << QList<int>{4}
                               << "At disconnect from user session";
    QTest::newRow("session 7") << int(TASK_TRIGGER_SESSION_STATE_CHANGE) << QString() << QList<int>{7} << "At session lock";
    QTest::newRow("session 8") << int(TASK_TRIGGER_SESSION_STATE_CHANGE) << QString() << QList<int>{8} << "At session unlock";
}

void TestTriggers::texts()
{
    QFETCH(int, type);
    QFETCH(QString, start);
    QFETCH(QList<int>, values);
    QFETCH(QString, text);
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    const ComPtr<ITrigger> raw = RawTrigger(item, TASK_TRIGGER_TYPE2(type), start);
    switch (type) {
    case TASK_TRIGGER_DAILY:
        if (values[0] < 1) {
            // The service's setter refuses an interval below 1; a stored document can hold one.
            KindOf<IDailyTrigger>(raw)->put_DaysInterval(2);
            QString xml;
            OleCheck(item->GetTaskDefinition()->get_XmlText(&xml));
            const QString from = QStringLiteral("<DaysInterval>2</DaysInterval>");
            QVERIFY2(xml.contains(from), qPrintable(xml));
            xml.replace(from, QStringLiteral("<DaysInterval>%1</DaysInterval>").arg(values[0]));
            OleCheck(item->GetTaskDefinition()->put_XmlText(xml));
        } else {
            KindOf<IDailyTrigger>(raw)->put_DaysInterval(SHORT(values[0]));
        }
        break;
    case TASK_TRIGGER_WEEKLY:
        KindOf<IWeeklyTrigger>(raw)->put_WeeksInterval(SHORT(values[0]));
        KindOf<IWeeklyTrigger>(raw)->put_DaysOfWeek(SHORT(values[1]));
        break;
    case TASK_TRIGGER_MONTHLY:
        KindOf<IMonthlyTrigger>(raw)->put_DaysOfMonth(values[0]);
        KindOf<IMonthlyTrigger>(raw)->put_MonthsOfYear(SHORT(values[1]));
        KindOf<IMonthlyTrigger>(raw)->put_RunOnLastDayOfMonth(values[2] ? VARIANT_TRUE : VARIANT_FALSE);
        break;
    case TASK_TRIGGER_MONTHLYDOW:
        KindOf<IMonthlyDOWTrigger>(raw)->put_WeeksOfMonth(SHORT(values[0]));
        KindOf<IMonthlyDOWTrigger>(raw)->put_RunOnLastWeekOfMonth(values[1] ? VARIANT_TRUE : VARIANT_FALSE);
        KindOf<IMonthlyDOWTrigger>(raw)->put_DaysOfWeek(SHORT(values[2]));
        KindOf<IMonthlyDOWTrigger>(raw)->put_MonthsOfYear(SHORT(values[3]));
        break;
    case TASK_TRIGGER_SESSION_STATE_CHANGE:
        KindOf<ISessionStateChangeTrigger>(raw)->put_StateChange(TASK_SESSION_STATE_CHANGE_TYPE(values[0]));
        break;
    default:
        break;
    }
    const ComPtr<ITrigger> live = ServiceTrigger(item, 1);
    if (type == TASK_TRIGGER_DAILY) {
        SHORT days = -1;
        KindOf<IDailyTrigger>(live)->get_DaysInterval(&days);
        QCOMPARE(int(days), values[0]);
    }
    QCOMPARE(TriggerText::Describe(live.Get()), text);
    item->GetTriggers()->InitTriggers();
    QCOMPARE(item->GetTriggers()->GetItem(0)->GetAsString(), text);
}

void TestTriggers::textReadsLiveTrigger()
{
    Fixture f(true);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttDaily);
    t->SetStartTime(Time(9, 30));
    t->SetBeginDate(Date(2024, 3, 5));
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(t->GetAsString(), QStringLiteral("At 9:30:00 AM every day"));
    TRIGGER_TYPE_UNION details{};
    details.Daily.DaysInterval = 4;
    t->SetDetails(details);
    t->SetStartTime(Time(11, 0));
    QCOMPARE(t->GetAsString(), QStringLiteral("At 9:30:00 AM every day")); // not sent yet
    item->GetTriggers()->UpdateTriggers();
    QCOMPARE(t->GetAsString(), QStringLiteral("At 11:00:00 AM every 4 days"));
}

void TestTriggers::textV1FromService()
{
    Fixture f(false);
    TTaskItem* item = f.New(kTask);
    TTrigger* t = item->GetTriggers()->Add(ttDaily);
    t->SetStartTime(Time(9, 30));
    t->SetBeginDate(Date(2024, 3, 5));
    TRIGGER_TYPE_UNION details{};
    details.Daily.DaysInterval = 2;
    t->SetDetails(details);
    item->GetTriggers()->UpdateTriggers();
    ComPtr<ITaskTrigger> service;
    TaskOf(item)->GetTrigger(0, service.Put());
    QString expected;
    QCOMPARE(service->GetTriggerString(&expected), S_OK);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(t->GetAsString(), expected);
}

void TestTriggers::textV1ServiceFailure()
{
    Fixture f(false);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    triggers->Add(ttDaily);
    QCOMPARE(TaskOf(item)->DeleteTrigger(0), S_OK); // the service's trigger is gone
    try {
        triggers->GetItem(0)->GetAsString();
        QFAIL("a trigger the service no longer has was described");
    } catch (const EPlatformError& e) {
        QCOMPARE(e.Code(), SCHED_E_TRIGGER_NOT_FOUND);
    }
    QStringList lines{QStringLiteral("old line")};
    QVERIFY_THROWS_EXCEPTION(EPlatformError, triggers->GetTriggerStrings(lines));
    QVERIFY(!lines.contains(QStringLiteral("old line")));
}

void TestTriggers::triggerStrings()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.New(kTask);
    TTriggers* triggers = item->GetTriggers();
    QStringList lines{QStringLiteral("old line")};
    triggers->GetTriggerStrings(lines);
    QCOMPARE(lines, QStringList{QStringLiteral("<Task not scheduled>")});
    QCOMPARE(item->GetTriggerString(), QStringLiteral("Task not scheduled"));

    for (TTriggerType kind : {ttDaily, ttAtStartup, ttAtLogon}) {
        TTrigger* t = triggers->Add(kind);
        t->SetStartTime(Time(9, 30));
        t->SetBeginDate(Date(2024, 3, 5));
    }
    triggers->UpdateTriggers();
    const QString first = triggers->GetItem(0)->GetAsString();
    triggers->GetTriggerStrings(lines);
    QCOMPARE(lines.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(lines[i], QStringLiteral("%1. %2").arg(i + 1).arg(triggers->GetItem(i)->GetAsString()));
    if (vista) QCOMPARE(lines[1], QStringLiteral("2. On system startup"));
    QCOMPARE(item->GetTriggerString(), QStringLiteral("Multiple schedule times"));

    triggers->Delete(2);
    triggers->Delete(1);
    triggers->GetTriggerStrings(lines);
    QCOMPARE(lines, QStringList{first});
    QCOMPARE(item->GetTriggerString(), first);
}

QTEST_GUILESS_MAIN(TestTriggers)
#include "tst_triggers.moc"
