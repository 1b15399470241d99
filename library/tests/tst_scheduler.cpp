// The scheduler against a private service root, in both interface generations.

#include "LibraryTestSupport.h"
#include "OsVersion.h"
#include "ResultCodes.h"
#include "TaskService2.h"
#include "TemporaryServiceRoot.h"
#include "kvTask.h"
#include "tvMSTask.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <optional>

namespace {

using LibraryTests::Fixture;
using LibraryTests::Generation;
using LibraryTests::MessageOf;

void AddGenerations()
{
    QTest::addColumn<Generation>("generation");
    QTest::newRow("2.0") << Generation::V2;
    QTest::newRow("1.0 forced") << Generation::V1Forced;
    QTest::newRow("1.0 platform") << Generation::V1Platform;
}

} // namespace

Q_DECLARE_METATYPE(LibraryTests::Generation)

class TestScheduler : public QObject {
    Q_OBJECT

private slots:
    void reloadTaskFollowsTheService_data() { LibraryTests::AddBothGenerations(); }
    void reloadTaskFollowsTheService();
    void jobExtension_data();
    void jobExtension();
    void construction();
    void generationChoice_data();
    void generationChoice();
    void openAndClose_data() { AddGenerations(); }
    void openAndClose();
    void switchingGenerationNeedsReopen();
    void serviceThatCannotRun_data() { AddGenerations(); }
    void serviceThatCannotRun();
    void serviceStartedOnDemand();
    void withoutConnection_data() { AddGenerations(); }
    void withoutConnection();
    void refreshSortsIgnoringCase_data() { AddGenerations(); }
    void refreshSortsIgnoringCase();
    void refreshFilter_data() { AddGenerations(); }
    void refreshFilter();
    void refreshHidden();
    void refreshHiddenV1();
    void refreshClearsBeforeFailing_data() { AddGenerations(); }
    void refreshClearsBeforeFailing();
    void refreshMissingFolder();
    void refreshSkipsBrokenWorkItems();
    void activateV1NameForms();
    void activateNotFound_data() { AddGenerations(); }
    void activateNotFound();
    void activateLoadsUnlisted_data() { AddGenerations(); }
    void activateLoadsUnlisted();
    void autoRefresh_data() { AddGenerations(); }
    void autoRefresh();
    void createDuplicate_data() { AddGenerations(); }
    void createDuplicate();
    void createV1OverUnlistedFile();
    void newTaskDefaultsV1();
    void newTaskDefaultsV2();
    void createAsksTheService_data();
    void createAsksTheService();
    void firstSaveOnlyCreates_data() { AddGenerations(); }
    void firstSaveOnlyCreates();
    void namesIgnoreCase_data() { AddGenerations(); }
    void namesIgnoreCase();
    void storedSpellingsStayReachable_data() { AddGenerations(); }
    void storedSpellingsStayReachable();
    void createKeepsListOrdered_data() { AddGenerations(); }
    void createKeepsListOrdered();
    void itemBounds_data() { AddGenerations(); }
    void itemBounds();
    void deleteTask_data() { AddGenerations(); }
    void deleteTask();
    void deleteFailureKeepsList_data() { AddGenerations(); }
    void deleteFailureKeepsList();
    void targetComputer_data() { AddGenerations(); }
    void targetComputer();
    void foldersV2();
    void foldersV1_data();
    void foldersV1();
    void selectedFolder();
};

void TestScheduler::jobExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QString>("removed");
    QTest::newRow("plain") << "Backup" << "Backup.job" << "Backup";
    QTest::newRow("lower") << "Backup.job" << "Backup.job" << "Backup";
    QTest::newRow("upper") << "Backup.JOB" << "Backup.JOB" << "Backup";
    QTest::newRow("other") << "Backup.txt" << "Backup.txt.job" << "Backup.txt";
    QTest::newRow("two dots") << "a.job.job" << "a.job.job" << "a.job";
    QTest::newRow("only ext") << ".job" << ".job" << "";
    QTest::newRow("dot in dir") << "dir.job/name" << "dir.job/name.job" << "dir.job/name";
    QTest::newRow("empty") << "" << ".job" << "";
}

void TestScheduler::jobExtension()
{
    QFETCH(QString, name);
    QFETCH(QString, added);
    QFETCH(QString, removed);
    QCOMPARE(AddJobExtension(name), added);
    QCOMPARE(RemoveJobExtension(name), removed);
}

void TestScheduler::construction()
{
    TemporaryServiceRoot root;
    QObject owner;
    QPointer<TTaskScheduler> scheduler = new TTaskScheduler(&owner);
    QVERIFY(!scheduler->GetActive());
    QVERIFY(!scheduler->GetAutoRefresh());
    QCOMPARE(scheduler->GetDuplicate(), tdError);
    QVERIFY(!scheduler->GetShowHidden());
    QVERIFY(!scheduler->GetUseTaskScheduler1Only());
    QVERIFY(scheduler->CurrentFolderPath.isEmpty());
    QVERIFY(!scheduler->GetOnBeforeTaskAdded());
    QCOMPARE(scheduler->GetCount(), 0);
    scheduler->SetVersion(QStringLiteral("2.0.21"));
    QCOMPARE(scheduler->GetVersion(), QStringLiteral("2.0.22"));
    QCOMPARE(scheduler->parent(), &owner);
}

void TestScheduler::generationChoice_data()
{
    QTest::addColumn<int>("osMajor");
    QTest::addColumn<bool>("force1");
    QTest::addColumn<bool>("vista");
    QTest::newRow("6, free") << 6 << false << true;
    QTest::newRow("6, forced") << 6 << true << false;
    QTest::newRow("5, free") << 5 << false << false;
    QTest::newRow("5, forced") << 5 << true << false;
}

void TestScheduler::generationChoice()
{
    QFETCH(int, osMajor);
    QFETCH(bool, force1);
    QFETCH(bool, vista);
    TemporaryServiceRoot root;
    std::unique_ptr<TTaskScheduler> scheduler;
    {
        // The platform's generation is learnt once, at construction.
        OsVersion::ScopedOverride os(OsVersion(osMajor, 1));
        scheduler = std::make_unique<TTaskScheduler>();
    }
    scheduler->SetUseTaskScheduler1Only(force1);
    QCOMPARE(scheduler->RunningVistaOrLater(), vista);
}

void TestScheduler::openAndClose()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    QVERIFY(f.scheduler->GetActive());
    f.MakeTask(QStringLiteral("Kept"));
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 1);
    f.scheduler->Close();
    QVERIFY(!f.scheduler->GetActive());
    QCOMPARE(f.scheduler->GetCount(), 1); // the list outlives the connection
    f.scheduler->SetActive(true);
    QVERIFY(f.scheduler->GetActive());
    f.scheduler->SetActive(true); // reconnects
    QVERIFY(f.scheduler->GetActive());
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Kept")});
    f.scheduler->SetActive(false);
    QVERIFY(!f.scheduler->GetActive());
}

void TestScheduler::switchingGenerationNeedsReopen()
{
    Fixture f(Generation::V2);
    f.scheduler->SetUseTaskScheduler1Only(true);
    QVERIFY(!f.scheduler->GetActive());
    QCOMPARE(MessageOf<ESchedulerError>([&] { f.scheduler->Refresh(); }), SServiceNotRunning);
    f.scheduler->Open();
    QVERIFY(f.scheduler->GetActive());
    f.scheduler->SetUseTaskScheduler1Only(false);
    QVERIFY(!f.scheduler->GetActive());
    QCOMPARE(MessageOf<ESchedulerError>([&] { f.scheduler->VistaRootFolder(); }), SServiceNotRunning);
    QCOMPARE(MessageOf<ESchedulerError>([&] { f.scheduler->CreateNewItem(QStringLiteral("x")); }), SServiceNotRunning);
}

void TestScheduler::serviceThatCannotRun()
{
    QFETCH(Generation, generation);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("plain-file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    // A root below a regular file can never be made.
    const QByteArray previous = qgetenv("TASKSCHEDULER_HOME");
    qputenv("TASKSCHEDULER_HOME", (file.fileName() + QStringLiteral("/root")).toLocal8Bit());
    std::optional<OsVersion::ScopedOverride> os;
    if (generation == Generation::V1Platform) os.emplace(OsVersion(5, 1));
    TTaskScheduler scheduler;
    scheduler.SetUseTaskScheduler1Only(generation == Generation::V1Forced);
    QVERIFY(!scheduler.SchedulerServiceRunning());
    QVERIFY(!scheduler.StartScheduler());
    QCOMPARE(MessageOf<ESchedulerError>([&] { scheduler.Open(); }), SServiceNotRunning);
    QVERIFY(!scheduler.GetActive());
    QCOMPARE(MessageOf<ESchedulerError>([&] { scheduler.SetActive(true); }), SServiceNotRunning);
    qputenv("TASKSCHEDULER_HOME", previous);
}

void TestScheduler::serviceStartedOnDemand()
{
    TemporaryServiceRoot root;
    const QString home = root.Path() + QStringLiteral("/not-yet");
    qputenv("TASKSCHEDULER_HOME", home.toLocal8Bit());
    TTaskScheduler scheduler;
    QVERIFY(!scheduler.SchedulerServiceRunning());
    QVERIFY(scheduler.StartScheduler());
    QVERIFY(scheduler.SchedulerServiceRunning());
    QVERIFY(QFileInfo(home).isDir());
    scheduler.Open();
    QVERIFY(scheduler.GetActive());
    qputenv("TASKSCHEDULER_HOME", root.Path().toLocal8Bit());
}

void TestScheduler::withoutConnection()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    f.scheduler->Close();
    TTaskScheduler& s = *f.scheduler;
    const QString name = QStringLiteral("Any");
    QCOMPARE(MessageOf<ESchedulerError>([&] { s.Refresh(); }), SServiceNotRunning);
    QCOMPARE(MessageOf<ESchedulerError>([&] { s.CreateNewItem(name); }), SServiceNotRunning);
    QCOMPARE(MessageOf<ESchedulerError>([&] { s.DeleteTask(name); }), SServiceNotRunning);
    QCOMPARE(MessageOf<ESchedulerError>([&] { s.SetTargetComputer(QString()); }), SServiceNotRunning);
    if (f.Vista()) {
        QCOMPARE(s.ActivateTask(name), nullptr);
        QCOMPARE(MessageOf<ESchedulerError>([&] { s.GetTargetComputer(); }), SServiceNotRunning);
        QCOMPARE(MessageOf<ESchedulerError>([&] { s.VistaRootFolder(); }), SServiceNotRunning);
        QCOMPARE(MessageOf<ESchedulerError>([&] { s.VistaRootFolders(); }), SServiceNotRunning);
        QCOMPARE(MessageOf<ESchedulerError>([&] { s.CreateFolder(name); }), SServiceNotRunning);
        QCOMPARE(MessageOf<ESchedulerError>([&] { s.DeleteFolder(name); }), SServiceNotRunning);
        QCOMPARE(MessageOf<ESchedulerError>([&] { s.FolderExists(name); }), SServiceNotRunning);
    } else {
        QCOMPARE(MessageOf<ESchedulerError>([&] { s.ActivateTask(name); }), SServiceNotRunning);
        QCOMPARE(s.GetTargetComputer(), QString());
        // The folder operations answer without touching the service, so they do not raise.
        QVERIFY(!s.VistaRootFolder());
        QVERIFY(!s.VistaRootFolders());
        QVERIFY(!s.CreateFolder(name));
        s.DeleteFolder(name);
        QVERIFY(!s.FolderExists(name));
    }
}

void TestScheduler::refreshSortsIgnoringCase()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    for (const char* name : {"beta", "Alpha", "gamma", "Delta"}) f.MakeTask(QString::fromLatin1(name));
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), (QStringList{"Alpha", "beta", "Delta", "gamma"}));
    // The case-sensitive binary search finds every listed item in that order: nothing is
    // loaded a second time, in the C locale of the tests as in English.
    const QLocale previous;
    const auto restore = qScopeGuard([&] {
        QLocale::setDefault(previous);
        ChooseLocaleComparison();
    });
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(locale);
        ChooseLocaleComparison();
        f.scheduler->Refresh();
        QCOMPARE(f.Names(), (QStringList{"Alpha", "beta", "Delta", "gamma"}));
        for (int i = 0; i < 4; ++i) {
            TTaskItem* listed = f.scheduler->GetItem(i);
            QCOMPARE(f.scheduler->ActivateTask(listed->GetName()), listed);
        }
        QCOMPARE(f.scheduler->GetCount(), 4);
    }
    // A second refresh replaces the list rather than adding to it.
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 4);
}

void TestScheduler::refreshFilter()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    for (const char* name : {"keep one", "drop one", "keep two"}) f.MakeTask(QString::fromLatin1(name));
    QStringList asked;
    f.scheduler->SetOnBeforeTaskAdded([&](TTaskScheduler* sender, TTaskItem* task, bool& canAdd) {
        QCOMPARE(sender, f.scheduler.get());
        QVERIFY(canAdd);
        asked << task->GetName();
        canAdd = task->GetName().startsWith(QStringLiteral("keep"));
    });
    f.scheduler->Refresh();
    QCOMPARE(asked.size(), 3);
    QCOMPARE(f.Names(), (QStringList{"keep one", "keep two"}));
    // Lookups do not ask the filter.
    asked.clear();
    QVERIFY(f.scheduler->ActivateTask(QStringLiteral("drop one")));
    QVERIFY(asked.isEmpty());
}

void TestScheduler::refreshHidden()
{
    Fixture f(Generation::V2);
    f.MakeTask(QStringLiteral("Shown"));
    TTaskItem* hidden = f.scheduler->CreateNewItem(QStringLiteral("Secret"));
    hidden->SetApplicationName(QStringLiteral("/bin/true"));
    hidden->SetVistaFlag(tfvHidden, true);
    hidden->Save();
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Shown")});
    f.scheduler->SetShowHidden(true);
    QCOMPARE(f.scheduler->GetCount(), 1); // no effect before the next refresh
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), (QStringList{"Secret", "Shown"}));
}

void TestScheduler::refreshHiddenV1()
{
    // The 1.0 hidden flag is a task flag like any other: ShowHidden does not filter on it.
    Fixture f(Generation::V1Forced);
    TTaskItem* hidden = f.scheduler->CreateNewItem(QStringLiteral("Secret"));
    hidden->SetFlags(TTaskFlags{tfHidden});
    hidden->Save();
    f.MakeTask(QStringLiteral("Shown"));
    QVERIFY(!f.scheduler->GetShowHidden());
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), (QStringList{"Secret", "Shown"}));
}

void TestScheduler::refreshClearsBeforeFailing()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    f.MakeTask(QStringLiteral("Listed"));
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 1);
    f.scheduler->Close();
    // Refresh clears the list first, then finds it has no connection.
    QCOMPARE(MessageOf<ESchedulerError>([&] { f.scheduler->Refresh(); }), SServiceNotRunning);
    QCOMPARE(f.scheduler->GetCount(), 0);
}

void TestScheduler::refreshMissingFolder()
{
    Fixture f(Generation::V2);
    f.MakeTask(QStringLiteral("AtRoot"));
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 1);
    // A folder the service does not have: its failure is raised, and the list is cleared.
    f.scheduler->CurrentFolderPath = QStringLiteral("\\No such folder");
    try {
        f.scheduler->Refresh();
        QFAIL("listing a missing folder succeeded");
    } catch (const Exception& e) {
        QVERIFY(!e.Message().isEmpty());
    }
    QCOMPARE(f.scheduler->GetCount(), 0);
    // Lookups in it give nothing; creating a task there fails when it is saved.
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("AtRoot")), nullptr);
}

void TestScheduler::refreshSkipsBrokenWorkItems()
{
    Fixture f(Generation::V1Forced);
    f.MakeTask(QStringLiteral("Good"));
    QFile broken(QDir(f.root.Path()).filePath(QStringLiteral("jobs/Broken.job")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("this is not a task file");
    broken.close();
    f.scheduler->SetShowHidden(true); // has no effect in 1.0
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Good")});
}

void TestScheduler::activateV1NameForms()
{
    Fixture f(Generation::V1Forced);
    f.MakeTask(QStringLiteral("Backup"));
    f.scheduler->Refresh();
    TTaskItem* listed = f.scheduler->GetItem(0);
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Backup")), listed);
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Backup.job")), listed);
    QCOMPARE(f.scheduler->GetCount(), 1);
    // The typed extension is kept, and names are looked up ignoring case: Backup.JOB is the
    // listed Backup.job.
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Backup.JOB")), listed);
    QCOMPARE(f.scheduler->GetCount(), 1);

    // A task stored as Report.JOB is found under any spelling, and listed as it is stored.
    f.MakeTask(QStringLiteral("Report.JOB"));
    QVERIFY(QFile::exists(QDir(f.root.Path()).filePath(QStringLiteral("jobs/Report.JOB"))));
    TTaskItem* report = f.scheduler->ActivateTask(QStringLiteral("Report"));
    QVERIFY(report);
    QCOMPARE(report->GetName(), QStringLiteral("Report"));
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Report.JOB")), report);
    QCOMPARE(f.scheduler->GetCount(), 1);
}

void TestScheduler::activateNotFound()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Nowhere")), nullptr);
    QCOMPARE(f.scheduler->GetCount(), 0);
}

void TestScheduler::activateLoadsUnlisted()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    for (const char* name : {"b", "a", "c"}) f.MakeTask(QString::fromLatin1(name));
    f.scheduler->Refresh();
    {
        // Another scheduler adds a task this one has not listed.
        TTaskScheduler other;
        other.SetUseTaskScheduler1Only(f.scheduler->GetUseTaskScheduler1Only());
        other.Open();
        TTaskItem* bb = other.CreateNewItem(QStringLiteral("bb"));
        bb->SetComment(QStringLiteral("from the other"));
        bb->Save();
    }
    TTaskItem* item = f.scheduler->ActivateTask(QStringLiteral("bb"));
    QVERIFY(item);
    QCOMPARE(f.Names(), (QStringList{"a", "b", "bb", "c"}));
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("bb")), item);
    if (!f.Vista()) item->Activate();
    QCOMPARE(item->GetComment(), QStringLiteral("from the other"));
}

void TestScheduler::autoRefresh()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    f.MakeTask(QStringLiteral("First"));
    f.scheduler->SetAutoRefresh(true);
    TTaskItem* item = f.scheduler->ActivateTask(QStringLiteral("First"));
    QVERIFY(item);
    QCOMPARE(f.scheduler->GetCount(), 1);
    f.MakeTask(QStringLiteral("Second")); // the fixture clears the list
    QVERIFY(f.scheduler->CreateNewItem(QStringLiteral("Third")));
    QCOMPARE(f.Names(), (QStringList{"First", "Second", "Third"}));
}

void TestScheduler::createDuplicate()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    TTaskItem* first = f.scheduler->CreateNewItem(QStringLiteral("Report"));
    const QString asPassed = f.Vista() ? QStringLiteral("Report") : QStringLiteral("Report.job");
    QCOMPARE(MessageOf<ETaskError>([&] { f.scheduler->CreateNewItem(asPassed); }),
             QStringLiteral("Task with the name \"%1\" already exists.").arg(asPassed));
    QCOMPARE(f.scheduler->GetCount(), 1);
    // The existing item comes back as it is: no new-task defaults are applied again.
    first->SetComment(QStringLiteral("edited"));
    if (f.Vista())
        first->SetVistaFlag(tfvEnabled, false);
    else
        first->SetFlags(TTaskFlags{tfHidden});
    f.scheduler->SetDuplicate(tdActivateFirst);
    TTaskItem* again = f.scheduler->CreateNewItem(asPassed);
    QCOMPARE(again, first);
    QCOMPARE(again->GetComment(), QStringLiteral("edited"));
    if (f.Vista())
        QVERIFY(!again->GetVistaFlag(tfvEnabled));
    else
        QCOMPARE(again->GetFlags(), TTaskFlags{tfHidden});
    QCOMPARE(f.scheduler->GetCount(), 1);
}

void TestScheduler::createV1OverUnlistedFile()
{
    Fixture f(Generation::V1Forced);
    f.MakeTask(QStringLiteral("OnDisk"));
    QCOMPARE(MessageOf<ETaskError>([&] { f.scheduler->CreateNewItem(QStringLiteral("OnDisk")); }),
             QStringLiteral("Task with the name \"OnDisk\" already exists."));
    QCOMPARE(f.scheduler->GetCount(), 0);
    f.scheduler->SetDuplicate(tdActivateFirst);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("OnDisk"));
    QVERIFY(item->GetTaskInterface());
    QCOMPARE(item->GetApplicationName(), QStringLiteral("/bin/true"));
    QCOMPARE(f.scheduler->GetCount(), 1);
}

void TestScheduler::newTaskDefaultsV1()
{
    Fixture f(Generation::V1Forced);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Fresh"));
    QCOMPARE(item->GetName(), QStringLiteral("Fresh"));
    QVERIFY(item->GetTaskInterface());
    QVERIFY(!item->GetTaskDefinition());
    QCOMPARE(item->GetFlags(), (TTaskFlags{tfDontStartIfOnBatteries, tfKillIfGoingOnBatteries}));
    // Nothing reaches the store before the item is saved.
    QVERIFY(!QFile::exists(QDir(f.root.Path()).filePath(QStringLiteral("jobs/Fresh.job"))));
    item->Save();
    QVERIFY(QFile::exists(QDir(f.root.Path()).filePath(QStringLiteral("jobs/Fresh.job"))));
}

void TestScheduler::newTaskDefaultsV2()
{
    Fixture f(Generation::V2);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Fresh"));
    QVERIFY(!item->GetTaskInterface());
    const ComPtr<ITaskDefinition> definition = item->GetTaskDefinition();
    QVERIFY(definition);
    ComPtr<ITaskSettings> settings;
    QCOMPARE(definition->get_Settings(settings.Put()), S_OK);
    VARIANT_BOOL enabled = VARIANT_FALSE, hidden = VARIANT_TRUE;
    QCOMPARE(settings->get_Enabled(&enabled), S_OK);
    QCOMPARE(settings->get_Hidden(&hidden), S_OK);
    QCOMPARE(enabled, VARIANT_TRUE);
    QCOMPARE(hidden, VARIANT_FALSE);
    ComPtr<IPrincipal> principal;
    QCOMPARE(definition->get_Principal(principal.Put()), S_OK);
    TASK_LOGON_TYPE logon = TASK_LOGON_NONE;
    QCOMPARE(principal->get_LogonType(&logon), S_OK);
    QCOMPARE(logon, TASK_LOGON_INTERACTIVE_TOKEN);
    // Not registered until saved.
    QCOMPARE(MessageOf<ETaskError>([&] { item->Run(); }), QStringLiteral("Task \"Fresh\" is not activated."));
}

void TestScheduler::createAsksTheService_data()
{
    QTest::addColumn<Generation>("generation");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("2.0 added by another client") << Generation::V2 << false;
    QTest::newRow("2.0 hidden") << Generation::V2 << true;
    QTest::newRow("1.0 added by another client") << Generation::V1Forced << false;
}

void TestScheduler::createAsksTheService()
{
    // A task that the list does not show, hidden or added since the last Refresh, is still
    // taken: a new item must not replace it when it is saved.
    QFETCH(Generation, generation);
    QFETCH(bool, hidden);
    Fixture f(generation);
    f.scheduler->Refresh();
    TTaskScheduler other;
    other.SetUseTaskScheduler1Only(!f.Vista());
    other.Open();
    TTaskItem* theirs = other.CreateNewItem(QStringLiteral("Taken"));
    theirs->SetApplicationName(QStringLiteral("/bin/true"));
    if (hidden) theirs->SetVistaFlag(tfvHidden, true);
    theirs->Save();
    if (hidden) f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 0);

    QCOMPARE(MessageOf<ETaskError>([&] { f.scheduler->CreateNewItem(QStringLiteral("taken")); }),
             QStringLiteral("Task with the name \"taken\" already exists."));
    QCOMPARE(f.scheduler->GetCount(), 0);
    f.scheduler->SetDuplicate(tdActivateFirst);
    TTaskItem* existing = f.scheduler->CreateNewItem(QStringLiteral("taken"));
    if (!f.Vista()) existing->Activate();
    QCOMPARE(existing->GetName(), QStringLiteral("Taken"));   // the stored spelling
    QCOMPARE(existing->GetApplicationName(), QStringLiteral("/bin/true"));
    QCOMPARE(f.scheduler->GetCount(), 1);
}

void TestScheduler::firstSaveOnlyCreates()
{
    // Another program takes the name between CreateNewItem and the first Save: the save fails
    // with the service's refusal, and the other program's task stays as it was.
    QFETCH(Generation, generation);
    Fixture f(generation);
    TTaskItem* mine = f.scheduler->CreateNewItem(QStringLiteral("Race"));
    mine->SetApplicationName(QStringLiteral("/bin/false"));
    TTaskScheduler other;
    other.SetUseTaskScheduler1Only(!f.Vista());
    other.Open();
    TTaskItem* theirs = other.CreateNewItem(QStringLiteral("RACE"));
    theirs->SetApplicationName(QStringLiteral("/bin/true"));
    theirs->Save();

    HRESULT code = S_OK;
    QString message;
    try {
        mine->Save();
    } catch (const EPlatformError& e) {
        code = e.Code();
        message = e.Message();
    }
    QVERIFY(FAILED(code));
    if (f.Vista()) {
        QVERIFY2(message.contains(QStringLiteral("\\RACE")), qPrintable(message));   // the service's own words
    } else {
        QCOMPARE(code, HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
    }
    other.Refresh();
    TTaskItem* stored = other.ActivateTask(QStringLiteral("Race"));
    QVERIFY(stored);
    if (!f.Vista()) stored->Activate();
    QCOMPARE(stored->GetApplicationName(), QStringLiteral("/bin/true"));
    QCOMPARE(other.GetCount(), 1);
}

void TestScheduler::namesIgnoreCase()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    f.MakeTask(QStringLiteral("Backup"));
    f.MakeTask(QStringLiteral("alpha"));
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), (QStringList{"alpha", "Backup"}));
    TTaskItem* listed = f.scheduler->GetItem(1);
    for (const char* spelling : {"Backup", "backup", "BACKUP", "bAcKuP"})
        QCOMPARE(f.scheduler->ActivateTask(QString::fromLatin1(spelling)), listed);
    QCOMPARE(MessageOf<ETaskError>([&] { f.scheduler->CreateNewItem(QStringLiteral("backup")); }),
             QStringLiteral("Task with the name \"backup\" already exists."));
    // Not listed either: the service refuses the second spelling all the same.
    f.scheduler->Clear();
    QCOMPARE(MessageOf<ETaskError>([&] { f.scheduler->CreateNewItem(QStringLiteral("BACKUP")); }),
             QStringLiteral("Task with the name \"BACKUP\" already exists."));
    TTaskItem* loaded = f.scheduler->ActivateTask(QStringLiteral("BACKUP"));
    QVERIFY(loaded);
    QCOMPARE(loaded->GetName(), QStringLiteral("Backup"));
    QCOMPARE(f.scheduler->GetCount(), 1);

    f.scheduler->Refresh();
    f.scheduler->DeleteTask(QStringLiteral("BACKUP"));
    QCOMPARE(f.Names(), QStringList{QStringLiteral("alpha")});
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("alpha")});
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Backup")), nullptr);
}

void TestScheduler::storedSpellingsStayReachable()
{
    // A store written before names were unique ignoring case may hold two spellings: both
    // are listed, each is found under its exact name, and nothing is merged.
    QFETCH(Generation, generation);
    Fixture f(generation);
    f.MakeTask(QStringLiteral("Backup"));
    const QString dir = f.root.Path() + (f.Vista() ? QStringLiteral("/tasks/") : QStringLiteral("/jobs/"));
    const QString suffix = f.Vista() ? QStringLiteral(".task") : QStringLiteral(".job");
    QVERIFY(QFile::copy(dir + QStringLiteral("Backup") + suffix, dir + QStringLiteral("backup") + suffix));
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 2);
    TTaskItem* upper = f.scheduler->ActivateTask(QStringLiteral("Backup"));
    TTaskItem* lower = f.scheduler->ActivateTask(QStringLiteral("backup"));
    QVERIFY(upper && lower && upper != lower);
    QCOMPARE(upper->GetName(), QStringLiteral("Backup"));
    QCOMPARE(lower->GetName(), QStringLiteral("backup"));
    if (!f.Vista()) lower->Activate();
    lower->SetComment(QStringLiteral("the lower one"));
    lower->Save();
    QVERIFY(QFile::exists(dir + QStringLiteral("Backup") + suffix));

    f.scheduler->DeleteTask(QStringLiteral("backup"));
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Backup")});
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Backup")});
    TTaskItem* kept = f.scheduler->GetItem(0);
    if (!f.Vista()) kept->Activate();
    QVERIFY(kept->GetComment().isEmpty());
}

void TestScheduler::createKeepsListOrdered()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    for (const char* name : {"m", "c", "x", "a"}) f.scheduler->CreateNewItem(QString::fromLatin1(name));
    QCOMPARE(f.Names(), (QStringList{"a", "c", "m", "x"}));
    for (const char* name : {"m", "c", "x", "a"})
        QCOMPARE(f.scheduler->ActivateTask(QString::fromLatin1(name))->GetName(), QString::fromLatin1(name));
}

void TestScheduler::itemBounds()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    QCOMPARE(MessageOf<ESchedulerError>([&] { f.scheduler->GetItem(0); }), QStringLiteral("Task index out of bounds (0)"));
    f.scheduler->CreateNewItem(QStringLiteral("one"));
    f.scheduler->CreateNewItem(QStringLiteral("two"));
    QCOMPARE(f.scheduler->GetItem(1)->GetName(), QStringLiteral("two"));
    QCOMPARE(MessageOf<ESchedulerError>([&] { f.scheduler->GetItem(-1); }), QStringLiteral("Task index out of bounds (-1)"));
    QCOMPARE(MessageOf<ESchedulerError>([&] { f.scheduler->GetItem(2); }), QStringLiteral("Task index out of bounds (2)"));
}

void TestScheduler::deleteTask()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    f.MakeTask(QStringLiteral("Listed"));
    f.MakeTask(QStringLiteral("Unlisted"));
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 2);
    f.scheduler->DeleteTask(QStringLiteral("Listed"));
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Unlisted")});
    f.scheduler->Clear();
    // Not in the list: still deleted in the service, the list is untouched.
    f.scheduler->CreateNewItem(QStringLiteral("Other"));
    f.scheduler->DeleteTask(QStringLiteral("Unlisted"));
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Other")});
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 0);
}

void TestScheduler::deleteFailureKeepsList()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    // Created but never saved: the service does not know it, so deleting fails.
    f.scheduler->CreateNewItem(QStringLiteral("Unsaved"));
    try {
        f.scheduler->DeleteTask(QStringLiteral("Unsaved"));
        QFAIL("deleting a task the service does not have succeeded");
    } catch (const EPlatformError& e) {
        QVERIFY(FAILED(e.Code()));
        QVERIFY(!e.Message().isEmpty());
    }
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Unsaved")});
}

void TestScheduler::targetComputer()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    f.MakeTask(QStringLiteral("Local"));
    f.scheduler->Refresh();
    f.scheduler->SetTargetComputer(QString());
    QVERIFY(f.scheduler->GetActive());
    QCOMPARE(f.scheduler->GetCount(), 1); // target changes leave the list alone
    const QString target = f.scheduler->GetTargetComputer();
    QVERIFY(!target.isEmpty());
    if (!f.Vista()) {
        // 1.0 gives the name as the service has it (with its leading backslashes) and takes
        // it back unchanged.
        QVERIFY(target.startsWith(QStringLiteral("\\\\")));
        f.scheduler->SetTargetComputer(target);
        QCOMPARE(f.scheduler->GetTargetComputer(), target);
    }
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("Local")});
}

void TestScheduler::foldersV2()
{
    Fixture f(Generation::V2);
    const ComPtr<ITaskFolder> root = f.scheduler->VistaRootFolder();
    QVERIFY(root);
    QString path;
    QCOMPARE(root->get_Path(&path), S_OK);
    QCOMPARE(path, QStringLiteral("\\"));
    QVERIFY(!f.scheduler->FolderExists(QStringLiteral("Reports")));
    QVERIFY(f.scheduler->CreateFolder(QStringLiteral("\\Reports\\Daily")));
    QVERIFY(f.scheduler->CreateFolder(QStringLiteral("Other")));
    QVERIFY(f.scheduler->FolderExists(QStringLiteral("Reports")));
    QVERIFY(f.scheduler->FolderExists(QStringLiteral("\\Reports\\Daily")));
    const ComPtr<ITaskFolderCollection> folders = f.scheduler->VistaRootFolders();
    QVERIFY(folders);
    LONG count = 0;
    QCOMPARE(folders->get_Count(&count), S_OK);
    QCOMPARE(count, 2);
    f.scheduler->DeleteFolder(QStringLiteral("Other"));
    QVERIFY(!f.scheduler->FolderExists(QStringLiteral("Other")));
    try {
        f.scheduler->DeleteFolder(QStringLiteral("Other"));
        QFAIL("deleting a missing folder succeeded");
    } catch (const EPlatformError&) {
    }
    QVERIFY(!f.scheduler->FolderExists(QStringLiteral("bad\\..\\..\\name")));
}

void TestScheduler::foldersV1_data()
{
    QTest::addColumn<Generation>("generation");
    QTest::newRow("1.0 forced") << Generation::V1Forced;
    QTest::newRow("1.0 platform") << Generation::V1Platform;
}

void TestScheduler::foldersV1()
{
    QFETCH(Generation, generation);
    Fixture f(generation);
    QVERIFY(!f.scheduler->VistaRootFolder());
    QVERIFY(!f.scheduler->VistaRootFolders());
    QVERIFY(!f.scheduler->CreateFolder(QStringLiteral("Reports")));
    f.scheduler->DeleteFolder(QStringLiteral("Reports"));
    QVERIFY(!f.scheduler->FolderExists(QStringLiteral("\\")));
    QVERIFY(!QDir(f.root.Path() + QStringLiteral("/tasks/Reports")).exists());
}

void TestScheduler::selectedFolder()
{
    Fixture f(Generation::V2);
    const ComPtr<ITaskFolder> daily = f.scheduler->CreateFolder(QStringLiteral("Reports\\Daily"));
    f.MakeTask(QStringLiteral("AtRoot"));
    f.scheduler->SetVistaSelectedFolder(daily.Get());
    QCOMPARE(f.scheduler->CurrentFolderPath, QStringLiteral("\\Reports\\Daily"));
    QCOMPARE(f.scheduler->GetCount(), 0); // nothing is refreshed
    f.MakeTask(QStringLiteral("InDaily"));
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("InDaily")});
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("AtRoot")), nullptr);
    f.scheduler->SetVistaSelectedFolder(f.scheduler->VistaRootFolder().Get());
    QCOMPARE(f.scheduler->CurrentFolderPath, QStringLiteral("\\"));
    f.scheduler->Refresh();
    QCOMPARE(f.Names(), QStringList{QStringLiteral("AtRoot")});
}

namespace {
QStringList ListedNames(const TTaskScheduler& scheduler)
{
    QStringList names;
    for (int i = 0; i < scheduler.GetCount(); ++i) names << RemoveJobExtension(scheduler.GetItem(i)->GetName());
    return names;
}
} // namespace

void TestScheduler::reloadTaskFollowsTheService()
{
    QFETCH(bool, vista);
    Fixture mine(vista);
    TTaskScheduler& scheduler = *mine.scheduler;
    mine.New(QStringLiteral("a"))->Save();
    mine.New(QStringLiteral("c"))->Save();
    scheduler.Refresh();
    TTaskItem* a = scheduler.ActivateTask(QStringLiteral("a"));
    QVERIFY(a);
    // Another program's scheduler on the same service.
    TTaskScheduler other;
    other.SetUseTaskScheduler1Only(!vista);
    other.Open();
    const auto change = [&other](const QString& name, const std::function<void(TTaskItem*)>& edit) {
        TTaskItem* item = other.ActivateTask(name);
        QVERIFY(item);
        item->Activate();
        edit(item);
        item->Save();
    };

    // A task added elsewhere comes into its place in the order.
    TTaskItem* b = other.CreateNewItem(QStringLiteral("b"));
    b->SetApplicationName(LibraryTests::kProgram);
    b->Save();
    QVERIFY(scheduler.ReloadTask(QStringLiteral("b")));
    QCOMPARE(ListedNames(scheduler), (QStringList{"a", "b", "c"}));

    // A listed task changed elsewhere is read again in place: the same item, the new values.
    change(QStringLiteral("a"), [](TTaskItem* item) { item->SetCreator(QStringLiteral("someone else")); });
    QCOMPARE(scheduler.ReloadTask(QStringLiteral("a")), a);
    a->Activate();
    QCOMPARE(a->GetCreator(), QStringLiteral("someone else"));
    a->Deactivate(false);

    // Unknown names change nothing; a task the filter refuses now leaves the list.
    QCOMPARE(scheduler.ReloadTask(QStringLiteral("nobody")), nullptr);
    QCOMPARE(ListedNames(scheduler), (QStringList{"a", "b", "c"}));
    scheduler.SetOnBeforeTaskAdded([](TTaskScheduler*, TTaskItem* task, bool& canAdd) { canAdd = !task->GetName().startsWith(QLatin1Char('c')); });
    QCOMPARE(scheduler.ReloadTask(QStringLiteral("c")), nullptr);
    QCOMPARE(ListedNames(scheduler), (QStringList{"a", "b"}));
    scheduler.SetOnBeforeTaskAdded({});

    // Deleted elsewhere: the item goes.
    other.DeleteTask(QStringLiteral("a"));
    QCOMPARE(scheduler.ReloadTask(QStringLiteral("a")), nullptr);
    QCOMPARE(ListedNames(scheduler), QStringList{"b"});

    // A new item of this scheduler, not saved yet, is left as it is.
    TTaskItem* draft = scheduler.CreateNewItem(QStringLiteral("draft"));
    QCOMPARE(scheduler.ReloadTask(QStringLiteral("draft")), draft);
    draft->SetApplicationName(LibraryTests::kProgram);
    draft->Save();

    if (vista) {
        // Hidden tasks are listed only with ShowHidden, as Refresh lists them.
        change(QStringLiteral("b"), [](TTaskItem* item) { item->SetVistaFlag(tfvHidden, true); });
        QCOMPARE(scheduler.ReloadTask(QStringLiteral("b")), nullptr);
        scheduler.SetShowHidden(true);
        QVERIFY(scheduler.ReloadTask(QStringLiteral("b")));
        QCOMPARE(ListedNames(scheduler), (QStringList{"b", "draft"}));
    }
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
