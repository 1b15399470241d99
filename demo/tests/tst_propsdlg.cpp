// The classic properties dialog, driven through its widgets against a private service and
// checked in the service afterwards.

#include "DemoTestSupport.h"
#include "ModalDriver.h"
#include "Props.h"
#include "ScriptedPrompts.h"
#include "AdminCheck.h"
#include "TaskService2.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimeEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <functional>
#include <iterator>

namespace {

/// One task made through a scheduler of its own, before the dialog opens it.
struct TTaskSpec {
    QString name = QStringLiteral("T");
    bool use1 = false;
    std::function<void(TTaskItem*)> setup;
};

/// Stands in for the user in the next modal window, which must be a `TDialog`; a window the
/// answer leaves open is cancelled.
template <typename TDialog>
void WhenShown(std::function<void(TDialog*)> AAnswer)
{
    WhenModal([AAnswer](QWidget* AWindow) {
        auto* dialog = qobject_cast<TDialog*>(AWindow);
        QVERIFY2(dialog, qPrintable(AWindow->objectName()));
        try {
            AAnswer(dialog);
        } catch (const std::exception& e) {
            QTest::qFail(e.what(), __FILE__, __LINE__);
        }
    });
}

template <typename T>
T* Find(QWidget* AParent, const char* AName)
{
    T* widget = AParent->findChild<T*>(QString::fromLatin1(AName));
    if (!widget) qFatal("no widget %s", AName);
    return widget;
}

/// The widget that Tab moves to from `AWidget`.
QWidget* NextTabStop(QWidget* AWidget)
{
    QWidget* next = AWidget->nextInFocusChain();
    while (next != AWidget && !((next->focusPolicy() & Qt::TabFocus) && next->isVisibleTo(AWidget->window())))
        next = next->nextInFocusChain();
    return next;
}

void MakeTask(const TTaskSpec& ASpec)
{
    TTaskScheduler scheduler;
    scheduler.SetUseTaskScheduler1Only(ASpec.use1);
    scheduler.Open();
    TTaskItem* task = scheduler.CreateNewItem(ASpec.name);
    if (ASpec.setup) ASpec.setup(task);
    task->Save();
    if (ASpec.use1) task->Deactivate(false);
}

/// A scheduler of its own with the stored task, activated; the scheduler owns the item.
struct TStored {
    explicit TStored(const QString& AName, bool AUse1 = false)
    {
        scheduler.SetUseTaskScheduler1Only(AUse1);
        scheduler.Open();
        scheduler.Refresh();
        task = scheduler.ActivateTask(AName);
        if (task) task->Activate();
    }
    TTaskScheduler scheduler;
    TTaskItem* task = nullptr;
};

void AddExec(TTaskItem* ATask, const QString& APath, const QString& AArgs = {})
{
    ATask->InsertAction(TASK_ACTION_EXEC);
    ATask->SetCurrentAction(ATask->GetActionsCount());
    ATask->SetApplicationName(APath);
    if (!AArgs.isEmpty()) ATask->SetParameters(AArgs);
}

TTrigger* AddTrigger(TTaskItem* ATask, TTriggerType AKind, QDate ABegin, QTime AStart,
                     std::function<void(TRIGGER_TYPE_UNION&)> ADetails = {})
{
    TTrigger* trigger = ATask->GetTriggers()->Add(AKind);
    trigger->SetStartTime(EncodeDateTime(ABegin, AStart));
    trigger->SetBeginDate(EncodeDateTime(ABegin, QTime(0, 0)));
    TRIGGER_TYPE_UNION details;
    std::memset(&details, 0, sizeof details);
    if (ADetails) ADetails(details);
    trigger->SetDetails(details);
    return trigger;
}

QString ActionPath(TTaskItem* ATask, int AIndex)
{
    ATask->SetCurrentAction(AIndex);
    return ATask->GetApplicationName();
}

TASK_RUNLEVEL_TYPE RunLevel(TTaskItem* ATask)
{
    ComPtr<IPrincipal> principal;
    OleCheck(ATask->GetTaskDefinition()->get_Principal(principal.Put()));
    TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_LUA;
    OleCheck(principal->get_RunLevel(&level));
    return level;
}

QStringList TimeProperties(TTaskItem* ATask)
{
    QStringList times(6);
    ATask->GetTimeProperties(times);
    return times;
}

} // namespace

class TestPropsDlg : public QObject {
    Q_OBJECT

    /// Opens the dialog on the stored task `AName` and lets `AAnswer` act in the user's place.
    bool Edit(const QString& AName, std::function<void(TPropsDlg*)> AAnswer, bool AUse1 = false)
    {
        TStored opened(AName, AUse1);
        if (!opened.task) qFatal("no task %s", qPrintable(AName));
        if (AUse1) opened.task->Deactivate(false);
        WhenShown<TPropsDlg>(AAnswer);
        try {
            return ShowTaskProperties(opened.task, &prompts);
        } catch (const Exception& e) {
            qWarning("%s", qPrintable(e.Message()));
            throw;
        }
    }
    static void Ok(TPropsDlg* ADlg) { Find<QPushButton>(ADlg, "btnOK")->click(); }
    static void Cancel(TPropsDlg* ADlg) { Find<QPushButton>(ADlg, "btnCancel")->click(); }

    ScriptedPrompts prompts;

private slots:
    void init() { prompts = ScriptedPrompts(); }

    // 2.0
    void programActionsOpenOnTheFirstAndOkKeepsThem();
    void editedActionsReachTheServiceWhenTheirRowIsLeft();
    void deletingAnActionShowsTheRowThatTakesItsPlace();
    void emailActionShowsItsPanel();
    void taskWithoutActionsShowsNoPanel();
    void durationsSelectTheirItems_data();
    void durationsSelectTheirItems();
    void durationChecksClearAndSelect();
    void idleFlagGreysItsDependants();
    void highestPrivileges_data();
    void highestPrivileges();
    void badInputKeepsTheDialogOpenAndWritesNothing_data();
    void badInputKeepsTheDialogOpenAndWritesNothing();
    void cancelLeavesTheServiceAsItWas();
    void accountOfALoggedOffTask_data();
    void accountOfALoggedOffTask();
    void taskGoneWhileOpen_data();
    void taskGoneWhileOpen();

    // 2.0 schedule page
    void scheduleWithoutTriggers();
    void dailyTriggerInterval();
    void weeklyTriggerGetsTodayAsBeginDate();
    void monthlyDayOfWeekKeepsBeginDateAndWeeks();
    void monthlyDateDaysAndMonths();
    void onceTriggerTakesDateAndTime();
    void logonTriggerShowsOnlyTheDelay();

    // 1.0
    void classicTaskRoundTrip();
    void classicFlags_data();
    void classicFlags();
    void classicIdleEditsFollowStartOnlyIfIdle();
    void classicBinaryData();
    void classicCancelAndScheduleButton();
    void classicTaskGoneBeforeOpening();
    void classicEditGoesThroughTheServicePages_data();
    void classicEditGoesThroughTheServicePages();

    // the main window
    void mainWindowOpensTheDialog();
};

// ---- 2.0 --------------------------------------------------------------------------------------

void TestPropsDlg::programActionsOpenOnTheFirstAndOkKeepsThem()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Two"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/first"), QStringLiteral("-a"));
                  AddExec(t, QStringLiteral("/bin/second"), QStringLiteral("-b"));
              }});
    QVERIFY(Edit(QStringLiteral("Two"), [](TPropsDlg* d) {
        QCOMPARE(d->windowTitle(), QStringLiteral("Two Properties"));
        QVERIFY(!Find<QWidget>(d, "PanelVistaTasks")->isHidden());
        QVERIFY(Find<QWidget>(d, "PanelXPTask")->isHidden());
        QVERIFY(Find<QPushButton>(d, "btnEdit")->isHidden());
        auto* grid = Find<QTableWidget>(d, "StringGrid1");
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("Start a programm"));
        QCOMPARE(grid->item(1, 1)->text(), QStringLiteral("/bin/second"));
        QVERIFY(!Find<QWidget>(d, "PanelExec")->isHidden());
        QCOMPARE(Find<QLineEdit>(d, "LabeledEditName")->text(), QStringLiteral("/bin/first"));
        QCOMPARE(Find<QLineEdit>(d, "LabeledEditParameters")->text(), QStringLiteral("-a"));
        Ok(d);
    }));
    TStored stored(QStringLiteral("Two"));
    QCOMPARE(stored.task->GetActionsCount(), 2);
    QCOMPARE(ActionPath(stored.task, 1), QStringLiteral("/bin/first"));
    QCOMPARE(stored.task->GetParameters(), QStringLiteral("-a"));
    QCOMPARE(ActionPath(stored.task, 2), QStringLiteral("/bin/second"));
    QCOMPARE(stored.task->GetParameters(), QStringLiteral("-b"));
}

void TestPropsDlg::editedActionsReachTheServiceWhenTheirRowIsLeft()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Two"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/first"));
                  AddExec(t, QStringLiteral("/bin/second"));
              }});
    QVERIFY(Edit(QStringLiteral("Two"), [](TPropsDlg* d) {
        auto* grid = Find<QTableWidget>(d, "StringGrid1");
        Find<QLineEdit>(d, "LabeledEditName")->setText(QStringLiteral("/bin/one"));
        grid->setCurrentCell(1, 0);
        QCOMPARE(Find<QLineEdit>(d, "LabeledEditName")->text(), QStringLiteral("/bin/second"));
        Find<QLineEdit>(d, "LabeledEditWorkDir")->setText(QStringLiteral("/tmp"));
        grid->setCurrentCell(0, 0);
        QCOMPARE(Find<QLineEdit>(d, "LabeledEditName")->text(), QStringLiteral("/bin/one"));
        Ok(d);
    }));
    TStored stored(QStringLiteral("Two"));
    QCOMPARE(ActionPath(stored.task, 1), QStringLiteral("/bin/one"));
    QCOMPARE(ActionPath(stored.task, 2), QStringLiteral("/bin/second"));
    QCOMPARE(stored.task->GetWorkingDirectory(), QStringLiteral("/tmp"));
}

void TestPropsDlg::deletingAnActionShowsTheRowThatTakesItsPlace()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Three"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/a"));
                  AddExec(t, QStringLiteral("/bin/b"));
                  AddExec(t, QStringLiteral("/bin/c"));
              }});
    QVERIFY(Edit(QStringLiteral("Three"), [](TPropsDlg* d) {
        auto* grid = Find<QTableWidget>(d, "StringGrid1");
        grid->setCurrentCell(1, 0);
        // Edits of the deleted action go with it, and do not land on its neighbour.
        Find<QLineEdit>(d, "LabeledEditName")->setText(QStringLiteral("/bin/deleted"));
        Find<QPushButton>(d, "btDeleteAction")->click();
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(grid->item(1, 1)->text(), QStringLiteral("/bin/c"));
        QCOMPARE(Find<QLineEdit>(d, "LabeledEditName")->text(), QStringLiteral("/bin/c"));
        Ok(d);
    }));
    TStored stored(QStringLiteral("Three"));
    QCOMPARE(stored.task->GetActionsCount(), 2);
    QCOMPARE(ActionPath(stored.task, 1), QStringLiteral("/bin/a"));
    QCOMPARE(ActionPath(stored.task, 2), QStringLiteral("/bin/c"));
}

void TestPropsDlg::emailActionShowsItsPanel()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Mail"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  t->InsertAction(TASK_ACTION_SEND_EMAIL);
                  t->SetCurrentAction(2);
                  t->SetMailSendTo(QStringLiteral("a@example.org"));
                  t->SetMailSendFrom(QStringLiteral("b@example.org"));
                  t->SetMailSubject(QStringLiteral("Report"));
                  t->SetMailContent(QStringLiteral("Body"));
                  t->SetMailServer(QStringLiteral("smtp.example.org"));
              }});
    QVERIFY(Edit(QStringLiteral("Mail"), [](TPropsDlg* d) {
        auto* grid = Find<QTableWidget>(d, "StringGrid1");
        QCOMPARE(grid->item(1, 0)->text(), QStringLiteral("Send an e-mail"));
        grid->setCurrentCell(1, 0);
        QVERIFY(!Find<QWidget>(d, "PanelEMail")->isHidden());
        QVERIFY(Find<QWidget>(d, "PanelExec")->isHidden());
        QCOMPARE(Find<QLineEdit>(d, "EditTo")->text(), QStringLiteral("a@example.org"));
        QCOMPARE(Find<QLineEdit>(d, "EditFrom")->text(), QStringLiteral("b@example.org"));
        QCOMPARE(Find<QLineEdit>(d, "EditSubject")->text(), QStringLiteral("Report"));
        QCOMPARE(Find<QTextEdit>(d, "EditMailMessage")->toPlainText(), QStringLiteral("Body"));
        QCOMPARE(Find<QLineEdit>(d, "EditSMTPServer")->text(), QStringLiteral("smtp.example.org"));
        Find<QLineEdit>(d, "EditSubject")->setText(QStringLiteral("Weekly report"));
        Ok(d);
    }));
    TStored stored(QStringLiteral("Mail"));
    stored.task->SetCurrentAction(2);
    QCOMPARE(stored.task->GetMailSubject(), QStringLiteral("Weekly report"));
    QCOMPARE(stored.task->GetMailServer(), QStringLiteral("smtp.example.org"));
}

void TestPropsDlg::taskWithoutActionsShowsNoPanel()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Empty"), false, {}});
    QVERIFY(Edit(QStringLiteral("Empty"), [](TPropsDlg* d) {
        auto* grid = Find<QTableWidget>(d, "StringGrid1");
        QCOMPARE(grid->rowCount(), 0);
        for (const char* panel : {"PanelExec", "PanelEMail", "PanelMessageBox"}) QVERIFY(Find<QWidget>(d, panel)->isHidden());
        Find<QPushButton>(d, "btDeleteAction")->click();
        QCOMPARE(grid->rowCount(), 0);
        Ok(d);
    }));
    TStored stored(QStringLiteral("Empty"));
    QCOMPARE(stored.task->GetActionsCount(), 0);
}

void TestPropsDlg::durationsSelectTheirItems_data()
{
    QTest::addColumn<int>("element");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("check");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("written");
    QTest::newRow("one hour") << 0 << "PT1H" << "EditStopRuning" << "CheckStopRuning" << 0 << "PT1H";
    QTest::newRow("three days") << 0 << "PT72H" << "EditStopRuning" << "CheckStopRuning" << 6 << "P3D";
    QTest::newRow("ninety minutes") << 0 << "PT90M" << "EditStopRuning" << "CheckStopRuning" << -1 << "";
    QTest::newRow("immediately") << 3 << "PT0S" << "EditDeleteAfter" << "CheckDeleteAfter" << 0 << "PT0S";
    QTest::newRow("restart every hour") << 1 << "PT1H" << "EditRestartTime" << "CheckTaskFails" << 5 << "PT1H";
    QTest::newRow("idle wait ten minutes") << 4 << "PT10M" << "EditIdle" << "" << 2 << "PT10M";
    QTest::newRow("idle duration two hours") << 5 << "PT2H" << "EditIdleWait" << "" << 7 << "PT2H";
}

void TestPropsDlg::durationsSelectTheirItems()
{
    QFETCH(int, element);
    QFETCH(QString, stored);
    QFETCH(QString, list);
    QFETCH(QString, check);
    QFETCH(int, index);
    QFETCH(QString, written);
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("D"), false, [&](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  QStringList times = TimeProperties(t);
                  times[element] = stored;
                  t->SetTimeProperties(times);
              }});
    const QStringList before = [] { TStored s(QStringLiteral("D")); return TimeProperties(s.task); }();
    QVERIFY(Edit(QStringLiteral("D"), [&](TPropsDlg* d) {
        QCOMPARE(Find<QComboBox>(d, qPrintable(list))->currentIndex(), index);
        if (!check.isEmpty()) QCOMPARE(Find<QCheckBox>(d, qPrintable(check))->isChecked(), index >= 0);
        Ok(d);
    }));
    TStored after(QStringLiteral("D"));
    const QStringList times = TimeProperties(after.task);
    QCOMPARE(times.at(element), written);
    QCOMPARE(times.at(2), before.at(2));
}

void TestPropsDlg::durationChecksClearAndSelect()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("R"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  QStringList times = TimeProperties(t);
                  times[1] = QStringLiteral("PT5M");
                  times[2] = QStringLiteral("3");
                  t->SetTimeProperties(times);
              }});
    QVERIFY(Edit(QStringLiteral("R"), [](TPropsDlg* d) {
        auto* fails = Find<QCheckBox>(d, "CheckTaskFails");
        auto* restart = Find<QComboBox>(d, "EditRestartTime");
        QCOMPARE(restart->currentText(), QStringLiteral("5 minutes"));
        QCOMPARE(Find<QSpinBox>(d, "udRestartCount")->value(), 3);
        fails->click();
        QVERIFY(!fails->isChecked());
        QCOMPARE(restart->currentIndex(), -1);
        QVERIFY(!restart->isEnabled() && !Find<QSpinBox>(d, "udRestartCount")->isEnabled());
        fails->click();
        QCOMPARE(restart->currentText(), QStringLiteral("15 minutes"));
        QVERIFY(restart->isEnabled());
        Find<QCheckBox>(d, "CheckStopRuning")->click();
        Find<QCheckBox>(d, "CheckDeleteAfter")->click();
        Ok(d);
    }));
    TStored stored(QStringLiteral("R"));
    const QStringList times = TimeProperties(stored.task);
    QCOMPARE(times.at(1), QStringLiteral("PT15M"));
    QCOMPARE(times.at(2), QStringLiteral("3"));
    // The new task's limits were the service's defaults; the boxes toggled them.
    QVERIFY(times.at(0).isEmpty() || times.at(0) == QStringLiteral("PT8H"));
}

void TestPropsDlg::idleFlagGreysItsDependants()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("I"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  t->SetVistaFlag(tfvRunOnlyIfIdle, false);
                  t->SetVistaFlag(tfvStopOnIdleEnd, true);
              }});
    QVERIFY(Edit(QStringLiteral("I"), [](TPropsDlg* d) {
        auto* flags = Find<QListWidget>(d, "ListVistaFlags");
        QCOMPARE(flags->count(), 13);
        QVERIFY(!(flags->item(7)->flags() & Qt::ItemIsEnabled));
        QVERIFY(!(flags->item(8)->flags() & Qt::ItemIsEnabled));
        QVERIFY(!Find<QComboBox>(d, "EditIdle")->isEnabled());
        QVERIFY(!Find<QComboBox>(d, "EditIdleWait")->isEnabled());
        flags->item(6)->setCheckState(Qt::Checked);
        QVERIFY(flags->item(7)->flags() & Qt::ItemIsEnabled);
        QVERIFY(Find<QComboBox>(d, "EditIdle")->isEnabled());
        flags->item(7)->setCheckState(Qt::Unchecked);
        flags->item(5)->setCheckState(Qt::Checked);
        Ok(d);
    }));
    TStored stored(QStringLiteral("I"));
    QVERIFY(stored.task->GetVistaFlag(tfvRunOnlyIfIdle));
    QVERIFY(!stored.task->GetVistaFlag(tfvStopOnIdleEnd));
    QVERIFY(stored.task->GetVistaFlag(tfvHidden));
}

void TestPropsDlg::highestPrivileges_data()
{
    QTest::addColumn<bool>("admin");
    QTest::addColumn<bool>("highest");
    QTest::addColumn<bool>("click");
    QTest::addColumn<bool>("storedHighest");
    QTest::newRow("user: shown disabled, checked, not written") << false << true << true << true;
    QTest::newRow("user: unchecked stays") << false << false << true << false;
    QTest::newRow("admin: cleared") << true << true << true << false;
    QTest::newRow("admin: set") << true << false << true << true;
    QTest::newRow("admin: kept") << true << true << false << true;
}

void TestPropsDlg::highestPrivileges()
{
    QFETCH(bool, admin);
    QFETCH(bool, highest);
    QFETCH(bool, click);
    QFETCH(bool, storedHighest);
    DemoTestEnvironment env;
    AdminCheck::ScopedOverride rights(admin);
    MakeTask({QStringLiteral("P"), false, [&](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  ComPtr<IPrincipal> principal;
                  OleCheck(t->GetTaskDefinition()->get_Principal(principal.Put()));
                  OleCheck(principal->put_RunLevel(highest ? TASK_RUNLEVEL_HIGHEST : TASK_RUNLEVEL_LUA));
              }});
    QVERIFY(Edit(QStringLiteral("P"), [&](TPropsDlg* d) {
        auto* box = Find<QCheckBox>(d, "ckbVistaHighestPrivileges");
        QVERIFY(box->isVisibleTo(d));
        QCOMPARE(box->isEnabled(), admin);
        QCOMPARE(box->isChecked(), highest);
        if (click) box->click();
        Ok(d);
    }));
    TStored stored(QStringLiteral("P"));
    QCOMPARE(RunLevel(stored.task) == TASK_RUNLEVEL_HIGHEST, storedHighest);
}

void TestPropsDlg::badInputKeepsTheDialogOpenAndWritesNothing_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("field");
    QTest::newRow("restart count") << -1 << "Attempt to restart up to";
    QTest::newRow("program name") << -2 << "Name";
    QTest::newRow("weekly without days") << int(ttWeekly) << "Select the week day below";
    QTest::newRow("day outside the months") << int(ttMonthlyDate) << "Day";
    QTest::newRow("monthly without months") << int(ttMonthlyDow) << "of the month(s)";
    QTest::newRow("daily beginning after its end") << int(ttDaily) << "Start date";
    QTest::newRow("weekly that has ended") << -3 << "Schedule";
}

void TestPropsDlg::badInputKeepsTheDialogOpenAndWritesNothing()
{
    QFETCH(int, kind);
    QFETCH(QString, field);
    DemoTestEnvironment env;
    const QDate begin(2030, 1, 1);
    MakeTask({QStringLiteral("B"), false, [&](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  t->SetComment(QStringLiteral("before"));
                  if (kind == ttWeekly)
                      AddTrigger(t, ttWeekly, begin, QTime(8, 0), [](auto& u) {
                          u.Weekly.WeeksInterval = 1;
                          u.Weekly.rgfDaysOfTheWeek = 0x2;
                      });
                  if (kind == ttMonthlyDate)
                      AddTrigger(t, ttMonthlyDate, begin, QTime(8, 0), [](auto& u) {
                          u.MonthlyDate.rgfDays = 0x1;
                          u.MonthlyDate.rgfMonths = 0x2;
                      });
                  if (kind == ttMonthlyDow)
                      AddTrigger(t, ttMonthlyDow, begin, QTime(8, 0), [](auto& u) {
                          u.MonthlyDOW.wWhichWeek = 1;
                          u.MonthlyDOW.rgfDaysOfTheWeek = 0x2;
                          u.MonthlyDOW.rgfMonths = 0x1;
                      });
                  if (kind == ttDaily)
                      AddTrigger(t, ttDaily, begin, QTime(8, 0), [](auto& u) { u.Daily.DaysInterval = 1; });
                  if (kind == -3)
                      AddTrigger(t, ttWeekly, QDate(2020, 1, 1), QTime(8, 0), [](auto& u) {
                          u.Weekly.WeeksInterval = 1;
                          u.Weekly.rgfDaysOfTheWeek = 0x2;
                      });
                  if (kind == ttDaily || kind == -3) {
                      TTrigger* trigger = t->GetTriggers()->GetItem(0);
                      trigger->SetEndDate(EncodeDateTime(kind == ttDaily ? begin.addMonths(1) : QDate(2020, 6, 1), QTime(0, 0)));
                      trigger->SetHasEndDate(true);
                  }
                  if (kind >= 0 || kind == -3) t->GetTriggers()->UpdateTriggers();
              }});
    QVERIFY(!Edit(QStringLiteral("B"), [&](TPropsDlg* d) {
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("after"));
        switch (kind) {
        case -1: Find<QLineEdit>(d, "EditRestartCount")->clear(); break;
        case -2: Find<QLineEdit>(d, "LabeledEditName")->setText(QStringLiteral("  ")); break;
        case ttWeekly: Find<QCheckBox>(d, "CheckBox1")->click(); break;
        case ttMonthlyDate:
            // Only the 30th, and only in February.
            Find<QListWidget>(d, "seMonthDays")->item(0)->setCheckState(Qt::Unchecked);
            Find<QListWidget>(d, "seMonthDays")->item(29)->setCheckState(Qt::Checked);
            break;
        case ttMonthlyDow: Find<QCheckBox>(d, "cbJan")->click(); break;
        case ttDaily: Find<QDateEdit>(d, "dtStartDateDaily")->setDate(begin.addMonths(2)); break;
        }
        Ok(d);
        QVERIFY(d->isVisible());
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY2(prompts.messages.first().text.startsWith(field + QLatin1Char(':')), qPrintable(prompts.messages.first().text));
        Cancel(d);
    }));
    TStored stored(QStringLiteral("B"));
    QCOMPARE(stored.task->GetComment(), QStringLiteral("before"));
}

void TestPropsDlg::cancelLeavesTheServiceAsItWas()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("C"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/a"));
                  AddExec(t, QStringLiteral("/bin/b"));
                  t->SetComment(QStringLiteral("kept"));
              }});
    QVERIFY(!Edit(QStringLiteral("C"), [](TPropsDlg* d) {
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("changed"));
        Find<QLineEdit>(d, "LabeledEditName")->setText(QStringLiteral("/bin/changed"));
        Find<QTableWidget>(d, "StringGrid1")->setCurrentCell(1, 0);
        Find<QPushButton>(d, "btDeleteAction")->click();
        Find<QListWidget>(d, "ListVistaFlags")->item(4)->setCheckState(Qt::Unchecked);
        Cancel(d);
    }));
    TStored stored(QStringLiteral("C"));
    QCOMPARE(stored.task->GetComment(), QStringLiteral("kept"));
    QCOMPARE(stored.task->GetActionsCount(), 2);
    QCOMPARE(ActionPath(stored.task, 1), QStringLiteral("/bin/a"));
    QVERIFY(stored.task->GetVistaFlag(tfvEnabled));
}

void TestPropsDlg::accountOfALoggedOffTask_data()
{
    QTest::addColumn<bool>("group");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("logonType");
    // The flags are written back without "Start Only when user logged on": the logon the task
    // has stays unless the account form changes it.
    QTest::newRow("account form cancelled") << false << false << int(tltS4U);
    QTest::newRow("group confirmed") << true << true << int(tltGroup);
}

void TestPropsDlg::accountOfALoggedOffTask()
{
    QFETCH(bool, group);
    QFETCH(bool, confirm);
    QFETCH(int, logonType);
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("S"), false, [&](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  if (group)
                      t->SetAccountInformation(QString(), QString(), QStringLiteral("users"));
                  else
                      t->SetTaskLogonType(tltS4U);
              }});
    QString accountShown;
    QVERIFY(Edit(QStringLiteral("S"), [&](TPropsDlg* d) {
        QCOMPARE(Find<QListWidget>(d, "ListVistaFlags")->item(12)->checkState(), Qt::Unchecked);
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("edited"));
        WhenModal([&](QWidget* account) {
            accountShown = Find<QLineEdit>(account, "edUserName")->text();
            Find<QPushButton>(account, confirm ? "btOK" : "btCancel")->click();
        });
        Ok(d);
    }));
    QVERIFY(prompts.errors.isEmpty());
    if (group) QCOMPARE(accountShown, QStringLiteral("users"));
    TStored stored(QStringLiteral("S"));
    QCOMPARE(stored.task->GetComment(), QStringLiteral("edited"));
    QCOMPARE(int(stored.task->GetTaskLogonType()), logonType);
}

void TestPropsDlg::taskGoneWhileOpen_data()
{
    QTest::addColumn<bool>("use1");
    QTest::addColumn<bool>("folderToo");
    QTest::addColumn<QString>("error");
    QTest::newRow("1.0 task") << true << false << "Could not activate \"Gone\" task.";
    QTest::newRow("2.0 task") << false << false << "(\"\\F\\Gone\")";
    QTest::newRow("2.0 task and its folder") << false << true << "No folder \"\\F\"";
}

void TestPropsDlg::taskGoneWhileOpen()
{
    QFETCH(bool, use1);
    QFETCH(bool, folderToo);
    QFETCH(QString, error);
    DemoTestEnvironment env(use1);
    TTaskScheduler mine;
    mine.SetUseTaskScheduler1Only(use1);
    mine.Open();
    if (!use1) {
        mine.CreateFolder(QStringLiteral("\\F"));
        mine.CurrentFolderPath = QStringLiteral("\\F");
    }
    TTaskItem* task = mine.CreateNewItem(QStringLiteral("Gone"));
    if (use1)
        task->SetApplicationName(QStringLiteral("/bin/true"));
    else
        AddExec(task, QStringLiteral("/bin/true"));
    task->Save();
    if (use1) task->Deactivate(false);
    WhenShown<TPropsDlg>([&](TPropsDlg* d) {
        // Someone else deletes the task while the dialog is open.
        TTaskScheduler other;
        other.SetUseTaskScheduler1Only(use1);
        other.Open();
        if (!use1) other.CurrentFolderPath = QStringLiteral("\\F");
        other.Refresh();
        other.DeleteTask(QStringLiteral("Gone"));
        if (folderToo) other.DeleteFolder(QStringLiteral("\\F"));
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("late"));
        Ok(d);
    });
    QString message;
    try {
        ShowTaskProperties(task, &prompts);
    } catch (const Exception& e) {
        message = e.Message();
    }
    QVERIFY2(message.contains(error), qPrintable(message));
    // The task is not brought back by the late OK.
    TTaskScheduler after;
    after.SetUseTaskScheduler1Only(use1);
    after.Open();
    if (!use1 && !folderToo) after.CurrentFolderPath = QStringLiteral("\\F");
    after.Refresh();
    QVERIFY(!after.ActivateTask(QStringLiteral("Gone")));
}

// ---- 2.0 schedule page ------------------------------------------------------------------------

void TestPropsDlg::scheduleWithoutTriggers()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("N"), false, [](TTaskItem* t) { AddExec(t, QStringLiteral("/bin/true")); }});
    QVERIFY(Edit(QStringLiteral("N"), [](TPropsDlg* d) {
        QCOMPARE(Find<QComboBox>(d, "cbSchedule")->count(), 0);
        QCOMPARE(Find<QLabel>(d, "lblLastRunTime")->text(), QStringLiteral("Never"));
        QCOMPARE(Find<QLabel>(d, "lblNextRunTime")->text(), QStringLiteral("Never"));
        for (const char* panel : {"pnlOneTimeOnly", "pnlDaily", "pnlWeekly", "pnlMonthly", "pnlTriggerDelay"})
            QVERIFY(Find<QWidget>(d, panel)->isHidden());
        Ok(d);
    }));
    TStored stored(QStringLiteral("N"));
    QCOMPARE(stored.task->GetTriggers()->Count(), 0);
}

void TestPropsDlg::dailyTriggerInterval()
{
    DemoTestEnvironment env;
    const QDate begin = QDate::currentDate().addDays(2);
    MakeTask({QStringLiteral("Daily"), false, [&](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  AddTrigger(t, ttDaily, begin, QTime(9, 0), [](auto& u) { u.Daily.DaysInterval = 1; });
                  t->GetTriggers()->UpdateTriggers();
              }});
    QVERIFY(Edit(QStringLiteral("Daily"), [&](TPropsDlg* d) {
        QVERIFY(!Find<QWidget>(d, "pnlDaily")->isHidden());
        QVERIFY(Find<QRadioButton>(d, "rbEveryDay")->isChecked());
        QVERIFY(!Find<QSpinBox>(d, "udIntervalDaily")->isEnabled());
        QCOMPARE(Find<QTimeEdit>(d, "dtStartTimeDaily")->time(), QTime(9, 0));
        QCOMPARE(Find<QDateEdit>(d, "dtStartDateDaily")->date(), begin);
        QVERIFY(Find<QLabel>(d, "lblNextRunTime")->text() != QStringLiteral("Never"));
        Find<QRadioButton>(d, "rbEvery")->click();
        QVERIFY(Find<QSpinBox>(d, "udIntervalDaily")->isEnabled());
        Find<QSpinBox>(d, "udIntervalDaily")->setValue(3);
        Find<QTimeEdit>(d, "dtStartTimeDaily")->setTime(QTime(10, 30));
        Ok(d);
    }));
    TStored stored(QStringLiteral("Daily"));
    TTrigger* trigger = stored.task->GetTriggers()->GetItem(0);
    QCOMPARE(trigger->GetDetails().Daily.DaysInterval, WORD(3));
    QCOMPARE(DateTimeToTime(trigger->GetStartTime()), QTime(10, 30));
    QCOMPARE(DateTimeToDate(trigger->GetBeginDate()), begin);
}

void TestPropsDlg::weeklyTriggerGetsTodayAsBeginDate()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Weekly"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  AddTrigger(t, ttWeekly, QDate(2031, 5, 1), QTime(7, 15), [](auto& u) {
                      u.Weekly.WeeksInterval = 2;
                      u.Weekly.rgfDaysOfTheWeek = 0x2 | 0x20;
                  });
                  t->GetTriggers()->UpdateTriggers();
              }});
    QVERIFY(Edit(QStringLiteral("Weekly"), [](TPropsDlg* d) {
        QVERIFY(!Find<QWidget>(d, "pnlWeekly")->isHidden());
        QCOMPARE(Find<QSpinBox>(d, "udWeekInterval")->value(), 2);
        QVERIFY(Find<QCheckBox>(d, "CheckBox1")->isChecked());
        QVERIFY(Find<QCheckBox>(d, "CheckBox5")->isChecked());
        QVERIFY(!Find<QCheckBox>(d, "CheckBox7")->isChecked());
        Find<QCheckBox>(d, "CheckBox7")->click();
        Find<QCheckBox>(d, "CheckBox5")->click();
        Ok(d);
    }));
    TStored stored(QStringLiteral("Weekly"));
    TTrigger* trigger = stored.task->GetTriggers()->GetItem(0);
    QCOMPARE(trigger->GetDetails().Weekly.rgfDaysOfTheWeek, WORD(0x1 | 0x2));
    QCOMPARE(trigger->GetDetails().Weekly.WeeksInterval, WORD(2));
    QCOMPARE(DateTimeToDate(trigger->GetBeginDate()), QDate::currentDate());
    QCOMPARE(DateTimeToTime(trigger->GetStartTime()), QTime(7, 15));
}

void TestPropsDlg::monthlyDayOfWeekKeepsBeginDateAndWeeks()
{
    DemoTestEnvironment env;
    const QDate begin(2031, 3, 4);
    MakeTask({QStringLiteral("Dow"), false, [&](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  TTrigger* trigger = AddTrigger(t, ttMonthlyDow, begin, QTime(6, 0), [](auto& u) {
                      u.MonthlyDOW.rgfDaysOfTheWeek = 0x2;
                      u.MonthlyDOW.rgfMonths = 0xFFF;
                  });
                  trigger->SetVistaMonthlyDOWWeeks(TVistaMDOWWeeks{tvmdowFirst, tvmdowLast});
                  t->GetTriggers()->UpdateTriggers();
              }});
    QVERIFY(Edit(QStringLiteral("Dow"), [](TPropsDlg* d) {
        QVERIFY(!Find<QWidget>(d, "pnlMonthly")->isHidden());
        QVERIFY(Find<QRadioButton>(d, "rbMonthlyDow")->isChecked());
        QVERIFY(!Find<QRadioButton>(d, "rbMonthlyDate")->isEnabled());
        QVERIFY(!Find<QListWidget>(d, "seMonthDays")->isEnabled());
        QVERIFY(!Find<QListWidget>(d, "cklbWhichWeek")->isHidden());
        QVERIFY(Find<QComboBox>(d, "cbWhichWeek")->isHidden());
        auto* weeks = Find<QListWidget>(d, "cklbWhichWeek");
        QCOMPARE(weeks->item(0)->checkState(), Qt::Checked);
        QCOMPARE(weeks->item(4)->checkState(), Qt::Checked);
        QCOMPARE(weeks->item(1)->checkState(), Qt::Unchecked);
        QCOMPARE(Find<QListWidget>(d, "cbDaysOfTheWeeks")->item(1)->checkState(), Qt::Checked);
        Find<QCheckBox>(d, "CheckBox18")->click();   // not in December
        Ok(d);
    }));
    TStored stored(QStringLiteral("Dow"));
    TTrigger* trigger = stored.task->GetTriggers()->GetItem(0);
    QCOMPARE(trigger->GetVistaMonthlyDOWWeeks().Bits(), 17u);
    QCOMPARE(trigger->GetDetails().MonthlyDOW.rgfMonths, WORD(0x7FF));
    QCOMPARE(trigger->GetDetails().MonthlyDOW.rgfDaysOfTheWeek, WORD(0x2));
    QCOMPARE(DateTimeToDate(trigger->GetBeginDate()), begin);
}

void TestPropsDlg::monthlyDateDaysAndMonths()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Month"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  AddTrigger(t, ttMonthlyDate, QDate(2031, 1, 1), QTime(12, 0), [](auto& u) {
                      u.MonthlyDate.rgfDays = 0x1 | (1u << 14);
                      u.MonthlyDate.rgfMonths = 0x1 | 0x800;
                  });
                  t->GetTriggers()->UpdateTriggers();
              }});
    QVERIFY(Edit(QStringLiteral("Month"), [](TPropsDlg* d) {
        auto* days = Find<QListWidget>(d, "seMonthDays");
        QVERIFY(Find<QRadioButton>(d, "rbMonthlyDate")->isChecked());
        QVERIFY(!Find<QRadioButton>(d, "rbMonthlyDow")->isEnabled());
        QCOMPARE(days->item(0)->checkState(), Qt::Checked);
        QCOMPARE(days->item(14)->checkState(), Qt::Checked);
        QVERIFY(Find<QCheckBox>(d, "cbJan")->isChecked() && Find<QCheckBox>(d, "CheckBox18")->isChecked());
        QVERIFY(!Find<QCheckBox>(d, "CheckBox8")->isChecked());
        days->item(30)->setCheckState(Qt::Checked);
        Find<QCheckBox>(d, "CheckBox8")->click();
        Ok(d);
    }));
    TStored stored(QStringLiteral("Month"));
    TTrigger* trigger = stored.task->GetTriggers()->GetItem(0);
    QCOMPARE(trigger->GetDetails().MonthlyDate.rgfDays, DWORD(0x1 | (1u << 14) | (1u << 30)));
    QCOMPARE(trigger->GetDetails().MonthlyDate.rgfMonths, WORD(0x1 | 0x2 | 0x800));
}

void TestPropsDlg::onceTriggerTakesDateAndTime()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Once"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  AddTrigger(t, ttOnce, QDate(2031, 1, 1), QTime(12, 0));
                  AddTrigger(t, ttAtStartup, QDate(2031, 1, 1), QTime(0, 0));
                  t->GetTriggers()->UpdateTriggers();
              }});
    QVERIFY(Edit(QStringLiteral("Once"), [](TPropsDlg* d) {
        auto* list = Find<QComboBox>(d, "cbSchedule");
        QCOMPARE(list->count(), 2);
        // What was typed into a trigger that is left again is not kept.
        list->setCurrentIndex(1);
        QVERIFY(!Find<QWidget>(d, "pnlTriggerDelay")->isHidden());
        Find<QSpinBox>(d, "udDelayMinutes")->setValue(5);
        list->setCurrentIndex(0);
        QVERIFY(!Find<QWidget>(d, "pnlOneTimeOnly")->isHidden());
        Find<QDateEdit>(d, "dtStartDateOnce")->setDate(QDate(2032, 2, 29));
        Find<QTimeEdit>(d, "dtStartTimeOnce")->setTime(QTime(23, 45));
        Ok(d);
    }));
    TStored stored(QStringLiteral("Once"));
    TTrigger* once = stored.task->GetTriggers()->GetItem(0);
    QCOMPARE(DateTimeToDate(once->GetBeginDate()), QDate(2032, 2, 29));
    QCOMPARE(DateTimeToTime(once->GetStartTime()), QTime(23, 45));
    QCOMPARE(stored.task->GetTriggers()->GetItem(1)->GetTriggerDelayMinutes(), 0u);
}

void TestPropsDlg::logonTriggerShowsOnlyTheDelay()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Logon"), false, [](TTaskItem* t) {
                  AddExec(t, QStringLiteral("/bin/true"));
                  AddTrigger(t, ttAtLogon, QDate(2031, 1, 1), QTime(0, 0));
                  t->GetTriggers()->UpdateTriggers();
                  t->GetTriggers()->GetItem(0)->SetTriggerDelayMinutes(12);
              }});
    QVERIFY(Edit(QStringLiteral("Logon"), [](TPropsDlg* d) {
        QVERIFY(!Find<QWidget>(d, "pnlTriggerDelay")->isHidden());
        for (const char* panel : {"pnlOneTimeOnly", "pnlDaily", "pnlWeekly", "pnlMonthly"}) QVERIFY(Find<QWidget>(d, panel)->isHidden());
        auto* delay = Find<QSpinBox>(d, "udDelayMinutes");
        QCOMPARE(delay->value(), 12);
        delay->setValue(20000);
        QCOMPARE(delay->value(), 10000);
        delay->setValue(45);
        Ok(d);
    }));
    TStored stored(QStringLiteral("Logon"));
    QCOMPARE(stored.task->GetTriggers()->GetItem(0)->GetTriggerDelayMinutes(), 45u);
}

// ---- 1.0 --------------------------------------------------------------------------------------

void TestPropsDlg::classicTaskRoundTrip()
{
    DemoTestEnvironment env(true);
    MakeTask({QStringLiteral("Classic"), true, [](TTaskItem* t) {
                  t->SetApplicationName(QStringLiteral("/bin/true"));
                  t->SetParameters(QStringLiteral("-x"));
                  t->SetWorkingDirectory(QStringLiteral("/tmp"));
                  t->SetCreator(QStringLiteral("tester"));
                  t->SetComment(QStringLiteral("old"));
                  t->SetPriority(tpHigh);
                  t->SetIdleTime(TIdleTime{10, 20});
              }});
    prompts.executable = QStringLiteral("/bin/false");
    QVERIFY(Edit(QStringLiteral("Classic"), [this](TPropsDlg* d) {
        QCOMPARE(d->windowTitle(), QStringLiteral("Classic Properties"));
        QVERIFY(!Find<QWidget>(d, "PanelXPTask")->isHidden());
        QVERIFY(Find<QWidget>(d, "PanelVistaSettings")->isHidden());
        auto* name = Find<QLineEdit>(d, "edtTaskName");
        QCOMPARE(name->text(), QStringLiteral("Classic"));
        QVERIFY(name->isReadOnly() && name->focusPolicy() == Qt::NoFocus);
        QCOMPARE(name->palette().color(QPalette::Base), name->palette().color(QPalette::Button));
        // Tab goes down the page, the browse button after the program it changes.
        QCOMPARE(NextTabStop(Find<QWidget>(d, "edtApplicationName")), Find<QWidget>(d, "btnBrowse"));
        QCOMPARE(NextTabStop(Find<QWidget>(d, "btnBrowse")), Find<QWidget>(d, "edtParameters"));
        QVERIFY(Find<QLineEdit>(d, "edtApplicationName")->isReadOnly());
        QCOMPARE(Find<QLineEdit>(d, "edtParameters")->text(), QStringLiteral("-x"));
        QCOMPARE(Find<QLineEdit>(d, "edtWorkDir")->text(), QStringLiteral("/tmp"));
        QCOMPARE(Find<QLineEdit>(d, "edtCreator")->text(), QStringLiteral("tester"));
        QCOMPARE(Find<QComboBox>(d, "cbPriority")->currentText(), QStringLiteral("High"));
        QCOMPARE(Find<QSpinBox>(d, "udIdleMinutes")->value(), 10);
        QCOMPARE(Find<QSpinBox>(d, "udDeadlineMinutes")->value(), 20);
        QCOMPARE(Find<QLabel>(d, "lblLastRunTime")->text(), QStringLiteral("Never"));
        Find<QPushButton>(d, "btnBrowse")->click();
        QCOMPARE(prompts.executableAsked, 1);
        QCOMPARE(Find<QLineEdit>(d, "edtApplicationName")->text(), QStringLiteral("/bin/false"));
        Find<QLineEdit>(d, "edtParameters")->setText(QStringLiteral("-y"));
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("new"));
        Find<QComboBox>(d, "cbPriority")->setCurrentIndex(0);
        Find<QSpinBox>(d, "udIdleMinutes")->setValue(300);
        Find<QSpinBox>(d, "udDeadlineMinutes")->setValue(7);
        Ok(d);
    }, true));
    TStored stored(QStringLiteral("Classic"), true);
    QCOMPARE(stored.task->GetApplicationName(), QStringLiteral("/bin/false"));
    QCOMPARE(stored.task->GetParameters(), QStringLiteral("-y"));
    QCOMPARE(stored.task->GetComment(), QStringLiteral("new"));
    QCOMPARE(stored.task->GetPriority(), tpIdle);
    QCOMPARE(stored.task->GetIdleTime(), (TIdleTime{300, 7}));
}

void TestPropsDlg::classicFlags_data()
{
    QTest::addColumn<int>("flag");
    static const char* const names[] = {"interactive",          "delete when done",         "disabled",
                                        "hidden",               "run only if logged on",    "start only if idle",
                                        "system required",      "kill on idle end",         "restart on idle resume",
                                        "don't start on batteries", "kill if going on batteries", "run if connected to the internet"};
    static_assert(std::size(names) == tfRunIfConnectedToInternet + 1);
    for (int i = tfInteractive; i <= tfRunIfConnectedToInternet; ++i) QTest::newRow(names[i]) << i;
}

void TestPropsDlg::classicFlags()
{
    QFETCH(int, flag);
    DemoTestEnvironment env(true);
    MakeTask({QStringLiteral("F"), true, [&](TTaskItem* t) {
                  t->SetApplicationName(QStringLiteral("/bin/true"));
                  t->SetFlags(TTaskFlags{TTaskFlag(flag)});
              }});
    const int next = (flag + 1) % (tfRunIfConnectedToInternet + 1);
    QVERIFY(Edit(QStringLiteral("F"), [&](TPropsDlg* d) {
        auto* flags = Find<QListWidget>(d, "clbFlags");
        QCOMPARE(flags->count(), 12);
        for (int i = 0; i < flags->count(); ++i) QCOMPARE(flags->item(i)->checkState() == Qt::Checked, i == flag);
        flags->item(next)->setCheckState(Qt::Checked);
        Ok(d);
    }, true));
    TStored stored(QStringLiteral("F"), true);
    QCOMPARE(stored.task->GetFlags(), (TTaskFlags{TTaskFlag(flag), TTaskFlag(next)}));
}

void TestPropsDlg::classicIdleEditsFollowStartOnlyIfIdle()
{
    DemoTestEnvironment env(true);
    MakeTask({QStringLiteral("Idle"), true, [](TTaskItem* t) {
                  t->SetApplicationName(QStringLiteral("/bin/true"));
                  t->SetFlags(TTaskFlags{tfStartOnlyIfIdle});
                  t->SetIdleTime(TIdleTime{5, 6});
              }});
    QVERIFY(Edit(QStringLiteral("Idle"), [](TPropsDlg* d) {
        auto* idle = Find<QSpinBox>(d, "udIdleMinutes");
        QVERIFY(idle->isEnabled() && Find<QSpinBox>(d, "udDeadlineMinutes")->isEnabled());
        idle->setValue(8);
        Find<QListWidget>(d, "clbFlags")->item(tfStartOnlyIfIdle)->setCheckState(Qt::Unchecked);
        QVERIFY(!idle->isEnabled() && !Find<QSpinBox>(d, "udDeadlineMinutes")->isEnabled());
        Ok(d);
    }, true));
    TStored stored(QStringLiteral("Idle"), true);
    QVERIFY(stored.task->GetFlags().IsEmpty());
    QCOMPARE(stored.task->GetIdleTime(), (TIdleTime{8, 6}));
}

void TestPropsDlg::classicBinaryData()
{
    DemoTestEnvironment env(true);
    MakeTask({QStringLiteral("Data"), true, [](TTaskItem* t) { t->SetApplicationName(QStringLiteral("/bin/true")); }});
    auto stored = [] {
        TStored s(QStringLiteral("Data"), true);
        QBuffer data;
        data.open(QIODevice::ReadWrite);
        s.task->GetBinaryData(data);
        return data.data();
    };
    QVERIFY(Edit(QStringLiteral("Data"), [](TPropsDlg* d) {
        QVERIFY(Find<QPlainTextEdit>(d, "memData")->toPlainText().isEmpty());
        Find<QPlainTextEdit>(d, "memData")->setPlainText(QStringLiteral("first line\nzweite Zeile äö"));
        Ok(d);
    }, true));
    const QByteArray written = stored();
    QVERIFY(!written.isEmpty());
    // Read back as the same lines; an emptied memo keeps the data.
    QVERIFY(Edit(QStringLiteral("Data"), [](TPropsDlg* d) {
        QCOMPARE(Find<QPlainTextEdit>(d, "memData")->toPlainText(), QStringLiteral("first line\nzweite Zeile äö"));
        Find<QPlainTextEdit>(d, "memData")->clear();
        Ok(d);
    }, true));
    QCOMPARE(stored(), written);
    QVERIFY(!Edit(QStringLiteral("Data"), [this](TPropsDlg* d) {
        Find<QPlainTextEdit>(d, "memData")->setPlainText(QString(70000, QLatin1Char('x')));
        Ok(d);
        QVERIFY(d->isVisible());
        QCOMPARE(prompts.messages.size(), 1);
        QVERIFY(prompts.messages.first().text.startsWith(QStringLiteral("Binary Data:")));
        Cancel(d);
    }, true));
    QCOMPARE(stored(), written);
}

void TestPropsDlg::classicCancelAndScheduleButton()
{
    DemoTestEnvironment env(true);
    MakeTask({QStringLiteral("K"), true, [](TTaskItem* t) {
                  t->SetApplicationName(QStringLiteral("/bin/true"));
                  t->SetComment(QStringLiteral("kept"));
                  AddTrigger(t, ttDaily, QDate(2031, 1, 1), QTime(9, 0), [](auto& u) { u.Daily.DaysInterval = 1; });
                  t->GetTriggers()->UpdateTriggers();
              }});
    const TTaskFlags flags = [] { TStored s(QStringLiteral("K"), true); return s.task->GetFlags(); }();
    QVERIFY(!Edit(QStringLiteral("K"), [](TPropsDlg* d) {
        QVERIFY(!Find<QPushButton>(d, "btnEdit")->isHidden());
        QCOMPARE(Find<QComboBox>(d, "cbSchedule")->count(), 1);
        QVERIFY(!Find<QComboBox>(d, "cbWhichWeek")->isHidden() || Find<QWidget>(d, "pnlMonthly")->isHidden());
        for (const char* panel : {"pnlOneTimeOnly", "pnlDaily", "pnlWeekly", "pnlMonthly", "pnlTriggerDelay"})
            QVERIFY(Find<QWidget>(d, panel)->isHidden());
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("changed"));
        Find<QListWidget>(d, "clbFlags")->item(tfDisabled)->setCheckState(Qt::Checked);
        Cancel(d);
    }, true));
    TStored stored(QStringLiteral("K"), true);
    QCOMPARE(stored.task->GetComment(), QStringLiteral("kept"));
    QCOMPARE(stored.task->GetFlags(), flags);
    QCOMPARE(stored.task->GetTriggers()->Count(), 1);
}

void TestPropsDlg::classicTaskGoneBeforeOpening()
{
    DemoTestEnvironment env(true);
    MakeTask({QStringLiteral("Old"), true, [](TTaskItem* t) { t->SetApplicationName(QStringLiteral("/bin/true")); }});
    TTaskScheduler mine;
    mine.SetUseTaskScheduler1Only(true);
    mine.Open();
    mine.Refresh();
    TTaskItem* task = mine.ActivateTask(QStringLiteral("Old"));
    QVERIFY(task);
    {
        TTaskScheduler other;
        other.SetUseTaskScheduler1Only(true);
        other.Open();
        other.Refresh();
        other.DeleteTask(QStringLiteral("Old"));
    }
    QString message;
    try {
        ShowTaskProperties(task, &prompts);
    } catch (const Exception& e) {
        message = e.Message();
    }
    QCOMPARE(message, QStringLiteral("Could not activate \"Old\" task."));
}

void TestPropsDlg::classicEditGoesThroughTheServicePages_data()
{
    QTest::addColumn<QString>("sheetButton");
    QTest::addColumn<bool>("dialogOk");
    QTest::newRow("sheet OK, dialog OK") << "btnOK" << true;
    QTest::newRow("sheet Apply, dialog OK") << "btnApply" << true;
    QTest::newRow("sheet OK, dialog Cancel") << "btnOK" << false;
}

void TestPropsDlg::classicEditGoesThroughTheServicePages()
{
    QFETCH(QString, sheetButton);
    QFETCH(bool, dialogOk);
    DemoTestEnvironment env(true);
    MakeTask({QStringLiteral("Sheet"), true, [](TTaskItem* t) {
                  t->SetApplicationName(QStringLiteral("/bin/true"));
                  t->SetFlags(TTaskFlags{tfDontStartIfOnBatteries});
                  AddTrigger(t, ttDaily, QDate(2031, 1, 1), QTime(9, 0), [](auto& u) { u.Daily.DaysInterval = 1; });
                  t->GetTriggers()->UpdateTriggers();
              }});
    QString sheetTitle;
    const bool saved = Edit(QStringLiteral("Sheet"), [&](TPropsDlg* d) {
        auto* flags = Find<QListWidget>(d, "clbFlags");
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("mine"));
        flags->item(tfHidden)->setCheckState(Qt::Checked);
        WhenModal([&](QWidget* sheet) {
            sheetTitle = sheet->windowTitle();
            // The service's pages add a trigger and mark the task to be deleted when done.
            Find<QPushButton>(sheet, "btnNew")->click();
            Find<QCheckBox>(sheet, "ckbDeleteWhenDone")->setChecked(true);
            Find<QPushButton>(sheet, qPrintable(sheetButton))->click();
            if (sheet->isVisible()) Find<QPushButton>(sheet, "btnCancel")->click();
        });
        Find<QPushButton>(d, "btnEdit")->click();
        QCOMPARE(Find<QComboBox>(d, "cbSchedule")->count(), 2);
        QCOMPARE(flags->item(tfDeleteWhenDone)->checkState(), Qt::Checked);
        QCOMPARE(flags->item(tfHidden)->checkState(), Qt::Checked);
        QCOMPARE(flags->item(tfDontStartIfOnBatteries)->checkState(), Qt::Checked);
        dialogOk ? Ok(d) : Cancel(d);
    }, true);
    QCOMPARE(saved, dialogOk);
    QVERIFY2(sheetTitle.contains(QStringLiteral("Sheet")), qPrintable(sheetTitle));
    QVERIFY(prompts.errors.isEmpty());
    // What the sheet saved stays; the dialog's own edits are stored only on OK.
    TStored stored(QStringLiteral("Sheet"), true);
    QCOMPARE(stored.task->GetTriggers()->Count(), 2);
    QVERIFY(stored.task->GetFlags().Contains(tfDeleteWhenDone));
    QVERIFY(stored.task->GetFlags().Contains(tfDontStartIfOnBatteries));
    QCOMPARE(stored.task->GetFlags().Contains(tfHidden), dialogOk);
    QCOMPARE(stored.task->GetComment(), dialogOk ? QStringLiteral("mine") : QString());
}

// ---- the main window ----------------------------------------------------------------------------

void TestPropsDlg::mainWindowOpensTheDialog()
{
    DemoTestEnvironment env;
    MakeTask({QStringLiteral("Main"), false, [](TTaskItem* t) { AddExec(t, QStringLiteral("/bin/true")); }});
    TMainForm form(&prompts);
    List(form)->SetSelected(RowOf(form, QStringLiteral("Main")), true);
    int shown = 0;
    WhenShown<TPropsDlg>([&](TPropsDlg* d) {
        ++shown;
        Find<QPlainTextEdit>(d, "memComments")->setPlainText(QStringLiteral("from the window"));
        Ok(d);
    });
    form.ListViewDblClick();
    QCOMPARE(shown, 1);
    WhenShown<TPropsDlg>([&](TPropsDlg* d) {
        ++shown;
        QCOMPARE(Find<QPlainTextEdit>(d, "memComments")->toPlainText(), QStringLiteral("from the window"));
        Cancel(d);
    });
    Action(form, "acProperties")->trigger();
    QCOMPARE(shown, 2);
    QVERIFY(prompts.errors.isEmpty());
    TStored stored(QStringLiteral("Main"));
    QCOMPARE(stored.task->GetComment(), QStringLiteral("from the window"));
}

QTEST_MAIN(TestPropsDlg)
#include "tst_propsdlg.moc"
