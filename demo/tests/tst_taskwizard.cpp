// The new task wizard driven through its widgets, offscreen, against a private service; what
// it made is read back through a scheduler of its own.

#include "DemoTestSupport.h"
#include "ModalDriver.h"
#include "ResultCodes.h"
#include "ScriptedPrompts.h"
#include "TaskService2.h"
#include "TaskWizard.h"
#include "UserAccount.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <iterator>
#include <unistd.h>

namespace {

/// A scheduler opened in the generation the environment offers, on the root folder, listed.
void OpenScheduler(TTaskScheduler& AScheduler)
{
    AScheduler.Open();
    if (AScheduler.RunningVistaOrLater()) AScheduler.CurrentFolderPath = QStringLiteral("\\");
    AScheduler.Refresh();
}

/// The names of the stored tasks, read afresh.
QStringList StoredNames()
{
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    QStringList names;
    for (int i = 0; i < scheduler.GetCount(); ++i) names << scheduler.GetItem(i)->GetName();
    return names;
}

/// One stored task, loaded through a scheduler of its own.
class StoredTask {
public:
    explicit StoredTask(const QString& AName)
    {
        OpenScheduler(m_scheduler);
        m_task = m_scheduler.ActivateTask(AName);
        if (m_task) m_task->Activate();
    }
    TTaskItem* operator->() const { return m_task; }
    explicit operator bool() const { return m_task != nullptr; }
    TTrigger* Trigger() const { return m_task->GetTriggers()->GetItem(0); }

private:
    TTaskScheduler m_scheduler;
    TTaskItem* m_task = nullptr;
};

/// The wizard's controls, found by their names, and the moves a user makes.
class WizardDriver {
public:
    explicit WizardDriver(TNewTaskWizard* AWizard) : w(AWizard) {}

    template <typename T = QWidget>
    T* C(const char* AName) const
    {
        T* control = w->findChild<T*>(QString::fromLatin1(AName));
        Q_ASSERT_X(control, "WizardDriver", AName);
        return control;
    }
    /// Clicks a button; a radio button or check box on its indicator, which its hit test needs.
    void Click(const char* AName) const
    {
        auto* button = C<QAbstractButton>(AName);
        const bool indicator = qobject_cast<QRadioButton*>(button) || qobject_cast<QCheckBox*>(button);
        QTest::mouseClick(button, Qt::LeftButton, {}, indicator ? QPoint(6, button->height() / 2) : QPoint());
    }
    void Next() const { Click("btnNext"); }
    void Back() const { Click("btnBack"); }
    bool NextEnabled() const { return C<QPushButton>("btnNext")->isEnabled(); }
    int Page() const { return w->CurrentPage(); }
    void Type(const char* AName, const QString& AText) const
    {
        auto* edit = C<QLineEdit>(AName);
        edit->clear();
        QTest::keyClicks(edit, AText);
    }
    QWidget* ActionPanel() const { return C<QStackedWidget>("pcActions")->currentWidget(); }

    /// Start Page to Task Name with a program action (the form's defaults unless changed).
    void ToTaskName(bool AVista) const
    {
        Next();
        if (AVista) Click("rbRunApplication");
        Next();
    }
    /// Names the task, chooses the kind list's entry `AEntry` and goes on.
    void NameAndKind(const QString& AName, int AEntry) const
    {
        Type("edTaskName", AName);
        C<QListWidget>("lbKinds")->setCurrentRow(AEntry);
        Next();
    }

    TNewTaskWizard* w;
};

/// A wizard shown for `AScheduler`, to be driven page by page.
struct ShownWizard {
    ShownWizard(TTaskScheduler& AScheduler, ScriptedPrompts& APrompts) : wizard(&APrompts), d(&wizard)
    {
        wizard.SetTaskScheduler(&AScheduler);
        wizard.show();
    }
    TNewTaskWizard wizard;
    WizardDriver d;
};

/// Runs the entry function; `AScript` drives the modal wizard, which is cancelled if the script
/// leaves it open (so that a failed check cannot hang the test).
bool RunWizard(TTaskScheduler& AScheduler, ScriptedPrompts& APrompts, TTaskItem*& ATask,
               const std::function<void(WizardDriver&)>& AScript)
{
    QTimer::singleShot(0, [&] {
        auto* wizard = qobject_cast<TNewTaskWizard*>(QApplication::activeModalWidget());
        if (!wizard) return;
        const auto close = qScopeGuard([wizard] {
            if (wizard->isVisible()) wizard->reject();
        });
        WizardDriver d(wizard);
        AScript(d);
    });
    return ExecuteNewTaskWizard(&AScheduler, ATask, &APrompts);
}

QString Self()
{
    return QCoreApplication::applicationFilePath();
}

} // namespace

class TestTaskWizard : public QObject {
    Q_OBJECT

private slots:

    void formFitsTheGeneration_data() { AddGenerations(); }
    void formFitsTheGeneration();
    void userAndConnectionGroupsFollowTheKind();
    void eachKindCreatesItsTask_data();
    void eachKindCreatesItsTask();
    void logonForASpecificUserGoesStraightToTheAccount();
    void emailAndMessageActions();
    void highestPrivileges();
    void runParameters_data();
    void runParameters();
    void backThenNextWithAnotherName_data() { AddGenerations(); }
    void backThenNextWithAnotherName();
    void anotherEventKindAfterGoingBackRebuildsTheTrigger();
    void cancelOnEveryPage_data();
    void cancelOnEveryPage();
    void replaceQuestion_data();
    void replaceQuestion();
    void refusedInputStaysOnThePage_data();
    void refusedInputStaysOnThePage();
    void accountPageNeedsANameAndEqualPasswords_data();
    void accountPageNeedsANameAndEqualPasswords();
    void passwordTheSystemRefusesStaysOnTheAccountPage();
    void advancedShowsTheScheduleAndSettingsPages();
    void browsePicksTheProgram();
    void taskCommandOfTheMainWindow();
};

void TestTaskWizard::formFitsTheGeneration()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;

    QCOMPARE(s.wizard.windowTitle(), QStringLiteral("Scheduled task wizard"));
    QCOMPARE(d.C<QLabel>("lblWelcome")->text(), QStringLiteral("This wizard helps you to schedule a task for Task Scheduler Demo."));
    QVERIFY(!d.C<QLabel>("imgStartPage")->pixmap().isNull());
    QCOMPARE(d.C<QListWidget>("lbKinds")->count(), only1 ? 6 : 11);
    QCOMPARE(d.C<QListWidget>("lbKinds")->item(d.C<QListWidget>("lbKinds")->count() - 1)->text(),
             only1 ? QStringLiteral("When I log on") : QStringLiteral("On workstation unlock"));
    QCOMPARE(d.C<QListWidget>("lbKinds")->currentRow(), 0);
    QCOMPARE(d.C<QPushButton>("btnAdvanced")->isHidden(), !only1);
    QCOMPARE(d.C<QWidget>("ckbHighest")->isHidden(), only1);
    QCOMPARE(d.C<QLineEdit>("edApplication")->text(), Self());
    QCOMPARE(d.C<QLineEdit>("edParameters")->text(), QStringLiteral("-run"));
    QCOMPARE(d.C<QLineEdit>("edCreator")->text(), QStringLiteral("Task Scheduler Demo"));
    QCOMPARE(d.C<QPlainTextEdit>("memComments")->toPlainText(), QStringLiteral("Type your comments here..."));
    QCOMPARE(d.C<QLineEdit>("edUserName")->text(), UserAccount::CurrentLogonName());
    QVERIFY(d.C<QPushButton>("btnNext")->isDefault());
    QVERIFY(!d.C<QPushButton>("btnBack")->isEnabled());
    QCOMPARE(d.C<QDateEdit>("dtpOnceDate")->date(), QDate::currentDate());

    d.Next();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgCustomData));
    QVERIFY(d.C<QPushButton>("btnBack")->isEnabled());
    QCOMPARE(d.ActionPanel()->objectName(), only1 ? QStringLiteral("pnlProgram") : QStringLiteral("pnlActionType"));
    QVERIFY(d.C<QLineEdit>("edAttachment")->isHidden());
    if (!only1) {
        d.Click("rbSendEmail");
        QCOMPARE(d.ActionPanel()->objectName(), QStringLiteral("pnlEmail"));
        // Back unchecks the chooser, and the next visit shows it again.
        d.Back();
        QVERIFY(!d.C<QRadioButton>("rbSendEmail")->isChecked());
        d.Next();
        QCOMPARE(d.ActionPanel()->objectName(), QStringLiteral("pnlActionType"));
        d.Click("rbRunApplication");
    }
    d.Next();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgTaskName));
    QVERIFY(!d.NextEnabled());   // no name yet
    d.Type("edTaskName", QStringLiteral("T"));
    QVERIFY(d.NextEnabled());
    d.Next();
    QCOMPARE(d.C<QStackedWidget>("pcTriggers")->currentWidget()->objectName(), QStringLiteral("pnlOnce"));
    d.Next();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
    d.Next();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgFinish));
    QCOMPARE(d.C<QPushButton>("btnNext")->text(), QStringLiteral("&Finish"));
    QCOMPARE(d.C<QLabel>("lblFinishName")->text(), QStringLiteral("T"));
    QVERIFY(d.C<QLabel>("lblFinishSchedule")->text().startsWith(QStringLiteral("At ")));
    d.Back();
    QCOMPARE(d.C<QPushButton>("btnNext")->text(), QStringLiteral("&Next >"));
    QVERIFY(StoredNames().isEmpty());
}

void TestTaskWizard::userAndConnectionGroupsFollowTheKind()
{
    DemoTestEnvironment env;
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    for (int entry = 0; entry < 11; ++entry) {
        d.C<QListWidget>("lbKinds")->setCurrentRow(entry);
        QCOMPARE(d.C<QWidget>("gbUser")->isHidden(), !(entry == 5 || (entry >= 7 && entry <= 10)));
        QCOMPARE(d.C<QWidget>("gbConnection")->isHidden(), !(entry == 7 || entry == 8));
    }
    d.ToTaskName(true);
    QVERIFY(!d.C<QWidget>("edUser")->isEnabled());
    d.Click("rbSpecificUser");
    QVERIFY(d.C<QWidget>("edUser")->isEnabled());
}

void TestTaskWizard::eachKindCreatesItsTask_data()
{
    QTest::addColumn<bool>("only1");
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("details");   // what the details page is given
    QTest::addColumn<int>("kind");
    for (bool only1 : {false, true}) {
        const char* g = only1 ? "1.0 " : "2.0 ";
        auto row = [&](const char* name, int entry, const char* details, TTriggerType kind) {
            QTest::newRow((QByteArray(g) + name).constData()) << only1 << entry << QString::fromLatin1(details) << int(kind);
        };
        row("one time", 0, "once", ttOnce);
        row("daily", 1, "every day", ttDaily);
        row("every 3 days", 1, "every 3 days", ttDaily);
        row("weekly", 2, "weekly", ttWeekly);
        row("monthly on a day", 3, "day 15", ttMonthlyDate);
        row("second Monday", 3, "second Monday", ttMonthlyDow);
        row("start-up", 4, "", ttAtStartup);
        row("logon", 5, "", ttAtLogon);
        if (only1) continue;
        row("idle", 6, "", ttOnIdle);
        row("connect", 7, "", ttOnConnect);
        row("disconnect", 8, "", ttOnDisconnect);
        row("lock", 9, "", ttOnLock);
        row("unlock", 10, "", ttOnUnlock);
    }
}

void TestTaskWizard::eachKindCreatesItsTask()
{
    QFETCH(bool, only1);
    QFETCH(int, entry);
    QFETCH(QString, details);
    QFETCH(int, kind);
    DemoTestEnvironment env(only1);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    const QString name = QStringLiteral("Backup");
    TTaskItem* made = nullptr;
    const QDate onceDate = QDate::currentDate().addDays(3);
    const bool finished = RunWizard(scheduler, prompts, made, [&](WizardDriver& d) {
        d.ToTaskName(!only1);
        d.NameAndKind(name, entry);
        if (TNewTaskWizard::IsEventKind(TTriggerType(kind))) {
            QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
        } else {
            QCOMPARE(d.Page(), int(TNewTaskWizard::pgTriggerDetails));
            if (details == QLatin1String("once")) {
                d.C<QTimeEdit>("dtpOnceTime")->setTime(QTime(10, 30));
                d.C<QDateEdit>("dtpOnceDate")->setDate(onceDate);
            } else if (details == QLatin1String("every day")) {
                d.C<QTimeEdit>("dtpDailyTime")->setTime(QTime(7, 5));
            } else if (details == QLatin1String("every 3 days")) {
                d.Click("rbEveryNDays");
                d.C<QSpinBox>("seDays")->setValue(3);
            } else if (details == QLatin1String("weekly")) {
                QVERIFY(!d.NextEnabled());   // no day yet
                d.C<QSpinBox>("seWeeks")->setValue(2);
                d.Click("ckbMonday");
                d.Click("ckbFriday");
            } else if (details == QLatin1String("day 15")) {
                QVERIFY(!d.NextEnabled());   // no month yet
                d.C<QSpinBox>("seDay")->setValue(15);
                d.Click("ckbJan");
                d.Click("ckbDec");
            } else if (details == QLatin1String("second Monday")) {
                QVERIFY(!d.C<QWidget>("cbWeek")->isEnabled());
                d.Click("rbThe");
                d.Click("ckbMar");
                QVERIFY(!d.NextEnabled());   // no week and day chosen yet
                d.C<QComboBox>("cbWeek")->setCurrentIndex(1);
                d.C<QComboBox>("cbWeekDay")->setCurrentIndex(1);
            }
            QVERIFY(d.NextEnabled());
            d.Next();
        }
        QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
        d.Next();
        QCOMPARE(d.Page(), int(TNewTaskWizard::pgFinish));
        QVERIFY(StoredNames().isEmpty());   // nothing reaches the service before Finish
        d.Next();
    });
    QVERIFY(prompts.errors.isEmpty() && prompts.messages.isEmpty());
    QVERIFY(finished);
    QVERIFY(made);
    QCOMPARE(made->GetName(), name);

    StoredTask task(name);
    QVERIFY(task);
    QCOMPARE(task->GetTriggers()->GetCount(), 1);
    TTrigger* trigger = task.Trigger();
    QCOMPARE(int(trigger->GetTriggerType()), kind);
    const TRIGGER_TYPE_UNION u = trigger->GetDetails();
    if (details == QLatin1String("once")) {
        QCOMPARE(DateTimeToDate(trigger->GetBeginDate()), onceDate);
        QCOMPARE(DateTimeToTime(trigger->GetStartTime()), QTime(10, 30));
    } else if (details == QLatin1String("every day")) {
        QCOMPARE(u.Daily.DaysInterval, WORD(1));
        QCOMPARE(DateTimeToTime(trigger->GetStartTime()), QTime(7, 5));
    } else if (details == QLatin1String("every 3 days")) {
        QCOMPARE(u.Daily.DaysInterval, WORD(3));
    } else if (details == QLatin1String("weekly")) {
        QCOMPARE(u.Weekly.WeeksInterval, WORD(2));
        QCOMPARE(u.Weekly.rgfDaysOfTheWeek, WORD(0x22));
    } else if (details == QLatin1String("day 15")) {
        QCOMPARE(u.MonthlyDate.rgfDays, DWORD(1) << 14);
        QCOMPARE(u.MonthlyDate.rgfMonths, WORD(0x801));
    } else if (details == QLatin1String("second Monday")) {
        QCOMPARE(u.MonthlyDOW.wWhichWeek, WORD(2));
        QCOMPARE(u.MonthlyDOW.rgfDaysOfTheWeek, WORD(0x2));
        QCOMPARE(u.MonthlyDOW.rgfMonths, WORD(0x4));
    }
    // The program is this application, so it is told which task ran.
    QCOMPARE(task->GetApplicationName(), Self());
    QCOMPARE(task->GetParameters(), QStringLiteral("-run Backup"));
    QCOMPARE(task->GetCreator(), QStringLiteral("Task Scheduler Demo"));
    QCOMPARE(task->GetComment(), QStringLiteral("Type your comments here..."));
    if (only1) {
        QVERIFY(task->GetFlags().Contains(tfRunOnlyIfLoggedOn));
    } else {
        QCOMPARE(task->GetActionsCount(), 1);
        QCOMPARE(task->GetAccountName(), UserAccount::CurrentLogonName());
        QCOMPARE(task->GetTaskLogonType(), tltInteractiveToken);
    }
}

void TestTaskWizard::logonForASpecificUserGoesStraightToTheAccount()
{
    DemoTestEnvironment env;
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    const QString user = UserAccount::CurrentLogonName();
    d.ToTaskName(true);
    d.Type("edTaskName", QStringLiteral("At logon"));
    d.C<QListWidget>("lbKinds")->setCurrentRow(5);
    d.Click("rbSpecificUser");
    d.Type("edUser", user);
    d.Next();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
    d.Next();
    d.Next();
    QVERIFY2(s.wizard.result() == QDialog::Accepted, qPrintable(prompts.errors.join(u'\n')));

    StoredTask task(QStringLiteral("At logon"));
    QVERIFY(task);
    QCOMPARE(task.Trigger()->GetTriggerType(), ttAtLogon);
    ComPtr<ILogonTrigger> logon;
    QCOMPARE(task.Trigger()->GetVistaTrigger()->QueryInterface(ILogonTrigger::iid, logon.PutVoid()), S_OK);
    QString stored;
    QCOMPARE(logon->get_UserId(&stored), S_OK);
    QCOMPARE(stored, user);
}

void TestTaskWizard::emailAndMessageActions()
{
    DemoTestEnvironment env;
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    for (const char* chooser : {"rbSendEmail", "rbShowMessage"}) {
        ShownWizard s(scheduler, prompts);
        WizardDriver& d = s.d;
        const bool mail = QByteArray(chooser) == "rbSendEmail";
        d.Next();
        d.Click(chooser);
        if (mail) {
            d.Type("edFrom", QStringLiteral("me@example.org"));
            d.Type("edTo", QStringLiteral("you@example.org"));
            d.Type("edSubject", QStringLiteral("Report"));
            QTest::keyClicks(d.C<QPlainTextEdit>("memMailText"), QStringLiteral("Body"));
            d.Type("edServer", QStringLiteral("smtp.example.org"));
        } else {
            d.Type("edTitle", QStringLiteral("Hello"));
            QTest::keyClicks(d.C<QPlainTextEdit>("memMessText"), QStringLiteral("Time to go"));
        }
        d.Next();
        d.NameAndKind(QLatin1String(chooser), 4);
        d.Next();
        d.Next();
        QVERIFY2(s.wizard.result() == QDialog::Accepted, qPrintable(prompts.errors.join(u'\n')));

        StoredTask task{QString::fromLatin1(chooser)};
        QVERIFY(task);
        QStringList details, captions;
        TIntegerArray types;
        task->GetTasksLists(details, captions, types);
        QCOMPARE(types, TIntegerArray{mail ? 6 : 7});
        task->SetCurrentAction(1);
        if (mail) {
            QCOMPARE(task->GetMailSendFrom(), QStringLiteral("me@example.org"));
            QCOMPARE(task->GetMailSendTo(), QStringLiteral("you@example.org"));
            QCOMPARE(task->GetMailSubject(), QStringLiteral("Report"));
            QCOMPARE(task->GetMailContent(), QStringLiteral("Body"));
            QCOMPARE(task->GetMailServer(), QStringLiteral("smtp.example.org"));
        } else {
            QCOMPARE(task->GetMessTitle(), QStringLiteral("Hello"));
            QCOMPARE(task->GetMessText(), QStringLiteral("Time to go"));
        }
    }
}

void TestTaskWizard::highestPrivileges()
{
    DemoTestEnvironment env;
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.Next();
    d.Click("rbRunApplication");
    QCOMPARE(d.C<QWidget>("ckbHighest")->isEnabled(), IsUserAdmin());
    if (!IsUserAdmin()) QSKIP("the highest run level is offered to administrators only");
    d.Click("ckbHighest");
    d.Next();
    d.NameAndKind(QStringLiteral("Elevated"), 4);
    d.Next();
    d.Next();
    StoredTask task(QStringLiteral("Elevated"));
    QVERIFY(task);
    ComPtr<IPrincipal> principal;
    QCOMPARE(task->GetTaskDefinition()->get_Principal(principal.Put()), S_OK);
    TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_LUA;
    QCOMPARE(principal->get_RunLevel(&level), S_OK);
    QCOMPARE(level, TASK_RUNLEVEL_HIGHEST);
}

void TestTaskWizard::runParameters_data()
{
    QTest::addColumn<bool>("self");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("this program") << true << "-run" << "Backup" << "-run Backup";
    QTest::newRow("another program") << false << "-run" << "Backup" << "-run";
    QTest::newRow("a name with blanks") << true << "-run" << "Nightly backup" << "-run \"Nightly backup\"";
    QTest::newRow("a name with quotes") << true << "-run" << "Say \"hi\"" << "-run \"Say \"\"\"hi\"\"\"\"";
}

void TestTaskWizard::runParameters()
{
    QFETCH(bool, self);
    QFETCH(QString, parameters);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const QString result = TNewTaskWizard::RunParameters(self ? Self() : QStringLiteral("/bin/true"), parameters, name);
    QCOMPARE(result, expected);
    // The service splits the arguments as a command line: run mode gets the whole name back.
    if (self) QCOMPARE(QProcess::splitCommand(result), (QStringList{parameters, name}));
}

void TestTaskWizard::backThenNextWithAnotherName()
{
    QFETCH(bool, only1);
    DemoTestEnvironment env(only1);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.ToTaskName(!only1);
    d.NameAndKind(QStringLiteral("First"), 1);
    QVERIFY(s.wizard.GetTask());
    d.Back();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgTaskName));
    QVERIFY(!s.wizard.GetTask());
    d.NameAndKind(QStringLiteral("Second"), 1);
    d.Next();
    d.Next();
    QCOMPARE(d.C<QLabel>("lblFinishName")->text(), QStringLiteral("Second"));
    d.Next();
    QVERIFY2(s.wizard.result() == QDialog::Accepted, qPrintable(prompts.errors.join(u'\n')));
    QCOMPARE(StoredNames(), QStringList{"Second"});
    QCOMPARE(StoredTask(QStringLiteral("Second"))->GetParameters(), QStringLiteral("-run Second"));
}

void TestTaskWizard::anotherEventKindAfterGoingBackRebuildsTheTrigger()
{
    DemoTestEnvironment env;
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.ToTaskName(true);
    d.NameAndKind(QStringLiteral("Session"), 5);
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
    d.Back();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgTaskName));   // over the details an event has not
    d.NameAndKind(QStringLiteral("Session"), 9);
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
    d.Next();
    d.Next();
    QVERIFY2(s.wizard.result() == QDialog::Accepted, qPrintable(prompts.errors.join(u'\n')));
    StoredTask task(QStringLiteral("Session"));
    QCOMPARE(task->GetTriggers()->GetCount(), 1);
    QCOMPARE(task.Trigger()->GetTriggerType(), ttOnLock);
}

void TestTaskWizard::cancelOnEveryPage_data()
{
    QTest::addColumn<bool>("only1");
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("replace");
    static const char* const pages[] = {"start", "custom data", "task name", "trigger details", "account info", "finish"};
    static_assert(std::size(pages) == TNewTaskWizard::pgFinish + 1);
    for (bool only1 : {false, true}) {
        for (int page = TNewTaskWizard::pgStart; page <= TNewTaskWizard::pgFinish; ++page) {
            for (bool replace : {false, true}) {
                if (replace && page < TNewTaskWizard::pgTriggerDetails) continue;
                QTest::addRow("%s, on the %s page%s", only1 ? "1.0" : "2.0", pages[page], replace ? ", replacing a task" : "")
                    << only1 << page << replace;
            }
        }
    }
}

void TestTaskWizard::cancelOnEveryPage()
{
    QFETCH(bool, only1);
    QFETCH(int, page);
    QFETCH(bool, replace);
    DemoTestEnvironment env(only1);
    AddTask(QStringLiteral("Keep"), QStringLiteral("/bin/true"), QStringLiteral("\\"), only1);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    TTaskItem* made = reinterpret_cast<TTaskItem*>(&scheduler);   // must be reset
    const bool finished = RunWizard(scheduler, prompts, made, [&](WizardDriver& d) {
        if (page >= TNewTaskWizard::pgCustomData) {
            d.Next();
            if (!only1) d.Click("rbRunApplication");
            d.Type("edParameters", QStringLiteral("changed"));
        }
        if (page >= TNewTaskWizard::pgTaskName) d.Next();
        if (page >= TNewTaskWizard::pgTriggerDetails)
            d.NameAndKind(replace ? QStringLiteral("Keep") : QStringLiteral("Other"), 1);
        if (page >= TNewTaskWizard::pgAccountInfo) d.Next();
        if (page >= TNewTaskWizard::pgFinish) d.Next();
        QCOMPARE(d.Page(), page);
        d.Click("btnCancel");
    });
    QVERIFY(!finished);
    QVERIFY(!made);
    QVERIFY(prompts.errors.isEmpty());
    QCOMPARE(prompts.asked.size(), replace ? 1 : 0);
    QCOMPARE(StoredNames(), QStringList{"Keep"});
    StoredTask keep(QStringLiteral("Keep"));
    QCOMPARE(keep->GetApplicationName(), QStringLiteral("/bin/true"));
    QCOMPARE(keep->GetParameters(), QString());
    QCOMPARE(keep->GetTriggers()->GetCount(), 0);
    // The scheduler's list no longer holds the dropped item.
    QCOMPARE(scheduler.GetCount(), 1);
}

void TestTaskWizard::replaceQuestion_data()
{
    QTest::addColumn<bool>("only1");
    QTest::addColumn<bool>("yes");
    QTest::newRow("2.0 yes") << false << true;
    QTest::newRow("2.0 no") << false << false;
    QTest::newRow("1.0 yes") << true << true;
    QTest::newRow("1.0 no") << true << false;
}

void TestTaskWizard::replaceQuestion()
{
    QFETCH(bool, only1);
    QFETCH(bool, yes);
    DemoTestEnvironment env(only1);
    AddTask(QStringLiteral("Taken"), QStringLiteral("/bin/false"), QStringLiteral("\\"), only1);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    prompts.answerYes = yes;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.ToTaskName(!only1);
    d.NameAndKind(QStringLiteral("Taken"), 4);
    QCOMPARE(prompts.asked, QStringList{"A task with the name Taken already exists.  Do you want to replace it?"});
    if (!yes) {
        QCOMPARE(d.Page(), int(TNewTaskWizard::pgTaskName));
        QVERIFY(!s.wizard.GetTask());
        return;
    }
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
    d.Next();
    d.Next();
    QVERIFY2(s.wizard.result() == QDialog::Accepted, qPrintable(prompts.errors.join(u'\n')));
    StoredTask task(QStringLiteral("Taken"));
    QCOMPARE(task->GetApplicationName(), Self());
    QCOMPARE(task->GetTriggers()->GetCount(), 1);
    QCOMPARE(task.Trigger()->GetTriggerType(), ttAtStartup);
    if (!only1) QCOMPARE(task->GetActionsCount(), 1);   // the old program went with the replaced task
}

void TestTaskWizard::refusedInputStaysOnThePage_data()
{
    QTest::addColumn<bool>("only1");
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("chooseAction");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("message");   // the start of the message shown
    for (bool only1 : {false, true}) {
        const char* g = only1 ? "1.0 " : "2.0 ";
        QTest::newRow((QByteArray(g) + "no program").constData())
            << only1 << "  " << true << "" << int(TNewTaskWizard::pgCustomData) << "Please enter the program";
        QTest::newRow((QByteArray(g) + "slash in the name").constData())
            << only1 << "/bin/true" << true << "a/b" << int(TNewTaskWizard::pgTaskName) << "";
        QTest::newRow((QByteArray(g) + "control character in the name").constData())
            << only1 << "/bin/true" << true << "a\tb" << int(TNewTaskWizard::pgTaskName) << "";
    }
    QTest::newRow("2.0 no action type") << false << "/bin/true" << false << "" << int(TNewTaskWizard::pgCustomData)
                                        << "Please specify action for the task type!";
}

void TestTaskWizard::refusedInputStaysOnThePage()
{
    QFETCH(bool, only1);
    QFETCH(QString, program);
    QFETCH(bool, chooseAction);
    QFETCH(QString, name);
    QFETCH(int, page);
    QFETCH(QString, message);
    DemoTestEnvironment env(only1);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.Next();
    if (!only1 && chooseAction) d.Click("rbRunApplication");
    d.C<QLineEdit>("edApplication")->setText(program);
    d.Next();
    if (page == TNewTaskWizard::pgTaskName) {
        d.C<QLineEdit>("edTaskName")->setText(name);
        d.Next();
    }
    QCOMPARE(d.Page(), page);
    const QStringList shown = [&] {
        QStringList texts = prompts.errors;
        for (const ShownMessage& m : prompts.messages) texts << m.text;
        return texts;
    }();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(message), qPrintable(shown.first()));
    if (!prompts.messages.isEmpty()) QCOMPARE(prompts.messages.first().icon, QMessageBox::Critical);
    QVERIFY(!s.wizard.GetTask());
    QCOMPARE(scheduler.GetCount(), 0);
    QVERIFY(StoredNames().isEmpty());
    // A good name then goes on.
    if (page == TNewTaskWizard::pgTaskName) {
        d.NameAndKind(QStringLiteral("Good"), 4);
        QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
    }
}

void TestTaskWizard::accountPageNeedsANameAndEqualPasswords_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirm");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("hint");
    QTest::newRow("defaults") << UserAccount::CurrentLogonName() << "" << "" << true << false;
    QTest::newRow("empty user") << "" << "" << "" << false << false;
    QTest::newRow("blank user") << "   " << "" << "" << false << false;
    QTest::newRow("passwords differ") << "someone" << "Secret" << "secret" << false << true;
    QTest::newRow("only one password") << "someone" << "Secret" << "" << false << true;
}

void TestTaskWizard::accountPageNeedsANameAndEqualPasswords()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, confirm);
    QFETCH(bool, enabled);
    QFETCH(bool, hint);
    for (bool only1 : {false, true}) {
        DemoTestEnvironment env(only1);
        TTaskScheduler scheduler;
        OpenScheduler(scheduler);
        ScriptedPrompts prompts;
        ShownWizard s(scheduler, prompts);
        WizardDriver& d = s.d;
        d.ToTaskName(!only1);
        d.NameAndKind(QStringLiteral("Account"), 4);
        d.Type("edUserName", user);
        d.Type("edPassword", password);
        d.Type("edConfirm", confirm);
        QCOMPARE(d.NextEnabled(), enabled);
        QCOMPARE(d.C<QLabel>("lblAccountHint")->text().isEmpty(), !hint);
        if (!enabled) {
            s.wizard.btnNextClick();   // even asked directly, it stays
            QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
        }
        QVERIFY(StoredNames().isEmpty());
    }
}

void TestTaskWizard::passwordTheSystemRefusesStaysOnTheAccountPage()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("pam_unix cannot check passwords in a daemon built with AddressSanitizer");
#endif
    // Checked by the service process, as root, against root's password, which is refused.
    if (geteuid() != 0) QSKIP("the service checks only its own account's password, so a test needs root");
    const QString daemon = QCoreApplication::applicationDirPath() + QStringLiteral("/taskschedd");
    if (!QFile::exists(daemon)) QSKIP("the scheduling service (build/bin/taskschedd) is not built");
    DemoTestEnvironment env(false, false);
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(daemon, {QStringLiteral("--root"), qEnvironmentVariable("TASKSCHEDULER_HOME")});
    QVERIFY2(service.waitForStarted(10000), qPrintable(service.errorString()));
    const auto stop = qScopeGuard([&service] {
        service.terminate();
        if (!service.waitForFinished(10000)) {
            service.kill();
            service.waitForFinished(5000);
        }
    });
    TTaskScheduler scheduler;
    QTRY_VERIFY_WITH_TIMEOUT(scheduler.SchedulerServiceRunning(), 15000);
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.ToTaskName(true);
    d.NameAndKind(QStringLiteral("With password"), 4);
    d.Type("edUserName", UserAccount::CurrentLogonName());
    d.Type("edPassword", QStringLiteral("not-the-password"));
    d.Type("edConfirm", QStringLiteral("not-the-password"));
    d.Next();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgAccountInfo));
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY2(prompts.messages.first().text.contains(QStringLiteral("password"), Qt::CaseInsensitive),
             qPrintable(prompts.messages.first().text));
    QVERIFY(StoredNames().isEmpty());
    // Without a password the account is taken, and Finish registers the task.
    d.C<QLineEdit>("edPassword")->clear();
    d.C<QLineEdit>("edConfirm")->clear();
    d.Next();
    d.Next();
    QVERIFY2(s.wizard.result() == QDialog::Accepted, qPrintable(prompts.errors.join(u'\n')));
    QCOMPARE(StoredNames(), QStringList{"With password"});
}

void TestTaskWizard::advancedShowsTheScheduleAndSettingsPages()
{
    DemoTestEnvironment env(true);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.ToTaskName(false);
    d.NameAndKind(QStringLiteral("Sheet"), 1);
    d.Next();
    d.Next();
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgFinish));

    // The service's Schedule and Settings pages open in a sheet captioned with the task's name;
    // cancelling it leaves the wizard where it was.
    QString caption;
    int pages = -1;
    WhenModal([&](QWidget* sheet) {
        caption = sheet->windowTitle();
        pages = Child<QTabWidget>(sheet, "tabPages")->count();
        static_cast<QDialog*>(sheet)->reject();
    });
    d.Click("btnAdvanced");
    QVERIFY2(prompts.errors.isEmpty(), qPrintable(prompts.errors.join(u'\n')));
    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(pages, 2);
    QCOMPARE(caption, QStringLiteral("Sheet Properties"));
    QCOMPARE(d.Page(), int(TNewTaskWizard::pgFinish));
    QVERIFY(StoredNames().isEmpty());
}

void TestTaskWizard::browsePicksTheProgram()
{
    DemoTestEnvironment env(true);
    TTaskScheduler scheduler;
    OpenScheduler(scheduler);
    ScriptedPrompts prompts;
    ShownWizard s(scheduler, prompts);
    WizardDriver& d = s.d;
    d.Next();
    d.Click("btnBrowse");   // cancelled: the field stays
    QCOMPARE(d.C<QLineEdit>("edApplication")->text(), Self());
    prompts.program = QStringLiteral("/bin/true");
    d.Click("btnBrowse");
    QCOMPARE(prompts.programStart, (QStringList{Self(), Self()}));
    QCOMPARE(d.C<QLineEdit>("edApplication")->text(), QStringLiteral("/bin/true"));
}

void TestTaskWizard::taskCommandOfTheMainWindow()
{
    DemoTestEnvironment env;
    AddTask(QStringLiteral("A"));
    ScriptedPrompts prompts;
    TMainForm form(&prompts);
    QCOMPARE(RowCaptions(form), QStringList{"A"});
    const auto drive = [](bool finish) {
        QTimer::singleShot(0, [finish] {
            auto* wizard = qobject_cast<TNewTaskWizard*>(QApplication::activeModalWidget());
            QVERIFY(wizard);
            const auto close = qScopeGuard([wizard] {
                if (wizard->isVisible()) wizard->reject();
            });
            WizardDriver d(wizard);
            d.ToTaskName(true);
            d.NameAndKind(QStringLiteral("B"), 4);
            d.Next();
            if (finish) d.Next();
        });
    };
    drive(false);
    Action(form, "acNew")->trigger();
    QCOMPARE(RowCaptions(form), QStringList{"A"});
    List(form)->SetSelected(0, true);
    form.UpdateActions();   // the rows hold live tasks again
    drive(true);
    Action(form, "acNew")->trigger();
    QVERIFY2(prompts.errors.isEmpty(), qPrintable(prompts.errors.join(u'\n')));
    QCOMPARE(RowCaptions(form), (QStringList{"A", "B"}));
}

QTEST_MAIN(TestTaskWizard)
#include "tst_taskwizard.moc"
