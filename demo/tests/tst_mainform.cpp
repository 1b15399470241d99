// The main window against a private service: its list, tree, command states and commands.

#include "DemoTestSupport.h"
#include "Exceptions.h"
#include "ResultCodes.h"
#include "kvErrors.h"
#include "ModalDriver.h"
#include "NetworkProfileSource.h"
#include "Registry.h"
#include "ScriptedPrompts.h"
#include "TDemoTasks.h"
#include "TErrorReport.h"
#include "TRibbon.h"
#include "TemporaryServiceRoot.h"
#include "UserAccount.h"

#include <QAbstractItemView>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QSysInfo>
#include <QToolButton>
#include <QtTest>
#include <memory>
#include <stdexcept>

using TErrorPtr = std::shared_ptr<const std::exception>;
Q_DECLARE_METATYPE(TErrorPtr)

namespace {
// Every column is wider than its caption and its typical texts (a longer text is shortened).
void ColumnsFitTheirTexts(TMainForm& AForm)
{
    TTaskListView* list = List(AForm);
    const QFontMetrics metrics(list->CurrentView()->font());
    const QStringList captions = list->ColumnCaptions();
    const QList<QStringList> samples = TMainForm::ColumnSamples();
    QCOMPARE(samples.size(), captions.size());
    for (int column = 0; column < captions.size(); ++column) {
        QStringList texts = samples.at(column);
        texts << captions.at(column);
        for (const QString& text : texts)
            QVERIFY2(list->ColumnWidth(column) > metrics.horizontalAdvance(text), qPrintable(captions.at(column) + QLatin1String(": ") + text));
    }
}
} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private slots:

    void startUpListsTasksInNameOrder_data() { AddGenerations(); }
    void startUpListsTasksInNameOrder();
    void runTimesNotAfterTheEpochShowNever_data();
    void runTimesNotAfterTheEpochShowNever();
    void statusTexts_data();
    void statusTexts();
    void folderTreeIn2();
    void noFolderTreeIn1();
    void commandStatesFollowTheSelection_data() { AddGenerations(); }
    void commandStatesFollowTheSelection();
    void contextMenuDependsOnTheSelection();
    void deleteGoesOnPastAFailingRow();
    void deleteAskedNoDeletesNothing();
    void folderCommandsFromAFirstLevelFolder();
    void deleteFolder();
    void notepadDemo_data() { AddGenerations(); }
    void notepadDemo();
    void customExeDemo_data() { AddGenerations(); }
    void customExeDemo();
    void customExeDemoCancelled();
    void disableTask_data() { AddGenerations(); }
    void disableTask();
    void switchingTaskService2OffAndOn();
    void showOnlyOwnTasks();
    void unreachableTargetKeepsTheList();
    void remoteTargetInTheTitleStrip();
    void placementWrittenAndRestored();
    void placementReadErrors_data();
    void placementReadErrors();
    void actionsCaptionsCategoriesAndHints_data();
    void actionsCaptionsCategoriesAndHints();
    void windowLayout();
    void ribbonLayout();
    void menusHoldTheirItems();
    void folderNodesSortIgnoringCase();
    void targetIn1NamesTheComputerWithBackslashes();
    void showHiddenTasks();
    void runStopsAtTheFirstError();
    void aboutAndPages();
    void doubleClickWithoutSelectionDoesNothing();
    void propertiesNewOpensTheForm();
    void emptyFolderNameGoesToTheService();
    void withoutAServiceTheWindowStillComesUp();
    void reconnectsAfterTheServiceIsLost();
    void columnWidthsFollowTheFont();
    void errorReportIcons_data();
    void errorReportIcons();
    void messageBoxesKeepTheirTitleWhole();
    void listFollowsTheService_data() { AddGenerations(); }
    void listFollowsTheService();
    void shortcuts_data();
    void shortcuts();
    void altLettersBringTheRibbonTabs();
    void contextMenuFromTheKeyboard();
};

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
    ColumnsFitTheirTexts(form);

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
    QVERIFY(!form.Splitter1->isHidden());
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
    // Folders look like folders, at every level.
    QVERIFY(!root->icon(0).isNull());
    QVERIFY(!reports->child(0)->icon(0).isNull());
    // A name the icon views may shorten is shown whole when hovered.
    const QModelIndex first = List(form)->CurrentView()->model()->index(0, 0);
    QCOMPARE(first.data(Qt::ToolTipRole).toString(), List(form)->Caption(0));
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

    // A right click selects the node under the mouse before the tree's menu opens.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeWidgetItem* archive = root->child(0);
    QTest::mousePress(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(archive).center());
    QTest::mouseRelease(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(archive).center());
    QCOMPARE(tree->currentItem(), archive);
    QCOMPARE(form.Scheduler->CurrentFolderPath, QStringLiteral("\\Archive"));
    QCOMPARE(RowCaptions(form), QStringList{"Old"});
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
    QVERIFY(form.Splitter1->isHidden());
    QCOMPARE(Tree(form)->topLevelItemCount(), 0);
    QVERIFY(!Action(form, "acNewNode")->isVisible());
    QVERIFY(!Action(form, "acNewSubNode")->isEnabled());
    QVERIFY(!Action(form, "acDeleteNode")->isEnabled());
    QVERIFY(!Action(form, "acUseTaskScheduler2")->isEnabled());
    QCOMPARE(RowCaptions(form), (QStringList{"One", "Two"}));
    // The ribbon's "Folder" button is hidden with its command, not shown greyed; the others stay.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    int folderButtons = 0;
    for (QToolButton* button : form.findChildren<QToolButton*>()) {
        if (button->defaultAction() == Action(form, "acNewNode")) {
            ++folderButtons;
            QVERIFY(!button->isVisible());
        } else if (button->defaultAction() == Action(form, "acNewSubNode")) {
            QVERIFY(!button->isHidden());
        }
    }
    QCOMPARE(folderButtons, 1);
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
    // The message says which of the three failed, and ends with a single full stop.
    const QString text = prompts.messages.at(0).text;
    QVERIFY2(text.startsWith(QStringLiteral("Could not delete task \"Last\".\r\nError: ")), qPrintable(text));
    QVERIFY2(text.endsWith(QLatin1Char('.')) && !text.endsWith(QStringLiteral("..")), qPrintable(text));
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
    QVERIFY2(!prompts.messages.at(0).text.endsWith(QStringLiteral("..")), qPrintable(prompts.messages.at(0).text));
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
    QVERIFY(task->GetApplicationName().contains(TDemoTasks::TextEditorProgram()));
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
    QVERIFY(form.Splitter1->isHidden());
    QVERIFY(!Action(form, "acNewNode")->isVisible());
    QVERIFY(!Action(form, "acPropertiesNew")->isEnabled());

    service2->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(service2->isChecked());
    QVERIFY(form.Scheduler->RunningVistaOrLater());
    QVERIFY(!Tree(form)->isHidden());
    QVERIFY(!form.Splitter1->isHidden());
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
    QVERIFY(!QGuiApplication::overrideCursor()); // the hourglass is gone again

    Action(form, "acSetTargetToLocal")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(RowCaptions(form), QStringList{"Local task"});

    // Cancelling the dialog changes nothing.
    prompts.computer.clear();
    Action(form, "acTarget")->trigger();
    QCOMPARE(prompts.messages.size(), 1);
}

void TestMainForm::remoteTargetInTheTitleStrip()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Local task"));
    const OtherComputer other;
    ScriptedPrompts prompts;
    prompts.computer = QStringLiteral("otherbox");
    {
        TMainForm form(&prompts);
        auto* strip = form.findChild<QLabel*>(QStringLiteral("pnlTarget"));
        Action(form, "acTarget")->trigger();
        QCOMPARE(prompts.errors, QStringList());
        QCOMPARE(prompts.messages.size(), 0);
        QCOMPARE(strip->text(), QStringLiteral(" Scheduled tasks on otherbox"));
        QCOMPARE(RowCaptions(form), QStringList());

        QTRY_VERIFY_WITH_TIMEOUT(form.Scheduler->GetWatching(), 10000);

        Action(form, "acSetTargetToLocal")->trigger();
        QCOMPARE(strip->text(), QStringLiteral(" Scheduled tasks on ") + QSysInfo::machineHostName());
        QCOMPARE(RowCaptions(form), QStringList{"Local task"});
        // The other computer's reports end with it; a service in this process has none.
        QVERIFY(!form.Scheduler->GetWatching());
    }
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

void TestMainForm::actionsCaptionsCategoriesAndHints_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("category");
    // "short|long"; a hint without a bar serves as both; empty for none.
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("checkable");
    QTest::newRow("acRefresh") << "Refresh" << "View" << "Refresh|Refreshes the task list" << false;
    QTest::newRow("acProperties") << "Properties" << "File" << "Properties|Displays Properties Dialog" << false;
    QTest::newRow("acPropertiesNew") << "Properties (New)" << "File"
                                     << "Properties (New)|Displays the new style Properties Dialog" << false;
    QTest::newRow("acNew") << "Task" << "File" << "New|Creates a new task" << false;
    QTest::newRow("acRun") << "Run" << "File" << "Run|Runs the task immediately" << false;
    QTest::newRow("acDelete") << "Delete" << "File" << "Delete task(s)|Deletes the seleceted task(s)" << false;
    QTest::newRow("acClose") << "Close" << "File" << "Close|Closes the application" << false;
    QTest::newRow("acLargeIcons") << "Large Icons" << "View" << "" << true;
    QTest::newRow("acSmallIcons") << "Small Icons" << "View" << "" << true;
    QTest::newRow("acList") << "List" << "View" << "" << true;
    QTest::newRow("acDetails") << "Details" << "View" << "" << true;
    QTest::newRow("acUseTaskScheduler2") << "Task Service 2.0" << "View" << "" << true;
    QTest::newRow("acShowHidden") << "Show Hidden" << "View" << "" << true;
    QTest::newRow("acShowOwn") << "Show only own tasks" << "Tools" << "Show only own tasks" << true;
    QTest::newRow("acTarget") << "Target" << "Tools" << "Target Computer|Sets target computer" << false;
    QTest::newRow("acSetTargetToLocal") << "Local" << "Tools" << "" << false;
    QTest::newRow("acNewNode") << "Folder" << "Tree" << "" << false;
    QTest::newRow("acNewSubNode") << "Sub-folder" << "Tree" << "" << false;
    QTest::newRow("acDeleteNode") << "Delete" << "Tree" << "Delete folder|Deletes the selected folder" << false;
    QTest::newRow("acQucikRunCustomEXE") << "Run custom EXE every 10 minutes during 24 hours" << "QuickDemos" << ""
                                         << false;
    QTest::newRow("acQuickRunNotepad") << "Run notepad.exe every day at 09:00" << "QuickDemos" << "" << false;
    QTest::newRow("acQuickDisable") << "Disable task" << "QuickDemos" << "" << false;
    QTest::newRow("acAbout") << "About" << "Help" << "" << false;
    QTest::newRow("acHelpHomePage") << "Home Page" << "Help" << "" << false;
    QTest::newRow("acHelpProducts") << "Other Products" << "Help" << "" << false;
}

void TestMainForm::actionsCaptionsCategoriesAndHints()
{
    QFETCH(QString, caption);
    QFETCH(QString, category);
    QFETCH(QString, hint);
    QFETCH(bool, checkable);
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QAction* a = Action(form, QTest::currentDataTag());
    QCOMPARE(a->text(), caption);
    QCOMPARE(a->property("category").toString(), category);
    QCOMPARE(a->isCheckable(), checkable);
    QString tooltip = hint.isEmpty() ? caption : hint.section(QLatin1Char('|'), 0, 0);
    // A command with a key says so in its hint.
    if (!a->shortcut().isEmpty()) tooltip += QStringLiteral(" (%1)").arg(a->shortcut().toString(QKeySequence::NativeText));
    const QString status = hint.contains(QLatin1Char('|')) ? hint.section(QLatin1Char('|'), 1) : hint;
    QCOMPARE(a->toolTip(), tooltip);
    QCOMPARE(a->statusTip(), status);
    auto* statusBar = form.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    QVERIFY(statusBar);
    statusBar->showMessage(QStringLiteral("before"));
    a->showStatusText(&form);
    QCOMPARE(statusBar->currentMessage(), status);
    // The ribbon's buttons carry the same hints as their actions.
    for (const QToolButton* button : form.findChildren<QToolButton*>()) {
        if (button->defaultAction() != a) continue;
        QCOMPARE(button->statusTip(), status);
        QCOMPARE(button->toolTip(), tooltip);
    }
}

void TestMainForm::windowLayout()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("A"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(form.windowTitle(), QStringLiteral("Task Scheduler Demo"));
    QCOMPARE(form.font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(form.font().pointSize(), 8);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(901, 511));

    auto* panel = form.findChild<QLabel*>(QStringLiteral("pnlTarget"));
    QVERIFY(panel);
    QCOMPARE(panel->height(), 26);
    QVERIFY(panel->font().bold());
    QVERIFY(panel->alignment() & Qt::AlignLeft);
    QVERIFY(panel->autoFillBackground());

    // The tree starts 172 pixels wide beside a 4-pixel bar; the list takes the rest.
    QCOMPARE(Tree(form)->width(), 172);
    QCOMPARE(form.Splitter1->objectName(), QStringLiteral("Splitter1"));
    QCOMPARE(form.Splitter1->width(), 4);
    QVERIFY(form.Splitter1->isVisible());
    const int barLeft = form.Splitter1->mapTo(&form, QPoint(0, 0)).x();
    QCOMPARE(Tree(form)->mapTo(&form, QPoint(Tree(form)->width(), 0)).x(), barLeft);
    QCOMPARE(List(form)->mapTo(&form, QPoint(0, 0)).x(), barLeft + 4);
    QCOMPARE(Tree(form)->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(Tree(form)->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(Tree(form)->isSortingEnabled());
    QCOMPARE(Tree(form)->contextMenuPolicy(), Qt::CustomContextMenu);

    QCOMPARE(List(form)->GetViewStyle(), vsReport);
    QAbstractItemView* rows = List(form)->CurrentView();
    QCOMPARE(rows->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(rows->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(rows->editTriggers(), QAbstractItemView::NoEditTriggers);

    auto* statusBar = form.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    QVERIFY(statusBar);
    QCOMPARE(statusBar->height(), 19);
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
    const QStringList tabs{"&File", "&View", "&Target", "&Help"};
    QCOMPARE(ribbon->count(), tabs.size());
    for (int tab = 0; tab < ribbon->count(); ++tab) {
        QCOMPARE(ribbon->tabText(tab), tabs.at(tab));
        QStringList captions;
        for (TRibbonGroup* group : ribbon->Groups(tab)) captions << group->Caption();
        QCOMPARE(captions, groups.at(tab));
    }
    const QList<QList<QStringList>> items{
        {{"L:acNew", "-", "L:acNewNode", "-", "L:acNewSubNode"},
         {"D:Properties(acProperties,acPropertiesNew)", "-", "L:acRun", "L:acDelete", "-", "L:acDeleteNode"},
         {"D:Demo tasks(acQucikRunCustomEXE,acQuickRunNotepad)", "-", "L:acQuickDisable"}},
        {{"L:acUseTaskScheduler2", "-", "L:acRefresh"},
         {"S0:acLargeIcons", "S0:acSmallIcons", "S1:acList", "S1:acDetails"},
         {"L:acShowOwn", "L:acShowHidden"}},
        {{"L:acTarget", "-", "L:acSetTargetToLocal"}},
        {{"L:acAbout"}, {"L:acHelpHomePage", "-", "L:acHelpProducts"}}};
    for (int tab = 0; tab < ribbon->count(); ++tab) {
        const QList<TRibbonGroup*> tabGroups = ribbon->Groups(tab);
        for (int group = 0; group < tabGroups.size(); ++group)
            QCOMPARE(tabGroups.at(group)->ItemNames(), items.at(tab).at(group));
    }
    QCOMPARE(ribbon->ApplicationMenuButton()->menu(), form.ApplicationMenu);
}

namespace {
/// The items of a menu: action names, "-" for a separator, "menu:" and the title for a sub-menu.
QStringList MenuItems(const QMenu* menu)
{
    QStringList items;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            items << QStringLiteral("-");
        else if (action->menu())
            items << QStringLiteral("menu:") + action->menu()->title();
        else
            items << action->objectName();
    }
    return items;
}
} // namespace

void TestMainForm::menusHoldTheirItems()
{
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(form.popSelected->objectName(), QStringLiteral("popSelected"));
    QCOMPARE(MenuItems(form.popSelected), (QStringList{"acRun", "-", "acDelete", "acProperties", "acPropertiesNew"}));
    QCOMPARE(form.popView->objectName(), QStringLiteral("popView"));
    QCOMPARE(MenuItems(form.popView), (QStringList{"acNew", "-", "acLargeIcons", "acSmallIcons", "acList", "acDetails", "-",
                                                   "acRefresh", "-", "acShowHidden"}));
    QCOMPARE(form.TreePopupMenu->objectName(), QStringLiteral("TreePopupMenu"));
    QCOMPARE(MenuItems(form.TreePopupMenu), (QStringList{"acNewNode", "acNewSubNode", "-", "acDeleteNode"}));

    // The application menu: the sub-menu "Folder", the recent items, and "Close" as its option button.
    QCOMPARE(MenuItems(form.ApplicationMenu),
             (QStringList{"menu:Folder", "-", "acQuickRunNotepad", "acQucikRunCustomEXE", "-", "acClose"}));
    const QMenu* folder = form.ApplicationMenu->actions().constFirst()->menu();
    QCOMPARE(MenuItems(folder), (QStringList{"acNew", "acProperties", "acQuickDisable", "acDelete", "acRun", "-", "acRefresh",
                                             "-", "acNewNode", "acNewSubNode", "acDeleteNode"}));

    // The four view styles are one exclusive group.
    QActionGroup* styles = Action(form, "acLargeIcons")->actionGroup();
    QVERIFY(styles);
    QVERIFY(styles->isExclusive());
    for (const char* name : {"acSmallIcons", "acList", "acDetails"}) QCOMPARE(Action(form, name)->actionGroup(), styles);
    QCOMPARE(styles->actions().size(), 4);
}

void TestMainForm::folderNodesSortIgnoringCase()
{
    DemoTestEnvironment env;
    {
        TTaskScheduler other;
        other.Open();
        for (const char* name : {"\\beta", "\\Zulu", "\\Alpha", "\\gamma"}) other.CreateFolder(QString::fromLatin1(name));
    }
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QTreeWidgetItem* root = Tree(form)->topLevelItem(0);
    QStringList names;
    for (int i = 0; i < root->childCount(); ++i) names << root->child(i)->text(0);
    QCOMPARE(names, (QStringList{"Alpha", "beta", "gamma", "Zulu"}));
}

void TestMainForm::targetIn1NamesTheComputerWithBackslashes()
{
    DemoTestEnvironment env(true);
    AddTask(QStringLiteral("Local task"));
    ScriptedPrompts prompts;
    prompts.computer = QStringLiteral("unreachable.invalid");
    TMainForm form(&prompts);
    Action(form, "acTarget")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(prompts.messages.size(), 1);
    const QString text = prompts.messages.at(0).text;
    QVERIFY2(text.startsWith(QStringLiteral("Could not connect to remote machine \"\\\\unreachable.invalid\".\r\nError: ")),
             qPrintable(text));
    QVERIFY(text.endsWith(QLatin1Char('.')));
    QCOMPARE(prompts.messages.at(0).caption, QStringLiteral("Task Kelvara"));
    QCOMPARE(prompts.messages.at(0).icon, QMessageBox::Warning);
    QCOMPARE(RowCaptions(form), QStringList{"Local task"});

    QVERIFY(!QGuiApplication::overrideCursor());

    // The local computer, named as such, is reachable.
    prompts.computer = QStringLiteral("localhost");
    Action(form, "acTarget")->trigger();
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(RowCaptions(form), QStringList{"Local task"});
}

void TestMainForm::showHiddenTasks()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("Visible"));
    {
        TTaskScheduler other;
        other.Open();
        other.CurrentFolderPath = QStringLiteral("\\");
        TTaskItem* task = other.CreateNewItem(QStringLiteral("Secret"));
        task->SetCurrentAction(1);
        task->InsertAction(0);
        task->SetApplicationName(QStringLiteral("/bin/true"));
        task->SetVistaFlag(tfvHidden, true);
        task->Save();
    }
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QAction* showHidden = Action(form, "acShowHidden");
    QCOMPARE(RowCaptions(form), QStringList{"Visible"});
    QVERIFY(!showHidden->isChecked());

    showHidden->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(form.Scheduler->GetShowHidden());
    QVERIFY(showHidden->isChecked());
    QCOMPARE(RowCaptions(form), (QStringList{"Secret", "Visible"}));

    showHidden->trigger();
    QVERIFY(!form.Scheduler->GetShowHidden());
    QVERIFY(!showHidden->isChecked());
    QCOMPARE(RowCaptions(form), QStringList{"Visible"});

    // The check mark follows the scheduler, whoever changed it.
    form.Scheduler->SetShowHidden(true);
    form.UpdateActions();
    QVERIFY(showHidden->isChecked());
}

void TestMainForm::runStopsAtTheFirstError()
{
    // Without the service process nothing can be started: the first row's error ends the command.
    DemoTestEnvironment env;
    AddTask(QStringLiteral("One"));
    AddTask(QStringLiteral("Two"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    List(form)->SetSelected(0, true);
    List(form)->SetSelected(1, true);
    Action(form, "acRun")->trigger();
    QCOMPARE(prompts.errors.size(), 1);
    QVERIFY2(prompts.errors.at(0).startsWith(QStringLiteral("Task \"One\": ")), qPrintable(prompts.errors.at(0)));
    QCOMPARE(RowCaptions(form), (QStringList{"One", "Two"}));
    // Both tasks were left deactivated: the list can still be refilled.
    Action(form, "acRefresh")->trigger();
    QCOMPARE(prompts.errors.size(), 1);
}

void TestMainForm::aboutAndPages()
{
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    Action(form, "acAbout")->trigger();
    QCOMPARE(prompts.aboutText, QStringLiteral("Kelvara Demo Application"));
    // The notice names the program's version and the version of the service it talks to.
    QVERIFY2(prompts.aboutNotice.contains(QRegularExpression(QStringLiteral("\\r\\nVersion \\d+\\.\\d+"))),
             qPrintable(prompts.aboutNotice));
    QVERIFY2(prompts.aboutNotice.contains(QStringLiteral("scheduling service interface 1.")), qPrintable(prompts.aboutNotice));
    QVERIFY(prompts.aboutHasIcon);
    Action(form, "acHelpHomePage")->trigger();
    Action(form, "acHelpProducts")->trigger();
    QCOMPARE(prompts.urls.size(), 2);
    for (const QUrl& url : std::as_const(prompts.urls)) QVERIFY2(QFile::exists(url.toLocalFile()), qPrintable(url.toString()));
    QVERIFY(prompts.urls.at(0) != prompts.urls.at(1));
    QVERIFY(prompts.messages.isEmpty());
    // Without a browser the user is told so instead of nothing happening.
    prompts.browserStarts = false;
    Action(form, "acHelpHomePage")->trigger();
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY2(prompts.messages.at(0).text.startsWith(QStringLiteral("No web browser could be started to show file://")),
             qPrintable(prompts.messages.at(0).text));
    QCOMPARE(prompts.messages.at(0).icon, QMessageBox::Warning);
}

void TestMainForm::doubleClickWithoutSelectionDoesNothing()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("A"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    // A double click needs exactly one selected row; with one it opens the classic dialog,
    // tested with the dialog.
    form.ListViewDblClick();
    QVERIFY(prompts.errors.isEmpty());
    QCOMPARE(RowCaptions(form), QStringList{"A"});
}

void TestMainForm::propertiesNewOpensTheForm()
{
    DemoTestEnvironment env;
    // No connection manager of this machine is asked.
    struct : NetworkProfileSource {
        std::optional<QStringList> ProfileNames() const override { return QStringList{}; }
    } noProfiles;
    const NetworkProfileSource::ScopedOverride profiles(noProfiles);
    AddTask(QStringLiteral("A"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    List(form)->SetSelected(0, true);
    form.UpdateActions();
    QString caption;
    WhenModal([&caption](QWidget* window) {
        caption = window->windowTitle();
        QTest::mouseClick(Child<QPushButton>(window, "btCancel"), Qt::LeftButton);
    });
    Action(form, "acPropertiesNew")->trigger();
    QCOMPARE(prompts.errors, QStringList{});
    QCOMPARE(caption, QStringLiteral("A Properties (%1)").arg(form.Scheduler->GetTargetComputer()));
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
    QVERIFY(env.UseImpossibleRoot());
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(prompts.errors.size(), 1);
    QCOMPARE(List(form)->RowCount(), 0);
    form.show();
    QVERIFY(form.isVisible());
    Action(form, "acRefresh")->trigger();
    QCOMPARE(prompts.errors.size(), 2);
}

void TestMainForm::reconnectsAfterTheServiceIsLost()
{
    DemoTestEnvironment env(false, false);
    AddTask(QStringLiteral("A")); // starts the root's daemon
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(RowCaptions(form), QStringList{"A"});
    const auto daemonRuns = [&env] { return !TemporaryServiceRoot::ServiceProcesses(env.RootPath()).isEmpty(); };

    // The daemon dies: the next command starts it again and does its work.
    QVERIFY(TemporaryServiceRoot::StopServiceProcesses(env.RootPath()));
    QVERIFY(!daemonRuns());
    Action(form, "acRefresh")->trigger();
    QCOMPARE(prompts.errors, QStringList());
    QCOMPARE(RowCaptions(form), QStringList{"A"});
    QVERIFY(daemonRuns());

    // It dies again and cannot be started: the error report says why, and what needs the
    // service is disabled while Refresh stays to try again.
    QVERIFY(TemporaryServiceRoot::StopServiceProcesses(env.RootPath()));
    QVERIFY(env.UseImpossibleRoot());
    Action(form, "acRefresh")->trigger();
    QCOMPARE(prompts.errors.size(), 1);
    QVERIFY2(prompts.errors.at(0).startsWith(SServiceNotRunning + QStringLiteral("\r\n")), qPrintable(prompts.errors.at(0)));
    QCOMPARE(prompts.errorIcons.at(0), QMessageBox::Warning);
    QVERIFY2(prompts.errors.at(0).size() > SServiceNotRunning.size() + 2, qPrintable(prompts.errors.at(0)));
    for (const char* name : {"acNew", "acRun", "acDelete", "acProperties", "acNewSubNode", "acQuickRunNotepad"})
        QVERIFY2(!Action(form, name)->isEnabled(), name);
    QVERIFY(Action(form, "acRefresh")->isEnabled());

    // Once it can start, the next Refresh brings everything back.
    qputenv("TASKSCHEDULER_HOME", env.RootPath().toLocal8Bit());
    Action(form, "acRefresh")->trigger();
    QCOMPARE(prompts.errors.size(), 1);
    QCOMPARE(RowCaptions(form), QStringList{"A"});
    QVERIFY(Action(form, "acNew")->isEnabled());
    QVERIFY(Action(form, "acNewSubNode")->isEnabled());
    QVERIFY(TemporaryServiceRoot::StopServiceProcesses(env.RootPath()));
}

void TestMainForm::columnWidthsFollowTheFont()
{
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    ColumnsFitTheirTexts(form);
    TTaskListView* list = List(form);
    QList<int> widths;
    for (int column = 0; column < list->ColumnCaptions().size(); ++column) widths << list->ColumnWidth(column);
    QFont larger = list->CurrentView()->font();
    if (larger.pointSizeF() > 0)
        larger.setPointSizeF(larger.pointSizeF() * 1.5);
    else
        larger.setPixelSize(larger.pixelSize() * 3 / 2);
    list->CurrentView()->setFont(larger);
    list->FitColumnWidths(TMainForm::ColumnSamples());
    ColumnsFitTheirTexts(form);
    for (int column = 0; column < widths.size(); ++column) QVERIFY2(list->ColumnWidth(column) > widths.at(column), qPrintable(QString::number(column)));
    QCOMPARE(prompts.errors, QStringList());
}

void TestMainForm::errorReportIcons_data()
{
    QTest::addColumn<TErrorPtr>("error");
    QTest::addColumn<QMessageBox::Icon>("icon");
    const auto platform = [](HRESULT code) { return std::make_shared<EPlatformError>(code); };
    const QMessageBox::Icon warning = QMessageBox::Warning;
    const QMessageBox::Icon critical = QMessageBox::Critical;
    // Not available.
    QTest::newRow("service not running") << TErrorPtr(platform(SCHED_E_SERVICE_NOT_RUNNING)) << warning;
    QTest::newRow("not running, with the reason") << TErrorPtr(std::make_shared<Exception>(SServiceNotRunning + QStringLiteral("\r\nNo root."))) << warning;
    QTest::newRow("computer not reachable") << TErrorPtr(platform(HRESULT_FROM_WIN32(ERROR_BAD_NETPATH))) << warning;
    QTest::newRow("interface missing") << TErrorPtr(std::make_shared<EIntfCastError>()) << warning;
    QTest::newRow("needs the 2.0 service") << TErrorPtr(std::make_shared<ETaskError>(STaskService2Required)) << warning;
    // Refused.
    QTest::newRow("access denied") << TErrorPtr(platform(E_ACCESSDENIED)) << warning;
    QTest::newRow("bad name") << TErrorPtr(platform(HRESULT_FROM_WIN32(ERROR_INVALID_NAME))) << warning;
    QTest::newRow("folder not empty") << TErrorPtr(platform(HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY))) << warning;
    QTest::newRow("password refused") << TErrorPtr(platform(HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE))) << warning;
    QTest::newRow("no start on demand") << TErrorPtr(platform(SCHED_E_START_ON_DEMAND)) << warning;
    QTest::newRow("name taken") << TErrorPtr(std::make_shared<ETaskError>(STaskAlreadyExists.arg(QStringLiteral("A")))) << warning;
    // Real failures.
    QTest::newRow("failure") << TErrorPtr(platform(E_FAIL)) << critical;
    QTest::newRow("disk full") << TErrorPtr(platform(HRESULT_FROM_WIN32(ERROR_DISK_FULL))) << critical;
    QTest::newRow("corrupt file") << TErrorPtr(platform(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT))) << critical;
    QTest::newRow("item out of turn") << TErrorPtr(std::make_shared<ETaskError>(STaskNotActivated.arg(QStringLiteral("A")))) << critical;
    QTest::newRow("index out of bounds") << TErrorPtr(std::make_shared<ESchedulerError>(STaskIndexOutOfBounds.arg(3))) << critical;
    QTest::newRow("cannot activate") << TErrorPtr(std::make_shared<ESchedulerError>(SCouldNotActivateTask.arg(QStringLiteral("A")))) << critical;
    QTest::newRow("not one of ours") << TErrorPtr(std::make_shared<std::runtime_error>("broken")) << critical;
}

void TestMainForm::errorReportIcons()
{
    QFETCH(TErrorPtr, error);
    QFETCH(QMessageBox::Icon, icon);
    QCOMPARE(TErrorReport::Icon(*error), icon);
    ScriptedPrompts prompts;
    TErrorReport::Show(prompts, nullptr, *error);
    QCOMPARE(prompts.errorIcons, QList<QMessageBox::Icon>{icon});
    QCOMPARE(prompts.errors, QStringList{dynamic_cast<const Exception*>(error.get()) ? dynamic_cast<const Exception&>(*error).Message()
                                                                                     : QString::fromUtf8(error->what())});
}

void TestMainForm::messageBoxesKeepTheirTitleWhole()
{
    const QString title = QApplication::applicationDisplayName();
    const auto restore = qScopeGuard([&title] { QApplication::setApplicationDisplayName(title); });
    QApplication::setApplicationDisplayName(QStringLiteral("Task Scheduler Demo with a rather long title to show"));
    TUserPrompts prompts;
    int checked = 0;
    const auto check = [&checked](QMessageBox::Icon icon) {
        WhenModal([&checked, icon](QWidget* window) {
            auto* box = qobject_cast<QMessageBox*>(window);
            QVERIFY(box);
            QCOMPARE(box->icon(), icon);
            QVERIFY2(box->width() >= TUserPrompts::TitleWidth(*box), qPrintable(QString::number(box->width())));
            ++checked;
            box->done(QMessageBox::No);
        });
    };
    check(QMessageBox::Warning);
    TErrorReport::Show(prompts, nullptr, EPlatformError(E_ACCESSDENIED));
    check(QMessageBox::Critical);
    TErrorReport::Show(prompts, nullptr, EPlatformError(E_FAIL));
    check(QMessageBox::Question);
    prompts.AskQuestion(nullptr, QStringLiteral("Go?"));
    check(QMessageBox::Warning);
    prompts.ConfirmWarning(nullptr, QStringLiteral("Sure?"));
    QCOMPARE(checked, 4);
}

void TestMainForm::listFollowsTheService()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1, false);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString go = scratch.filePath(QStringLiteral("go"));
    AddTask(QStringLiteral("A")); // starts the root's daemon
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    form.show();
    QVERIFY(form.Scheduler->GetWatching());
    QCOMPARE(RowCaptions(form), QStringList{"A"});
    const auto cell = [&form](const QString& task, int column) {
        const int row = RowOf(form, task);
        return row < 0 ? QString() : List(form)->SubItems(row).value(column);
    };
    constexpr int LastRunColumn = 2;
    constexpr int StatusColumn = 3;
    constexpr int CreatorColumn = 4;

    // Another program adds a task, which waits for a file once it runs: its row appears in order.
    AddTask(QStringLiteral("0 waits"), QStringLiteral("/bin/sh"));
    TTaskScheduler other;
    other.SetUseTaskScheduler1Only(only1);
    other.Open();
    other.CurrentFolderPath = QStringLiteral("\\");
    TTaskItem* waiting = other.ActivateTask(QStringLiteral("0 waits"));
    QVERIFY(waiting);
    waiting->Activate();
    if (other.RunningVistaOrLater()) waiting->SetCurrentAction(1);
    waiting->SetParameters(QStringLiteral("-c \"while [ ! -e '%1' ]; do sleep 0.05; done\"").arg(go));
    waiting->Save();
    QTRY_COMPARE(RowCaptions(form), (QStringList{"0 waits", "A"}));
    const TTaskListView* list = List(form);
    List(form)->SetSelected(RowOf(form, QStringLiteral("A")), true);

    // It is changed elsewhere: its row shows the change, and the selection stays.
    TTaskItem* a = other.ActivateTask(QStringLiteral("A"));
    QVERIFY(a);
    a->Activate();
    a->SetCreator(QStringLiteral("someone else"));
    a->Save();
    QTRY_COMPARE(cell(QStringLiteral("A"), CreatorColumn), QStringLiteral("someone else"));
    QCOMPARE(list->SelectedRows(), QList<int>{RowOf(form, QStringLiteral("A"))});

    // The service runs it: "Running" while it runs, its last run time once it has ended.
    QCOMPARE(cell(QStringLiteral("0 waits"), LastRunColumn), TMainForm::RunTimeText(0));
    waiting = other.ActivateTask(QStringLiteral("0 waits"));
    waiting->Activate();
    waiting->Run();
    waiting->Deactivate(false);
    QTRY_COMPARE_WITH_TIMEOUT(cell(QStringLiteral("0 waits"), StatusColumn), TMainForm::StatusText(tsRunning), 20000);
    QFile goFile(go);
    QVERIFY(goFile.open(QIODevice::WriteOnly));
    goFile.close();
    QTRY_VERIFY_WITH_TIMEOUT(cell(QStringLiteral("0 waits"), StatusColumn) != TMainForm::StatusText(tsRunning), 20000);
    QVERIFY(cell(QStringLiteral("0 waits"), LastRunColumn) != TMainForm::RunTimeText(0));

    // Deleted elsewhere: the row goes, the other stays.
    other.DeleteTask(QStringLiteral("0 waits"));
    QTRY_COMPARE(RowCaptions(form), QStringList{"A"});
    QCOMPARE(prompts.errors, QStringList());
    QVERIFY(TemporaryServiceRoot::StopServiceProcesses(env.RootPath()));
}

namespace {
/// A shown and active window with one task in the root and one folder below it.
struct KeyboardFixture {
    DemoTestEnvironment env;
    ScriptedPrompts prompts;
    std::unique_ptr<TMainForm> form;

    bool Start()
    {
        AddTask(QStringLiteral("A"));
        AddTask(QStringLiteral("B"), QStringLiteral("/bin/true"), QStringLiteral("\\Sub"));
        form = std::make_unique<TMainForm>(&prompts);
        form->show();
        QApplication::setActiveWindow(form.get());
        return QTest::qWaitForWindowActive(form.get());
    }
    /// The widget of the list that takes the keys.
    QWidget* ListKeys() const { return List(*form)->CurrentView(); }
};
} // namespace

void TestMainForm::shortcuts_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<bool>("inTree"); // the key is pressed with the folder tree focused, else the list
    QTest::addColumn<bool>("fires");
    QTest::newRow("F5 refreshes") << "acRefresh" << QKeySequence(Qt::Key_F5) << false << true;
    QTest::newRow("F5 also from the tree") << "acRefresh" << QKeySequence(Qt::Key_F5) << true << true;
    QTest::newRow("Ctrl+N makes a task") << "acNew" << QKeySequence(Qt::CTRL | Qt::Key_N) << false << true;
    QTest::newRow("Ctrl+Q closes") << "acClose" << QKeySequence(Qt::CTRL | Qt::Key_Q) << true << true;
    QTest::newRow("Delete in the list deletes tasks") << "acDelete" << QKeySequence(Qt::Key_Delete) << false << true;
    QTest::newRow("Delete in the tree spares the tasks") << "acDelete" << QKeySequence(Qt::Key_Delete) << true << false;
    QTest::newRow("Delete in the tree deletes the folder") << "acDeleteNode" << QKeySequence(Qt::Key_Delete) << true << true;
    QTest::newRow("Delete in the list spares the folder") << "acDeleteNode" << QKeySequence(Qt::Key_Delete) << false << false;
    QTest::newRow("Enter opens the properties") << "acProperties" << QKeySequence(Qt::Key_Return) << false << true;
    QTest::newRow("keypad Enter too") << "acProperties" << QKeySequence(Qt::Key_Enter) << false << true;
}

void TestMainForm::shortcuts()
{
    QFETCH(QString, action);
    QFETCH(QKeySequence, key);
    QFETCH(bool, inTree);
    QFETCH(bool, fires);
    KeyboardFixture fixture;
    QVERIFY(fixture.Start());
    TMainForm& form = *fixture.form;
    QAction* command = Action(form, qPrintable(action));
    // Only whether the key reaches the command is tried here; the commands are tried elsewhere.
    QObject::disconnect(command, &QAction::triggered, &form, nullptr);
    Tree(form)->setCurrentItem(Tree(form)->topLevelItem(0)->child(0));
    Tree(form)->setCurrentItem(Tree(form)->topLevelItem(0));
    QCOMPARE(RowCaptions(form), QStringList{"A"});
    List(form)->SetSelected(0, true);
    if (action == QStringLiteral("acDeleteNode")) Tree(form)->setCurrentItem(Tree(form)->topLevelItem(0)->child(0));
    form.UpdateActions();
    QVERIFY(command->isEnabled());
    QWidget* target = inTree ? static_cast<QWidget*>(Tree(form)) : fixture.ListKeys();
    target->setFocus();
    QVERIFY(target->hasFocus());
    QSignalSpy triggered(command, &QAction::triggered);
    QTest::keySequence(target, key);
    QCOMPARE(triggered.size(), fires ? 1 : 0);
    QVERIFY(fixture.prompts.errors.isEmpty());
}

void TestMainForm::altLettersBringTheRibbonTabs()
{
    KeyboardFixture fixture;
    QVERIFY(fixture.Start());
    auto* ribbon = fixture.form->findChild<TRibbon*>(QStringLiteral("RibbonMain"));
    fixture.ListKeys()->setFocus();
    const QList<std::pair<Qt::Key, int>> letters{{Qt::Key_V, 1}, {Qt::Key_T, 2}, {Qt::Key_H, 3}, {Qt::Key_F, 0}};
    for (const auto& [letter, tab] : letters) {
        QTest::keyClick(fixture.ListKeys(), letter, Qt::AltModifier);
        QCOMPARE(ribbon->currentIndex(), tab);
    }
}

void TestMainForm::contextMenuFromTheKeyboard()
{
    KeyboardFixture fixture;
    QVERIFY(fixture.Start());
    TMainForm& form = *fixture.form;
    const auto pressIn = [](QWidget* AWidget, QMenu* AMenu) {
        AWidget->setFocus();
        QTest::keyClick(AWidget, Qt::Key_F10, Qt::ShiftModifier);
        const bool shown = AMenu->isVisible();
        AMenu->hide();
        return shown;
    };
    QVERIFY(pressIn(fixture.ListKeys(), form.popView)); // nothing selected
    List(form)->SetSelected(0, true);
    QVERIFY(pressIn(fixture.ListKeys(), form.popSelected));
    QVERIFY(pressIn(Tree(form), form.TreePopupMenu));
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
