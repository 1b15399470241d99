// The generation 2.0 interfaces end to end, through the interfaces only, against a fresh
// service root per test.

#include "ObjectRuntime.h"
#include "OleDate.h"
#include "ResultCodes.h"
#include "ServiceCalls.h"
#include "TaskService2.h"
#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTest>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

using ServiceCalls::Cast;
using ServiceCalls::Connected;
using ServiceCalls::Folder;
using ServiceCalls::Register;

QString CurrentUser()
{
    const passwd* entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

} // namespace

class TestGen2 : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TemporaryServiceRoot> m_root;

    // A definition that registers as it is: one program action.
    ComPtr<ITaskDefinition> NewDefinition()
    {
        ComPtr<ITaskDefinition> def;
        Connected()->NewTask(0, def.Put());
        ComPtr<IActionCollection> actions;
        def->get_Actions(actions.Put());
        ComPtr<IAction> action;
        actions->Create(TASK_ACTION_EXEC, action.Put());
        Cast<IExecAction>(action)->put_Path(QStringLiteral("/bin/true"));
        return def;
    }

    QStringList TaskNames(ITaskFolder* folder, LONG flags = 0)
    {
        ComPtr<IRegisteredTaskCollection> tasks;
        if (FAILED(folder->GetTasks(flags, tasks.Put()))) return {QStringLiteral("<failed>")};
        LONG count = 0;
        tasks->get_Count(&count);
        QStringList names;
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<IRegisteredTask> task;
            tasks->get_Item(VARIANT::I4(i), task.Put());
            QString name;
            task->get_Name(&name);
            names.append(name);
        }
        return names;
    }

private slots:
    void initTestCase() { QCOMPARE(CoInitialize(nullptr), S_OK); }
    void cleanupTestCase() { CoUninitialize(); }
    void init()
    {
        m_root = std::make_unique<TemporaryServiceRoot>();
        QVERIFY(m_root->IsValid());
    }
    void cleanup() { m_root.reset(); }

    void objectModel()
    {
        ComPtr<ITaskService> service;
        QCOMPARE(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service.PutVoid()), S_OK);
        ComPtr<ITaskFolder> wrong;
        QCOMPARE(service.As(wrong), E_NOINTERFACE);
        QVERIFY(!wrong);
        ComPtr<IUnknown> unknown;
        QCOMPARE(service.As(unknown), S_OK);
        QCOMPARE(service->get_TargetServer(nullptr), E_POINTER);

        // Before Connect nothing but get_Connected works.
        VARIANT_BOOL connected = VARIANT_TRUE;
        QCOMPARE(service->get_Connected(&connected), S_OK);
        QCOMPARE(connected, VARIANT_FALSE);
        ComPtr<ITaskFolder> root;
        QCOMPARE(service->GetFolder(QStringLiteral("\\"), root.Put()), HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED));
        ComPtr<ITaskDefinition> def;
        QCOMPARE(service->NewTask(0, def.Put()), HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED));
        QString server;
        QCOMPARE(service->get_TargetServer(&server), HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED));
    }

    void connect_data()
    {
        QTest::addColumn<VARIANT>("server");
        QTest::addColumn<VARIANT>("user");
        QTest::addColumn<HRESULT>("expected");
        const QString host = QSysInfo::machineHostName();
        QTest::newRow("empty") << VARIANT::Empty() << VARIANT::Empty() << S_OK;
        QTest::newRow("null") << VARIANT::Null() << VARIANT::Null() << S_OK;
        QTest::newRow("empty string") << VARIANT::String({}) << VARIANT::String({}) << S_OK;
        QTest::newRow("host name") << VARIANT::String(host) << VARIANT::Empty() << S_OK;
        QTest::newRow("host name, upper case, backslashes") << VARIANT::String(QStringLiteral("\\\\") + host.toUpper()) << VARIANT::Empty() << S_OK;
        QTest::newRow("own account") << VARIANT::Empty() << VARIANT::String(CurrentUser()) << S_OK;
        QTest::newRow("another computer") << VARIANT::String(QStringLiteral("no-such-host.example")) << VARIANT::Empty()
                                          << HRESULT_FROM_WIN32(ERROR_BAD_NETPATH);
        QTest::newRow("number as server") << VARIANT::I4(7) << VARIANT::Empty() << E_INVALIDARG;
        QTest::newRow("another account") << VARIANT::Empty() << VARIANT::String(QStringLiteral("nobody-else")) << E_ACCESSDENIED;
    }

    void connect()
    {
        QFETCH(VARIANT, server);
        QFETCH(VARIANT, user);
        QFETCH(HRESULT, expected);
        ComPtr<ITaskService> service;
        CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service.PutVoid());
        const HRESULT hr = service->Connect(server, user, VARIANT::Empty(), VARIANT::Empty());
        QCOMPARE(hr, expected);
        VARIANT_BOOL connected = VARIANT_FALSE;
        service->get_Connected(&connected);
        QCOMPARE(connected != 0, SUCCEEDED(expected));
        if (FAILED(hr)) {
            QVERIFY(ErrorDescription(hr) != ResultText(hr));   // the service said what was wrong
            return;
        }
        QString target;
        QCOMPARE(service->get_TargetServer(&target), S_OK);
        QCOMPARE(target, QSysInfo::machineHostName());
        DWORD version = 0;
        service->get_HighestVersion(&version);
        QVERIFY(version >= 0x00010002u);
    }

    void newTaskDefaults()
    {
        ComPtr<ITaskDefinition> def;
        QCOMPARE(Connected()->NewTask(0, def.Put()), S_OK);
        ComPtr<ITaskSettings> s;
        QCOMPARE(def->get_Settings(s.Put()), S_OK);
        auto flag = [](auto getter) { VARIANT_BOOL v = 1; getter(&v); return v; };
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_Enabled(v); }), VARIANT_TRUE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_AllowDemandStart(v); }), VARIANT_TRUE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_AllowHardTerminate(v); }), VARIANT_TRUE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_DisallowStartIfOnBatteries(v); }), VARIANT_TRUE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_StopIfGoingOnBatteries(v); }), VARIANT_TRUE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_StartWhenAvailable(v); }), VARIANT_FALSE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_RunOnlyIfNetworkAvailable(v); }), VARIANT_FALSE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_RunOnlyIfIdle(v); }), VARIANT_FALSE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_WakeToRun(v); }), VARIANT_FALSE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { s->get_Hidden(v); }), VARIANT_FALSE);
        QString text;
        s->get_ExecutionTimeLimit(&text);
        QCOMPARE(text, QStringLiteral("PT72H"));
        s->get_RestartInterval(&text);
        QCOMPARE(text, QString());
        s->get_DeleteExpiredTaskAfter(&text);
        QCOMPARE(text, QString());
        LONG number = -1;
        s->get_RestartCount(&number);
        QCOMPARE(number, 0);
        s->get_Priority(&number);
        QCOMPARE(number, 7);
        TASK_INSTANCES_POLICY policy{};
        s->get_MultipleInstances(&policy);
        QCOMPARE(policy, TASK_INSTANCES_IGNORE_NEW);
        TASK_COMPATIBILITY compatibility{};
        s->get_Compatibility(&compatibility);
        QCOMPARE(compatibility, TASK_COMPATIBILITY_V2);

        ComPtr<IIdleSettings> idle;
        s->get_IdleSettings(idle.Put());
        idle->get_IdleDuration(&text);
        QCOMPARE(text, QStringLiteral("PT10M"));
        idle->get_WaitTimeout(&text);
        QCOMPARE(text, QStringLiteral("PT1H"));
        QCOMPARE(flag([&](VARIANT_BOOL* v) { idle->get_StopOnIdleEnd(v); }), VARIANT_TRUE);
        QCOMPARE(flag([&](VARIANT_BOOL* v) { idle->get_RestartOnIdle(v); }), VARIANT_FALSE);
        ComPtr<INetworkSettings> network;
        s->get_NetworkSettings(network.Put());
        network->get_Name(&text);
        QCOMPARE(text, QString());

        ComPtr<IPrincipal> principal;
        def->get_Principal(principal.Put());
        TASK_LOGON_TYPE logon{};
        principal->get_LogonType(&logon);
        QCOMPARE(logon, TASK_LOGON_INTERACTIVE_TOKEN);
        TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_HIGHEST;
        principal->get_RunLevel(&level);
        QCOMPARE(level, TASK_RUNLEVEL_LUA);
        ComPtr<IRegistrationInfo> info;
        def->get_RegistrationInfo(info.Put());
        info->get_Author(&text);
        QCOMPARE(text, QString());
        LONG count = -1;
        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        triggers->get_Count(&count);
        QCOMPARE(count, 0);
        QCOMPARE(Connected()->NewTask(1, def.Put()), E_INVALIDARG);
    }

    // Every part of a definition survives registration and a new connection, property by property.
    void registeredTaskSurvivesRestart()
    {
        const QString data = QStringLiteral("line 1\r\nline 2\t") + QChar(0) + QChar(0xD800) + QChar(0xFFFF) + QStringLiteral("end");
        {
            ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
            ComPtr<ITaskFolder> reports;
            QCOMPARE(root->CreateFolder(QStringLiteral("Reports"), VARIANT::Empty(), reports.Put()), S_OK);
            ComPtr<ITaskDefinition> def;
            Connected()->NewTask(0, def.Put());
            ComPtr<IRegistrationInfo> info;
            def->get_RegistrationInfo(info.Put());
            info->put_Description(QStringLiteral("Daily report\r\nsecond line <&>"));
            info->put_Author(QStringLiteral("Ann"));
            info->put_Date(QStringLiteral("2024-03-15T09:30:00"));
            ComPtr<ITaskSettings> s;
            def->get_Settings(s.Put());
            s->put_ExecutionTimeLimit(QStringLiteral("PT2H"));
            s->put_RestartInterval(QStringLiteral("PT5M"));
            s->put_RestartCount(3);
            s->put_MultipleInstances(TASK_INSTANCES_QUEUE);
            s->put_Priority(4);
            s->put_Compatibility(TASK_COMPATIBILITY_V2_2);
            s->put_WakeToRun(VARIANT_TRUE);
            s->put_AllowHardTerminate(VARIANT_FALSE);
            ComPtr<IIdleSettings> idle;
            s->get_IdleSettings(idle.Put());
            idle->put_IdleDuration(QStringLiteral("PT0S"));
            ComPtr<INetworkSettings> network;
            s->get_NetworkSettings(network.Put());
            network->put_Name(QStringLiteral("Office"));
            ComPtr<IPrincipal> principal;
            def->get_Principal(principal.Put());
            principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST);
            def->put_Data(data);

            ComPtr<ITriggerCollection> triggers;
            def->get_Triggers(triggers.Put());
            ComPtr<ITrigger> trigger;
            triggers->Create(TASK_TRIGGER_WEEKLY, trigger.Put());
            trigger->put_StartBoundary(QStringLiteral("2024-03-15T09:30:00"));
            trigger->put_EndBoundary(QStringLiteral("2024-04-15T00:00:00"));
            auto weekly = Cast<IWeeklyTrigger>(trigger);
            weekly->put_DaysOfWeek(TASK_MONDAY | TASK_FRIDAY);
            weekly->put_WeeksInterval(2);
            weekly->put_RandomDelay(QStringLiteral("PT15M"));
            ComPtr<IRepetitionPattern> repetition;
            trigger->get_Repetition(repetition.Put());
            repetition->put_Interval(QStringLiteral("PT10M"));
            repetition->put_Duration(QStringLiteral("PT1H"));
            repetition->put_StopAtDurationEnd(VARIANT_TRUE);
            triggers->Create(TASK_TRIGGER_SESSION_STATE_CHANGE, trigger.Put());
            Cast<ISessionStateChangeTrigger>(trigger)->put_StateChange(TASK_SESSION_LOCK);
            Cast<ISessionStateChangeTrigger>(trigger)->put_Delay(QStringLiteral("PT1M"));
            triggers->Create(TASK_TRIGGER_MONTHLYDOW, trigger.Put());
            trigger->put_StartBoundary(QStringLiteral("2024-03-05T07:30:15"));
            auto mdow = Cast<IMonthlyDOWTrigger>(trigger);
            mdow->put_DaysOfWeek(TASK_SUNDAY);
            mdow->put_WeeksOfMonth(0x12);
            mdow->put_MonthsOfYear(0x805);
            mdow->put_RunOnLastWeekOfMonth(VARIANT_TRUE);

            ComPtr<IActionCollection> actions;
            def->get_Actions(actions.Put());
            ComPtr<IAction> action;
            actions->Create(TASK_ACTION_EXEC, action.Put());
            Cast<IExecAction>(action)->put_Path(QStringLiteral("/usr/bin/report"));
            Cast<IExecAction>(action)->put_Arguments(QStringLiteral("--daily \"a b\""));
            Cast<IExecAction>(action)->put_WorkingDirectory(QStringLiteral("/tmp"));
            actions->Create(TASK_ACTION_SEND_EMAIL, action.Put());
            auto mail = Cast<IEmailAction>(action);
            mail->put_To(QStringLiteral("a@example.org"));
            mail->put_Subject(QStringLiteral("b"));
            mail->put_Attachments({QStringLiteral("a.txt"), QStringLiteral("my file.txt")});
            ComPtr<ITaskNamedValueCollection> headers;
            mail->get_HeaderFields(headers.Put());
            headers->Create(QStringLiteral("X-Priority"), QStringLiteral("1"), nullptr);
            actions->Create(TASK_ACTION_SHOW_MESSAGE, action.Put());
            Cast<IShowMessageAction>(action)->put_Title(QStringLiteral("Done"));

            ComPtr<IRegisteredTask> task;
            QCOMPARE(Register(reports.Get(), QStringLiteral("Daily"), def.Get(), TASK_CREATE, &task), S_OK);
            QString path;
            task->get_Path(&path);
            QCOMPARE(path, QStringLiteral("\\Reports\\Daily"));
        }

        // A new connection, as after a restart of the client.
        ComPtr<ITaskFolder> reports = Folder(QStringLiteral("Reports"));
        QVERIFY(reports);
        ComPtr<IRegisteredTask> task;
        QCOMPARE(reports->GetTask(QStringLiteral("Daily"), task.Put()), S_OK);
        QString text;
        task->get_Name(&text);
        QCOMPARE(text, QStringLiteral("Daily"));
        TASK_STATE state{};
        QCOMPARE(task->get_State(&state), S_OK);
        QCOMPARE(state, TASK_STATE_READY);
        DATE date = -1;
        task->get_LastRunTime(&date);
        QCOMPARE(date, 0.0);
        // The weekly trigger has ended; the monthly one still starts on Sundays of January,
        // March and December at 07:30:15.
        task->get_NextRunTime(&date);
        const QDateTime next = OleDate::ToDateTime(date);
        QVERIFY(next > QDateTime::currentDateTime());
        QCOMPARE(next.date().dayOfWeek(), 7);
        QCOMPARE(next.time(), QTime(7, 30, 15));
        QVERIFY(QList<int>({1, 3, 12}).contains(next.date().month()));
        LONG result = 0;
        task->get_LastTaskResult(&result);
        QCOMPARE(result, SCHED_S_TASK_HAS_NOT_RUN);
        SYSTEMTIME start{2024, 1, 0, 1, 0, 0, 0, 0};
        DWORD count = 10;
        QList<SYSTEMTIME> times{SYSTEMTIME{}};
        QCOMPARE(task->GetRunTimes(&start, nullptr, &count, &times), S_OK);
        QCOMPARE(count, 10u);
        QCOMPARE(times.size(), 10);
        // The second Sunday of March, then every ten minutes for an hour from the first Friday:
        // six starts, and the Monday two weeks on.
        const auto at = [&](int i) {
            const SYSTEMTIME& t = times.at(i);
            return QList<int>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute};
        };
        QCOMPARE(at(0), (QList<int>{2024, 3, 10, 7, 30}));
        QCOMPARE(at(1), (QList<int>{2024, 3, 15, 9, 30}));
        QCOMPARE(at(6), (QList<int>{2024, 3, 15, 10, 20}));
        QCOMPARE(at(7), (QList<int>{2024, 3, 25, 9, 30}));

        ComPtr<ITaskDefinition> def;
        QCOMPARE(task->get_Definition(def.Put()), S_OK);
        def->get_Data(&text);
        QCOMPARE(text, data);
        ComPtr<IRegistrationInfo> info;
        def->get_RegistrationInfo(info.Put());
        info->get_Description(&text);
        QCOMPARE(text, QStringLiteral("Daily report\r\nsecond line <&>"));
        info->get_Author(&text);
        QCOMPARE(text, QStringLiteral("Ann"));
        ComPtr<ITaskSettings> s;
        def->get_Settings(s.Put());
        s->get_ExecutionTimeLimit(&text);
        QCOMPARE(text, QStringLiteral("PT2H"));
        s->get_RestartInterval(&text);
        QCOMPARE(text, QStringLiteral("PT5M"));
        LONG number = 0;
        s->get_RestartCount(&number);
        QCOMPARE(number, 3);
        s->get_Priority(&number);
        QCOMPARE(number, 4);
        TASK_INSTANCES_POLICY policy{};
        s->get_MultipleInstances(&policy);
        QCOMPARE(policy, TASK_INSTANCES_QUEUE);
        TASK_COMPATIBILITY compatibility{};
        s->get_Compatibility(&compatibility);
        QCOMPARE(compatibility, TASK_COMPATIBILITY_V2_2);
        VARIANT_BOOL flag = 0;
        s->get_WakeToRun(&flag);
        QCOMPARE(flag, VARIANT_TRUE);
        s->get_AllowHardTerminate(&flag);
        QCOMPARE(flag, VARIANT_FALSE);
        ComPtr<IIdleSettings> idle;
        s->get_IdleSettings(idle.Put());
        idle->get_IdleDuration(&text);
        QCOMPARE(text, QStringLiteral("PT0S"));
        ComPtr<INetworkSettings> network;
        s->get_NetworkSettings(network.Put());
        network->get_Name(&text);
        QCOMPARE(text, QStringLiteral("Office"));
        ComPtr<IPrincipal> principal;
        def->get_Principal(principal.Put());
        TASK_RUNLEVEL_TYPE level{};
        principal->get_RunLevel(&level);
        QCOMPARE(level, TASK_RUNLEVEL_HIGHEST);
        principal->get_UserId(&text);
        QCOMPARE(text, CurrentUser());   // the registering account fills an empty principal

        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        LONG n = 0;
        triggers->get_Count(&n);
        QCOMPARE(n, 3);
        ComPtr<ITrigger> trigger;
        QCOMPARE(triggers->get_Item(1, trigger.Put()), S_OK);
        TASK_TRIGGER_TYPE2 type{};
        trigger->get_Type(&type);
        QCOMPARE(type, TASK_TRIGGER_WEEKLY);
        trigger->get_EndBoundary(&text);
        QCOMPARE(text, QStringLiteral("2024-04-15T00:00:00"));
        auto weekly = Cast<IWeeklyTrigger>(trigger);
        QVERIFY(weekly);
        SHORT shortValue = 0;
        weekly->get_DaysOfWeek(&shortValue);
        QCOMPARE(shortValue, SHORT(TASK_MONDAY | TASK_FRIDAY));
        weekly->get_WeeksInterval(&shortValue);
        QCOMPARE(shortValue, SHORT(2));
        weekly->get_RandomDelay(&text);
        QCOMPARE(text, QStringLiteral("PT15M"));
        ComPtr<IRepetitionPattern> repetition;
        trigger->get_Repetition(repetition.Put());
        repetition->get_Interval(&text);
        QCOMPARE(text, QStringLiteral("PT10M"));
        repetition->get_StopAtDurationEnd(&flag);
        QCOMPARE(flag, VARIANT_TRUE);
        QVERIFY(!Cast<IDailyTrigger>(trigger));   // a weekly trigger is no daily trigger
        triggers->get_Item(2, trigger.Put());
        TASK_SESSION_STATE_CHANGE_TYPE change{};
        Cast<ISessionStateChangeTrigger>(trigger)->get_StateChange(&change);
        QCOMPARE(change, TASK_SESSION_LOCK);
        triggers->get_Item(3, trigger.Put());
        trigger->get_StartBoundary(&text);
        QCOMPARE(text, QStringLiteral("2024-03-05T07:30:15"));
        Cast<IMonthlyDOWTrigger>(trigger)->get_WeeksOfMonth(&shortValue);
        QCOMPARE(shortValue, SHORT(0x12));

        ComPtr<IActionCollection> actions;
        def->get_Actions(actions.Put());
        actions->get_Count(&n);
        QCOMPARE(n, 3);
        ComPtr<IAction> action;
        actions->get_Item(1, action.Put());
        Cast<IExecAction>(action)->get_Arguments(&text);
        QCOMPARE(text, QStringLiteral("--daily \"a b\""));
        actions->get_Item(2, action.Put());
        TASK_ACTION_TYPE actionType{};
        action->get_Type(&actionType);
        QCOMPARE(actionType, TASK_ACTION_SEND_EMAIL);
        QStringList attachments;
        Cast<IEmailAction>(action)->get_Attachments(&attachments);
        QCOMPARE(attachments, (QStringList{QStringLiteral("a.txt"), QStringLiteral("my file.txt")}));
        ComPtr<ITaskNamedValueCollection> headers;
        Cast<IEmailAction>(action)->get_HeaderFields(headers.Put());
        headers->get_Count(&n);
        QCOMPARE(n, 1);
        QVERIFY(!Cast<IExecAction>(action));
        actions->get_Item(3, action.Put());
        Cast<IShowMessageAction>(action)->get_Title(&text);
        QCOMPARE(text, QStringLiteral("Done"));
    }

    void definitionsChangeOnlyInMemory()
    {
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        ComPtr<IRegisteredTask> task;
        QCOMPARE(Register(root.Get(), QStringLiteral("T"), NewDefinition().Get(), TASK_CREATE, &task), S_OK);
        ComPtr<ITaskDefinition> first, second;
        task->get_Definition(first.Put());
        task->get_Definition(second.Put());
        ComPtr<IRegistrationInfo> info;
        first->get_RegistrationInfo(info.Put());
        info->put_Description(QStringLiteral("edited"));
        QString text;
        second->get_RegistrationInfo(info.Put());
        info->get_Description(&text);
        QCOMPARE(text, QString());   // each definition is a copy of its own
        root->GetTask(QStringLiteral("T"), task.Put());
        task->get_Definition(second.Put());
        second->get_RegistrationInfo(info.Put());
        info->get_Description(&text);
        QCOMPARE(text, QString());   // nothing reached the service
    }

    void storedDefinitionReadInParts()
    {
        // A registered task's definition reads its triggers first and the rest when used; in
        // whatever order its parts are used, it is the stored document, and a trigger object
        // taken early keeps working on the definition.
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        ComPtr<ITaskDefinition> def = NewDefinition();
        ComPtr<IRegistrationInfo> info;
        def->get_RegistrationInfo(info.Put());
        info->put_Description(QStringLiteral("stored <&> text"));
        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        ComPtr<ITrigger> trigger;
        triggers->Create(TASK_TRIGGER_DAILY, trigger.Put());
        trigger->put_StartBoundary(QStringLiteral("2030-01-02T03:04:05"));
        def->put_Data(QStringLiteral("data"));
        ComPtr<IRegisteredTask> task;
        QCOMPARE(Register(root.Get(), QStringLiteral("Parts"), def.Get(), TASK_CREATE, &task), S_OK);
        QString stored;
        QCOMPARE(task->get_Xml(&stored), S_OK);

        for (int firstUse = 0; firstUse < 3; ++firstUse) {
            ComPtr<ITaskDefinition> read;
            QCOMPARE(task->get_Definition(read.Put()), S_OK);
            ComPtr<ITriggerCollection> readTriggers;
            read->get_Triggers(readTriggers.Put());
            ComPtr<ITrigger> held;
            QCOMPARE(readTriggers->get_Item(1, held.Put()), S_OK);
            QString text;
            if (firstUse == 0) {
                read->get_Data(&text);
                QCOMPARE(text, QStringLiteral("data"));
            } else if (firstUse == 1) {
                ComPtr<IActionCollection> actions;
                read->get_Actions(actions.Put());
                LONG count = 0;
                actions->get_Count(&count);
                QCOMPARE(count, 1);
            }
            QCOMPARE(read->get_XmlText(&text), S_OK);
            QCOMPARE(text, stored);
            QCOMPARE(held->put_StartBoundary(QStringLiteral("2031-01-02T03:04:05")), S_OK);
            read->get_XmlText(&text);
            QVERIFY(text.contains(QStringLiteral("2031-01-02T03:04:05")));
            QVERIFY(text.contains(QStringLiteral("stored &lt;&amp;&gt; text")));
        }
    }

    void folders()
    {
        ComPtr<ITaskFolder> root = Folder(QString());
        QVERIFY(root);
        QString text;
        root->get_Path(&text);
        QCOMPARE(text, QStringLiteral("\\"));
        root->get_Name(&text);
        QCOMPARE(text, QStringLiteral("\\"));
        ComPtr<ITaskFolder> folder;
        QCOMPARE(root->CreateFolder(QStringLiteral("\\Reports\\Daily"), VARIANT::Empty(), folder.Put()), S_OK);
        folder->get_Path(&text);
        QCOMPARE(text, QStringLiteral("\\Reports\\Daily"));
        folder->get_Name(&text);
        QCOMPARE(text, QStringLiteral("Daily"));
        QCOMPARE(root->CreateFolder(QStringLiteral("Archive"), VARIANT::String({}), folder.Put()), S_OK);
        QCOMPARE(root->CreateFolder(QStringLiteral("Reports"), VARIANT::Empty(), folder.Put()), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        QCOMPARE(root->CreateFolder(QStringLiteral("\\Archive"), VARIANT::Empty(), folder.Put()), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        QCOMPARE(root->CreateFolder(QStringLiteral("Secret"), VARIANT::String(QStringLiteral("D:(A;;FA;;;BA)")), folder.Put()), E_INVALIDARG);

        ComPtr<ITaskFolderCollection> folders;
        QCOMPARE(root->GetFolders(0, folders.Put()), S_OK);
        LONG count = 0;
        folders->get_Count(&count);
        QCOMPARE(count, 2);
        QCOMPARE(folders->get_Item(VARIANT::I4(1), folder.Put()), S_OK);
        folder->get_Name(&text);
        QCOMPARE(text, QStringLiteral("Archive"));
        QCOMPARE(folders->get_Item(VARIANT::String(QStringLiteral("Reports")), folder.Put()), S_OK);
        folder->get_Path(&text);
        QCOMPARE(text, QStringLiteral("\\Reports"));
        QCOMPARE(folders->get_Item(VARIANT::I4(0), folder.Put()), E_INVALIDARG);
        QCOMPARE(folders->get_Item(VARIANT::I4(3), folder.Put()), E_INVALIDARG);
        QCOMPARE(root->GetFolders(1, folders.Put()), E_INVALIDARG);

        QCOMPARE(Connected()->GetFolder(QStringLiteral("Reports\\Daily"), folder.Put()), S_OK);
        QCOMPARE(Connected()->GetFolder(QStringLiteral("\\Nope"), folder.Put()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        QVERIFY(!folder);
        ComPtr<ITaskFolder> reports = Folder(QStringLiteral("\\Reports"));
        QCOMPARE(reports->GetFolder(QStringLiteral("Daily"), folder.Put()), S_OK);

        // Deleting: missing, still holding a folder, still holding a task, the root, then for real.
        QCOMPARE(root->DeleteFolder(QStringLiteral("Nope"), 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        QCOMPARE(root->DeleteFolder(QStringLiteral("Reports"), 0), HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY));
        QCOMPARE(Register(root.Get(), QStringLiteral("Archive\\Old"), NewDefinition().Get()), S_OK);
        QCOMPARE(root->DeleteFolder(QStringLiteral("Archive"), 0), HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY));
        QCOMPARE(root->DeleteFolder(QStringLiteral("\\"), 0), E_INVALIDARG);
        QCOMPARE(root->DeleteFolder(QString(), 0), E_INVALIDARG);
        QCOMPARE(root->DeleteFolder(QStringLiteral("Reports\\Daily"), 1), E_INVALIDARG);
        QCOMPARE(root->DeleteFolder(QStringLiteral("Reports\\Daily"), 0), S_OK);
        QCOMPARE(root->DeleteFolder(QStringLiteral("\\Reports"), 0), S_OK);
        QCOMPARE(Folder(QStringLiteral("\\Archive"))->DeleteTask(QStringLiteral("Old"), 0), S_OK);
        QCOMPARE(root->DeleteFolder(QStringLiteral("Archive"), 0), S_OK);
        root->GetFolders(0, folders.Put());
        folders->get_Count(&count);
        QCOMPARE(count, 0);
    }

    void listedNames_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("root") << QStringLiteral("\\") << QStringLiteral("Backup");
        QTest::newRow("nested") << QStringLiteral("\\Reports\\Daily") << QStringLiteral("Sales report");
        QTest::newRow("dots") << QStringLiteral("\\Reports") << QStringLiteral("..a.b.");
        QTest::newRow("punctuation") << QStringLiteral("\\Reports") << QStringLiteral("~!@#$%^&()_+{}|:\"<>?[];',`=");
        QTest::newRow("not ASCII") << QStringLiteral("\\Berichte f\u00fcr M\u00e4rz") << (QStringLiteral("\u00dcbersicht ") + QString::fromUtf8("\xf0\x9f\x98\x80"));
        QTest::newRow("longest") << QStringLiteral("\\Reports") << QString(200, QLatin1Char('n'));
    }

    void listedNames()
    {
        // A listed task's name is the last part of its path, however that path is spelled.
        QFETCH(QString, folder);
        QFETCH(QString, name);
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        ComPtr<ITaskFolder> created;
        if (folder != QStringLiteral("\\")) QCOMPARE(root->CreateFolder(folder, VARIANT::Empty(), created.Put()), S_OK);
        ComPtr<ITaskFolder> target = Folder(folder);
        QCOMPARE(Register(target.Get(), name, NewDefinition().Get()), S_OK);
        QCOMPARE(TaskNames(target.Get()), QStringList{name});
        ComPtr<IRegisteredTaskCollection> tasks;
        QCOMPARE(target->GetTasks(0, tasks.Put()), S_OK);
        ComPtr<IRegisteredTask> task;
        QCOMPARE(tasks->get_Item(VARIANT::String(name), task.Put()), S_OK);
        QString path;
        task->get_Path(&path);
        QCOMPARE(path, folder == QStringLiteral("\\") ? QStringLiteral("\\") + name : folder + QStringLiteral("\\") + name);
    }

    void hiddenTasks()
    {
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        ComPtr<ITaskDefinition> hidden = NewDefinition();
        ComPtr<ITaskSettings> settings;
        hidden->get_Settings(settings.Put());
        settings->put_Hidden(VARIANT_TRUE);
        QCOMPARE(Register(root.Get(), QStringLiteral("B hidden"), hidden.Get()), S_OK);
        QCOMPARE(Register(root.Get(), QStringLiteral("A shown"), NewDefinition().Get()), S_OK);
        QCOMPARE(TaskNames(root.Get()), QStringList{QStringLiteral("A shown")});
        QCOMPARE(TaskNames(root.Get(), TASK_ENUM_HIDDEN), (QStringList{QStringLiteral("A shown"), QStringLiteral("B hidden")}));
        ComPtr<IRegisteredTask> task;
        QCOMPARE(root->GetTask(QStringLiteral("B hidden"), task.Put()), S_OK);   // found by name all the same
        ComPtr<IRegisteredTaskCollection> tasks;
        QCOMPARE(root->GetTasks(2, tasks.Put()), E_INVALIDARG);
    }

    void hostileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent") << QStringLiteral("..\\x");
        QTest::newRow("dot dot") << QStringLiteral("..");
        QTest::newRow("dot") << QStringLiteral(".");
        QTest::newRow("slash") << QStringLiteral("a/b");
        QTest::newRow("control") << QStringLiteral("a\x01" "b");
        QTest::newRow("line feed") << QStringLiteral("a\nb");
        QTest::newRow("nul") << (QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
        QTest::newRow("lone surrogate") << QString(QChar(0xDC00));
        QTest::newRow("10000 characters") << QString(10000, QLatin1Char('x'));
        QTest::newRow("empty part") << QStringLiteral("a\\\\b");
    }

    void hostileNames()
    {
        QFETCH(QString, name);
        // The root's parent may be a shared temporary directory, so compare with what was there before.
        QDir parent(m_root->Path());
        parent.cdUp();
        const bool hadX = parent.exists(QStringLiteral("x"));
        const bool hadXTask = parent.exists(QStringLiteral("x.task"));
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        ComPtr<ITaskFolder> folder;
        QCOMPARE(root->CreateFolder(name, VARIANT::Empty(), folder.Put()), invalid);
        QCOMPARE(Register(root.Get(), name, NewDefinition().Get()), invalid);
        ComPtr<IRegisteredTask> task;
        QCOMPARE(root->GetTask(name, task.Put()), invalid);
        QCOMPARE(root->DeleteTask(name, 0), invalid);
        QCOMPARE(root->DeleteFolder(name, 0), invalid);
        QCOMPARE(Connected()->GetFolder(name, folder.Put()), invalid);
        QVERIFY(!ErrorDescription(invalid).isEmpty());
        // Nothing was written anywhere, inside the root or beside it.
        QCOMPARE(parent.exists(QStringLiteral("x")), hadX);
        QCOMPARE(parent.exists(QStringLiteral("x.task")), hadXTask);
        QCOMPARE(TaskNames(root.Get(), TASK_ENUM_HIDDEN), QStringList());
    }

    void damagedFileBesideGoodOnes()
    {
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        for (const char* name : {"Good 1", "Damaged", "Good 2"}) QCOMPARE(Register(root.Get(), QLatin1String(name), NewDefinition().Get()), S_OK);
        const QString file = m_root->Path() + QStringLiteral("/tasks/Damaged.task");
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray good = f.readAll();
        const QByteArray damaged = good.left(good.size() / 2);
        f.resize(0);
        f.write(damaged);
        f.close();

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Damaged")));
        QCOMPARE(TaskNames(root.Get()), (QStringList{QStringLiteral("Good 1"), QStringLiteral("Good 2")}));
        ComPtr<IRegisteredTask> task;
        QCOMPARE(root->GetTask(QStringLiteral("Damaged"), task.Put()), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
        QVERIFY(ErrorDescription(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)).contains(QStringLiteral("Damaged")));
        for (LONG flags : {TASK_UPDATE, TASK_CREATE_OR_UPDATE})
            QCOMPARE(Register(root.Get(), QStringLiteral("Damaged"), NewDefinition().Get(), flags), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), damaged);   // never overwritten
        f.close();
        QCOMPARE(root->DeleteTask(QStringLiteral("Damaged"), 0), S_OK);
        QCOMPARE(Register(root.Get(), QStringLiteral("Damaged"), NewDefinition().Get(), TASK_CREATE), S_OK);
    }

    void registrationFlags_data()
    {
        QTest::addColumn<LONG>("flags");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<HRESULT>("expected");
        QTest::newRow("create new") << LONG(TASK_CREATE) << false << S_OK;
        QTest::newRow("create existing") << LONG(TASK_CREATE) << true << HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        QTest::newRow("update new") << LONG(TASK_UPDATE) << false << HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        QTest::newRow("update existing") << LONG(TASK_UPDATE) << true << S_OK;
        QTest::newRow("create or update new") << LONG(TASK_CREATE_OR_UPDATE) << false << S_OK;
        QTest::newRow("create or update existing") << LONG(TASK_CREATE_OR_UPDATE) << true << S_OK;
        QTest::newRow("no flags") << LONG(0) << false << E_INVALIDARG;
        QTest::newRow("unknown flag") << LONG(0x42) << false << E_INVALIDARG;
        QTest::newRow("validate and create") << LONG(TASK_VALIDATE_ONLY | TASK_CREATE) << false << E_INVALIDARG;
    }

    void registrationFlags()
    {
        QFETCH(LONG, flags);
        QFETCH(bool, exists);
        QFETCH(HRESULT, expected);
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        if (exists) QCOMPARE(Register(root.Get(), QStringLiteral("T"), NewDefinition().Get(), TASK_CREATE), S_OK);
        ComPtr<ITaskDefinition> def = NewDefinition();
        ComPtr<IRegistrationInfo> info;
        def->get_RegistrationInfo(info.Put());
        info->put_Description(QStringLiteral("second"));
        ComPtr<IRegisteredTask> task;
        QCOMPARE(Register(root.Get(), QStringLiteral("T"), def.Get(), flags, &task), expected);
        QCOMPARE(bool(task), SUCCEEDED(expected));
        QCOMPARE(TaskNames(root.Get()).size(), int(exists || SUCCEEDED(expected)));
        if (!exists && FAILED(expected)) return;
        root->GetTask(QStringLiteral("T"), task.Put());
        task->get_Definition(def.Put());
        def->get_RegistrationInfo(info.Put());
        QString text;
        info->get_Description(&text);
        QCOMPARE(text, SUCCEEDED(expected) ? QStringLiteral("second") : QString());
    }

    void registrationExtras()
    {
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        ComPtr<IRegisteredTask> task;
        QCOMPARE(Register(root.Get(), QStringLiteral("V"), NewDefinition().Get(), TASK_VALIDATE_ONLY, &task), S_OK);
        QVERIFY(!task);
        QCOMPARE(TaskNames(root.Get()), QStringList());
        // An empty path gets a generated name; a path through a missing folder creates it.
        QCOMPARE(Register(root.Get(), QString(), NewDefinition().Get(), TASK_CREATE, &task), S_OK);
        QString name;
        task->get_Name(&name);
        QCOMPARE(name.size(), 38);
        QCOMPARE(Register(root.Get(), QStringLiteral("New\\Inner"), NewDefinition().Get(), TASK_CREATE | TASK_DISABLE, &task), S_OK);
        TASK_STATE state{};
        task->get_State(&state);
        QCOMPARE(state, TASK_STATE_DISABLED);
        QCOMPARE(task->put_Enabled(VARIANT_TRUE), S_OK);
        task->get_State(&state);
        QCOMPARE(state, TASK_STATE_READY);
        QCOMPARE(root->RegisterTaskDefinition(QStringLiteral("N"), nullptr, TASK_CREATE, VARIANT::Empty(), VARIANT::Empty(),
                                              TASK_LOGON_NONE, VARIANT::Empty(), task.Put()), E_POINTER);
        // A task document registers directly.
        QString xml;
        NewDefinition()->get_XmlText(&xml);
        QCOMPARE(root->RegisterTask(QStringLiteral("From XML"), xml, TASK_CREATE, VARIANT::Empty(), VARIANT::Empty(),
                                    TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put()), S_OK);
        QCOMPARE(root->RegisterTask(QStringLiteral("Bad XML"), QStringLiteral("<Task"), TASK_CREATE, VARIANT::Empty(), VARIANT::Empty(),
                                    TASK_LOGON_INTERACTIVE_TOKEN, VARIANT::Empty(), task.Put()), SCHED_E_MALFORMEDXML);
    }

    void accounts_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<int>("logonType");
        QTest::addColumn<HRESULT>("expected");
        const bool root = geteuid() == 0;
        QTest::newRow("own account") << CurrentUser() << int(TASK_LOGON_INTERACTIVE_TOKEN) << S_OK;
        QTest::newRow("own account, this computer") << QSysInfo::machineHostName() + QLatin1Char('\\') + CurrentUser()
                                                    << int(TASK_LOGON_PASSWORD) << S_OK;
        QTest::newRow("system") << QStringLiteral("System") << int(TASK_LOGON_SERVICE_ACCOUNT) << (root ? S_OK : E_ACCESSDENIED);
        QTest::newRow("unknown account") << QStringLiteral("no-such-user-xyz") << int(TASK_LOGON_PASSWORD)
                                         << HRESULT_FROM_WIN32(ERROR_NONE_MAPPED);
        QTest::newRow("other domain") << QStringLiteral("CORP\\ann") << int(TASK_LOGON_PASSWORD) << HRESULT_FROM_WIN32(ERROR_NONE_MAPPED);
        QTest::newRow("logon type out of range") << CurrentUser() << 7 << E_INVALIDARG;
        QTest::newRow("unknown group") << QStringLiteral("no-such-group-xyz") << int(TASK_LOGON_GROUP) << HRESULT_FROM_WIN32(ERROR_NONE_MAPPED);
    }

    void accounts()
    {
        QFETCH(QString, userId);
        QFETCH(int, logonType);
        QFETCH(HRESULT, expected);
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        ComPtr<IRegisteredTask> task;
        QCOMPARE(root->RegisterTaskDefinition(QStringLiteral("T"), NewDefinition().Get(), TASK_CREATE, VARIANT::String(userId),
                                              VARIANT::String(QStringLiteral("secret")), TASK_LOGON_TYPE(logonType),
                                              VARIANT::String({}), task.Put()), expected);
        if (FAILED(expected)) {
            QCOMPARE(TaskNames(root.Get()), QStringList());
            return;
        }
        ComPtr<ITaskDefinition> def;
        task->get_Definition(def.Put());
        ComPtr<IPrincipal> principal;
        def->get_Principal(principal.Put());
        QString stored;
        principal->get_UserId(&stored);
        QCOMPARE(stored, userId);
        TASK_LOGON_TYPE type{};
        principal->get_LogonType(&type);
        QCOMPARE(int(type), logonType);
        QVERIFY(!task->get_Xml(&stored) && !stored.contains(QStringLiteral("secret")));   // passwords are never stored
    }

    void valuesRefusedAtPut()
    {
        ComPtr<ITaskDefinition> def = NewDefinition();
        ComPtr<ITaskSettings> s;
        def->get_Settings(s.Put());
        for (const char* bad : {"72H", "PT", "P", "PT1.5H", "PT-1H", "P1H", "1 hour", "PT1H ", "pt1h"})
            QCOMPARE(s->put_ExecutionTimeLimit(QLatin1String(bad)), E_INVALIDARG);
        QVERIFY(ErrorDescription(E_INVALIDARG).contains(QStringLiteral("ExecutionTimeLimit")));
        QString text;
        s->get_ExecutionTimeLimit(&text);
        QCOMPARE(text, QStringLiteral("PT72H"));   // a refused value changes nothing
        for (const char* good : {"", "PT0S", "P3D", "P1DT2H3M", "PT90S", "P1Y2M"}) QCOMPARE(s->put_ExecutionTimeLimit(QLatin1String(good)), S_OK);
        QCOMPARE(s->put_Priority(11), E_INVALIDARG);
        QCOMPARE(s->put_Priority(-1), E_INVALIDARG);
        QCOMPARE(s->put_RestartCount(-1), E_INVALIDARG);
        QCOMPARE(s->put_MultipleInstances(TASK_INSTANCES_POLICY(4)), E_INVALIDARG);
        QCOMPARE(s->put_Compatibility(TASK_COMPATIBILITY(7)), E_INVALIDARG);
        ComPtr<IPrincipal> principal;
        def->get_Principal(principal.Put());
        QCOMPARE(principal->put_LogonType(TASK_LOGON_TYPE(7)), E_INVALIDARG);
        QCOMPARE(principal->put_RunLevel(TASK_RUNLEVEL_TYPE(2)), E_INVALIDARG);

        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        ComPtr<ITrigger> trigger;
        QCOMPARE(triggers->Create(TASK_TRIGGER_TYPE2(10), trigger.Put()), E_INVALIDARG);
        QCOMPARE(triggers->Create(TASK_TRIGGER_CUSTOM_TRIGGER_01, trigger.Put()), E_INVALIDARG);
        QCOMPARE(triggers->Create(TASK_TRIGGER_DAILY, trigger.Put()), S_OK);
        for (const char* bad : {"2024-13-01T00:00:00", "2023-02-29T10:00:00", "2024-03-15 09:30:00", "2024-03-15T24:00:00",
                                "2024-03-15T09:30", "15.03.2024 09:30:00"})
            QCOMPARE(trigger->put_StartBoundary(QLatin1String(bad)), E_INVALIDARG);
        for (const char* good : {"2024-03-15T09:30:00", "2024-03-15T09:30:00Z", "2024-03-15T09:30:00.5+02:00", ""})
            QCOMPARE(trigger->put_EndBoundary(QLatin1String(good)), S_OK);
        QCOMPARE(Cast<IDailyTrigger>(trigger)->put_DaysInterval(0), E_INVALIDARG);
        QCOMPARE(Cast<IDailyTrigger>(trigger)->put_RandomDelay(QStringLiteral("soon")), E_INVALIDARG);
        ComPtr<IRepetitionPattern> repetition;
        trigger->get_Repetition(repetition.Put());
        QCOMPARE(repetition->put_Interval(QStringLiteral("10 minutes")), E_INVALIDARG);
        QCOMPARE(triggers->Create(TASK_TRIGGER_WEEKLY, trigger.Put()), S_OK);
        QCOMPARE(Cast<IWeeklyTrigger>(trigger)->put_DaysOfWeek(0x80), E_INVALIDARG);
        QCOMPARE(triggers->Create(TASK_TRIGGER_MONTHLY, trigger.Put()), S_OK);
        QCOMPARE(Cast<IMonthlyTrigger>(trigger)->put_MonthsOfYear(0x1000), E_INVALIDARG);
        QCOMPARE(Cast<IMonthlyTrigger>(trigger)->put_DaysOfMonth(-1), E_INVALIDARG);
        QCOMPARE(triggers->Create(TASK_TRIGGER_SESSION_STATE_CHANGE, trigger.Put()), S_OK);
        QCOMPARE(Cast<ISessionStateChangeTrigger>(trigger)->put_StateChange(TASK_SESSION_STATE_CHANGE_TYPE(5)), E_INVALIDARG);
        ComPtr<IActionCollection> actions;
        def->get_Actions(actions.Put());
        ComPtr<IAction> action;
        QCOMPARE(actions->Create(TASK_ACTION_TYPE(1), action.Put()), E_INVALIDARG);
        QCOMPARE(actions->Create(TASK_ACTION_COM_HANDLER, action.Put()), S_OK);
        QCOMPARE(Cast<IComHandlerAction>(action)->put_ClassId(QStringLiteral("not a guid")), E_INVALIDARG);
    }

    // Definitions that hold only acceptable values but would never run are refused at registration.
    void valuesRefusedAtRegistration_data()
    {
        QTest::addColumn<int>("triggerType");
        QTest::addColumn<bool>("withStart");
        QTest::addColumn<HRESULT>("expected");
        QTest::newRow("time trigger without start") << int(TASK_TRIGGER_TIME) << false << SCHED_E_MISSINGNODE;
        QTest::newRow("daily trigger without start") << int(TASK_TRIGGER_DAILY) << false << SCHED_E_MISSINGNODE;
        QTest::newRow("weekly trigger without days") << int(TASK_TRIGGER_WEEKLY) << true << SCHED_E_INVALIDVALUE;
        QTest::newRow("monthly trigger without months") << int(TASK_TRIGGER_MONTHLY) << true << SCHED_E_INVALIDVALUE;
        QTest::newRow("session trigger without change") << int(TASK_TRIGGER_SESSION_STATE_CHANGE) << false << SCHED_E_MISSINGNODE;
        QTest::newRow("event trigger without subscription") << int(TASK_TRIGGER_EVENT) << false << SCHED_E_MISSINGNODE;
        QTest::newRow("boot trigger") << int(TASK_TRIGGER_BOOT) << false << S_OK;
        QTest::newRow("daily trigger with start") << int(TASK_TRIGGER_DAILY) << true << S_OK;
    }

    void valuesRefusedAtRegistration()
    {
        QFETCH(int, triggerType);
        QFETCH(bool, withStart);
        QFETCH(HRESULT, expected);
        ComPtr<ITaskDefinition> def = NewDefinition();
        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        ComPtr<ITrigger> trigger;
        QCOMPARE(triggers->Create(TASK_TRIGGER_TYPE2(triggerType), trigger.Put()), S_OK);
        if (withStart) trigger->put_StartBoundary(QStringLiteral("2024-03-15T09:30:00"));
        QCOMPARE(Register(Folder(QStringLiteral("\\")).Get(), QStringLiteral("T"), def.Get()), expected);
        if (FAILED(expected)) QVERIFY(ErrorDescription(expected).contains(QStringLiteral("Trigger 1")));
    }

    void programActionNeedsProgram()
    {
        ComPtr<ITaskDefinition> def;
        Connected()->NewTask(0, def.Put());
        ComPtr<IActionCollection> actions;
        def->get_Actions(actions.Put());
        ComPtr<IAction> action;
        actions->Create(TASK_ACTION_EXEC, action.Put());
        QCOMPARE(Register(Folder(QStringLiteral("\\")).Get(), QStringLiteral("T"), def.Get()), SCHED_E_MISSINGNODE);
        actions->Clear();
        QCOMPARE(Register(Folder(QStringLiteral("\\")).Get(), QStringLiteral("T"), def.Get()), S_OK);   // no action at all is fine
    }

    void collections()
    {
        ComPtr<ITaskDefinition> def = NewDefinition();
        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        ComPtr<ITrigger> trigger;
        for (auto type : {TASK_TRIGGER_BOOT, TASK_TRIGGER_LOGON, TASK_TRIGGER_IDLE}) triggers->Create(type, trigger.Put());
        ComPtr<ITrigger> held;
        triggers->get_Item(1, held.Put());
        QCOMPARE(triggers->get_Item(0, trigger.Put()), E_INVALIDARG);
        QCOMPARE(triggers->get_Item(4, trigger.Put()), E_INVALIDARG);
        QCOMPARE(triggers->Remove(VARIANT::I4(2)), S_OK);   // the logon trigger
        LONG count = 0;
        triggers->get_Count(&count);
        QCOMPARE(count, 2);
        triggers->get_Item(2, trigger.Put());
        TASK_TRIGGER_TYPE2 type{};
        trigger->get_Type(&type);
        QCOMPARE(type, TASK_TRIGGER_IDLE);
        QCOMPARE(triggers->Remove(VARIANT::I4(3)), E_INVALIDARG);
        trigger->put_Id(QStringLiteral("idle"));
        QCOMPARE(triggers->Remove(VARIANT::String(QStringLiteral("idle"))), S_OK);
        QCOMPARE(triggers->Clear(), S_OK);
        QCOMPARE(held->put_Id(QStringLiteral("still usable")), S_OK);   // a removed trigger lives on, detached

        ComPtr<IActionCollection> actions;
        def->get_Actions(actions.Put());
        ComPtr<IAction> action;
        QCOMPARE(actions->get_Item(0, action.Put()), E_INVALIDARG);
        QCOMPARE(actions->Create(TASK_ACTION_SHOW_MESSAGE, action.Put()), S_OK);
        ComPtr<IEmailAction> mail;
        QCOMPARE(action.As(mail), E_NOINTERFACE);
        actions->get_Count(&count);
        QCOMPARE(count, 2);
        QCOMPARE(actions->Remove(VARIANT::I4(1)), S_OK);
        actions->get_Item(1, action.Put());
        TASK_ACTION_TYPE actionType{};
        action->get_Type(&actionType);
        QCOMPARE(actionType, TASK_ACTION_SHOW_MESSAGE);
        QCOMPARE(actions->get_Count(nullptr), E_POINTER);
    }

    void namedValues()
    {
        ComPtr<ITaskDefinition> def = NewDefinition();
        ComPtr<ITriggerCollection> triggers;
        def->get_Triggers(triggers.Put());
        ComPtr<ITrigger> first, second;
        triggers->Create(TASK_TRIGGER_EVENT, first.Put());
        triggers->Create(TASK_TRIGGER_EVENT, second.Put());
        ComPtr<ITaskNamedValueCollection> queries;
        Cast<IEventTrigger>(first)->get_ValueQueries(queries.Put());
        ComPtr<ITaskNamedValuePair> pair;
        QCOMPARE(queries->Create(QStringLiteral("a"), QStringLiteral("1"), pair.Put()), S_OK);
        queries->Create(QStringLiteral("b"), QStringLiteral("2"), nullptr);
        QCOMPARE(pair->put_Value(QStringLiteral("one")), S_OK);
        QCOMPARE(queries->get_Item(3, pair.Put()), E_INVALIDARG);
        QCOMPARE(Cast<IEventTrigger>(second)->put_ValueQueries(queries.Get()), S_OK);
        QCOMPARE(queries->Remove(1), S_OK);
        QCOMPARE(queries->Remove(2), E_INVALIDARG);
        ComPtr<ITaskNamedValueCollection> copied;
        Cast<IEventTrigger>(second)->get_ValueQueries(copied.Put());
        LONG count = 0;
        copied->get_Count(&count);
        QCOMPARE(count, 2);   // a copy, untouched by the removal
        copied->get_Item(1, pair.Put());
        QString value;
        pair->get_Value(&value);
        QCOMPARE(value, QStringLiteral("one"));
        QCOMPARE(copied->Clear(), S_OK);
        QCOMPARE(pair->get_Value(&value), E_UNEXPECTED);   // its pair is gone
    }

    void xmlText()
    {
        ComPtr<ITaskDefinition> def = NewDefinition();
        ComPtr<IRegistrationInfo> info;
        def->get_RegistrationInfo(info.Put());
        info->put_Author(QStringLiteral("Ann"));
        QString xml;
        QCOMPARE(def->get_XmlText(&xml), S_OK);
        ComPtr<ITaskDefinition> copy;
        Connected()->NewTask(0, copy.Put());
        QCOMPARE(copy->put_XmlText(xml), S_OK);
        QString again;
        copy->get_XmlText(&again);
        QCOMPARE(again, xml);
        QCOMPARE(copy->put_XmlText(QStringLiteral("<Task xmlns='urn:other'/>")), SCHED_E_NAMESPACE);
        copy->get_XmlText(&again);
        QCOMPARE(again, xml);   // a document that does not load changes nothing
        QCOMPARE(copy->put_Settings(nullptr), E_POINTER);
    }

    void runTimesArguments()
    {
        ComPtr<IRegisteredTask> task;
        QCOMPARE(Register(Folder(QStringLiteral("\\")).Get(), QStringLiteral("T"), NewDefinition().Get(), TASK_CREATE, &task), S_OK);
        SYSTEMTIME start{2024, 3, 0, 15, 9, 30, 0, 0};
        const SYSTEMTIME noEnd{9999, 0, 0, 0, 0, 0, 0, 0};
        const SYSTEMTIME badEnd{2024, 13, 0, 1, 0, 0, 0, 0};
        DWORD count = 5;
        QList<SYSTEMTIME> times;
        QCOMPARE(task->GetRunTimes(nullptr, nullptr, &count, &times), E_POINTER);
        QCOMPARE(task->GetRunTimes(&start, nullptr, nullptr, &times), E_POINTER);
        QCOMPARE(task->GetRunTimes(&start, nullptr, &count, nullptr), E_POINTER);
        QCOMPARE(task->GetRunTimes(&start, &noEnd, &count, &times), S_OK);
        QCOMPARE(count, 0u);
        count = 5;
        QCOMPARE(task->GetRunTimes(&start, &badEnd, &count, &times), E_INVALIDARG);
        start.wDay = 32;
        QCOMPARE(task->GetRunTimes(&start, nullptr, &count, &times), E_INVALIDARG);
    }

    void statusFollowsChanges()
    {
        // One status answer serves reads close together; it never hides a change made through
        // the same connection meanwhile, nor, read a second time, another client's change.
        ComPtr<ITaskService> service = Connected();
        ComPtr<ITaskFolder> root;
        QCOMPARE(service->GetFolder(QStringLiteral("\\"), root.Put()), S_OK);
        ComPtr<IRegisteredTask> task, sameTask;
        QCOMPARE(Register(root.Get(), QStringLiteral("S"), NewDefinition().Get(), TASK_CREATE, &task), S_OK);
        QCOMPARE(root->GetTask(QStringLiteral("S"), sameTask.Put()), S_OK);
        const auto state = [&] {
            TASK_STATE value = TASK_STATE_UNKNOWN;
            return SUCCEEDED(task->get_State(&value)) ? value : TASK_STATE_UNKNOWN;
        };
        QCOMPARE(state(), TASK_STATE_READY);
        VARIANT_BOOL enabled = VARIANT_FALSE;
        QCOMPARE(task->get_Enabled(&enabled), S_OK);
        QCOMPARE(enabled, VARIANT_TRUE);

        QCOMPARE(sameTask->put_Enabled(VARIANT_FALSE), S_OK);
        QCOMPARE(state(), TASK_STATE_DISABLED);
        QCOMPARE(task->get_Enabled(&enabled), S_OK);
        QCOMPARE(enabled, VARIANT_FALSE);

        ComPtr<IRegisteredTask> elsewhere;
        QCOMPARE(Folder(QStringLiteral("\\"))->GetTask(QStringLiteral("S"), elsewhere.Put()), S_OK);
        QCOMPARE(elsewhere->put_Enabled(VARIANT_TRUE), S_OK);
        QCOMPARE(state(), TASK_STATE_READY);

        QCOMPARE(root->DeleteTask(QStringLiteral("S"), 0), S_OK);
        TASK_STATE gone{};
        QCOMPARE(task->get_State(&gone), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }

    void listedTasksTakeTheirStatusFromTheListing()
    {
        // The statuses of a listing are asked for with the first of them; a read of a field
        // again, or after any other request of this client, asks afresh.
        ComPtr<ITaskFolder> root = Folder(QStringLiteral("\\"));
        QCOMPARE(Register(root.Get(), QStringLiteral("A"), NewDefinition().Get()), S_OK);
        QCOMPARE(Register(root.Get(), QStringLiteral("B"), NewDefinition().Get()), S_OK);
        ComPtr<IRegisteredTask> elsewhere;
        QCOMPARE(Folder(QStringLiteral("\\"))->GetTask(QStringLiteral("B"), elsewhere.Put()), S_OK);
        const auto listed = [&](ComPtr<IRegisteredTask>* a, ComPtr<IRegisteredTask>* b) {
            ComPtr<IRegisteredTaskCollection> tasks;
            QCOMPARE(root->GetTasks(0, tasks.Put()), S_OK);
            QCOMPARE(tasks->get_Item(VARIANT::I4(1), a->Put()), S_OK);
            QCOMPARE(tasks->get_Item(VARIANT::String(QStringLiteral("B")), b->Put()), S_OK);
        };
        const auto state = [](const ComPtr<IRegisteredTask>& task) {
            TASK_STATE value = TASK_STATE_UNKNOWN;
            return SUCCEEDED(task->get_State(&value)) ? value : TASK_STATE_UNKNOWN;
        };

        ComPtr<IRegisteredTask> a, b;
        listed(&a, &b);
        QCOMPARE(state(a), TASK_STATE_READY);
        // Another client disables B: the listing's answer for B, taken before, serves its
        // first read; reading it again asks.
        QCOMPARE(elsewhere->put_Enabled(VARIANT_FALSE), S_OK);
        VARIANT_BOOL enabled = VARIANT_FALSE;
        QCOMPARE(b->get_Enabled(&enabled), S_OK);
        QCOMPARE(enabled, VARIANT_TRUE);
        QCOMPARE(b->get_Enabled(&enabled), S_OK);
        QCOMPARE(enabled, VARIANT_FALSE);

        // The statuses of a new listing are taken (B's says disabled); another client enables
        // B and this client makes a request: B's first read asks.
        listed(&a, &b);
        QCOMPARE(state(a), TASK_STATE_READY);
        QCOMPARE(elsewhere->put_Enabled(VARIANT_TRUE), S_OK);
        ComPtr<ITaskFolder> again;
        QCOMPARE(root->GetFolder(QStringLiteral("\\"), again.Put()), S_OK);
        QCOMPARE(state(b), TASK_STATE_READY);
        QCOMPARE(root->DeleteTask(QStringLiteral("B"), 0), S_OK);
        TASK_STATE gone{};
        QCOMPARE(b->get_State(&gone), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }

    void runAndStopNeedTheServiceProcess()
    {
        ComPtr<IRegisteredTask> task;
        QCOMPARE(Register(Folder(QStringLiteral("\\")).Get(), QStringLiteral("T"), NewDefinition().Get(), TASK_CREATE, &task), S_OK);
        ComPtr<IRunningTask> running;
        QCOMPARE(task->Run(VARIANT::Empty(), running.Put()), SCHED_E_SERVICE_NOT_RUNNING);
        QVERIFY(!running);
        QCOMPARE(task->Stop(0), SCHED_E_SERVICE_NOT_RUNNING);
        QVERIFY(ErrorDescription(SCHED_E_SERVICE_NOT_RUNNING).startsWith(QStringLiteral("The Task Scheduler Service is not running.")));
        QCOMPARE(Folder(QStringLiteral("\\"))->DeleteTask(QStringLiteral("T"), 0), S_OK);
        QCOMPARE(task->Run(VARIANT::Empty(), running.Put()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        TASK_STATE state{};
        QCOMPARE(task->get_State(&state), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }
};

QTEST_GUILESS_MAIN(TestGen2)
#include "tst_gen2.moc"
