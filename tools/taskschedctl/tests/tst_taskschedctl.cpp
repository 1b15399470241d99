// taskschedctl's commands against a private service root, each checked through the library:
// what they create and change, their JSON, their exit codes and messages for bad usage and
// refused requests, and the run history kept by a real daemon.

#include "CtlCommandRunner.h"
#include "CtlCommandSpecs.h"
#include "DaemonHarness.h"
#include "TemporaryServiceRoot.h"
#include "kvTask.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

struct CtlResult {
    int code = -1;
    QString out;
    QString err;
    QJsonObject Json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

CtlResult Ctl(const QStringList& arguments, const QString& input = {})
{
    CtlResult result;
    QString inputText = input;
    QTextStream out(&result.out), err(&result.err), in(&inputText);
    result.code = RunTaskSchedCtl(arguments, out, err, in);
    return result;
}

} // namespace

class TestTaskSchedCtl : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void createsEachCalendarKind_data();
    void createsEachCalendarKind();
    void createsFirstGenerationTasks();
    void listsTheFolderTreeAsJson();
    void enablesAndDisables_data();
    void enablesAndDisables();
    void deletesTasksAndFolders();
    void exportsAndImportsDefinitions();
    void refusesBadUsage_data();
    void refusesBadUsage();
    void reportsRefusalsAndMissingThings_data();
    void reportsRefusalsAndMissingThings();
    void helpManPageAndCompletionCoverEveryCommand();
    void runsThroughTheDaemonAndShowsTheHistory();

private:
    std::unique_ptr<TemporaryServiceRoot> m_root;
    std::unique_ptr<TTaskScheduler> m_scheduler;

    TTaskItem* Find(const QString& folder, const QString& name, bool v1 = false);
};

void TestTaskSchedCtl::init()
{
    m_root = std::make_unique<TemporaryServiceRoot>();
    QVERIFY(m_root->IsValid());
}

void TestTaskSchedCtl::cleanup()
{
    m_scheduler.reset();
    m_root.reset();
}

TTaskItem* TestTaskSchedCtl::Find(const QString& folder, const QString& name, bool v1)
{
    m_scheduler = std::make_unique<TTaskScheduler>();
    m_scheduler->SetUseTaskScheduler1Only(v1);
    m_scheduler->Open();
    m_scheduler->CurrentFolderPath = folder;
    m_scheduler->Refresh();
    TTaskItem* task = m_scheduler->ActivateTask(name);
    if (task) task->Activate();
    return task;
}

void TestTaskSchedCtl::createsEachCalendarKind_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<int>>("details");   // the record's kind-specific words, as the kind reads them

    // 2026-12-10 is a Thursday.
    QTest::newRow("once at the given time") << QStringList{"--once", "--at", "2026-12-10 08:30"} << int(ttOnce) << QList<int>{};
    QTest::newRow("daily every third day") << QStringList{"--daily", "--every", "3", "--at", "2026-12-10 08:30"} << int(ttDaily)
                                           << QList<int>{3};
    QTest::newRow("weekly defaults to the start's weekday") << QStringList{"--weekly", "--at", "2026-12-10 08:30"} << int(ttWeekly)
                                                            << QList<int>{1, 1 << 4};
    QTest::newRow("weekly on named days") << QStringList{"--weekly", "--every", "2", "--days", "mon,Friday", "--at", "2026-12-10 08:30"}
                                          << int(ttWeekly) << QList<int>{2, (1 << 1) | (1 << 5)};
    QTest::newRow("monthly on day 31 of two months") << QStringList{"--monthly", "--day", "31", "--months", "jan,jul", "--at", "2026-12-10 08:30"}
                                                     << int(ttMonthlyDate) << QList<int>{int(1u << 30), 1 | (1 << 6)};
    QTest::newRow("monthly on the last sunday") << QStringList{"--monthly-dow", "--week", "last", "--days", "sun", "--at", "2026-12-10 08:30"}
                                                << int(ttMonthlyDow) << QList<int>{5, 1, 0xFFF};
}

void TestTaskSchedCtl::createsEachCalendarKind()
{
    QFETCH(QStringList, options);
    QFETCH(int, type);
    QFETCH(QList<int>, details);

    const CtlResult made = Ctl(QStringList{"create", "Reports/Nightly", "--program", "/bin/echo", "--arguments", "a b",
                                           "--comment", "made by a script"} + options);
    QCOMPARE(made.code, 3);   // the folder does not exist yet
    QVERIFY2(made.err.contains("No folder \"\\Reports\""), qPrintable(made.err));
    QCOMPARE(Ctl({"mkdir", "/Reports"}).code, 0);
    const CtlResult second = Ctl(QStringList{"create", "Reports/Nightly", "--program", "/bin/echo", "--arguments", "a b",
                                             "--comment", "made by a script"} + options);
    QVERIFY2(second.code == 0, qPrintable(second.err));

    TTaskItem* task = Find("\\Reports", "Nightly");
    QVERIFY(task);
    QCOMPARE(task->GetApplicationName(), QStringLiteral("/bin/echo"));
    QCOMPARE(task->GetParameters(), QStringLiteral("a b"));
    QCOMPARE(task->GetComment(), QStringLiteral("made by a script"));
    QCOMPARE(task->GetTriggers()->GetCount(), 1);
    TTrigger* trigger = task->GetTriggers()->GetItem(0);
    QCOMPARE(int(trigger->GetTriggerType()), type);
    QCOMPARE(DateTimeToQDateTime(trigger->GetBeginDate()).date(), QDate(2026, 12, 10));
    QCOMPARE(DateTimeToTime(trigger->GetStartTime()), QTime(8, 30));
    const TRIGGER_TYPE_UNION d = trigger->GetDetails();
    switch (type) {
    case ttDaily: QCOMPARE(int(d.Daily.DaysInterval), details[0]); break;
    case ttWeekly:
        QCOMPARE(int(d.Weekly.WeeksInterval), details[0]);
        QCOMPARE(int(d.Weekly.rgfDaysOfTheWeek), details[1]);
        break;
    case ttMonthlyDate:
        QCOMPARE(int(d.MonthlyDate.rgfDays), details[0]);
        QCOMPARE(int(d.MonthlyDate.rgfMonths), details[1]);
        break;
    case ttMonthlyDow:
        QVERIFY(trigger->GetVistaMonthlyDOWWeeks().Contains(tvmdowLast));
        QCOMPARE(int(d.MonthlyDOW.rgfDaysOfTheWeek), details[1]);
        QCOMPARE(int(d.MonthlyDOW.rgfMonths), details[2]);
        break;
    default: break;
    }
}

void TestTaskSchedCtl::createsFirstGenerationTasks()
{
    const CtlResult made = Ctl({"--v1", "create", "Backup", "--program", "/bin/true", "--daily", "--at", "2027-01-05 22:00", "--disabled"});
    QVERIFY2(made.code == 0, qPrintable(made.err));
    TTaskItem* task = Find("\\", "Backup", true);
    QVERIFY(task);
    QVERIFY(task->GetFlags().Contains(tfDisabled));
    QCOMPARE(int(task->GetTriggers()->GetItem(0)->GetTriggerType()), int(ttDaily));

    const CtlResult listed = Ctl({"list", "--v1", "--json"});
    QCOMPARE(listed.code, 0);
    const QJsonObject json = listed.Json();
    QCOMPARE(json["generation"].toString(), QStringLiteral("1.0"));
    const QJsonArray tasks = json["folders"].toArray().at(0).toObject()["tasks"].toArray();
    QCOMPARE(tasks.size(), 1);
    QCOMPARE(tasks.at(0).toObject()["name"].toString(), QStringLiteral("Backup"));
    QCOMPARE(tasks.at(0).toObject()["enabled"].toBool(), false);

    // 1.0 has no folders and no documents.
    QCOMPARE(Ctl({"--v1", "show", "Reports/Backup"}).code, 2);
    QCOMPARE(Ctl({"--v1", "export", "Backup"}).code, 2);
    QCOMPARE(Ctl({"--v1", "delete", "Backup"}).code, 0);
    QCOMPARE(Ctl({"--v1", "delete", "Backup"}).code, 3);
}

void TestTaskSchedCtl::listsTheFolderTreeAsJson()
{
    QCOMPARE(Ctl({"mkdir", "\\A\\B"}).code, 0);
    QCOMPARE(Ctl({"create", "Top", "--program", "/bin/true", "--once", "--at", "2099-01-01 10:00"}).code, 0);
    QCOMPARE(Ctl({"create", "A/B/Deep", "--program", "/bin/true"}).code, 0);

    const CtlResult all = Ctl({"--json", "list"});
    QCOMPARE(all.code, 0);
    const QJsonArray folders = all.Json()["folders"].toArray();
    QStringList paths;
    QStringList tasks;
    for (const QJsonValue& f : folders) {
        paths << f.toObject()["path"].toString();
        for (const QJsonValue& t : f.toObject()["tasks"].toArray()) tasks << t.toObject()["path"].toString();
    }
    QCOMPARE(paths, (QStringList{"\\", "\\A", "\\A\\B"}));
    QCOMPARE(tasks, (QStringList{"\\Top", "\\A\\B\\Deep"}));
    const QJsonObject top = folders.at(0).toObject()["tasks"].toArray().at(0).toObject();
    QCOMPARE(QDateTime::fromString(top["nextRun"].toString(), Qt::ISODate), QDateTime(QDate(2099, 1, 1), QTime(10, 0)));
    QVERIFY(top["lastRun"].isNull());
    QCOMPARE(top["status"].toString(), QStringLiteral("ready"));

    const CtlResult one = Ctl({"list", "A", "--no-recurse", "--json"});
    QCOMPARE(one.Json()["folders"].toArray().size(), 1);
    const CtlResult table = Ctl({"list"});
    QVERIFY(table.out.startsWith("TASK"));
    QVERIFY(table.out.contains("\\A\\B\\Deep"));
    QVERIFY(table.out.contains("2099-01-01 10:00"));
}

void TestTaskSchedCtl::enablesAndDisables_data()
{
    QTest::addColumn<bool>("v1");
    QTest::newRow("2.0") << false;
    QTest::newRow("1.0") << true;
}

void TestTaskSchedCtl::enablesAndDisables()
{
    QFETCH(bool, v1);
    const QStringList gen = v1 ? QStringList{"--v1"} : QStringList{};
    auto enabled = [&] {
        TTaskItem* task = Find("\\", "Job", v1);
        return v1 ? !task->GetFlags().Contains(tfDisabled) : task->GetVistaFlag(tfvEnabled);
    };
    QCOMPARE(Ctl(gen + QStringList{"create", "Job", "--program", "/bin/true"}).code, 0);
    QVERIFY(enabled());
    QCOMPARE(Ctl(gen + QStringList{"disable", "Job"}).code, 0);
    QVERIFY(!enabled());
    QCOMPARE(Ctl(gen + QStringList{"enable", "Job"}).code, 0);
    QVERIFY(enabled());
    QCOMPARE(Ctl(gen + QStringList{"create", "Job", "--program", "/bin/true"}).code, 1);   // never replaces
    QCOMPARE(Ctl(gen + QStringList{"enable", "Nope"}).code, 3);
}

void TestTaskSchedCtl::deletesTasksAndFolders()
{
    QCOMPARE(Ctl({"mkdir", "Box"}).code, 0);
    QCOMPARE(Ctl({"mkdir", "Box"}).code, 1);
    QCOMPARE(Ctl({"create", "Box/Inside", "--program", "/bin/true"}).code, 0);
    const CtlResult notEmpty = Ctl({"rmdir", "Box"});
    QCOMPARE(notEmpty.code, 1);
    QVERIFY(!notEmpty.err.isEmpty());
    QCOMPARE(Ctl({"delete", "Box/Inside"}).code, 0);
    QVERIFY(!Find("\\Box", "Inside"));
    QCOMPARE(Ctl({"rmdir", "Box"}).code, 0);
    QCOMPARE(Ctl({"rmdir", "Box"}).code, 3);
    QCOMPARE(Ctl({"rmdir", "\\"}).code, 1);
}

void TestTaskSchedCtl::exportsAndImportsDefinitions()
{
    QCOMPARE(Ctl({"create", "Original", "--program", "/bin/echo", "--arguments", "hello", "--weekly", "--days", "tue"}).code, 0);
    const CtlResult exported = Ctl({"export", "Original"});
    QCOMPARE(exported.code, 0);
    QVERIFY(exported.out.contains("/bin/echo"));

    const CtlResult imported = Ctl({"import", "Copy", "--json"}, exported.out);
    QVERIFY2(imported.code == 0, qPrintable(imported.err));
    QCOMPARE(imported.Json()["path"].toString(), QStringLiteral("\\Copy"));
    TTaskItem* copy = Find("\\", "Copy");
    QCOMPARE(copy->GetParameters(), QStringLiteral("hello"));
    QCOMPARE(int(copy->GetTriggers()->GetItem(0)->GetTriggerType()), int(ttWeekly));

    // A taken name is replaced only when asked; a file works like standard input.
    QCOMPARE(Ctl({"import", "Copy"}, exported.out).code, 1);
    const QString file = m_root->Path() + "/def.xml";
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QString(exported.out).replace("hello", "again").toUtf8());
    out.close();
    QCOMPARE(Ctl({"import", "--replace", "Copy", file}).code, 0);
    QCOMPARE(Find("\\", "Copy")->GetParameters(), QStringLiteral("again"));

    // A broken document is refused with the service's reason, and nothing is registered.
    const CtlResult broken = Ctl({"import", "Broken"}, "<Task><Actions>");
    QCOMPARE(broken.code, 1);
    QVERIFY(!broken.err.isEmpty());
    QVERIFY(!Find("\\", "Broken"));
    QCOMPARE(Ctl({"import", "Empty"}, "").code, 2);

    const CtlResult shown = Ctl({"show", "Copy", "--json"});
    QCOMPARE(shown.code, 0);
    const QJsonObject json = shown.Json();
    QCOMPARE(json["program"].toString(), QStringLiteral("/bin/echo"));
    QVERIFY(json["definition"].toString().contains("again"));
    QCOMPARE(json["triggers"].toArray().size(), 1);
    QVERIFY(json["history"].toArray().isEmpty());
}

void TestTaskSchedCtl::refusesBadUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList{} << "No command given.";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "Unknown command \"frobnicate\".";
    QTest::newRow("unknown option") << QStringList{"list", "--colour"} << "has no option \"--colour\"";
    QTest::newRow("another command's option") << QStringList{"delete", "X", "--replace"} << "has no option \"--replace\"";
    QTest::newRow("missing value") << QStringList{"--computer"} << "needs a value (NAME)";
    QTest::newRow("value for a switch") << QStringList{"list", "--json=yes"} << "takes no value";
    QTest::newRow("missing argument") << QStringList{"show"} << "Usage: taskschedctl show TASK";
    QTest::newRow("extra argument") << QStringList{"show", "a", "b"} << "Usage: taskschedctl show TASK";
    QTest::newRow("empty folder name") << QStringList{"show", "A//B"} << "has an empty folder name";
    QTest::newRow("two triggers") << QStringList{"create", "T", "--program", "p", "--daily", "--weekly"} << "with one trigger";
    QTest::newRow("unreadable time") << QStringList{"create", "T", "--program", "p", "--once", "--at", "tomorrow"} << "--at takes";
    QTest::newRow("unknown day") << QStringList{"create", "T", "--program", "p", "--weekly", "--days", "mon,xyz"} << "\"xyz\" is not one of";
    QTest::newRow("day 32") << QStringList{"create", "T", "--program", "p", "--monthly", "--day", "32"} << "from 1 to 31";
    QTest::newRow("week 5") << QStringList{"create", "T", "--program", "p", "--monthly-dow", "--week", "5"} << "from 1 to 4";
    QTest::newRow("folders in 1.0") << QStringList{"--v1", "mkdir", "X"} << "needs Task Service 2.0";
    QTest::newRow("import in 1.0") << QStringList{"--v1", "import", "X"} << "needs Task Service 2.0";
    QTest::newRow("other shell") << QStringList{"completion", "zsh"} << "bash only";
}

void TestTaskSchedCtl::refusesBadUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const CtlResult r = Ctl(arguments);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
    QVERIFY(!Find("\\", "T"));
}

void TestTaskSchedCtl::reportsRefusalsAndMissingThings_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing task") << QStringList{"show", "Nope"} << 3 << "No task \"\\Nope\".";
    QTest::newRow("missing folder") << QStringList{"list", "Nowhere"} << 3 << "No folder \"\\Nowhere\".";
    QTest::newRow("task in a missing folder") << QStringList{"run", "Nowhere/Job"} << 3 << "No folder \"\\Nowhere\".";
    QTest::newRow("missing 1.0 task") << QStringList{"--v1", "stop", "Nope"} << 3 << "No task \"Nope\".";
    QTest::newRow("name the store refuses") << QStringList{"create", "bad\x01name", "--program", "/bin/true"} << 1 << "";
    QTest::newRow("another computer") << QStringList{"--computer", "elsewhere", "list"} << 1 << "";
}

void TestTaskSchedCtl::reportsRefusalsAndMissingThings()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, message);
    const CtlResult r = Ctl(arguments);
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.startsWith("taskschedctl: ") && r.err.contains(message), qPrintable(r.err));
}

void TestTaskSchedCtl::helpManPageAndCompletionCoverEveryCommand()
{
    const CtlResult overview = Ctl({"--help"});
    QCOMPARE(overview.code, 0);
    const CtlResult man = Ctl({"--man"});
    const CtlResult completion = Ctl({"completion", "bash"});
    QVERIFY(completion.out.contains("complete -o default -F _taskschedctl taskschedctl"));
    for (const CtlCommandSpec& command : CtlCommands()) {
        QVERIFY2(overview.out.contains("  " + command.name + " "), qPrintable(command.name));
        const CtlResult help = Ctl({command.name, "--help"});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.startsWith("Usage: taskschedctl [OPTIONS] " + command.name));
        for (const CtlOptionSpec& option : command.options) {
            QVERIFY(help.out.contains("--" + option.names.last()));
            QVERIFY(man.out.contains("\\-\\-" + QString(option.names.last()).replace("-", "\\-")));
            QVERIFY(completion.out.contains("--" + option.names.last()));
        }
        QVERIFY(man.out.contains(".SS " + command.name));
    }
    // Nothing in the page may start a roff request by accident.
    for (const QString& line : man.out.split('\n'))
        QVERIFY2(line.isEmpty() || !line.startsWith('.') || line.at(1).isUpper() || line.startsWith(".br"), qPrintable(line));
}

void TestTaskSchedCtl::runsThroughTheDaemonAndShowsTheHistory()
{
    qunsetenv("TASKSCHEDULER_TRANSPORT");   // the real daemon, over its socket
    DaemonHarness daemon(m_root->Path());
    QVERIFY(daemon.Start());
    const QString marker = m_root->Path() + "/ran";
    QCOMPARE(Ctl({"create", "Touch", "--program", "/bin/sh", "--arguments", "-c \"echo x >> " + marker + "\""}).code, 0);
    const CtlResult run = Ctl({"run", "Touch"});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 20000);

    CtlResult history;
    QTRY_VERIFY_WITH_TIMEOUT((history = Ctl({"history", "Touch", "--json"})).Json()["runs"].toArray().size() == 1, 20000);
    const QJsonObject entry = history.Json()["runs"].toArray().at(0).toObject();
    QCOMPARE(entry["result"].toInt(), 0);
    QCOMPARE(entry["cause"].toString(), QStringLiteral("demand"));
    QVERIFY(QDateTime::fromString(entry["start"].toString(), Qt::ISODate).isValid());
    QVERIFY(Ctl({"show", "Touch"}).out.contains("demand"));
    QCOMPARE(Ctl({"history", "Missing"}).code, 3);
    daemon.Stop();
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
}

QTEST_GUILESS_MAIN(TestTaskSchedCtl)
#include "tst_taskschedctl.moc"
