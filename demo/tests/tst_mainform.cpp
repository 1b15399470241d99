// The main window against a private service: its list, tree, command states and commands.

#include "DemoTestSupport.h"
#include "Registry.h"
#include "ScriptedPrompts.h"
#include "TRibbon.h"
#include "UserAccount.h"

#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void generations_data();

    void startUpListsTasksInNameOrder_data() { generations_data(); }
    void startUpListsTasksInNameOrder();
    void runTimesNotAfterTheEpochShowNever_data();
    void runTimesNotAfterTheEpochShowNever();
    void statusTexts_data();
    void statusTexts();
    void folderTreeIn2();
    void noFolderTreeIn1();
    void commandStatesFollowTheSelection_data() { generations_data(); }
    void commandStatesFollowTheSelection();
    void contextMenuDependsOnTheSelection();
    void deleteGoesOnPastAFailingRow();
    void deleteAskedNoDeletesNothing();
    void folderCommandsFromAFirstLevelFolder();
    void deleteFolder();
    void notepadDemo_data() { generations_data(); }
    void notepadDemo();
    void customExeDemo_data() { generations_data(); }
    void customExeDemo();
    void customExeDemoCancelled();
    void disableTask_data() { generations_data(); }
    void disableTask();
    void switchingTaskService2OffAndOn();
    void showOnlyOwnTasks();
    void unreachableTargetKeepsTheList();
    void placementWrittenAndRestored();
    void placementReadErrors_data();
    void placementReadErrors();
    void hintsAndCaptions_data();
    void hintsAndCaptions();
    void ribbonLayout();
    void aboutAndPages();
    void windowsOfLaterWorkSaySo();
    void emptyFolderNameGoesToTheService();
    void withoutAServiceTheWindowStillComesUp();
};

void TestMainForm::generations_data()
{
    QTest::addColumn<bool>("only1");
    QTest::newRow("2.0") << false;
    QTest::newRow("1.0 only") << true;
}

void TestMainForm::startUpListsTasksInNameOrder()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    AddTask(QStringLiteral("beta"));
    AddTask(QStringLiteral("Alpha"));
    AddTask(QStringLiteral("gamma"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(RowCaptions(form), (QStringList{"Alpha", "beta", "gamma"}));
    QCOMPARE(List(form)->ColumnCaptions(),
             (QStringList{"Name", "Schedule", "Next Run Time", "Last Run Time", "Status", "Creator"}));
    const QList<int> widths{148, 246, 123, 123, 98, 98};
    for (int i = 0; i < widths.size(); ++i) QCOMPARE(List(form)->ColumnWidth(i), widths.at(i));

    TTaskItem* alpha = form.Scheduler->GetItem(0);
    alpha->Activate();
    const QStringList expected{alpha->GetTriggerString(), QStringLiteral("Never"), QStringLiteral("Never"),
                               TMainForm::StatusText(alpha->GetStatus()), QStringLiteral("tester")};
    alpha->Deactivate(false);
    QCOMPARE(List(form)->SubItems(0), expected);
    QVERIFY(!List(form)->Image(0).isNull()); // /bin/true exists, so the row has its icon
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("pnlTarget"))->text(),
             QStringLiteral(" Scheduled tasks on ") + form.Scheduler->GetTargetComputer());
    QCOMPARE(form.windowTitle(), QStringLiteral("Task Scheduler Demo"));
}

void TestMainForm::runTimesNotAfterTheEpochShowNever_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<bool>("never");
    QTest::newRow("never ran") << -693959.0 << true;
    QTest::newRow("zero") << 0.0 << true;
    QTest::newRow("exactly one") << 1.0 << true;
    QTest::newRow("just after one") << 1.0000001 << false;
    QTest::newRow("a real time") << 45000.375 << false;
}

void TestMainForm::runTimesNotAfterTheEpochShowNever()
{
    QFETCH(double, time);
    QFETCH(bool, never);
    QCOMPARE(TMainForm::RunTimeText(time), never ? QStringLiteral("Never") : DateTimeToUserText(time));
}

void TestMainForm::statusTexts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    const QList<QPair<TTaskStatus, const char*>> table{
        {tsReady, "Ready"},       {tsRunning, "Running"},         {tsDisabled, "Disabled"},
        {tsHasNotRun, "Has not run"}, {tsNoMoreRuns, "No more runs"}, {tsNotScheduled, "Not scheduled"},
        {tsTerminated, "Terminated"}, {tsNoValidTriggers, "No valid triggers"}, {ts2Unknown, "Unknown"},
        {ts2Disabled, "Disabled"}, {ts2Queued, "Queued"},         {ts2Ready, "Ready"},
        {ts2Running, "Running"}};
    for (const auto& [status, text] : table) QTest::newRow(text) << int(status) << QString::fromLatin1(text);
}

void TestMainForm::statusTexts()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    QCOMPARE(TMainForm::StatusText(TTaskStatus(status)), text);
}

void TestMainForm::folderTreeIn2()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("In root"));
    AddTask(QStringLiteral("Monthly report"), QStringLiteral("/bin/true"), QStringLiteral("\\Reports"));
    AddTask(QStringLiteral("Old"), QStringLiteral("/bin/true"), QStringLiteral("\\Archive"));
    AddTask(QStringLiteral("Daily report"), QStringLiteral("/bin/true"), QStringLiteral("\\Reports\\Daily"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(prompts.errors, QStringList());

    QTreeWidget* tree = Tree(form);
    QVERIFY(!tree->isHidden());
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    QCOMPARE(root->text(0), QStringLiteral("\\"));
    QCOMPARE(tree->currentItem(), root);
    QVERIFY(root->isExpanded());
    QCOMPARE(root->childCount(), 2);
    QCOMPARE(root->child(0)->text(0), QStringLiteral("Archive"));
    QTreeWidgetItem* reports = root->child(1);
    QCOMPARE(reports->text(0), QStringLiteral("Reports"));
    QCOMPARE(reports->childCount(), 1);
    QCOMPARE(TMainForm::GetCurPath(root), QStringLiteral("\\"));
    QCOMPARE(TMainForm::GetCurPath(reports), QStringLiteral("\\Reports"));
    QCOMPARE(TMainForm::GetCurPath(reports->child(0)), QStringLiteral("\\Reports\\Daily"));

    QCOMPARE(RowCaptions(form), QStringList{"In root"});
    QVERIFY(Action(form, "acNewNode")->isVisible());
    QVERIFY(!Action(form, "acNewNode")->isEnabled());
    QVERIFY(!Action(form, "acDeleteNode")->isEnabled());
    QVERIFY(Action(form, "acNewSubNode")->isEnabled());

    tree->setCurrentItem(reports);
    QCOMPARE(form.Scheduler->CurrentFolderPath, QStringLiteral("\\Reports"));
    QCOMPARE(RowCaptions(form), QStringList{"Monthly report"});
    QVERIFY(Action(form, "acNewNode")->isEnabled());
    QVERIFY(Action(form, "acDeleteNode")->isEnabled());
    tree->setCurrentItem(reports->child(0));
    QCOMPARE(RowCaptions(form), QStringList{"Daily report"});
    QCOMPARE(prompts.errors, QStringList());
}

void TestMainForm::noFolderTreeIn1()
{
    DemoTestEnvironment env(true);
    AddTask(QStringLiteral("One"));
    AddTask(QStringLiteral("Two"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(Tree(form)->isHidden());
    QCOMPARE(Tree(form)->topLevelItemCount(), 0);
    QVERIFY(!Action(form, "acNewNode")->isVisible());
    QVERIFY(!Action(form, "acNewSubNode")->isEnabled());
    QVERIFY(!Action(form, "acDeleteNode")->isEnabled());
    QVERIFY(!Action(form, "acUseTaskScheduler2")->isEnabled());
    QCOMPARE(RowCaptions(form), (QStringList{"One", "Two"}));
    // The tree commands have no folder to act on.
    prompts.inputAnswers = QStringList{QStringLiteral("X")};
    form.acNewSubNodeExecute();
    QCOMPARE(prompts.errors, QStringList());
}

void TestMainForm::commandStatesFollowTheSelection()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    AddTask(QStringLiteral("A"));
    AddTask(QStringLiteral("B"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    const auto enabled = [&form](const char* name) { return Action(form, name)->isEnabled(); };

    QVERIFY(!enabled("acProperties") && !enabled("acRun") && !enabled("acDelete") && !enabled("acQuickDisable"));
    QVERIFY(!enabled("acPropertiesNew"));
    List(form)->SetSelected(0, true);
    QVERIFY(enabled("acProperties") && enabled("acRun") && enabled("acDelete") && enabled("acQuickDisable"));
    QCOMPARE(enabled("acPropertiesNew"), !only1);
    List(form)->SetSelected(1, true);
    QVERIFY(!enabled("acProperties"));
    QVERIFY(enabled("acRun") && enabled("acDelete") && enabled("acQuickDisable"));
    QCOMPARE(enabled("acPropertiesNew"), !only1);

    QVERIFY(Action(form, "acDetails")->isChecked());
    Action(form, "acLargeIcons")->trigger();
    QCOMPARE(List(form)->GetViewStyle(), vsIcon);
    QVERIFY(Action(form, "acLargeIcons")->isChecked() && !Action(form, "acDetails")->isChecked());
    QVERIFY(!List(form)->Image(0).isNull()); // rows keep their icons across a change of view style
    Action(form, "acList")->trigger();
    QCOMPARE(List(form)->GetViewStyle(), vsList);
    Action(form, "acSmallIcons")->trigger();
    QCOMPARE(List(form)->GetViewStyle(), vsSmallIcon);
    QCOMPARE(List(form)->SelCount(), 2); // both views share one selection
}

void TestMainForm::contextMenuDependsOnTheSelection()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("A"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    form.show();
    form.ListViewMouseDown(Qt::RightButton, form.mapToGlobal(QPoint(300, 300)));
    QTRY_VERIFY(form.popView->isVisible());
    QVERIFY(!form.popSelected->isVisible());
    form.popView->close();
    List(form)->SetSelected(0, true);
    form.ListViewMouseDown(Qt::LeftButton, form.mapToGlobal(QPoint(300, 300)));
    QVERIFY(!form.popSelected->isVisible());
    form.ListViewMouseDown(Qt::RightButton, form.mapToGlobal(QPoint(300, 300)));
    QTRY_VERIFY(form.popSelected->isVisible());
    form.popSelected->close();
}

void TestMainForm::deleteGoesOnPastAFailingRow()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("First"));
    AddTask(QStringLiteral("Middle"));
    AddTask(QStringLiteral("Last"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(RowCaptions(form), (QStringList{"First", "Last", "Middle"}));
    // Another program removes "Last" behind the window's back: deleting its row fails.
    {
        TTaskScheduler other;
        other.Open();
        other.CurrentFolderPath = QStringLiteral("\\");
        other.DeleteTask(QStringLiteral("Last"));
    }
    for (int row = 0; row < 3; ++row) List(form)->SetSelected(row, true);
    Action(form, "acDelete")->trigger();
    QCOMPARE(prompts.questions, QStringList{"Are you sure you want to delete the selected task(s)?"});
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(RowCaptions(form), QStringList{"Last"});
    form.acRefreshExecute();
    QCOMPARE(RowCaptions(form), QStringList());
}

void TestMainForm::deleteAskedNoDeletesNothing()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Keep"));
    ScriptedPrompts prompts;
    prompts.confirm = false;
    TMainForm form(&prompts);
    List(form)->SetSelected(0, true);
    Action(form, "acDelete")->trigger();
    QCOMPARE(prompts.questions.size(), 1);
    form.acRefreshExecute();
    QCOMPARE(RowCaptions(form), QStringList{"Keep"});
}

void TestMainForm::folderCommandsFromAFirstLevelFolder()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Report"), QStringLiteral("/bin/true"), QStringLiteral("\\Reports"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QTreeWidgetItem* reports = Tree(form)->topLevelItem(0)->child(0);
    Tree(form)->setCurrentItem(reports);

    prompts.inputAnswers = QStringList{QStringLiteral("Beside")};
    Action(form, "acNewNode")->trigger();
    QCOMPARE(prompts.inputs, QStringList{"Create folder|Please enter name for new folder:|New Folder"});
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(form.Scheduler->FolderExists(QStringLiteral("\\Beside")));
    QTreeWidgetItem* root = Tree(form)->topLevelItem(0);
    QCOMPARE(Tree(form)->currentItem(), root);
    QCOMPARE(root->childCount(), 2);
    QCOMPARE(root->child(0)->text(0), QStringLiteral("Beside"));

    reports = root->child(1);
    Tree(form)->setCurrentItem(reports);
    prompts.inputs.clear();
    prompts.inputAnswers = QStringList{QStringLiteral("Inside")};
    Action(form, "acNewSubNode")->trigger();
    QCOMPARE(prompts.inputs, QStringList{"Create sub-folder|Please enter name for new sub-folder:|New Folder"});
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(form.Scheduler->FolderExists(QStringLiteral("\\Reports\\Inside")));
    QCOMPARE(Tree(form)->currentItem(), reports);
    QCOMPARE(reports->childCount(), 1);
    QCOMPARE(reports->child(0)->text(0), QStringLiteral("Inside"));

    // From the root, "Sub-folder" creates a first-level folder.
    Tree(form)->setCurrentItem(root);
    prompts.inputAnswers = QStringList{QStringLiteral("Top")};
    Action(form, "acNewSubNode")->trigger();
    QVERIFY(form.Scheduler->FolderExists(QStringLiteral("\\Top")));

    // Cancelling the input box creates nothing.
    const int before = root->childCount();
    Action(form, "acNewSubNode")->trigger();
    QCOMPARE(root->childCount(), before);
}

void TestMainForm::deleteFolder()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Report"), QStringLiteral("/bin/true"), QStringLiteral("\\Full"));
    {
        TTaskScheduler other;
        other.Open();
        other.CreateFolder(QStringLiteral("\\Empty"));
    }
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QTreeWidgetItem* root = Tree(form)->topLevelItem(0);
    QCOMPARE(root->childCount(), 2);

    Tree(form)->setCurrentItem(root->child(0)); // \Empty
    Action(form, "acDeleteNode")->trigger();
    QCOMPARE(prompts.questions, QStringList{"This will delete selected folder! Continue?"});
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(!form.Scheduler->FolderExists(QStringLiteral("\\Empty")));
    QCOMPARE(Tree(form)->currentItem(), root);
    QCOMPARE(root->childCount(), 1);

    // A folder that still holds a task cannot go; the message names the service's reason.
    Tree(form)->setCurrentItem(root->child(0)); // \Full
    Action(form, "acDeleteNode")->trigger();
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY2(prompts.messages.at(0).text.startsWith(QStringLiteral("Could not delete folder!\r\nError: ")),
             qPrintable(prompts.messages.at(0).text));
    QVERIFY(prompts.messages.at(0).text.endsWith(QLatin1Char('.')));
    QCOMPARE(prompts.messages.at(0).caption, QStringLiteral("Task Kelvara"));
    QCOMPARE(prompts.messages.at(0).icon, QMessageBox::Warning);
    QVERIFY(form.Scheduler->FolderExists(QStringLiteral("\\Full")));
}

namespace {
/// The one task of the list whose name starts "New task ", activated.
TTaskItem* DemoTask(TMainForm& form)
{
    TTaskItem* found = nullptr;
    for (int i = 0; i < form.Scheduler->GetCount(); ++i) {
        if (form.Scheduler->GetItem(i)->GetName().startsWith(QStringLiteral("New task "))) {
            if (found) return nullptr;
            found = form.Scheduler->GetItem(i);
        }
    }
    if (found) found->Activate();
    return found;
}

/// The end date in force of a stored trigger; null without one. A 2.0 trigger keeps it in the
/// service's end boundary only, which the library does not read back.
QDate EndDateOf(TMainForm& form, TTrigger* trigger)
{
    if (!form.Scheduler->RunningVistaOrLater())
        return trigger->GetHasEndDate() ? DateTimeToDate(trigger->GetEndDate()) : QDate();
    QString boundary;
    OleCheck(trigger->GetVistaTrigger()->get_EndBoundary(&boundary));
    return boundary.isEmpty() ? QDate() : QDate::fromString(boundary.left(10), QStringLiteral("yyyy-MM-dd"));
}

void VerifyDemoAccount(TMainForm& form, TTaskItem* task)
{
    if (form.Scheduler->RunningVistaOrLater())
        QVERIFY(task->GetVistaFlag(tfvNeedLogon));
    else
        QVERIFY(task->GetFlags().Contains(tfRunOnlyIfLoggedOn));
    QCOMPARE(task->GetAccountName(), UserAccount::CurrentLogonName());
}
} // namespace

void TestMainForm::notepadDemo()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    Action(form, "acQuickRunNotepad")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(List(form)->RowCount(), 1);
    QVERIFY(List(form)->Caption(0).contains(QRegularExpression(QStringLiteral("^New task -?\\d+$"))));

    TTaskItem* task = DemoTask(form);
    QVERIFY(task);
    QCOMPARE(task->GetTriggers()->Count(), 1);
    TTrigger* trigger = task->GetTriggers()->GetItem(0);
    const QDate today = QDate::currentDate();
    QCOMPARE(trigger->GetTriggerType(), ttDaily);
    QCOMPARE(DateTimeToTime(trigger->GetStartTime()), QTime(9, 0));
    QCOMPARE(DateTimeToDate(trigger->GetBeginDate()), today);
    QCOMPARE(EndDateOf(form, trigger), today.addDays(30));
    QCOMPARE(trigger->GetDetails().Daily.DaysInterval, WORD(1));
    QCOMPARE(trigger->GetInterval(), 0u);
    VerifyDemoAccount(form, task);
    QVERIFY(task->GetApplicationName().contains(QStringLiteral("notepad.exe")));
    task->Deactivate(false);
}

void TestMainForm::customExeDemo()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    ScriptedPrompts prompts;
    prompts.executable = QStringLiteral("/bin/true");
    TMainForm form(&prompts);
    const QDateTime before = QDateTime::currentDateTime();
    Action(form, "acQucikRunCustomEXE")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(List(form)->RowCount(), 1);

    TTaskItem* task = DemoTask(form);
    QVERIFY(task);
    TTrigger* trigger = task->GetTriggers()->GetItem(0);
    QCOMPARE(trigger->GetTriggerType(), ttDaily);
    // An hour from now, to the minute the trigger keeps.
    const QTime start = DateTimeToTime(trigger->GetStartTime());
    const QTime expected = before.addSecs(3600).time();
    QVERIFY2(qAbs(start.secsTo(QTime(expected.hour(), expected.minute()))) <= 60, qPrintable(start.toString()));
    QCOMPARE(DateTimeToDate(trigger->GetBeginDate()), before.date());
    QCOMPARE(EndDateOf(form, trigger), QDate());
    QCOMPARE(trigger->GetDetails().Daily.DaysInterval, WORD(1));
    QCOMPARE(trigger->GetDuration(), 1440u);
    QCOMPARE(trigger->GetInterval(), 10u);
    VerifyDemoAccount(form, task);
    QVERIFY(task->GetApplicationName().contains(QStringLiteral("/bin/true")));
    task->Deactivate(false);
}

void TestMainForm::customExeDemoCancelled()
{
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    AddTask(QStringLiteral("Made meanwhile"));
    Action(form, "acQucikRunCustomEXE")->trigger();
    QCOMPARE(prompts.executableAsked, 1);
    // Neither a task nor a refresh: the task made meanwhile is not listed yet.
    QCOMPARE(List(form)->RowCount(), 0);
    QCOMPARE(form.Scheduler->GetCount(), 0);
}

void TestMainForm::disableTask()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    AddTask(QStringLiteral("Stays"));
    AddTask(QStringLiteral("Stops"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    const int row = RowOf(form, QStringLiteral("Stops"));
    List(form)->SetSelected(row, true);
    Action(form, "acQuickDisable")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(List(form)->SubItems(row).at(3), QStringLiteral("Disabled"));
    QVERIFY(List(form)->SubItems(RowOf(form, QStringLiteral("Stays"))).at(3) != QStringLiteral("Disabled"));

    TTaskScheduler other;
    other.Open();
    other.CurrentFolderPath = QStringLiteral("\\");
    other.Refresh();
    TTaskItem* stops = other.ActivateTask(QStringLiteral("Stops"));
    QVERIFY(stops);
    stops->Activate();
    if (only1)
        QVERIFY(stops->GetFlags().Contains(tfDisabled));
    else
        QVERIFY(!stops->GetVistaFlag(tfvEnabled));
    stops->Deactivate(false);
}

void TestMainForm::switchingTaskService2OffAndOn()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Folder task"), QStringLiteral("/bin/true"), QStringLiteral("\\Reports"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    form.show();
    QAction* service2 = Action(form, "acUseTaskScheduler2");
    QVERIFY(service2->isEnabled());
    QVERIFY(service2->isChecked());

    service2->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(!service2->isChecked());
    QVERIFY(form.Scheduler->GetUseTaskScheduler1Only());
    QVERIFY(!form.Scheduler->RunningVistaOrLater());
    QVERIFY(form.Scheduler->GetActive());
    QVERIFY(Tree(form)->isHidden());
    QVERIFY(!Action(form, "acNewNode")->isVisible());
    QVERIFY(!Action(form, "acPropertiesNew")->isEnabled());

    service2->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(service2->isChecked());
    QVERIFY(form.Scheduler->RunningVistaOrLater());
    QVERIFY(!Tree(form)->isHidden());
    QCOMPARE(Tree(form)->topLevelItem(0)->childCount(), 1);
    QVERIFY(Action(form, "acNewNode")->isVisible());
    QCOMPARE(form.Scheduler->CurrentFolderPath, QStringLiteral("\\"));
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("pnlTarget"))->text(),
             QStringLiteral(" Scheduled tasks on ") + form.Scheduler->GetTargetComputer());
}

void TestMainForm::showOnlyOwnTasks()
{
    DemoTestEnvironment env;
    const QString own = QCoreApplication::applicationFilePath();
    const QFileInfo ownFile(own);
    qputenv("DEMO_TEST_BIN", ownFile.absolutePath().toLocal8Bit());
    AddTask(QStringLiteral("Exact"), own);
    AddTask(QStringLiteral("Other case"), own.toUpper());
    AddTask(QStringLiteral("Through a variable"), QStringLiteral("$DEMO_TEST_BIN/") + ownFile.fileName());
    AddTask(QStringLiteral("Foreign"), QStringLiteral("/bin/true"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(List(form)->RowCount(), 4);
    // The variable is expanded for the icon, so that row has one.
    QVERIFY(!List(form)->Image(RowOf(form, QStringLiteral("Through a variable"))).isNull());

    Action(form, "acShowOwn")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(Action(form, "acShowOwn")->isChecked());
    QCOMPARE(RowCaptions(form), (QStringList{"Exact", "Other case"}));
    Action(form, "acShowOwn")->trigger();
    QCOMPARE(List(form)->RowCount(), 4);
    qunsetenv("DEMO_TEST_BIN");
}

void TestMainForm::unreachableTargetKeepsTheList()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Local task"));
    ScriptedPrompts prompts;
    prompts.computer = QStringLiteral("unreachable.invalid");
    TMainForm form(&prompts);
    Action(form, "acTarget")->trigger();
    QCOMPARE(prompts.targetTitle,
             QStringLiteral("Select a Target Computer for the Task Scheduler.\r\nNote: You must have administartive rights on it!"));
    QCOMPARE(prompts.messages.size(), 1);
    const QString text = prompts.messages.at(0).text;
    QVERIFY2(text.startsWith(QStringLiteral("Could not connect to remote machine \"unreachable.invalid\".\r\nError: ")),
             qPrintable(text));
    QCOMPARE(prompts.messages.at(0).caption, QStringLiteral("Task Kelvara"));
    QCOMPARE(RowCaptions(form), QStringList{"Local task"});

    Action(form, "acSetTargetToLocal")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(RowCaptions(form), QStringList{"Local task"});

    // Cancelling the dialog changes nothing.
    prompts.computer.clear();
    Action(form, "acTarget")->trigger();
    QCOMPARE(prompts.messages.size(), 1);
}

void TestMainForm::placementWrittenAndRestored()
{
    DemoTestEnvironment env;
    const QString key = QStringLiteral("Software\\Talvera\\Task Scheduler\\Task Scheduler Demo\\TMainForm");
    ScriptedPrompts prompts;
    QRect closedAt;
    {
        TMainForm form(&prompts);
        form.show();
        QVERIFY(!Registry().KeyExists(key)); // the first start keeps the design placement
        form.setGeometry(120, 80, 640, 360);
        closedAt = form.frameGeometry();
        QVERIFY(form.close());
    }
    Registry reg;
    QVERIFY(reg.OpenKey(key, false));
    QCOMPARE(reg.ReadInteger(QStringLiteral("Left")), closedAt.x());
    QCOMPARE(reg.ReadInteger(QStringLiteral("Top")), closedAt.y());
    QCOMPARE(reg.ReadInteger(QStringLiteral("Width")), closedAt.width());
    QCOMPARE(reg.ReadInteger(QStringLiteral("Height")), closedAt.height());

    TMainForm again(&prompts);
    again.show();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(again.frameGeometry(), closedAt);
}

void TestMainForm::placementReadErrors_data()
{
    QTest::addColumn<QString>("damaged");
    QTest::addColumn<bool>("asString");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing height") << "Height" << false << "Failed to get data for 'Height'";
    QTest::newRow("width as text") << "Width" << true << "Invalid data type for 'Width'";
}

void TestMainForm::placementReadErrors()
{
    QFETCH(QString, damaged);
    QFETCH(bool, asString);
    QFETCH(QString, message);
    DemoTestEnvironment env;
    {
        Registry reg;
        QVERIFY(reg.OpenKey(QStringLiteral("Software\\Talvera\\Task Scheduler\\Task Scheduler Demo\\TMainForm"), true));
        reg.WriteInteger(QStringLiteral("Left"), 33);
        reg.WriteInteger(QStringLiteral("Top"), 44);
        for (const QString& name : {QStringLiteral("Width"), QStringLiteral("Height")}) {
            if (name != damaged)
                reg.WriteInteger(name, 820);
            else if (asString)
                reg.WriteString(name, QStringLiteral("820"));
        }
    }
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    form.show();
    QCOMPARE(prompts.errors, QStringList{message});
    // The values read before the damaged one stay applied.
    QCOMPARE(form.frameGeometry().topLeft(), QPoint(33, 44));
    if (damaged == QStringLiteral("Height")) QCOMPARE(form.frameGeometry().width(), 820);
    QVERIFY(Action(form, "acUseTaskScheduler2")->isChecked());
}

void TestMainForm::hintsAndCaptions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<QString>("status");
    QTest::newRow("acRefresh") << "acRefresh" << "Refresh" << "Refresh" << "Refreshes the task list";
    QTest::newRow("acProperties") << "acProperties" << "Properties" << "Properties" << "Displays Properties Dialog";
    QTest::newRow("acPropertiesNew") << "acPropertiesNew" << "Properties (New)" << "Properties (New)"
                                     << "Displays the new style Properties Dialog";
    QTest::newRow("acNew") << "acNew" << "Task" << "New" << "Creates a new task";
    QTest::newRow("acRun") << "acRun" << "Run" << "Run" << "Runs the task immediately";
    QTest::newRow("acDelete") << "acDelete" << "Delete" << "Delete" << "Deletes the seleceted task(s)";
    QTest::newRow("acClose") << "acClose" << "Close" << "Close" << "Closes the application";
    QTest::newRow("acShowOwn") << "acShowOwn" << "Show only own tasks" << "Show only own tasks" << "Show only own tasks";
    QTest::newRow("acTarget") << "acTarget" << "Target" << "Target Computer" << "Sets target computer";
    QTest::newRow("acQucikRunCustomEXE") << "acQucikRunCustomEXE" << "Run custom EXE every 10 minutes during 24 hours"
                                         << "Run custom EXE every 10 minutes during 24 hours" << "";
    QTest::newRow("acSetTargetToLocal") << "acSetTargetToLocal" << "Local" << "Local" << "";
}

void TestMainForm::hintsAndCaptions()
{
    QFETCH(QString, action);
    QFETCH(QString, caption);
    QFETCH(QString, tooltip);
    QFETCH(QString, status);
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QAction* a = Action(form, action.toLatin1().constData());
    QCOMPARE(a->text(), caption);
    QCOMPARE(a->toolTip(), tooltip);
    QCOMPARE(a->statusTip(), status);
    if (!status.isEmpty()) {
        a->showStatusText(&form);
        QCOMPARE(form.findChild<QStatusBar*>(QStringLiteral("StatusBar1"))->currentMessage(), status);
    }
}

void TestMainForm::ribbonLayout()
{
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    auto* ribbon = form.findChild<TRibbon*>(QStringLiteral("RibbonMain"));
    QVERIFY(ribbon);
    QCOMPARE(ribbon->height(), 143);
    QCOMPARE(ribbon->Caption(), QStringLiteral("Task Scheduler Demo"));
    QCOMPARE(ribbon->ApplicationMenuButton()->text(), QStringLiteral("Quick demos"));
    QCOMPARE(ribbon->currentIndex(), 0);
    const QList<QStringList> groups{{"New", "Selected", "Quick Demos"}, {"General", "Tasks List", "Tasks"}, {"Target"}, {"About", "Info"}};
    const QStringList tabs{"File", "View", "Target", "Help"};
    QCOMPARE(ribbon->count(), tabs.size());
    for (int tab = 0; tab < ribbon->count(); ++tab) {
        QCOMPARE(ribbon->tabText(tab), tabs.at(tab));
        QStringList captions;
        for (TRibbonGroup* group : ribbon->Groups(tab)) captions << group->Caption();
        QCOMPARE(captions, groups.at(tab));
    }
    QList<QAction*> recent = form.ApplicationMenu->actions();
    QVERIFY(recent.contains(Action(form, "acQuickRunNotepad")));
    QVERIFY(recent.contains(Action(form, "acQucikRunCustomEXE")));
    QCOMPARE(recent.last(), Action(form, "acClose"));
    QCOMPARE(form.TreePopupMenu->actions().first(), Action(form, "acNewNode"));
    QCOMPARE(form.popSelected->actions().first(), Action(form, "acRun"));
    QCOMPARE(form.popView->actions().last(), Action(form, "acShowHidden"));
}

void TestMainForm::aboutAndPages()
{
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    Action(form, "acAbout")->trigger();
    QCOMPARE(prompts.aboutText, QStringLiteral("Kelvara Demo Application"));
    QVERIFY(!prompts.aboutNotice.isEmpty());
    QVERIFY(prompts.aboutHasIcon);
    Action(form, "acHelpHomePage")->trigger();
    Action(form, "acHelpProducts")->trigger();
    QCOMPARE(prompts.urls.size(), 2);
    for (const QUrl& url : std::as_const(prompts.urls)) QVERIFY2(QFile::exists(url.toLocalFile()), qPrintable(url.toString()));
    QVERIFY(prompts.urls.at(0) != prompts.urls.at(1));
}

void TestMainForm::windowsOfLaterWorkSaySo()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("A"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    Action(form, "acNew")->trigger();
    List(form)->SetSelected(0, true);
    form.ListViewDblClick();
    Action(form, "acPropertiesNew")->trigger();
    QCOMPARE(prompts.errors, (QStringList{"The new task wizard is not available yet.",
                                          "The classic properties dialog is not available yet.",
                                          "The 2.0 properties form is not available yet."}));
    QCOMPARE(RowCaptions(form), QStringList{"A"});
}

void TestMainForm::emptyFolderNameGoesToTheService()
{
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    prompts.inputAnswers = QStringList{QString()};
    Action(form, "acNewSubNode")->trigger();
    QCOMPARE(prompts.errors.size(), 1);
    QCOMPARE(Tree(form)->topLevelItem(0)->childCount(), 0);
}

void TestMainForm::withoutAServiceTheWindowStillComesUp()
{
    DemoTestEnvironment env;
    QTemporaryFile notADirectory;
    QVERIFY(notADirectory.open());
    qputenv("TASKSCHEDULER_HOME", (notADirectory.fileName() + QStringLiteral("/root")).toLocal8Bit());
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(prompts.errors.size(), 1);
    QCOMPARE(List(form)->RowCount(), 0);
    form.show();
    QVERIFY(form.isVisible());
    Action(form, "acRefresh")->trigger();
    QCOMPARE(prompts.errors.size(), 2);
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
