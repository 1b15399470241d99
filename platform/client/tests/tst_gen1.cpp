// The generation 1.0 interfaces, used as a client uses them, against a fresh service root.

#include "gen1/JobStore.h"
#include "ObjectRuntime.h"
#include "ResultCodes.h"
#include "TemporaryServiceRoot.h"
#include "TriggerRecords.h"
#include "tvMSTask.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QtTest>

namespace {

template <typename T>
IUnknown** Out(ComPtr<T>& p)
{
    return reinterpret_cast<IUnknown**>(p.Put());
}

using TriggerRecords::Daily;
using TriggerRecords::Same;

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestGen1 : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TemporaryServiceRoot> m_home;

    QString JobsDir() const { return m_home->Path() + QStringLiteral("/jobs"); }

    ComPtr<ITaskScheduler> Connect()
    {
        ComPtr<ITaskScheduler> s;
        const HRESULT hr = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler, s.PutVoid());
        return SUCCEEDED(hr) ? s : nullptr;
    }

    ComPtr<ITask> NewTask(ITaskScheduler* s, const QString& name)
    {
        ComPtr<ITask> task;
        return SUCCEEDED(s->NewWorkItem(name, CLSID_CTask, IID_ITask, Out(task))) ? task : nullptr;
    }

    ComPtr<ITask> Activate(ITaskScheduler* s, const QString& name, HRESULT* hr = nullptr)
    {
        ComPtr<ITask> task;
        const HRESULT r = s->Activate(name, IID_ITask, Out(task));
        if (hr) *hr = r;
        return SUCCEEDED(r) ? task : nullptr;
    }

    HRESULT SaveNew(ITaskScheduler* s, const QString& name)
    {
        ComPtr<ITask> task = NewTask(s, name);
        if (!task) return E_FAIL;
        ComPtr<IPersistFile> file;
        task.As(file);
        return file->Save(nullptr, true);
    }

    QStringList Names(ITaskScheduler* s)
    {
        ComPtr<IEnumWorkItems> e;
        if (FAILED(s->Enum(e.Put()))) return {};
        QStringList all, one;
        ULONG fetched = 0;
        while (e->Next(1, &one, &fetched) == S_OK && fetched == 1) all += one;
        return all;
    }

private slots:
    void initTestCase() { QCOMPARE(CoInitialize(nullptr), S_OK); }
    void cleanupTestCase() { CoUninitialize(); }
    void init()
    {
        m_home = std::make_unique<TemporaryServiceRoot>();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }
    void cleanup() { m_home.reset(); }

    void writeSaveReadBack()
    {
        const QByteArray data("\x01\x02\x00\xFF", 4);
        TASK_TRIGGER weekly = TriggerRecords::Weekly(TASK_MONDAY | TASK_FRIDAY, TriggerRecords::kBegin, QTime(7, 0), 2);
        weekly.wRandomMinutesInterval = 9;   // kept as given
        {
            ComPtr<ITaskScheduler> s = Connect();
            QVERIFY(s);
            ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Backup.job"));
            QVERIFY(t);
            QCOMPARE(t->SetApplicationName(QStringLiteral("/usr/bin/rsync")), S_OK);
            QCOMPARE(t->SetParameters(QStringLiteral("-a \"/home/ann\" /backup")), S_OK);
            QCOMPARE(t->SetWorkingDirectory(QStringLiteral("/tmp")), S_OK);
            QCOMPARE(t->SetComment(QStringLiteral("Line one\r\nLine two \u00e9")), S_OK);
            QCOMPARE(t->SetCreator(QStringLiteral("ann")), S_OK);
            const QString password = QStringLiteral("secret");
            QCOMPARE(t->SetAccountInformation(QStringLiteral("ann"), &password), S_OK);
            QCOMPARE(t->SetFlags(TASK_FLAG_HIDDEN | TASK_FLAG_RUN_ONLY_IF_LOGGED_ON), S_OK);
            QCOMPARE(t->SetTaskFlags(0x5), S_OK);
            QCOMPARE(t->SetPriority(IDLE_PRIORITY_CLASS), S_OK);
            QCOMPARE(t->SetMaxRunTime(90000), S_OK);
            QCOMPARE(t->SetIdleWait(5, 30), S_OK);
            QCOMPARE(t->SetWorkItemData(data), S_OK);
            WORD index = 99;
            ComPtr<ITaskTrigger> trigger;
            QCOMPARE(t->CreateTrigger(&index, trigger.Put()), S_OK);
            QCOMPARE(index, WORD(0));
            QCOMPARE(trigger->SetTrigger(&weekly), S_OK);
            ComPtr<IPersistFile> file;
            QCOMPARE(t.As(file), S_OK);
            QCOMPARE(file->Save(nullptr, true), S_OK);
        }
        ComPtr<ITaskScheduler> s = Connect();
        HRESULT hr;
        ComPtr<ITask> t = Activate(s.Get(), QStringLiteral("Backup.job"), &hr);
        QCOMPARE(hr, S_OK);
        QString text;
        DWORD n = 0;
        WORD a = 0, b = 0;
        QByteArray bytes;
        QCOMPARE(t->GetApplicationName(&text), S_OK);
        QCOMPARE(text, QStringLiteral("/usr/bin/rsync"));
        t->GetParameters(&text);
        QCOMPARE(text, QStringLiteral("-a \"/home/ann\" /backup"));
        t->GetWorkingDirectory(&text);
        QCOMPARE(text, QStringLiteral("/tmp"));
        t->GetComment(&text);
        QCOMPARE(text, QStringLiteral("Line one\r\nLine two \u00e9"));
        t->GetCreator(&text);
        QCOMPARE(text, QStringLiteral("ann"));
        QCOMPARE(t->GetAccountInformation(&text), S_OK);
        QCOMPARE(text, QStringLiteral("ann"));
        t->GetFlags(&n);
        QCOMPARE(n, TASK_FLAG_HIDDEN | TASK_FLAG_RUN_ONLY_IF_LOGGED_ON);
        t->GetTaskFlags(&n);
        QCOMPARE(n, DWORD(5));
        t->GetPriority(&n);
        QCOMPARE(n, IDLE_PRIORITY_CLASS);
        t->GetMaxRunTime(&n);
        QCOMPARE(n, DWORD(90000));
        t->GetIdleWait(&a, &b);
        QCOMPARE(a, WORD(5));
        QCOMPARE(b, WORD(30));
        t->GetWorkItemData(&bytes);
        QCOMPARE(bytes, data);
        QCOMPARE(t->GetTriggerCount(&a), S_OK);
        QCOMPARE(a, WORD(1));
        ComPtr<ITaskTrigger> trigger;
        QCOMPARE(t->GetTrigger(0, trigger.Put()), S_OK);
        TASK_TRIGGER back{};
        QCOMPARE(trigger->GetTrigger(&back), S_OK);
        QVERIFY(Same(back, weekly));
        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->IsDirty(), S_FALSE);
    }

    void newWorkItemDefaults()
    {
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Fresh.job"));
        DWORD n = 1;
        WORD idle = 0, deadline = 0, count = 1;
        t->GetFlags(&n);
        QCOMPARE(n, DWORD(0));
        t->GetPriority(&n);
        QCOMPARE(n, NORMAL_PRIORITY_CLASS);
        t->GetMaxRunTime(&n);
        QCOMPARE(n, DWORD(72 * 3600 * 1000));
        t->GetIdleWait(&idle, &deadline);
        QCOMPARE(idle, WORD(10));
        QCOMPARE(deadline, WORD(60));
        t->GetTriggerCount(&count);
        QCOMPARE(count, WORD(0));
        QString account = QStringLiteral("x");
        QCOMPARE(t->GetAccountInformation(&account), SCHED_E_ACCOUNT_INFORMATION_NOT_SET);
        QCOMPARE(t->SetAccountInformation(QString(), nullptr), S_OK);
        QCOMPARE(t->GetAccountInformation(&account), S_OK);
        QVERIFY(account.isEmpty());
        QCOMPARE(t->SetPriority(0x1234), E_INVALIDARG);
    }

    void flagsKeepEveryBit_data()
    {
        QTest::addColumn<quint32>("flags");
        QTest::newRow("none") << quint32(0);
        QTest::newRow("all") << quint32(0xFFFFFFFFu);
        QTest::newRow("unknown bits only") << quint32(0x80004008u);
        QTest::newRow("named and unknown") << quint32(TASK_FLAG_DISABLED | 0x00010000u);
    }
    void flagsKeepEveryBit()
    {
        QFETCH(quint32, flags);
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Flags.job"));
        QCOMPARE(t->SetFlags(flags), S_OK);
        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->Save(nullptr, true), S_OK);
        t = Activate(Connect().Get(), QStringLiteral("Flags.job"));
        DWORD back = 0;
        QCOMPARE(t->GetFlags(&back), S_OK);
        QCOMPARE(back, flags);
    }

    void workItemData_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<HRESULT>("expected");
        QTest::newRow("none") << 0 << S_OK;
        QTest::newRow("one byte") << 1 << S_OK;
        QTest::newRow("largest") << 65535 << S_OK;
        QTest::newRow("one byte too many") << 65536 << E_INVALIDARG;
    }
    void workItemData()
    {
        QFETCH(int, size);
        QFETCH(HRESULT, expected);
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i) data[i] = char(QRandomGenerator::global()->bounded(256));
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Data.job"));
        QCOMPARE(t->SetWorkItemData(QByteArray("old")), S_OK);
        QCOMPARE(t->SetWorkItemData(data), expected);
        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->Save(nullptr, true), S_OK);
        t = Activate(Connect().Get(), QStringLiteral("Data.job"));
        QByteArray back;
        QCOMPARE(t->GetWorkItemData(&back), S_OK);
        QCOMPARE(back, expected == S_OK ? data : QByteArray("old"));
    }

    void namesAndLifecycle()
    {
        ComPtr<ITaskScheduler> s = Connect();
        HRESULT hr;
        QVERIFY(!Activate(s.Get(), QStringLiteral("Missing.job"), &hr));
        QCOMPARE(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Later.job"));
        QVERIFY(t);
        QVERIFY(!QFile::exists(JobsDir() + QStringLiteral("/Later.job")));
        QVERIFY(Names(s.Get()).isEmpty());
        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->IsDirty(), S_OK);
        QCOMPARE(file->Save(nullptr, true), S_OK);
        QVERIFY(QFile::exists(JobsDir() + QStringLiteral("/Later.job")));
        ComPtr<ITask> again;
        QCOMPARE(s->NewWorkItem(QStringLiteral("Later.job"), CLSID_CTask, IID_ITask, Out(again)), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
        QCOMPARE(s->NewWorkItem(QStringLiteral("a/b.job"), CLSID_CTask, IID_ITask, Out(again)), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
        QCOMPARE(s->NewWorkItem(QStringLiteral("Other.job"), CLSID_CTaskScheduler, IID_ITask, Out(again)), REGDB_E_CLASSNOTREG);
        QVERIFY(!again);
        // A name without the extension is the same work item.
        QVERIFY(Activate(s.Get(), QStringLiteral("Later")));
        QCOMPARE(s->IsOfType(QStringLiteral("Later.job"), IID_ITask), S_OK);
        QCOMPARE(s->IsOfType(QStringLiteral("Later.job"), IID_ITaskScheduler), S_FALSE);

        // Two objects created for the same new name: the second save must not replace the first.
        ComPtr<ITask> first = NewTask(s.Get(), QStringLiteral("Race.job"));
        ComPtr<ITask> second = NewTask(s.Get(), QStringLiteral("Race.job"));
        ComPtr<IPersistFile> f1, f2;
        first.As(f1);
        second.As(f2);
        QCOMPARE(f1->Save(nullptr, true), S_OK);
        QCOMPARE(f2->Save(nullptr, true), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));

        QCOMPARE(s->Delete(QStringLiteral("Later.job")), S_OK);
        QCOMPARE(s->Delete(QStringLiteral("Later.job")), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        QCOMPARE(Names(s.Get()), QStringList{QStringLiteral("Race.job")});
    }

    void enumeration()
    {
        ComPtr<ITaskScheduler> s = Connect();
        for (const char* name : {"C.job", "A.job", "B.job"}) QCOMPARE(SaveNew(s.Get(), QString::fromLatin1(name)), S_OK);
        ComPtr<IEnumWorkItems> e;
        QCOMPARE(s->Enum(e.Put()), S_OK);
        QStringList names;
        ULONG fetched = 0;
        QCOMPARE(e->Next(2, &names, &fetched), S_OK);
        QCOMPARE(fetched, ULONG(2));
        QCOMPARE(names, (QStringList{QStringLiteral("A.job"), QStringLiteral("B.job")}));
        ComPtr<IEnumWorkItems> clone;
        QCOMPARE(e->Clone(clone.Put()), S_OK);
        QCOMPARE(e->Next(5, &names, &fetched), S_FALSE);
        QCOMPARE(names, QStringList{QStringLiteral("C.job")});
        QCOMPARE(e->Next(1, &names, &fetched), S_FALSE);
        QCOMPARE(fetched, ULONG(0));
        QVERIFY(names.isEmpty());
        QCOMPARE(clone->Next(1, &names, nullptr), S_OK);
        QCOMPARE(names, QStringList{QStringLiteral("C.job")});
        QCOMPARE(clone->Next(2, &names, nullptr), E_INVALIDARG);
        QCOMPARE(e->Reset(), S_OK);
        QCOMPARE(e->Skip(2), S_OK);
        QCOMPARE(e->Skip(2), S_FALSE);
        e->Reset();
        QCOMPARE(e->Skip(1), S_OK);
        QCOMPARE(e->Next(1, &names, &fetched), S_OK);
        QCOMPARE(names, QStringList{QStringLiteral("B.job")});
    }

    void dirtyAndFiles()
    {
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Main.job"));
        t->SetComment(QStringLiteral("original"));
        ComPtr<IPersistFile> file;
        t.As(file);
        QString path;
        QCOMPARE(file->GetCurFile(&path), S_OK);
        QCOMPARE(path, JobsDir() + QStringLiteral("/Main.job"));
        QCOMPARE(file->Save(nullptr, true), S_OK);
        QCOMPARE(file->IsDirty(), S_FALSE);
        t->SetComment(QStringLiteral("changed"));
        QCOMPARE(file->IsDirty(), S_OK);
        QCOMPARE(file->Load(path, 0), S_OK);
        QCOMPARE(file->IsDirty(), S_FALSE);
        QString comment;
        t->GetComment(&comment);
        QCOMPARE(comment, QStringLiteral("original"));
        CLSID clsid{};
        QCOMPARE(file->GetClassID(&clsid), S_OK);
        QVERIFY(clsid == CLSID_CTask);

        // Under a new name: a second file beside the first, which becomes the current file.
        t->SetComment(QStringLiteral("copy"));
        const QString copyPath = JobsDir() + QStringLiteral("/Copy.job");
        QCOMPARE(file->Save(&copyPath, true), S_OK);
        QCOMPARE(file->GetCurFile(&path), S_OK);
        QCOMPARE(path, copyPath);
        QCOMPARE(Names(s.Get()), (QStringList{QStringLiteral("Copy.job"), QStringLiteral("Main.job")}));
        Activate(s.Get(), QStringLiteral("Main.job"))->GetComment(&comment);
        QCOMPARE(comment, QStringLiteral("original"));
        Activate(s.Get(), QStringLiteral("Copy.job"))->GetComment(&comment);
        QCOMPARE(comment, QStringLiteral("copy"));

        // Without remembering, the object stays on its own file.
        const QString snapshot = QStringLiteral("Snapshot.job");
        t->SetComment(QStringLiteral("snap"));
        QCOMPARE(file->Save(&snapshot, false), S_OK);
        QCOMPARE(file->GetCurFile(&path), S_OK);
        QCOMPARE(path, copyPath);
        QCOMPARE(file->IsDirty(), S_OK);

        // Another task's file is never overwritten, nor a file outside the store.
        const QString mainName = QStringLiteral("Main.job");
        QCOMPARE(file->Save(&mainName, true), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
        const QString outside = m_home->Path() + QStringLiteral("/Elsewhere.job");
        QCOMPARE(file->Save(&outside, true), HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME));
        QVERIFY(!QFile::exists(outside));
        QCOMPARE(file->Load(outside, 0), HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME));
    }

    void triggers()
    {
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Triggers.job"));
        ComPtr<ITaskTrigger> objects[3];
        for (WORD i = 0; i < 3; ++i) {
            WORD index = 0;
            QCOMPARE(t->CreateTrigger(&index, objects[i].Put()), S_OK);
            QCOMPARE(index, i);
            TASK_TRIGGER fresh{};
            QCOMPARE(objects[i]->GetTrigger(&fresh), S_OK);
            QCOMPARE(fresh.cbTriggerSize, WORD(48));
            QCOMPARE(DWORD(fresh.TriggerType), DWORD(TASK_TIME_TRIGGER_ONCE));
            const TASK_TRIGGER record = Daily(TriggerRecords::kBegin, QTime(8 + i, 0));
            QCOMPARE(objects[i]->SetTrigger(&record), S_OK);
        }
        QCOMPARE(t->DeleteTrigger(1), S_OK);
        QCOMPARE(t->DeleteTrigger(2), E_INVALIDARG);
        // The object of the deleted trigger fails; the later one still addresses its own.
        TASK_TRIGGER r{};
        QCOMPARE(objects[1]->GetTrigger(&r), SCHED_E_TRIGGER_NOT_FOUND);
        QCOMPARE(objects[2]->GetTrigger(&r), S_OK);
        QCOMPARE(r.wStartHour, WORD(10));
        TASK_TRIGGER changed = Daily(TriggerRecords::kBegin, QTime(23, 0));
        changed.rgFlags = TASK_TRIGGER_FLAG_DISABLED;
        QCOMPARE(objects[2]->SetTrigger(&changed), S_OK);
        ComPtr<ITaskTrigger> none;
        QCOMPARE(t->GetTrigger(2, none.Put()), SCHED_E_TRIGGER_NOT_FOUND);

        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->Save(nullptr, true), S_OK);
        t = Activate(Connect().Get(), QStringLiteral("Triggers.job"));
        WORD count = 0;
        t->GetTriggerCount(&count);
        QCOMPARE(count, WORD(2));
        ComPtr<ITaskTrigger> trigger;
        t->GetTrigger(0, trigger.Put());
        trigger->GetTrigger(&r);
        QVERIFY(Same(r, Daily(TriggerRecords::kBegin, QTime(8, 0))));
        t->GetTrigger(1, trigger.Put());
        trigger->GetTrigger(&r);
        QVERIFY(Same(r, changed));
        QString text;
        QCOMPARE(t->GetTriggerString(1, &text), S_OK);
        QCOMPARE(text, QStringLiteral("At 23:00 every day, starting 15/03/2024 (disabled)"));
        QCOMPARE(t->GetTriggerString(2, &text), SCHED_E_TRIGGER_NOT_FOUND);
    }

    void setTriggerRefusesImpossible_data()
    {
        QTest::addColumn<QByteArray>("record");
        auto row = [](const char* name, const TASK_TRIGGER& t) {
            QTest::newRow(name) << TriggerRecords::Bytes(t);
        };
        TASK_TRIGGER t = Daily();
        t.cbTriggerSize = 47;
        row("size 47", t);
        t = Daily();
        t.TriggerType = TASK_TRIGGER_TYPE(8);
        row("kind 8", t);
        t = Daily();
        t.wStartHour = 24;
        row("hour 24", t);
        t = Daily();
        t.wBeginMonth = 13;
        row("month 13", t);
        t = Daily();
        t.rgFlags = TASK_TRIGGER_FLAG_HAS_END_DATE;
        t.wEndYear = 2023;
        t.wEndMonth = 1;
        t.wEndDay = 1;
        row("ends before it begins", t);
        t = Daily();
        t.MinutesInterval = 30;
        row("interval without duration", t);
        t = Daily();
        t.TriggerType = TASK_TIME_TRIGGER_MONTHLYDOW;
        t.Type.MonthlyDOW.wWhichWeek = 0;
        row("week 0", t);
    }
    void setTriggerRefusesImpossible()
    {
        QFETCH(QByteArray, record);
        TASK_TRIGGER bad;
        std::memcpy(&bad, record.constData(), sizeof bad);
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Bad.job"));
        WORD index;
        ComPtr<ITaskTrigger> trigger;
        t->CreateTrigger(&index, trigger.Put());
        const TASK_TRIGGER good = Daily(TriggerRecords::kBegin, QTime(6, 0));
        trigger->SetTrigger(&good);
        QCOMPARE(trigger->SetTrigger(&bad), E_INVALIDARG);
        TASK_TRIGGER back{};
        trigger->GetTrigger(&back);
        QVERIFY(Same(back, good));
        QCOMPARE(trigger->SetTrigger(nullptr), E_POINTER);
    }

    void runState()
    {
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("State.job"));
        HRESULT status = 0;
        QCOMPARE(t->GetStatus(&status), S_OK);
        QCOMPARE(status, SCHED_S_TASK_NOT_SCHEDULED);
        WORD index;
        ComPtr<ITaskTrigger> trigger;
        t->CreateTrigger(&index, trigger.Put());
        t->GetStatus(&status);
        QCOMPARE(status, SCHED_S_TASK_NO_VALID_TRIGGERS);   // a new trigger has no begin date
        SYSTEMTIME next{1, 1, 1, 1, 1, 1, 1, 1};
        QCOMPARE(t->GetNextRunTime(&next), SCHED_S_TASK_NO_VALID_TRIGGERS);
        QCOMPARE(next, SYSTEMTIME{});
        const TASK_TRIGGER daily = Daily();
        trigger->SetTrigger(&daily);
        t->GetStatus(&status);
        QCOMPARE(status, SCHED_S_TASK_HAS_NOT_RUN);
        SYSTEMTIME st{1, 1, 1, 1, 1, 1, 1, 1};
        QCOMPARE(t->GetMostRecentRunTime(&st), SCHED_S_TASK_HAS_NOT_RUN);
        QCOMPARE(st, SYSTEMTIME{});
        DWORD exitCode = 7;
        QCOMPARE(t->GetExitCode(&exitCode), SCHED_S_TASK_HAS_NOT_RUN);
        QCOMPARE(exitCode, DWORD(0));
        QCOMPARE(t->GetNextRunTime(&st), S_OK);   // every day at 09:00 from 15 March 2024 on
        QCOMPARE(st.wHour, WORD(9));
        QVERIFY(QDate(st.wYear, st.wMonth, st.wDay) >= QDate::currentDate());
        t->SetFlags(TASK_FLAG_DISABLED);
        t->GetStatus(&status);
        QCOMPARE(status, SCHED_S_TASK_DISABLED);
        QCOMPARE(t->GetNextRunTime(&st), SCHED_S_TASK_DISABLED);
        t->SetFlags(0);

        // Runs are recorded by the service beside the definition.
        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->Save(nullptr, true), S_OK);
        JobStore store{ServiceRoot(m_home->Path())};
        JobRuntime ran;
        ran.mostRecentRun = SYSTEMTIME{2024, 3, 5, 15, 9, 0, 2, 0};
        ran.exitCode = 42;
        QVERIFY(store.SaveRuntime(QStringLiteral("State.job"), ran).Ok());
        t->GetStatus(&status);
        QCOMPARE(status, SCHED_S_TASK_READY);
        QCOMPARE(t->GetMostRecentRunTime(&st), S_OK);
        QCOMPARE(st, ran.mostRecentRun);
        QCOMPARE(t->GetExitCode(&exitCode), S_OK);
        QCOMPARE(exitCode, DWORD(42));
        ran.running = true;
        QVERIFY(store.SaveRuntime(QStringLiteral("State.job"), ran).Ok());
        t->GetStatus(&status);
        QCOMPARE(status, SCHED_S_TASK_RUNNING);
        // Saving the definition again keeps what the service recorded.
        t->SetComment(QStringLiteral("edited"));
        QCOMPARE(file->Save(nullptr, true), S_OK);
        QCOMPARE(t->GetExitCode(&exitCode), S_OK);
        QCOMPARE(exitCode, DWORD(42));
        // One answer serves the status, the last run and the exit code once each: reading one
        // again asks, and so does a read after the schedule changed in memory.
        ran.running = false;
        ran.exitCode = 5;
        QVERIFY(store.SaveRuntime(QStringLiteral("State.job"), ran).Ok());
        QCOMPARE(t->GetStatus(&status), S_OK);
        QCOMPARE(status, SCHED_S_TASK_RUNNING);   // the answer of the exit code's read
        QCOMPARE(t->GetExitCode(&exitCode), S_OK);
        QCOMPARE(exitCode, DWORD(5));
        t->SetFlags(TASK_FLAG_DISABLED);
        QCOMPARE(t->GetStatus(&status), S_OK);
        QCOMPARE(status, SCHED_S_TASK_DISABLED);
        t->SetFlags(0);

        WORD count = 0;
        QList<SYSTEMTIME> times;
        const SYSTEMTIME begin{2024, 3, 5, 15, 0, 0, 0, 0};
        QCOMPARE(t->GetRunTimes(&begin, nullptr, &count, &times), E_INVALIDARG);
        count = TASK_MAX_RUN_TIMES + 1;
        QCOMPARE(t->GetRunTimes(&begin, nullptr, &count, &times), E_INVALIDARG);
        count = 3;
        QCOMPARE(t->GetRunTimes(&begin, nullptr, &count, &times), S_OK);
        QCOMPARE(count, WORD(3));
        QCOMPARE(times, (QList<SYSTEMTIME>{{2024, 3, 5, 15, 9, 0, 0, 0}, {2024, 3, 6, 16, 9, 0, 0, 0}, {2024, 3, 0, 17, 9, 0, 0, 0}}));
        const SYSTEMTIME end{2024, 3, 6, 16, 12, 0, 0, 0};
        count = 3;
        QCOMPARE(t->GetRunTimes(&begin, &end, &count, &times), S_FALSE);
        QCOMPARE(count, WORD(2));
        QCOMPARE(times.size(), 2);
    }

    void commandsWithoutDaemonOrWidgets()
    {
        ComPtr<ITaskScheduler> s = Connect();
        QCOMPARE(SaveNew(s.Get(), QStringLiteral("Cmd.job")), S_OK);
        ComPtr<ITask> t = Activate(s.Get(), QStringLiteral("Cmd.job"));
        QCOMPARE(t->Run(), SCHED_E_SERVICE_NOT_RUNNING);
        QCOMPARE(t->Terminate(), SCHED_E_SERVICE_NOT_RUNNING);
        // This program links no widgets: the service cannot make its pages here.
        QCOMPARE(t->EditWorkItem(nullptr, 0), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
        ComPtr<IProvideTaskPage> pages;
        QCOMPARE(t.As(pages), S_OK);
        HPROPSHEETPAGE page = nullptr;
        QCOMPARE(pages->GetPage(TASKPAGE_SCHEDULE, true, &page), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
        QVERIFY(!page);
        ComPtr<IScheduledWorkItem> item;
        QCOMPARE(t.As(item), S_OK);
        ComPtr<ITaskScheduler> notATask;
        QCOMPARE(t.As(notATask), E_NOINTERFACE);
    }

    void targetComputer()
    {
        ComPtr<ITaskScheduler> s = Connect();
        QString name;
        QCOMPARE(s->GetTargetComputer(&name), S_OK);
        QCOMPARE(name, QStringLiteral("\\\\") + QSysInfo::machineHostName());
        QCOMPARE(s->SetTargetComputer(nullptr), S_OK);
        const QString empty;
        QCOMPARE(s->SetTargetComputer(&empty), S_OK);
        QCOMPARE(s->SetTargetComputer(&name), S_OK);
        const QString other = QStringLiteral("\\\\no-such-computer");
        QCOMPARE(s->SetTargetComputer(&other), HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
    }

    void damagedFiles_data()
    {
        QTest::addColumn<int>("kind");   // 0 truncated, 1 wrong checksum, 2 not a task file
        QTest::addColumn<HRESULT>("expected");
        QTest::newRow("truncated") << 0 << HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
        QTest::newRow("wrong checksum") << 1 << HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
        QTest::newRow("not a task file") << 2 << SCHED_E_INVALID_TASK;
    }
    void damagedFiles()
    {
        QFETCH(int, kind);
        QFETCH(HRESULT, expected);
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Victim.job"));
        t->SetComment(QStringLiteral("a comment long enough to be damaged in the middle"));
        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->Save(nullptr, true), S_OK);
        QCOMPARE(SaveNew(s.Get(), QStringLiteral("Healthy.job")), S_OK);
        const QString path = JobsDir() + QStringLiteral("/Victim.job");
        QByteArray bytes = ReadFile(path);
        if (kind == 0) bytes.chop(5);
        if (kind == 1) bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] + 1);
        if (kind == 2) bytes = "#!/bin/sh\necho not a task\n";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        }
        // Listed, refused on activation, and left exactly as it is.
        QCOMPARE(Names(s.Get()), (QStringList{QStringLiteral("Healthy.job"), QStringLiteral("Victim.job")}));
        HRESULT hr;
        QVERIFY(!Activate(s.Get(), QStringLiteral("Victim.job"), &hr));
        QCOMPARE(hr, expected);
        QCOMPARE(s->IsOfType(QStringLiteral("Victim.job"), IID_ITask), expected);
        QVERIFY(Activate(s.Get(), QStringLiteral("Healthy.job")));
        QCOMPARE(ReadFile(path), bytes);
    }

    void randomFilesNeverCrash()
    {
        ComPtr<ITaskScheduler> s = Connect();
        ComPtr<ITask> t = NewTask(s.Get(), QStringLiteral("Seed.job"));
        WORD index;
        ComPtr<ITaskTrigger> trigger;
        t->CreateTrigger(&index, trigger.Put());
        ComPtr<IPersistFile> file;
        t.As(file);
        QCOMPARE(file->Save(nullptr, true), S_OK);
        const QByteArray seed = ReadFile(JobsDir() + QStringLiteral("/Seed.job"));
        QRandomGenerator rng(4711);
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = seed;
            if (round % 2) {
                bytes.resize(rng.bounded(300));
                for (char& c : bytes) c = char(rng.bounded(256));
            } else {
                for (int i = 0; i < 4; ++i) bytes[rng.bounded(int(bytes.size()))] = char(rng.bounded(256));
            }
            const QString path = JobsDir() + QStringLiteral("/Fuzz.job");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
            f.close();
            HRESULT hr;
            ComPtr<ITask> loaded = Activate(s.Get(), QStringLiteral("Fuzz.job"), &hr);
            if (loaded) {
                WORD count = 0;
                QCOMPARE(loaded->GetTriggerCount(&count), S_OK);
            } else {
                QVERIFY(FAILED(hr));
            }
            QCOMPARE(ReadFile(path), bytes);
        }
    }
};

QTEST_GUILESS_MAIN(TestGen1)
#include "tst_gen1.moc"
