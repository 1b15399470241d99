// The ".job" store, the status of a work item, and the "v1." requests of the service core.

#include "gen1/JobFile.h"
#include "gen1/JobSchedule.h"
#include "gen1/JobStore.h"
#include "ResultCodes.h"
#include "ServiceCore.h"
#include "TemporaryServiceRoot.h"
#include "TriggerRecords.h"

#include <QCborArray>
#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <QtTest>

namespace {

// The record these tests store: daily at midnight.
TASK_TRIGGER DailyTrigger()
{
    return TriggerRecords::Daily(TriggerRecords::kBegin, QTime(0, 0));
}

JobDefinition Definition(const QString& comment)
{
    JobDefinition d;
    d.applicationName = QStringLiteral("/bin/true");
    d.comment = comment;
    d.triggers = {DailyTrigger()};
    return d;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class TestJobStore : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TemporaryServiceRoot> m_home;
    std::unique_ptr<ServiceRoot> m_root;
    std::unique_ptr<JobStore> m_store;

    QString JobPath(const QString& name) const { return m_root->JobsDir() + QLatin1Char('/') + name; }

private slots:
    void init()
    {
        m_home = std::make_unique<TemporaryServiceRoot>();
        m_root = std::make_unique<ServiceRoot>(m_home->Path());
        QVERIFY(m_root->Ensure());
        m_store = std::make_unique<JobStore>(*m_root);
    }
    void cleanup()
    {
        m_store.reset();
        m_root.reset();
        m_home.reset();
    }

    void saveLoadListRemove()
    {
        QVERIFY(m_store->Save(QStringLiteral("B.job"), Definition(QStringLiteral("b")), JobStore::SaveMode::CreateNew).Ok());
        QVERIFY(m_store->Save(QStringLiteral("A.job"), Definition(QStringLiteral("a")), JobStore::SaveMode::CreateNew).Ok());
        QCOMPARE(m_store->List(), (QStringList{QStringLiteral("A.job"), QStringLiteral("B.job")}));
        JobDefinition d;
        JobRuntime r;
        QVERIFY(m_store->Load(QStringLiteral("B.job"), &d, &r).Ok());
        QVERIFY(d == Definition(QStringLiteral("b")));
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(JobPath(QStringLiteral("B.job"))) & others, QFile::Permissions());
        QVERIFY(m_store->Remove(QStringLiteral("B.job")).Ok());
        QCOMPARE(m_store->List(), QStringList{QStringLiteral("A.job")});
        QCOMPARE(m_store->Remove(QStringLiteral("B.job")).hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        QCOMPARE(m_store->Load(QStringLiteral("B.job"), &d, &r).hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        // No temporary files are left behind by the crash-safe writes.
        QCOMPARE(QDir(m_root->JobsDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("A.job")});
    }

    void createNewRefusesTakenName()
    {
        QVERIFY(m_store->Save(QStringLiteral("A.job"), Definition(QStringLiteral("first")), JobStore::SaveMode::CreateNew).Ok());
        const JobResult r = m_store->Save(QStringLiteral("A.job"), Definition(QStringLiteral("second")), JobStore::SaveMode::CreateNew);
        QCOMPARE(r.hr, HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
        JobDefinition d;
        JobRuntime rt;
        QVERIFY(m_store->Load(QStringLiteral("A.job"), &d, &rt).Ok());
        QCOMPARE(d.comment, QStringLiteral("first"));
    }

    void namesIgnoreCase_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::newRow("same") << "Backup.job";
        QTest::newRow("lower") << "backup.job";
        QTest::newRow("upper with extension") << "BACKUP.JOB";
    }

    void namesIgnoreCase()
    {
        QFETCH(QString, asked);
        QVERIFY(m_store->Save(QStringLiteral("Backup.job"), Definition(QStringLiteral("first")), JobStore::SaveMode::CreateNew).Ok());
        const JobResult refused = m_store->Save(asked, Definition(QStringLiteral("second")), JobStore::SaveMode::CreateNew);
        QCOMPARE(refused.hr, HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
        QVERIFY(refused.error.contains(QStringLiteral("Backup.job")));
        QVERIFY(m_store->Exists(asked));
        QCOMPARE(m_store->StoredName(asked), QStringLiteral("Backup.job"));
        QVERIFY(m_store->Save(asked, Definition(QStringLiteral("replaced")), JobStore::SaveMode::Replace).Ok());
        QCOMPARE(m_store->List(), QStringList{QStringLiteral("Backup.job")});   // the stored spelling stays
        JobDefinition d;
        JobRuntime r;
        QVERIFY(m_store->Load(asked, &d, &r).Ok());
        QCOMPARE(d.comment, QStringLiteral("replaced"));
        QVERIFY(m_store->Remove(asked).Ok());
        QVERIFY(m_store->List().isEmpty());
    }

    void twoStoredSpellingsStayApart()
    {
        QVERIFY(m_store->Save(QStringLiteral("Backup.job"), Definition(QStringLiteral("upper")), JobStore::SaveMode::CreateNew).Ok());
        QVERIFY(QFile::copy(JobPath(QStringLiteral("Backup.job")), JobPath(QStringLiteral("backup.job"))));
        QVERIFY(m_store->Save(QStringLiteral("backup.job"), Definition(QStringLiteral("lower")), JobStore::SaveMode::Replace).Ok());
        QCOMPARE(m_store->List(), (QStringList{QStringLiteral("Backup.job"), QStringLiteral("backup.job")}));
        JobDefinition d;
        JobRuntime r;
        QVERIFY(m_store->Load(QStringLiteral("Backup.job"), &d, &r).Ok());
        QCOMPARE(d.comment, QStringLiteral("upper"));
        QVERIFY(m_store->Remove(QStringLiteral("backup.job")).Ok());
        QCOMPARE(m_store->List(), QStringList{QStringLiteral("Backup.job")});
    }

    void replaceKeepsRunFacts()
    {
        QVERIFY(m_store->Save(QStringLiteral("A.job"), Definition(QStringLiteral("1")), JobStore::SaveMode::CreateNew).Ok());
        JobRuntime ran;
        ran.mostRecentRun = SYSTEMTIME{2024, 3, 5, 15, 9, 0, 0, 0};
        ran.exitCode = 2;
        QVERIFY(m_store->SaveRuntime(QStringLiteral("A.job"), ran).Ok());
        QVERIFY(m_store->Save(QStringLiteral("A.job"), Definition(QStringLiteral("2")), JobStore::SaveMode::Replace).Ok());
        JobDefinition d;
        JobRuntime r;
        QVERIFY(m_store->Load(QStringLiteral("A.job"), &d, &r).Ok());
        QCOMPARE(d.comment, QStringLiteral("2"));
        QCOMPARE(r, ran);
        QCOMPARE(m_store->SaveRuntime(QStringLiteral("Gone.job"), ran).hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << QStringLiteral("Backup.job") << true;
        QTest::newRow("capital extension") << QStringLiteral("Backup.JOB") << true;
        QTest::newRow("spaces and accents") << QStringLiteral("Sauvegarde d\u00e9j\u00e0 faite.job") << true;
        QTest::newRow("no extension") << QStringLiteral("Backup") << false;
        QTest::newRow("extension only") << QStringLiteral(".job") << false;
        QTest::newRow("slash") << QStringLiteral("a/b.job") << false;
        QTest::newRow("backslash") << QStringLiteral("a\\b.job") << false;
        QTest::newRow("parent") << QStringLiteral("...job") << false;
        QTest::newRow("dot dot inside") << QStringLiteral("a..b.job") << false;
        QTest::newRow("newline") << QStringLiteral("a\nb.job") << false;
        QTest::newRow("nul") << QString(QStringLiteral("a%1b.job")).arg(QChar(0)) << false;
        QTest::newRow("lone surrogate") << QString(QStringLiteral("a%1.job")).arg(QChar(0xD800)) << false;
        QTest::newRow("too long") << QString(252, QLatin1Char('x')) + QStringLiteral(".job") << false;
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QCOMPARE(JobStore::ValidateName(name).Ok(), valid);
        const JobResult r = m_store->Save(name, Definition({}), JobStore::SaveMode::CreateNew);
        QCOMPARE(r.Ok(), valid);
        if (!valid) {
            QCOMPARE(r.hr, HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
            QVERIFY(!r.error.isEmpty());
        }
        QCOMPARE(m_store->List().size(), valid ? 1 : 0);
    }

    void withJobExtension()
    {
        QCOMPARE(JobStore::WithJobExtension(QStringLiteral("Backup")), QStringLiteral("Backup.job"));
        QCOMPARE(JobStore::WithJobExtension(QStringLiteral("Backup.JOB")), QStringLiteral("Backup.JOB"));
        QCOMPARE(JobStore::WithJobExtension(QStringLiteral("Backup.txt")), QStringLiteral("Backup.txt.job"));
    }

    void listingLeavesOthersOut()
    {
        QVERIFY(m_store->Save(QStringLiteral("Real.job"), Definition({}), JobStore::SaveMode::CreateNew).Ok());
        WriteFile(JobPath(QStringLiteral("notes.txt")), "x");
        QVERIFY(QDir(m_root->JobsDir()).mkdir(QStringLiteral("Folder.job")));
        QVERIFY(QFile::link(JobPath(QStringLiteral("Real.job")), JobPath(QStringLiteral("Link.job"))));
        WriteFile(JobPath(QStringLiteral("Bad\tname.job")), "x");
        QCOMPARE(m_store->List(), QStringList{QStringLiteral("Real.job")});
        JobDefinition d;
        JobRuntime r;
        QCOMPARE(m_store->Load(QStringLiteral("Link.job"), &d, &r).hr, SCHED_E_INVALID_TASK);
        QCOMPARE(m_store->Load(QStringLiteral("Folder.job"), &d, &r).hr, SCHED_E_INVALID_TASK);
        QCOMPARE(m_store->Save(QStringLiteral("Link.job"), Definition({}), JobStore::SaveMode::Replace).hr, E_ACCESSDENIED);
    }

    void damagedFileIsReportedAndKept()
    {
        QVERIFY(m_store->Save(QStringLiteral("Good.job"), Definition({}), JobStore::SaveMode::CreateNew).Ok());
        QByteArray bytes = ReadFile(JobPath(QStringLiteral("Good.job")));
        bytes.chop(3);
        WriteFile(JobPath(QStringLiteral("Cut.job")), bytes);
        QCOMPARE(m_store->List(), (QStringList{QStringLiteral("Cut.job"), QStringLiteral("Good.job")}));
        JobDefinition d;
        JobRuntime r;
        const JobResult load = m_store->Load(QStringLiteral("Cut.job"), &d, &r);
        QCOMPARE(load.hr, HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
        QVERIFY(load.error.contains(QStringLiteral("Cut.job")));
        QCOMPARE(ReadFile(JobPath(QStringLiteral("Cut.job"))), bytes);
        // Its owner may still save a sound work item over it.
        QVERIFY(m_store->Save(QStringLiteral("Cut.job"), Definition(QStringLiteral("fixed")), JobStore::SaveMode::Replace).Ok());
        QVERIFY(m_store->Load(QStringLiteral("Cut.job"), &d, &r).Ok());
        QCOMPARE(d.comment, QStringLiteral("fixed"));
    }

    void oversizedFileIsNotRead()
    {
        QFile f(JobPath(QStringLiteral("Huge.job")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(JobFile::kMaxFileSize + 1));
        f.close();
        JobDefinition d;
        JobRuntime r;
        QCOMPARE(m_store->Load(QStringLiteral("Huge.job"), &d, &r).hr, HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
    }

    void status_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("triggers");   // 0 none, 1 daily, 2 disabled, 3 no begin date, 4 logon, 5 once, past
        QTest::addColumn<bool>("ran");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("terminated");
        QTest::addColumn<HRESULT>("status");
        QTest::newRow("never ran") << 0 << 1 << false << false << false << SCHED_S_TASK_HAS_NOT_RUN;
        QTest::newRow("ran") << 0 << 1 << true << false << false << SCHED_S_TASK_READY;
        QTest::newRow("running") << int(TASK_FLAG_DISABLED) << 0 << true << true << false << SCHED_S_TASK_RUNNING;
        QTest::newRow("disabled") << int(TASK_FLAG_DISABLED) << 1 << true << false << false << SCHED_S_TASK_DISABLED;
        QTest::newRow("no triggers") << 0 << 0 << true << false << false << SCHED_S_TASK_NOT_SCHEDULED;
        QTest::newRow("disabled trigger") << 0 << 2 << true << false << false << SCHED_S_TASK_NO_VALID_TRIGGERS;
        QTest::newRow("trigger without date") << 0 << 3 << false << false << false << SCHED_S_TASK_NO_VALID_TRIGGERS;
        QTest::newRow("event trigger") << 0 << 4 << false << false << false << SCHED_S_TASK_HAS_NOT_RUN;
        QTest::newRow("once, in the past") << 0 << 5 << false << false << false << SCHED_S_TASK_NO_MORE_RUNS;
        QTest::newRow("terminated") << 0 << 1 << true << false << true << SCHED_S_TASK_TERMINATED;
    }
    void status()
    {
        QFETCH(int, flags);
        QFETCH(int, triggers);
        QFETCH(bool, ran);
        QFETCH(bool, running);
        QFETCH(bool, terminated);
        QFETCH(HRESULT, status);
        JobDefinition d;
        d.flags = DWORD(flags);
        TASK_TRIGGER t = DailyTrigger();
        if (triggers == 2) t.rgFlags = TASK_TRIGGER_FLAG_DISABLED;
        if (triggers == 3) t.wBeginYear = t.wBeginMonth = t.wBeginDay = 0;
        if (triggers == 4) t.TriggerType = TASK_EVENT_TRIGGER_AT_LOGON;
        if (triggers == 5) t.TriggerType = TASK_TIME_TRIGGER_ONCE;
        if (triggers) d.triggers = {t};
        JobRuntime r;
        if (ran) r.mostRecentRun = SYSTEMTIME{2024, 3, 0, 17, 0, 0, 0, 0};
        r.running = running;
        r.terminated = terminated;
        const ScheduleEngine engine(QTimeZone::utc());
        QCOMPARE(JobSchedule::Status(d, r, QDateTime(QDate(2024, 3, 20), QTime(12, 0), QTimeZone::utc()), engine), status);
    }

    void runTimes()
    {
        const ScheduleEngine engine(QTimeZone::utc());
        QList<SYSTEMTIME> times{SYSTEMTIME{}};
        const SYSTEMTIME begin{2024, 3, 6, 16, 0, 0, 0, 0};
        JobDefinition d;
        QCOMPARE(JobSchedule::RunTimes(d, begin, nullptr, 5, engine, &times), SCHED_S_TASK_NO_VALID_TRIGGERS);
        QVERIFY(times.isEmpty());
        TASK_TRIGGER daily = DailyTrigger();
        daily.wStartHour = 9;
        TASK_TRIGGER logon = DailyTrigger();
        logon.TriggerType = TASK_EVENT_TRIGGER_AT_LOGON;
        d.triggers = {logon};
        QCOMPARE(JobSchedule::RunTimes(d, begin, nullptr, 5, engine, &times), SCHED_S_EVENT_TRIGGER);
        d.triggers = {logon, daily};
        QCOMPARE(JobSchedule::RunTimes(d, begin, nullptr, 3, engine, &times), S_OK);
        QCOMPARE(times, (QList<SYSTEMTIME>{{2024, 3, 6, 16, 9, 0, 0, 0}, {2024, 3, 0, 17, 9, 0, 0, 0}, {2024, 3, 1, 18, 9, 0, 0, 0}}));
        const SYSTEMTIME end{2024, 3, 0, 17, 23, 59, 0, 0};
        QCOMPARE(JobSchedule::RunTimes(d, begin, &end, 3, engine, &times), S_FALSE);
        QCOMPARE(times.size(), 2);
        // A repetition and an end date in force, both from the record.
        daily.MinutesDuration = 30;
        daily.MinutesInterval = 15;
        daily.rgFlags = TASK_TRIGGER_FLAG_HAS_END_DATE;
        daily.wEndYear = 2024;
        daily.wEndMonth = 3;
        daily.wEndDay = 16;
        d.triggers = {daily};
        QCOMPARE(JobSchedule::RunTimes(d, begin, nullptr, 10, engine, &times), S_FALSE);
        QCOMPARE(times, (QList<SYSTEMTIME>{{2024, 3, 6, 16, 9, 0, 0, 0}, {2024, 3, 6, 16, 9, 15, 0, 0}}));
        TASK_TRIGGER dow = DailyTrigger();
        dow.TriggerType = TASK_TIME_TRIGGER_MONTHLYDOW;
        dow.Type.MonthlyDOW.wWhichWeek = TASK_LAST_WEEK;
        dow.Type.MonthlyDOW.rgfDaysOfTheWeek = TASK_FRIDAY;
        dow.Type.MonthlyDOW.rgfMonths = 0xFFF;
        d.triggers = {dow};
        QCOMPARE(JobSchedule::RunTimes(d, begin, nullptr, 2, engine, &times), S_OK);
        QCOMPARE(times, (QList<SYSTEMTIME>{{2024, 3, 5, 29, 0, 0, 0, 0}, {2024, 4, 5, 26, 0, 0, 0, 0}}));
        d.flags = TASK_FLAG_DISABLED;
        QCOMPARE(JobSchedule::RunTimes(d, begin, nullptr, 5, engine, &times), SCHED_S_TASK_DISABLED);
        const SYSTEMTIME nonsense{2024, 13, 0, 1, 0, 0, 0, 0};
        QCOMPARE(JobSchedule::RunTimes(d, nonsense, nullptr, 5, engine, &times), E_INVALIDARG);
    }

    void requests()
    {
        ServiceCore core(*m_root);
        const ClientIdentity me;
        auto call = [&](const QString& op, QCborMap args) {
            args.insert(QStringLiteral("op"), op);
            return core.Handle(args, me);
        };
        auto hr = [](const QCborMap& reply) { return HRESULT(reply.value(QStringLiteral("hr")).toInteger()); };

        QCborMap save = call(QStringLiteral("v1.save"), {{QStringLiteral("name"), QStringLiteral("Backup")},
                                                         {QStringLiteral("job"), Definition(QStringLiteral("c")).ToCbor()},
                                                         {QStringLiteral("create"), true}});
        QCOMPARE(hr(save), S_OK);
        QCOMPARE(save.value(QStringLiteral("name")).toString(), QStringLiteral("Backup.job"));
        QCOMPARE(call(QStringLiteral("v1.list"), {}).value(QStringLiteral("names")).toArray(),
                 QCborArray{QStringLiteral("Backup.job")});
        QCOMPARE(call(QStringLiteral("v1.exists"), {{QStringLiteral("name"), QStringLiteral("Backup.job")}})
                     .value(QStringLiteral("exists")).toBool(), true);

        QCborMap bad = Definition({}).ToCbor();
        bad.insert(QStringLiteral("data"), QByteArray(70000, 'x'));
        const QCborMap refused = call(QStringLiteral("v1.save"), {{QStringLiteral("name"), QStringLiteral("Backup")},
                                                                  {QStringLiteral("job"), bad}});
        QCOMPARE(hr(refused), E_INVALIDARG);
        QVERIFY(!refused.value(QStringLiteral("error")).toString().isEmpty());
        QCOMPARE(hr(call(QStringLiteral("v1.save"), {{QStringLiteral("name"), QStringLiteral("x")}})), E_INVALIDARG);

        const QCborMap state = call(QStringLiteral("v1.state"), {{QStringLiteral("name"), QStringLiteral("New.job")},
                                                                 {QStringLiteral("job"), Definition({}).ToCbor()}});
        QCOMPARE(hr(state), S_OK);
        QCOMPARE(HRESULT(state.value(QStringLiteral("status")).toInteger()), SCHED_S_TASK_HAS_NOT_RUN);
        QCOMPARE(state.value(QStringLiteral("hasRun")).toBool(), false);

        QCOMPARE(hr(call(QStringLiteral("v1.runtimes"), {{QStringLiteral("job"), Definition({}).ToCbor()},
                                                         {QStringLiteral("count"), 0}})),
                 E_INVALIDARG);
        QCOMPARE(hr(call(QStringLiteral("v1.runtimes"), {{QStringLiteral("job"), Definition({}).ToCbor()},
                                                         {QStringLiteral("count"), 1},
                                                         {QStringLiteral("begin"), QStringLiteral("today")}})),
                 E_INVALIDARG);
        QCOMPARE(hr(call(QStringLiteral("v1.run"), {{QStringLiteral("name"), QStringLiteral("Backup.job")}})),
                 SCHED_E_SERVICE_NOT_RUNNING);
        QCOMPARE(hr(call(QStringLiteral("v1.terminate"), {{QStringLiteral("name"), QStringLiteral("Backup.job")}})),
                 SCHED_E_SERVICE_NOT_RUNNING);
        QCOMPARE(hr(call(QStringLiteral("v1.load"), {{QStringLiteral("name"), QStringLiteral("../etc/passwd")}})),
                 HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
        QCOMPARE(hr(call(QStringLiteral("v1.delete"), {{QStringLiteral("name"), QStringLiteral("Backup")}})), S_OK);
        QCOMPARE(hr(call(QStringLiteral("v1.load"), {{QStringLiteral("name"), QStringLiteral("Backup")}})),
                 HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }
};

QTEST_GUILESS_MAIN(TestJobStore)
#include "tst_jobstore.moc"
