// The task item's life cycle, commands and general properties, in both generations,
// against a private service root.

#include "gen1/JobFile.h"
#include "LibraryTestSupport.h"
#include "OsVersion.h"
#include "ResultCodes.h"
#include "TaskService2.h"
#include "TemporaryServiceRoot.h"
#include "kvTask.h"
#include "tvMSTask.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <functional>
#include <memory>

using namespace LibraryTests;

namespace {

QString NotActivated(const QString& name)
{
    return QStringLiteral("Task \"%1\" is not activated.").arg(name);
}

ComPtr<ITask> TaskOf(TTaskItem* item)
{
    ComPtr<ITask> task;
    item->GetTaskInterface().As(task);
    return task;
}

ComPtr<IActionCollection> ActionsOf(TTaskItem* item)
{
    ComPtr<IActionCollection> actions;
    item->GetTaskDefinition()->get_Actions(actions.Put());
    return actions;
}

ComPtr<IPrincipal> PrincipalOf(const ComPtr<ITaskDefinition>& definition)
{
    ComPtr<IPrincipal> principal;
    definition->get_Principal(principal.Put());
    return principal;
}

QString ExecutionTimeLimit(TTaskItem* item)
{
    ComPtr<ITaskSettings> settings;
    item->GetTaskDefinition()->get_Settings(settings.Put());
    QString limit;
    settings->get_ExecutionTimeLimit(&limit);
    return limit;
}

} // namespace

class TestTaskItem : public QObject {
    Q_OBJECT

private slots:
    void name_data();
    void name();
    void newItem_data() { AddBothGenerations(); }
    void newItem();
    void flags_data();
    void flags();
    void flagsOutsideTable();
    void notActivatedV1();
    void generationAskedAtEveryCall();
    void activateFailures();
    void v1OnlyMembersOnV2();
    void deactivateV1();
    void triggersWrittenBackOnlyByDeactivate();
    void deactivateV2();
    void saveIntoCurrentFolder();
    void saveAsV1();
    void saveAsV2();
    void saveAsKeepsListTrue_data() { AddBothGenerations(); }
    void saveAsKeepsListTrue();
    void registeredNameKept();
    void serviceWordsReachTheUser_data();
    void serviceWordsReachTheUser();
    void applicationNameSummary_data();
    void applicationNameSummary();
    void applicationNameWriteV2();
    void parametersAddressFirstAction();
    void execActionReadersV2();
    void textProperties_data() { AddBothGenerations(); }
    void textProperties();
    void accountInformationV2_data();
    void accountInformationV2();
    void accountInformationPassword();
    void accountInformationV1();
    void accountInformationFailureKeepsSteps();
    void priority_data();
    void priority();
    void maxRunTimeV2_data();
    void maxRunTimeV2();
    void runSettingsV1();
    void binaryDataV1_data();
    void binaryDataV1();
    void binaryDataV2_data();
    void binaryDataV2();
    void taskLocation();
    void triggerString_data() { AddBothGenerations(); }
    void triggerString();
    void commandsV2();
    void getInterface();
    void displayTaskPagesV2();
    void displayTaskPagesWithoutWidgets();
};

void TestTaskItem::name_data()
{
    QTest::addColumn<bool>("vista");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QString>("name");
    for (bool vista : {true, false}) {
        const char* g = vista ? "2.0 " : "1.0 ";
        QTest::addRow("%sBackup.JOB", g) << vista << "Backup.JOB" << "Backup";
        QTest::addRow("%sBackup.txt", g) << vista << "Backup.txt" << "Backup.txt";
        QTest::addRow("%sBackup", g) << vista << "Backup" << "Backup";
    }
}

void TestTaskItem::name()
{
    QFETCH(bool, vista);
    QFETCH(QString, created);
    QFETCH(QString, name);
    Fixture f(vista);
    TTaskItem* item = f.scheduler->CreateNewItem(created);
    QCOMPARE(item->GetName(), name);
    QCOMPARE(item->GetTaskScheduler(), f.scheduler.get());
}

void TestTaskItem::newItem()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("New"));
    QCOMPARE(item->GetCurrentAction(), 0);
    QCOMPARE(item->GetTriggers()->Count(), 0);
    if (!vista) QCOMPARE(item->GetTaskLocation(), QString());
}

void TestTaskItem::flags_data()
{
    QTest::addColumn<int>("member");
    QTest::addColumn<uint>("bit");
    const uint bits[] = {0x1, 0x2, 0x4, 0x200, 0x2000, 0x10, 0x1000, 0x20, 0x800, 0x40, 0x80, 0x400};
    for (int member = 0; member < 12; ++member) QTest::addRow("member %d", member) << member << bits[member];
}

void TestTaskItem::flags()
{
    QFETCH(int, member);
    QFETCH(uint, bit);
    Fixture f(false);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Flags"));
    const auto flag = static_cast<TTaskFlag>(member);
    item->SetFlags(TTaskFlags{flag});
    DWORD raw = 0;
    QCOMPARE(TaskOf(item)->GetFlags(&raw), S_OK);
    QCOMPARE(uint(raw), bit);
    QCOMPARE(item->GetFlags(), TTaskFlags{flag});
}

void TestTaskItem::flagsOutsideTable()
{
    Fixture f(false);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Flags"));
    QCOMPARE(TaskOf(item)->SetFlags(0x4000 | 0x8 | 0x4), S_OK);
    QCOMPARE(item->GetFlags(), TTaskFlags{tfDisabled});
    item->SetFlags(TTaskFlags{});
    DWORD raw = 0xFFFF;
    QCOMPARE(TaskOf(item)->GetFlags(&raw), S_OK);
    QCOMPARE(uint(raw), 0u);
}

void TestTaskItem::notActivatedV1()
{
    Fixture f(false);
    TTaskItem* item = f.Listed(QStringLiteral("Idle"));
    QVERIFY(!item->GetTaskInterface());
    QVERIFY(!item->GetTaskDefinition());
    QCOMPARE(item->GetTaskLocation(), QString());
    QCOMPARE(item->GetName(), QStringLiteral("Idle"));
    const QList<std::function<void()>> operations{
        [&] { item->GetApplicationName(); },
        [&] { item->SetComment(QStringLiteral("x")); },
        [&] { item->GetCreator(); },
        [&] { item->GetAccountName(); },
        [&] { item->SetAccountInformation(QString(), QString(), QString()); },
        [&] { item->GetFlags(); },
        [&] { item->GetPriority(); },
        [&] { item->GetMaxRunTime(); },
        [&] { item->SetMaxRunTime(1); },
        [&] { item->GetIdleTime(); },
        [&] { item->GetIsDirty(); },
        [&] { item->GetCurFile(); },
        [&] { item->GetTriggers(); },
        [&] { item->GetTriggerString(); },
        [&] { item->Save(); },
        [&] { item->Save(QStringLiteral("Other")); },
        [&] { item->Deactivate(true); },
        [&] { item->Run(); },
        [&] { item->Terminate(); },
        [&] { item->EditWorkItem(); },
        [&] { QBuffer b; b.open(QIODevice::ReadWrite); item->GetBinaryData(b); },
        [&] { item->DisplayTaskPages(0, TPageTypes{ptTask}, QString()); },
    };
    for (qsizetype i = 0; i < operations.size(); ++i)
        QVERIFY2(MessageOf<ETaskError>(operations[i]) == NotActivated(QStringLiteral("Idle")), qPrintable(QString::number(i)));
    item->Activate();
    QCOMPARE(item->GetApplicationName(), kProgram);
    item->Activate(); // a fresh task object
    QVERIFY(item->GetTaskInterface());
}

void TestTaskItem::generationAskedAtEveryCall()
{
    // Nothing is cached per item: the generation is the scheduler's at the moment of each call.
    Fixture f(true);
    TTaskItem* v2 = f.Listed(QStringLiteral("Registered"));
    QCOMPARE(v2->GetComment(), QString());
    f.scheduler->SetUseTaskScheduler1Only(true);
    // The same item now takes the 1.0 path: its registered task is no ITask.
    QVERIFY(!v2->GetTaskDefinition());
    QCOMPARE(v2->GetTaskLocation(), QString());
    QCOMPARE(MessageOf<EIntfCastError>([&] { v2->GetComment(); }), QStringLiteral("Interface not supported"));

    // A 1.0 item, seen in 2.0, has no definition: the 2.0 guard raises the not-activated error.
    f.scheduler->Open();
    TTaskItem* v1 = f.Listed(QStringLiteral("Job"));
    v1->Activate();
    QVERIFY(v1->GetTaskInterface());
    f.scheduler->SetUseTaskScheduler1Only(false);
    QVERIFY(!v1->GetTaskDefinition());
    const QString notActivated = NotActivated(QStringLiteral("Job"));
    const QList<std::function<void()>> guarded{
        [&] { v1->Save(); },
        [&] { v1->Save(QStringLiteral("Other")); },
        [&] { v1->Deactivate(true); },
        [&] { v1->GetApplicationName(); },
        [&] { v1->SetApplicationName(kProgram); },
        [&] { v1->GetParameters(); },
        [&] { v1->SetParameters(QString()); },
        [&] { v1->GetWorkingDirectory(); },
        [&] { v1->SetWorkingDirectory(QString()); },
        [&] { v1->GetComment(); },
        [&] { v1->SetComment(QString()); },
        [&] { v1->GetCreator(); },
        [&] { v1->SetCreator(QString()); },
        [&] { v1->GetAccountName(); },
        [&] { v1->SetAccountInformation(QString(), QString(), QString()); },
        [&] { v1->SetMaxRunTime(60000); },
        [&] { QBuffer b; b.open(QIODevice::ReadWrite); v1->GetBinaryData(b); },
        [&] { QByteArray d("x"); QBuffer b(&d); b.open(QIODevice::ReadOnly); v1->SetBinaryData(b); },
    };
    for (qsizetype i = 0; i < guarded.size(); ++i)
        QVERIFY2(MessageOf<ETaskError>(guarded[i]) == notActivated, qPrintable(QString::number(i)));
    // Deactivate(False) does nothing in 2.0, and the triggers need no activation there.
    v1->Deactivate(false);
    QVERIFY(v1->GetTaskInterface());
    QCOMPARE(v1->GetTriggers()->Count(), 0);
    // 2.0 TaskLocation and Run want a registered task; the 1.0 object is not one.
    QCOMPARE(MessageOf<EIntfCastError>([&] { v1->GetTaskLocation(); }), QStringLiteral("Interface not supported"));
    QCOMPARE(MessageOf<EIntfCastError>([&] { v1->Run(); }), QStringLiteral("Interface not supported"));
    v1->EditWorkItem(); // nothing in 2.0
}

void TestTaskItem::activateFailures()
{
    Fixture f(false);
    TTaskItem* item = f.Listed(QStringLiteral("Gone"));
    QVERIFY(QFile::remove(f.JobPath(QStringLiteral("Gone.job"))));
    QCOMPARE(MessageOf<ESchedulerError>([&] { item->Activate(); }), QStringLiteral("Could not activate \"Gone\" task."));
    QVERIFY(!item->GetTaskInterface());
    f.scheduler->Close();
    QCOMPARE(MessageOf<ESchedulerError>([&] { item->Activate(); }), SServiceNotRunning);
}

void TestTaskItem::v1OnlyMembersOnV2()
{
    Fixture f(true);
    TTaskItem* listed = f.Listed(QStringLiteral("Listed"));
    TTaskItem* fresh = f.scheduler->CreateNewItem(QStringLiteral("Fresh"));
    const QList<std::function<void(TTaskItem*)>> operations{
        [](TTaskItem* i) { i->GetFlags(); },
        [](TTaskItem* i) { i->SetFlags(TTaskFlags{}); },
        [](TTaskItem* i) { i->GetPriority(); },
        [](TTaskItem* i) { i->SetPriority(tpHigh); },
        [](TTaskItem* i) { i->GetMaxRunTime(); },
        [](TTaskItem* i) { i->GetIdleTime(); },
        [](TTaskItem* i) { i->SetIdleTime(TIdleTime{1, 2}); },
        [](TTaskItem* i) { i->GetIsDirty(); },
        [](TTaskItem* i) { i->GetCurFile(); },
        [](TTaskItem* i) { i->Terminate(); },
    };
    for (qsizetype i = 0; i < operations.size(); ++i) {
        QVERIFY2(MessageOf<ETaskError>([&] { operations[i](fresh); }) == NotActivated(QStringLiteral("Fresh")),
                 qPrintable(QString::number(i)));
        QVERIFY2(MessageOf<EIntfCastError>([&] { operations[i](listed); }) == QStringLiteral("Interface not supported"),
                 qPrintable(QString::number(i)));
    }
}

void TestTaskItem::deactivateV1()
{
    Fixture f(false);
    TTaskItem* item = f.Listed(QStringLiteral("Job"));
    const QString path = f.JobPath(QStringLiteral("Job.job"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    const QDateTime modified = QFileInfo(path).lastModified();

    item->Activate();
    QVERIFY(!item->GetIsDirty());
    item->Deactivate(true); // unchanged: nothing is written
    QVERIFY(!item->GetTaskInterface());
    QCOMPARE(QFileInfo(path).lastModified(), modified);

    item->Activate();
    item->SetComment(QStringLiteral("discard me"));
    QVERIFY(item->GetIsDirty());
    item->Deactivate(false);
    QVERIFY(!item->GetTaskInterface());
    item->Activate();
    QCOMPARE(item->GetComment(), QString());

    item->SetComment(QStringLiteral("keep me"));
    item->Deactivate(true);
    item->Activate();
    QCOMPARE(item->GetComment(), QStringLiteral("keep me"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() != before);
}

void TestTaskItem::deactivateV2()
{
    Fixture f(true);
    TTaskItem* item = f.Listed(QStringLiteral("Reg"));
    const ComPtr<IUnknown> registered = item->GetTaskInterface();
    const ComPtr<ITaskDefinition> definition = item->GetTaskDefinition();
    item->SetComment(QStringLiteral("edited"));
    item->Deactivate(false);
    QCOMPARE(item->GetTaskInterface().Get(), registered.Get());
    QCOMPARE(item->GetTaskDefinition().Get(), definition.Get());
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Reg"))->GetComment(), QString());
    item = f.scheduler->ActivateTask(QStringLiteral("Reg"));
    item->SetComment(QStringLiteral("edited"));
    item->Deactivate(false);
    item->Save();
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Reg"))->GetComment(), QStringLiteral("edited"));
    item = f.scheduler->ActivateTask(QStringLiteral("Reg"));
    item->SetCreator(QStringLiteral("someone"));
    item->Deactivate(true);
    QVERIFY(item->GetTaskInterface().Get() != registered.Get());
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Reg"))->GetCreator(), QStringLiteral("someone"));
}

void TestTaskItem::triggersWrittenBackOnlyByDeactivate()
{
    Fixture f(false);
    f.Listed(QStringLiteral("Sched"));
    const auto reload = [&] {
        f.scheduler->Refresh();
        TTaskItem* item = f.scheduler->ActivateTask(QStringLiteral("Sched"));
        item->Activate();
        return item;
    };
    TTaskItem* item = reload();
    TTrigger* trigger = item->GetTriggers()->Add(ttDaily);
    QVERIFY(trigger);
    // A 1.0 trigger edit changes the item's record only, until the triggers are sent.
    trigger->SetInterval(10);
    trigger->SetDuration(60);
    item->Save(); // Save does not write the triggers back first
    item = reload();
    QCOMPARE(item->GetTriggers()->Count(), 1);
    QCOMPARE(item->GetTriggers()->GetItem(0)->GetDuration(), 0u);

    // Deactivate(True) on a changed task sends the triggers, then saves.
    item->SetComment(QStringLiteral("changed"));
    item->GetTriggers()->GetItem(0)->SetInterval(10);
    item->GetTriggers()->GetItem(0)->SetDuration(60);
    item->Deactivate(true);
    QVERIFY(!item->GetTaskInterface());
    item = reload();
    QCOMPARE(item->GetTriggers()->GetItem(0)->GetDuration(), 60u);
    QCOMPARE(item->GetTriggers()->GetItem(0)->GetInterval(), 10u);

    // Deactivate(True) on an unchanged task writes nothing, not even the triggers.
    QVERIFY(!item->GetIsDirty());
    item->GetTriggers()->GetItem(0)->SetDuration(120);
    item->Deactivate(true);
    item = reload();
    QCOMPARE(item->GetTriggers()->GetItem(0)->GetDuration(), 60u);
}

void TestTaskItem::saveIntoCurrentFolder()
{
    Fixture f(true);
    const ComPtr<ITaskFolder> a = f.scheduler->CreateFolder(QStringLiteral("A"));
    const ComPtr<ITaskFolder> b = f.scheduler->CreateFolder(QStringLiteral("B"));
    f.scheduler->SetVistaSelectedFolder(a.Get());
    TTaskItem* item = f.Listed(QStringLiteral("Mover"));
    f.scheduler->SetVistaSelectedFolder(b.Get());
    item->Save();
    QCOMPARE(item->GetTaskLocation(), QStringLiteral("\\B\\"));
    ComPtr<IRegisteredTask> inA;
    QCOMPARE(a->GetTask(QStringLiteral("Mover"), inA.Put()), S_OK); // the original stays
    ComPtr<IRegisteredTask> inB;
    QCOMPARE(b->GetTask(QStringLiteral("Mover"), inB.Put()), S_OK);
}

void TestTaskItem::saveAsV1()
{
    Fixture f(false);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Original"));
    item->SetComment(QStringLiteral("shared"));
    item->Save();
    TTaskItem* before = f.scheduler->CreateNewItem(QStringLiteral("Aardvark"));
    QCOMPARE(f.scheduler->GetItem(1), item);
    item->Save(QStringLiteral("Backup"));
    QCOMPARE(item->GetName(), QStringLiteral("Backup"));
    // The stored name is Backup.job: the 1.0 lookups of Backup and Backup.job find the item,
    // which keeps its place in the list.
    QCOMPARE(f.scheduler->GetItem(0), before);
    QCOMPARE(f.scheduler->GetItem(1), item);
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Backup")), item);
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Backup.job")), item);
    QVERIFY(QFile::exists(f.JobPath(QStringLiteral("Original.job"))));
    QVERIFY(QFile::exists(f.JobPath(QStringLiteral("Backup.job"))));
    QCOMPARE(QFileInfo(item->GetCurFile()).fileName(), QStringLiteral("Backup.job"));
    // The item now refers to the new file; the old one keeps what it had.
    item->SetComment(QStringLiteral("only the copy"));
    item->Save();
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 2);
    TTaskItem* original = f.scheduler->ActivateTask(QStringLiteral("Original"));
    original->Activate();
    QCOMPARE(original->GetComment(), QStringLiteral("shared"));
    TTaskItem* copy = f.scheduler->ActivateTask(QStringLiteral("Backup.job"));
    copy->Activate();
    QCOMPARE(copy->GetComment(), QStringLiteral("only the copy"));
}

void TestTaskItem::saveAsV2()
{
    Fixture f(true);
    f.scheduler->CreateNewItem(QStringLiteral("Middle"));
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Zed"));
    item->SetApplicationName(kProgram);
    item->Save(QStringLiteral("Zulu"));
    QCOMPARE(item->GetName(), QStringLiteral("Zulu"));
    QVERIFY(item->GetTaskInterface());
    QCOMPARE(item->GetTaskLocation(), QStringLiteral("\\"));
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Zulu")), item);
    QCOMPARE(f.scheduler->GetCount(), 2);

    // The registration's path has no ".job", and neither has the item's name.
    TTaskItem* other = f.scheduler->CreateNewItem(QStringLiteral("Other"));
    other->SetApplicationName(kProgram);
    other->Save(QStringLiteral("Alpha.job"));
    QCOMPARE(other->GetName(), QStringLiteral("Alpha"));
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Alpha")), other);
    const ComPtr<ITaskFolder> root = f.scheduler->VistaRootFolder();
    ComPtr<IRegisteredTask> registered;
    QCOMPARE(root->GetTask(QStringLiteral("Alpha"), registered.Put()), S_OK);
    QVERIFY(FAILED(root->GetTask(QStringLiteral("Alpha.job"), registered.Put())));
    QVERIFY(FAILED(root->GetTask(QStringLiteral("Other"), registered.Put())));

    // A deleted copy stays deleted: no stale item is left to register it again.
    f.scheduler->DeleteTask(QStringLiteral("Alpha"));
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("Alpha")), nullptr);
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 1);
    QCOMPARE(f.scheduler->GetItem(0)->GetName(), QStringLiteral("Zulu"));

    // A copy never replaces another task: saving under a taken name fails and changes nothing.
    TTaskItem* third = f.New(QStringLiteral("Third"));
    third->SetComment(QStringLiteral("third"));
    QVERIFY_THROWS_EXCEPTION(EPlatformError, third->Save(QStringLiteral("zulu")));
    f.scheduler->Refresh();
    QVERIFY(f.scheduler->ActivateTask(QStringLiteral("Zulu"))->GetComment().isEmpty());
}

void TestTaskItem::saveAsKeepsListTrue()
{
    // After Save(AName) the item sits where AName belongs in the ordered list, and every
    // lookup of AName, DeleteTask included, finds it.
    QFETCH(bool, vista);
    Fixture f(vista);
    for (const char* name : {"Bravo", "Delta"}) f.New(QString::fromLatin1(name))->Save();
    f.scheduler->Refresh();
    TTaskItem* item = f.scheduler->ActivateTask(QStringLiteral("Bravo"));
    if (!vista) item->Activate();
    item->Save(QStringLiteral("Echo"));
    QCOMPARE(f.scheduler->GetItem(0)->GetName(), QStringLiteral("Delta"));
    QCOMPARE(f.scheduler->GetItem(1), item);
    item->Save(QStringLiteral("alpha"));
    QCOMPARE(f.scheduler->GetItem(0), item);
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("alpha")), item);
    QCOMPARE(f.scheduler->ActivateTask(QStringLiteral("ALPHA")), item);
    QCOMPARE(f.scheduler->GetCount(), 2);
    f.scheduler->DeleteTask(QStringLiteral("alpha"));
    QCOMPARE(f.scheduler->GetCount(), 1);
    f.scheduler->Refresh();
    QStringList names;
    for (int i = 0; i < f.scheduler->GetCount(); ++i) names << f.scheduler->GetItem(i)->GetName();
    // Each copy is a task of its own; the one it was made from stays.
    QCOMPARE(names, (QStringList{"Bravo", "Delta", "Echo"}));
}

void TestTaskItem::registeredNameKept()
{
    // A 2.0 task registered as "Nightly.job" by another program is saved under that name.
    Fixture f(true);
    TTaskScheduler other;
    other.Open();
    TTaskItem* theirs = other.CreateNewItem(QStringLiteral("Nightly.job"));
    theirs->SetApplicationName(kProgram);
    theirs->Save();
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 1);
    TTaskItem* item = f.scheduler->GetItem(0);
    QCOMPARE(item->GetName(), QStringLiteral("Nightly"));
    QCOMPARE(item->GetTaskLocation(), QStringLiteral("\\"));
    item->SetComment(QStringLiteral("saved again"));
    item->Save();
    f.scheduler->Refresh();
    QCOMPARE(f.scheduler->GetCount(), 1);
    QCOMPARE(f.scheduler->GetItem(0)->GetComment(), QStringLiteral("saved again"));
    ComPtr<IRegisteredTask> registered;
    QVERIFY(FAILED(f.scheduler->VistaRootFolder()->GetTask(QStringLiteral("Nightly"), registered.Put())));
}

void TestTaskItem::serviceWordsReachTheUser_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<HRESULT>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("bad duration") << 0 << E_INVALIDARG
                                  << "ExecutionTimeLimit: \"soon\" is not a duration such as \"PT1H30M\".";
    QTest::newRow("action past the end") << 1 << E_INVALIDARG << "There is no action 5; the task has 1.";
    QTest::newRow("missing folder") << 2 << HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
                                    << "The system cannot find the file specified. (No folder \"\\Nope\".)";
}

void TestTaskItem::serviceWordsReachTheUser()
{
    QFETCH(int, failure);
    QFETCH(HRESULT, code);
    QFETCH(QString, message);
    Fixture f(true);
    TTaskItem* item = f.New(QStringLiteral("Words"));
    const std::function<void()> calls[] = {
        [&] { item->SetTimeProperties({"soon", "", "0", "", "", ""}); },
        [&] {
            item->SetCurrentAction(5);
            item->GetParameters();
        },
        [&] {
            f.scheduler->CurrentFolderPath = QStringLiteral("\\Nope");
            item->Save();
        },
    };
    HRESULT raised = S_OK;
    QString text;
    try {
        calls[failure]();
    } catch (const EPlatformError& e) {
        raised = e.Code();
        text = e.Message();
    }
    QCOMPARE(raised, code);   // callers compare the code
    QCOMPARE(text, message);
    // The description belonged to that call: a later failure that leaves none of its own
    // is told by its code's text alone.
    QCOMPARE(MessageOf<EPlatformError>([] { OleCheck(E_FAIL); }), ResultText(E_FAIL));
}

void TestTaskItem::applicationNameSummary_data()
{
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("summary");
    QTest::newRow("none") << QList<int>{} << 0 << "Empty";
    QTest::newRow("one exec") << QList<int>{0} << 0 << kProgram;
    QTest::newRow("two") << QList<int>{0, 6} << 0 << "Multiple actions";
    QTest::newRow("e-mail") << QList<int>{6} << 0 << "Send an e-mail";
    QTest::newRow("message") << QList<int>{7} << 0 << "Display a message";
    QTest::newRow("handler") << QList<int>{5} << 0 << "COM Object";
    QTest::newRow("second of two") << QList<int>{6, 0} << 2 << kProgram;
    QTest::newRow("first of two") << QList<int>{7, 0} << 1 << "Display a message";
}

void TestTaskItem::applicationNameSummary()
{
    QFETCH(QList<int>, types);
    QFETCH(int, current);
    QFETCH(QString, summary);
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Actions"));
    for (int type : types) {
        ComPtr<IAction> action;
        QCOMPARE(ActionsOf(item)->Create(static_cast<TASK_ACTION_TYPE>(type), action.Put()), S_OK);
        ComPtr<IExecAction> exec;
        if (SUCCEEDED(action.As(exec))) exec->put_Path(kProgram);
    }
    item->SetCurrentAction(current);
    QCOMPARE(item->GetApplicationName(), summary);
    QCOMPARE(item->GetCurrentAction(), current);
}

void TestTaskItem::applicationNameWriteV2()
{
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Write"));
    item->SetApplicationName(kProgram);
    QCOMPARE(item->GetCurrentAction(), 1);
    LONG count = 0;
    ActionsOf(item)->get_Count(&count);
    QCOMPARE(count, 1);
    QCOMPARE(item->GetApplicationName(), kProgram);

    // With actions present nothing is created: index 0 is refused by the service.
    item->SetCurrentAction(0);
    try {
        item->SetApplicationName(QStringLiteral("/bin/false"));
        QFAIL("writing action 0 succeeded");
    } catch (const EPlatformError& e) {
        QCOMPARE(e.Code(), E_INVALIDARG);
    }
    ActionsOf(item)->get_Count(&count);
    QCOMPARE(count, 1);

    // An action of another kind cannot take a program.
    ComPtr<IAction> mail;
    ActionsOf(item)->Create(TASK_ACTION_SEND_EMAIL, mail.Put());
    item->SetCurrentAction(2);
    QCOMPARE(MessageOf<EIntfCastError>([&] { item->SetWorkingDirectory(QStringLiteral("/tmp")); }),
             QStringLiteral("Interface not supported"));
}

void TestTaskItem::parametersAddressFirstAction()
{
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Params"));
    item->SetParameters(QStringLiteral("--fast"));
    item->SetCurrentAction(0);
    QCOMPARE(item->GetParameters(), QStringLiteral("--fast"));
    QCOMPARE(item->GetCurrentAction(), 1);
    item->SetCurrentAction(-3);
    item->GetParameters();
    QCOMPARE(item->GetCurrentAction(), 1);
}

void TestTaskItem::execActionReadersV2()
{
    Fixture f(true);
    // Parameters on a task without actions: CurrentAction is raised to 1, then the service
    // has no action 1, and its error is raised.
    TTaskItem* params = f.scheduler->CreateNewItem(QStringLiteral("Params"));
    try {
        params->GetParameters();
        QFAIL("arguments of a missing action were read");
    } catch (const EPlatformError& e) {
        QCOMPARE(e.Code(), E_INVALIDARG);
    }
    QCOMPARE(params->GetCurrentAction(), 1);
    LONG count = -1;
    ActionsOf(params)->get_Count(&count);
    QCOMPARE(count, 0);

    // WorkingDirectory ensures an exec action even when read.
    TTaskItem* dir = f.scheduler->CreateNewItem(QStringLiteral("Dir"));
    QCOMPARE(dir->GetWorkingDirectory(), QString());
    QCOMPARE(dir->GetCurrentAction(), 1);
    ActionsOf(dir)->get_Count(&count);
    QCOMPARE(count, 1);
    QCOMPARE(dir->GetApplicationName(), QString()); // the new exec action has no path yet

    // With actions present nothing is created, so CurrentAction 0 reaches the service.
    dir->SetCurrentAction(0);
    try {
        dir->GetWorkingDirectory();
        QFAIL("action 0 was read");
    } catch (const EPlatformError& e) {
        QCOMPARE(e.Code(), E_INVALIDARG);
    }
    ActionsOf(dir)->get_Count(&count);
    QCOMPARE(count, 1);
}

void TestTaskItem::textProperties()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Texts"));
    item->SetApplicationName(QStringLiteral("/usr/bin/env"));
    item->SetParameters(QStringLiteral("echo \"a b\""));
    item->SetWorkingDirectory(QStringLiteral("/tmp"));
    item->SetComment(QStringLiteral("Line one\r\nLine two"));
    item->SetCreator(QStringLiteral("Ünïcode author"));
    item->Save();
    f.scheduler->Refresh();
    item = f.scheduler->ActivateTask(QStringLiteral("Texts"));
    if (!vista) item->Activate();
    QCOMPARE(item->GetApplicationName(), QStringLiteral("/usr/bin/env"));
    QCOMPARE(item->GetParameters(), QStringLiteral("echo \"a b\""));
    QCOMPARE(item->GetWorkingDirectory(), QStringLiteral("/tmp"));
    QCOMPARE(item->GetComment(), QStringLiteral("Line one\r\nLine two"));
    QCOMPARE(item->GetCreator(), QStringLiteral("Ünïcode author"));
}

void TestTaskItem::accountInformationV2_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("userId");
    QTest::addColumn<int>("logonType");
    QTest::addColumn<QString>("accountName");
    QTest::addColumn<QString>("storedAccount");
    const QString me = qEnvironmentVariable("USER", QStringLiteral("root"));
    // Group row: the principal's user id is cleared and its group id left as it was, so the
    // item reads no account; the registration hands the group to the service.
    QTest::newRow("group") << me << "users" << "" << int(TASK_LOGON_GROUP) << "" << "users";
    QTest::newRow("account") << me << "" << me << int(TASK_LOGON_INTERACTIVE_TOKEN) << me << me;
    QTest::newRow("none") << "" << "" << "System" << int(TASK_LOGON_SERVICE_ACCOUNT) << "System" << "System";
}

void TestTaskItem::accountInformationV2()
{
    QFETCH(QString, account);
    QFETCH(QString, group);
    QFETCH(QString, userId);
    QFETCH(int, logonType);
    QFETCH(QString, accountName);
    QFETCH(QString, storedAccount);
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Account"));
    item->SetApplicationName(kProgram);
    item->SetAccountInformation(account, QString(), group);
    const ComPtr<IPrincipal> principal = PrincipalOf(item->GetTaskDefinition());
    QString user;
    principal->get_UserId(&user);
    TASK_LOGON_TYPE logon = TASK_LOGON_NONE;
    principal->get_LogonType(&logon);
    QCOMPARE(user, userId);
    QCOMPARE(int(logon), logonType);
    QCOMPARE(item->GetAccountName(), accountName);
    // Registered at once, but the item keeps its task object.
    QVERIFY(!item->GetTaskInterface());
    const auto stored = [&] {
        TTaskScheduler other;
        other.Open();
        TTaskItem* task = other.ActivateTask(QStringLiteral("Account"));
        QVERIFY(task);
        TASK_LOGON_TYPE type = TASK_LOGON_NONE;
        PrincipalOf(task->GetTaskDefinition())->get_LogonType(&type);
        QCOMPARE(int(type), logonType);
        QCOMPARE(task->GetAccountName(), storedAccount);
    };
    stored();
    if (QTest::currentTestFailed()) return;
    // Later saves send the same account again (a group task re-sends its group: without it
    // the service could not register a group task whose principal names no group).
    item->SetComment(QStringLiteral("saved again"));
    item->Save();
    QVERIFY(item->GetTaskInterface());
    stored();
    item->Deactivate(true);
    stored();
}

void TestTaskItem::accountInformationPassword()
{
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Account"));
    item->SetApplicationName(kProgram);
    const QString me = qEnvironmentVariable("USER", QStringLiteral("root"));
    item->SetAccountInformation(me, QStringLiteral("secret"), QString());
    QCOMPARE(item->GetAccountName(), me);
    QCOMPARE(item->GetTaskLogonType(), tltPassword);
    TTaskScheduler other;
    other.Open();
    TTaskItem* stored = other.ActivateTask(QStringLiteral("Account"));
    QVERIFY(stored);
    QCOMPARE(stored->GetTaskLogonType(), tltPassword);
    QCOMPARE(stored->GetAccountName(), me);
    // The account and password go along with every later registration.
    item->SetComment(QStringLiteral("saved again"));
    item->Save();
    QVERIFY(item->GetTaskInterface());
}

void TestTaskItem::accountInformationV1()
{
    Fixture f(false);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Account"));
    const auto storedJob = [&] {
        item->Save();
        QFile file(f.JobPath(QStringLiteral("Account.job")));
        JobDefinition definition;
        JobRuntime runtime;
        if (!file.open(QIODevice::ReadOnly)) return definition;
        JobFile::Decode(file.readAll(), &definition, &runtime);
        return definition;
    };
    // Three empty strings: an empty account and a null password; the group is ignored.
    item->SetAccountInformation(QString(), QString(), QStringLiteral("ignored group"));
    QCOMPARE(item->GetAccountName(), QString());
    JobDefinition job = storedJob();
    QVERIFY(job.accountSet);
    QCOMPARE(job.accountName, QString());
    QVERIFY(!job.passwordGiven);
    const QString me = qEnvironmentVariable("USER", QStringLiteral("root"));
    item->SetAccountInformation(me, QString(), QString());
    QCOMPARE(item->GetAccountName(), me);
    QVERIFY(!storedJob().passwordGiven);
    // A password is passed as text.
    item->SetAccountInformation(me, QStringLiteral("secret"), QString());
    job = storedJob();
    QCOMPARE(job.accountName, me);
    QVERIFY(job.passwordGiven);
}

void TestTaskItem::accountInformationFailureKeepsSteps()
{
    // A registration the service refuses leaves the principal as the steps before it made it.
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Account"));
    item->SetApplicationName(kProgram);
    const QString nobody = QStringLiteral("no-such-user-%1").arg(QCoreApplication::applicationPid());
    try {
        item->SetAccountInformation(nobody, QStringLiteral("secret"), QString());
        QFAIL("an unknown account was registered");
    } catch (const EPlatformError& e) {
        QVERIFY(FAILED(e.Code()));
    }
    QCOMPARE(item->GetAccountName(), nobody);
    QCOMPARE(item->GetTaskLogonType(), tltPassword);
    QVERIFY(!item->GetTaskInterface());
    TTaskScheduler other;
    other.Open();
    QCOMPARE(other.ActivateTask(QStringLiteral("Account")), nullptr);
}

void TestTaskItem::priority_data()
{
    QTest::addColumn<int>("priority");
    QTest::addColumn<uint>("raw");
    QTest::newRow("idle") << int(tpIdle) << 0x40u;
    QTest::newRow("normal") << int(tpNormal) << 0x20u;
    QTest::newRow("high") << int(tpHigh) << 0x80u;
    QTest::newRow("realtime") << int(tpRealTime) << 0x100u;
}

void TestTaskItem::priority()
{
    QFETCH(int, priority);
    QFETCH(uint, raw);
    Fixture f(false);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Priority"));
    item->SetPriority(static_cast<TTaskPriority>(priority));
    DWORD stored = 0;
    QCOMPARE(TaskOf(item)->GetPriority(&stored), S_OK);
    QCOMPARE(uint(stored), raw);
    QCOMPARE(int(item->GetPriority()), priority);
}

void TestTaskItem::maxRunTimeV2_data()
{
    QTest::addColumn<uint>("milliseconds");
    QTest::addColumn<QString>("limit");
    QTest::newRow("no limit") << 0xFFFFFFFFu << "PT0S";
    QTest::newRow("below a minute") << 59999u << "";
    QTest::newRow("a minute and a half") << 90000u << "PT1M";
    QTest::newRow("an hour") << 3600000u << "PT1H0M";
    QTest::newRow("a day and more") << 90060000u << "P1DT1H1M";
}

void TestTaskItem::maxRunTimeV2()
{
    QFETCH(uint, milliseconds);
    QFETCH(QString, limit);
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Limit"));
    item->SetMaxRunTime(milliseconds);
    QCOMPARE(ExecutionTimeLimit(item), limit);
}

void TestTaskItem::runSettingsV1()
{
    Fixture f(false);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Settings"));
    for (quint32 value : {0xFFFFFFFFu, 59999u, 90000u}) {
        item->SetMaxRunTime(value);
        QCOMPARE(item->GetMaxRunTime(), value);
    }
    item->SetIdleTime(TIdleTime{10, 65535});
    QCOMPARE(item->GetIdleTime(), (TIdleTime{10, 65535}));
    item->Save();
    QVERIFY(!item->GetIsDirty());
    QCOMPARE(QFileInfo(item->GetCurFile()).canonicalFilePath(),
             QFileInfo(f.JobPath(QStringLiteral("Settings.job"))).canonicalFilePath());
    item->SetComment(QStringLiteral("changed"));
    QVERIFY(item->GetIsDirty());
}

void TestTaskItem::binaryDataV1_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("written");   // -1: refused, the old data stays
    QTest::newRow("one byte") << 1 << 1;
    QTest::newRow("largest") << 65535 << 65535;
    QTest::newRow("one too many") << 65536 << -1;
    QTest::newRow("would wrap to one") << 65537 << -1;
    QTest::newRow("would wrap to two") << 131074 << -1;
}

void TestTaskItem::binaryDataV1()
{
    QFETCH(int, size);
    QFETCH(int, written);
    const bool stored = written > 0;
    Fixture f(false);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Data"));
    QByteArray old("old data");
    QBuffer oldStream(&old);
    oldStream.open(QIODevice::ReadOnly);
    item->SetBinaryData(oldStream);

    QByteArray bytes(size + 3, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    in.seek(3); // from the current position on
    if (stored) {
        item->SetBinaryData(in);
        QCOMPARE(in.pos(), qint64(3 + written));
    } else {
        QCOMPARE(MessageOf<ETaskError>([&] { item->SetBinaryData(in); }),
                 QStringLiteral("The task's data cannot be longer than 65535 bytes."));
        QCOMPARE(in.pos(), qint64(3));
    }
    QBuffer out;
    out.open(QIODevice::ReadWrite);
    out.write("prefix");
    item->GetBinaryData(out);
    QCOMPARE(out.data(), QByteArray("prefix") + (stored ? bytes.mid(3, written) : old));
    // Saved and loaded again, the task has the same data.
    item->Save();
    f.scheduler->Refresh();
    TTaskItem* loaded = f.scheduler->ActivateTask(QStringLiteral("Data"));
    loaded->Activate();
    QBuffer reread;
    reread.open(QIODevice::ReadWrite);
    loaded->GetBinaryData(reread);
    QCOMPARE(reread.data(), stored ? bytes.mid(3, written) : old);
    item = loaded;

    // An empty stream keeps the old data.
    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    item->SetBinaryData(empty);
    QBuffer again;
    again.open(QIODevice::ReadWrite);
    item->GetBinaryData(again);
    QCOMPARE(again.data(), stored ? bytes.mid(3, written) : old);
}

void TestTaskItem::binaryDataV2_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("readBack");
    QTest::newRow("text") << QByteArray("h\0e\0y\0", 6) << QByteArray("h\0e\0y\0", 6);
    QTest::newRow("odd count") << QByteArray("abc") << QByteArray("abc\0", 4);
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestTaskItem::binaryDataV2()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, readBack);
    Fixture f(true);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Data"));
    item->SetApplicationName(kProgram);
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    item->SetBinaryData(in);
    item->Save();
    f.scheduler->Refresh();
    QBuffer out;
    out.open(QIODevice::ReadWrite);
    f.scheduler->ActivateTask(QStringLiteral("Data"))->GetBinaryData(out);
    QCOMPARE(out.data(), readBack);
}

void TestTaskItem::taskLocation()
{
    Fixture f(true);
    const ComPtr<ITaskFolder> reports = f.scheduler->CreateFolder(QStringLiteral("Reports"));
    f.scheduler->SetVistaSelectedFolder(reports.Get());
    QCOMPARE(f.Listed(QStringLiteral("Daily"))->GetTaskLocation(), QStringLiteral("\\Reports\\"));
    f.scheduler->SetVistaSelectedFolder(f.scheduler->VistaRootFolder().Get());
    QCOMPARE(f.Listed(QStringLiteral("AtRoot"))->GetTaskLocation(), QStringLiteral("\\"));
    QCOMPARE(MessageOf<ETaskError>([&] { f.scheduler->CreateNewItem(QStringLiteral("New"))->GetTaskLocation(); }),
             NotActivated(QStringLiteral("New")));
}

void TestTaskItem::triggerString()
{
    QFETCH(bool, vista);
    Fixture f(vista);
    TTaskItem* item = f.scheduler->CreateNewItem(QStringLiteral("Schedule"));
    QCOMPARE(item->GetTriggerString(), QStringLiteral("Task not scheduled"));
    item->GetTriggers()->Add(ttAtStartup);
    QCOMPARE(item->GetTriggerString(), item->GetTriggers()->GetItem(0)->GetAsString());
    QVERIFY(!item->GetTriggerString().isEmpty());
    item->GetTriggers()->Add(ttAtLogon);
    QCOMPARE(item->GetTriggerString(), QStringLiteral("Multiple schedule times"));
}

void TestTaskItem::commandsV2()
{
    Fixture f(true);
    TTaskItem* fresh = f.scheduler->CreateNewItem(QStringLiteral("Fresh"));
    QCOMPARE(MessageOf<ETaskError>([&] { fresh->Run(); }), NotActivated(QStringLiteral("Fresh")));
    fresh->EditWorkItem(); // nothing in 2.0
    TTaskItem* listed = f.Listed(QStringLiteral("Listed"));
    listed->EditWorkItem();
    QCOMPARE(MessageOf<EIntfCastError>([&] { listed->Terminate(); }), QStringLiteral("Interface not supported"));
    listed->Activate(); // reloads the triggers only
    QVERIFY(listed->GetTaskInterface());
}

void TestTaskItem::getInterface()
{
    {
        Fixture f(false);
        TTaskItem* item = f.Listed(QStringLiteral("Job"));
        ComPtr<ITask> task;
        item->GetInterface(ITask::iid, task.PutVoid());
        QVERIFY(task);
        QVERIFY(item->GetTaskInterface()); // activated on the way
        ComPtr<IRegisteredTask> other;
        try {
            item->GetInterface(IRegisteredTask::iid, other.PutVoid());
            QFAIL("a 1.0 task answered as a 2.0 one");
        } catch (const EPlatformError& e) {
            QCOMPARE(e.Code(), E_NOINTERFACE);
        }
    }
    Fixture f(true);
    TTaskItem* fresh = f.scheduler->CreateNewItem(QStringLiteral("Fresh"));
    ComPtr<IRegisteredTask> registered;
    QCOMPARE(MessageOf<ETaskError>([&] { fresh->GetInterface(IRegisteredTask::iid, registered.PutVoid()); }),
             NotActivated(QStringLiteral("Fresh")));
    f.Listed(QStringLiteral("Listed"))->GetInterface(IRegisteredTask::iid, registered.PutVoid());
    QVERIFY(registered);
}

void TestTaskItem::displayTaskPagesV2()
{
    Fixture f(true);
    TTaskItem* listed = f.Listed(QStringLiteral("Listed"));
    try {
        listed->DisplayTaskPages(0, TPageTypes{ptSchedule}, QString());
        QFAIL("2.0 task pages were shown");
    } catch (const EPlatformError& e) {
        QCOMPARE(e.Code(), E_NOINTERFACE);
    }
}

void TestTaskItem::displayTaskPagesWithoutWidgets()
{
    // A program without the pages (this one links no widgets) gets the service's refusal
    // and shows nothing; an empty page set asks the service for nothing at all.
    Fixture f(false);
    TTaskItem* item = f.Listed(QStringLiteral("Pages"));
    item->Activate();
    item->DisplayTaskPages(nullptr, TPageTypes{}, QStringLiteral("Caption"));
    try {
        item->DisplayTaskPages(nullptr, TPageTypes{ptSchedule}, QStringLiteral("Caption"));
        QFAIL("pages were made without widgets");
    } catch (const EPlatformError& e) {
        QCOMPARE(e.Code(), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    }
}

QTEST_GUILESS_MAIN(TestTaskItem)
#include "tst_taskitem.moc"
