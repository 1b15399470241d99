// The 2.0 properties form against a private service: what it shows, what it writes on OK
// and at once, and that Cancel and bad input leave the task as it was.

#include "AdminCheck.h"
#include "DemoTestSupport.h"
#include "ModalDriver.h"
#include "NetworkProfileSource.h"
#include "Props_2_0.h"
#include "Registry.h"
#include "ScriptedPrompts.h"
#include "TaskDefinitionParts.h"
#include "UserAccount.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

namespace {

/// A stand-in for the system's connection manager.
class FakeProfiles : public NetworkProfileSource {
public:
    std::optional<QStringList> ProfileNames() const override { return names; }
    std::optional<QStringList> names = QStringList{"Home", "Office"};
};

using Setup = std::function<void(ITaskDefinition*)>;

ComPtr<INetworkSettings> NetworkOf(ITaskDefinition* ADefinition)
{
    ComPtr<INetworkSettings> network;
    OleCheck(SettingsOf(ADefinition)->get_NetworkSettings(network.Put()));
    return network;
}

template <typename T>
QString Text(T* AObject, HRESULT (T::*AGetter)(QString*))
{
    QString value;
    OleCheck((AObject->*AGetter)(&value));
    return value;
}

template <typename T>
bool Flag(T* AObject, HRESULT (T::*AGetter)(VARIANT_BOOL*))
{
    VARIANT_BOOL value = VARIANT_FALSE;
    OleCheck((AObject->*AGetter)(&value));
    return value != VARIANT_FALSE;
}

/// Writes one stored duration of the definition by its property name.
void PutDuration(ITaskDefinition* ADefinition, const QString& AProperty, const QString& AValue)
{
    const ComPtr<ITaskSettings> settings = SettingsOf(ADefinition);
    const ComPtr<IIdleSettings> idle = IdleSettingsOf(settings.Get());
    if (AProperty == "ExecutionTimeLimit") OleCheck(settings->put_ExecutionTimeLimit(AValue));
    if (AProperty == "DeleteExpiredTaskAfter") OleCheck(settings->put_DeleteExpiredTaskAfter(AValue));
    if (AProperty == "RestartInterval") OleCheck(settings->put_RestartInterval(AValue));
    if (AProperty == "WaitTimeout" || AProperty == "IdleDuration") {
        OleCheck(settings->put_RunOnlyIfIdle(VARIANT_TRUE));
        if (AProperty == "WaitTimeout") OleCheck(idle->put_WaitTimeout(AValue));
        if (AProperty == "IdleDuration") OleCheck(idle->put_IdleDuration(AValue));
    }
}

QString GetDuration(ITaskDefinition* ADefinition, const QString& AProperty)
{
    const ComPtr<ITaskSettings> settings = SettingsOf(ADefinition);
    const ComPtr<IIdleSettings> idle = IdleSettingsOf(settings.Get());
    if (AProperty == "ExecutionTimeLimit") return Text(settings.Get(), &ITaskSettings::get_ExecutionTimeLimit);
    if (AProperty == "DeleteExpiredTaskAfter") return Text(settings.Get(), &ITaskSettings::get_DeleteExpiredTaskAfter);
    if (AProperty == "RestartInterval") return Text(settings.Get(), &ITaskSettings::get_RestartInterval);
    if (AProperty == "WaitTimeout") return Text(idle.Get(), &IIdleSettings::get_WaitTimeout);
    return Text(idle.Get(), &IIdleSettings::get_IdleDuration);
}

/// The paths of the program actions and the types of all actions, in order.
QStringList ActionSummary(ITaskDefinition* ADefinition)
{
    QStringList summary;
    const ComPtr<IActionCollection> actions = ActionsOf(ADefinition);
    for (LONG k = 1; k <= ActionCountOf(actions.Get()); ++k) {
        const ComPtr<IAction> action = ActionAt(actions.Get(), k);
        ComPtr<IExecAction> exec;
        if (SUCCEEDED(action.As(exec)) && exec)
            summary << Text(exec.Get(), &IExecAction::get_Path) + '|' + Text(exec.Get(), &IExecAction::get_Arguments) + '|'
                           + Text(exec.Get(), &IExecAction::get_WorkingDirectory);
        else {
            TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
            OleCheck(action->get_Type(&type));
            summary << QString::number(type);
        }
    }
    return summary;
}

} // namespace

/// One test's task and form: a private service root, a task registered with `Setup`, the
/// scheduler the form works on, and a fresh look at what the service stores.
class Props20Fixture {
public:
    explicit Props20Fixture(const Setup& ASetup = {}, bool AAdmin = true) : m_admin(AAdmin), m_network(profiles)
    {
        scheduler.Open();
        TTaskItem* item = scheduler.CreateNewItem(kName);
        item->SetCurrentAction(1);
        item->InsertAction(0);
        item->SetApplicationName(QStringLiteral("/bin/true"));
        item->SetComment(QStringLiteral("Before"));
        if (ASetup) ASetup(item->GetTaskDefinition().Get());
        item->Save();
        scheduler.Refresh();
        task = scheduler.ActivateTask(kName);
    }

    /// Opens the form on the task and shows it (not modally).
    TfrmTask20Properties& Open()
    {
        form = std::make_unique<TfrmTask20Properties>(task, &prompts);
        form->Open();
        form->show();
        return *form;
    }

    /// The definition the service stores now, read by a scheduler of its own.
    ComPtr<ITaskDefinition> Stored() const
    {
        TTaskScheduler fresh;
        fresh.Open();
        TTaskItem* item = fresh.ActivateTask(kName);
        return item ? item->GetTaskDefinition() : nullptr;
    }
    QString StoredXml() const
    {
        QString xml;
        OleCheck(Stored()->get_XmlText(&xml));
        return xml;
    }

    template <typename T>
    T* W(const char* AName) const
    {
        T* widget = form->findChild<T*>(QString::fromLatin1(AName));
        Q_ASSERT_X(widget, "W", AName);
        return widget;
    }

    /// Brings the page of `AWidget` to the front, so that it can be clicked.
    void ShowPageOf(QWidget* AWidget) const
    {
        auto* pages = W<QTabWidget>("pcProperties");
        for (int i = 0; i < pages->count(); ++i) {
            if (pages->widget(i)->isAncestorOf(AWidget)) pages->setCurrentIndex(i);
        }
    }
    void Click(const char* AName) const
    {
        auto* widget = W<QWidget>(AName);
        ShowPageOf(widget);
        // Near the left edge: a box stretched by its layout answers clicks only on its mark and text.
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(std::min(8, widget->width() / 2), widget->height() / 2));
    }
    void Select(const char* AList, int ARow) const
    {
        auto* list = W<QTreeWidget>(AList);
        ShowPageOf(list);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(ARow)).center());
    }
    void Trigger(const char* AAction) const { form->findChild<QAction*>(QString::fromLatin1(AAction))->trigger(); }
    /// Clicks the box `AName` when it is not in state `AChecked` already.
    void SetChecked(const char* AName, bool AChecked) const
    {
        if (Checked(AName) != AChecked) Click(AName);
        QVERIFY2(Checked(AName) == AChecked, AName);
    }
    bool Enabled(const char* AName) const { return W<QWidget>(AName)->isEnabled(); }
    bool Checked(const char* AName) const { return W<QAbstractButton>(AName)->isChecked(); }
    bool Accepted() const { return form->result() == QDialog::Accepted && !form->isVisible(); }

    static inline const QString kName = QStringLiteral("Props task");

    DemoTestEnvironment env;
    FakeProfiles profiles;
    TTaskScheduler scheduler;
    ScriptedPrompts prompts;
    TTaskItem* task = nullptr;
    std::unique_ptr<TfrmTask20Properties> form;

private:
    AdminCheck::ScopedOverride m_admin;
    NetworkProfileSource::ScopedOverride m_network;
};

class TestProps20 : public QObject {
    Q_OBJECT

private slots:
    void opensWithTheTaskAndTheStartItems();
    void storedDurations_data();
    void storedDurations();
    void dependencyRules_data();
    void dependencyRules();
    void restartOnIdleNeedsBothIdleBoxes();
    void immediateWritesReachTheItemAtOnce();
    void okWritesEveryPage();
    void cancelLeavesServiceAndItemAsTheyWere();
    void logonTypes_data();
    void logonTypes();
    void networkCondition_data();
    void networkCondition();
    void networkProfilesFromTheRegistryWithoutAConnectionManager();
    void badInputKeepsTheFormOpenAndWritesNothing_data();
    void badInputKeepsTheFormOpenAndWritesNothing();
    void serviceErrorOnOkKeepsTheFormOpen();
    void taskDeletedWhileOpenGivesTheServiceError();
    void deletingActionsRemovesExactlyThose();
    void actionsOfOtherKindsAreKeptAsTheyAre();
    void newAndEditedActions();
    void triggersListAndDelete();
    void accountButton();
    void editTask20PropertiesShowsTheFormModally();
};

void TestProps20::opensWithTheTaskAndTheStartItems()
{
    Props20Fixture f;
    TfrmTask20Properties& form = f.Open();
    QCOMPARE(form.windowTitle(),
             QStringLiteral("%1 Properties (%2)").arg(Props20Fixture::kName, f.scheduler.GetTargetComputer()));
    QCOMPARE(f.W<QTabWidget>("pcProperties")->currentIndex(), 0);
    const QStringList pages{"General", "Triggers", "Actions", "Conditions", "Settings"};
    for (int i = 0; i < pages.size(); ++i) QCOMPARE(f.W<QTabWidget>("pcProperties")->tabText(i), pages.at(i));
    QCOMPARE(f.W<QLineEdit>("edName")->text(), Props20Fixture::kName);
    QVERIFY(f.W<QLineEdit>("edName")->isReadOnly() && f.W<QLineEdit>("edLocation")->isReadOnly()
            && f.W<QLineEdit>("edAuthor")->isReadOnly() && f.W<QLineEdit>("edUserGroupName")->isReadOnly());
    QCOMPARE(f.W<QLineEdit>("edLocation")->text(), f.task->GetTaskLocation());
    QCOMPARE(f.W<QPlainTextEdit>("memDescription")->toPlainText(), QStringLiteral("Before"));
    QCOMPARE(f.W<QLineEdit>("edUserGroupName")->text(), f.task->GetAccountName());
    QVERIFY(!f.W<QWidget>("ckbNotStorePassword")->isVisible());
    QVERIFY(!f.W<QWidget>("btAdminRequired")->isVisible());
    QVERIFY(!f.W<QWidget>("labPropagateWarning")->isVisible());
    QVERIFY(f.W<QPushButton>("btOK")->isDefault());

    // The lists that the task does not set keep their start items.
    const QList<std::pair<const char*, int>> starts{{"cbIdleMinutesStart", 2}, {"cbWaitForIdle", 6}, {"cbRestartAttempt", 0},
                                                    {"cbDeleteNotScheduled", 0}};
    for (const auto& [list, index] : starts) QVERIFY2(f.W<QComboBox>(list)->currentIndex() == index, list);
    QCOMPARE(f.W<QComboBox>("cbIdleMinutesStart")->currentText(), QStringLiteral("10 minutes"));
    QCOMPARE(f.W<QComboBox>("cbWaitForIdle")->currentText(), QStringLiteral("1 hour"));
    QCOMPARE(f.W<QComboBox>("cbNewInstance")->count(), 4);
    QCOMPARE(f.W<QComboBox>("cbNewInstance")->currentIndex(), int(f.task->GetTaskInstancesPolicy()));
    QCOMPARE(f.W<QComboBox>("cbConfigureTaskFor")->currentText(), QStringLiteral("Task Service 2.0"));
    QCOMPARE(f.W<QComboBox>("cbNetworkConnections")->count(), 2);
    // "New..." and "Edit..." of the triggers stay disabled; the rest follow the selection.
    for (const char* action : {"acTriggerNew", "acTriggerEdit", "acTriggerDelete", "acActionEdit", "acActionDelete"})
        QVERIFY2(!form.findChild<QAction*>(action)->isEnabled(), action);
    QVERIFY(form.findChild<QAction*>("acActionNew")->isEnabled());
    f.Select("lvActions", 0);
    QVERIFY(form.findChild<QAction*>("acActionEdit")->isEnabled() && form.findChild<QAction*>("acActionDelete")->isEnabled());
    QCOMPARE(f.W<QTreeWidget>("lvActions")->topLevelItem(0)->text(0), QStringLiteral("Start a program"));
    QCOMPARE(f.W<QTreeWidget>("lvActions")->topLevelItem(0)->text(1), QStringLiteral("/bin/true "));
}

void TestProps20::storedDurations_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("afterOk");
    QTest::newRow("no time limit") << "ExecutionTimeLimit" << "PT0S" << "ckbStopIfRunningLonger" << false << "" << "" << "";
    QTest::newRow("empty time limit") << "ExecutionTimeLimit" << "" << "ckbStopIfRunningLonger" << false << "" << "" << "";
    QTest::newRow("one hour") << "ExecutionTimeLimit" << "PT1H" << "ckbStopIfRunningLonger" << true << "cbStopIfRunning"
                              << "1 hour" << "PT1H";
    QTest::newRow("72 hours are 3 days") << "ExecutionTimeLimit" << "PT72H" << "ckbStopIfRunningLonger" << true
                                         << "cbStopIfRunning" << "3 days" << "P3D";
    // A value no item denotes is shown in the list and kept, not dropped.
    QTest::newRow("90 minutes") << "ExecutionTimeLimit" << "PT90M" << "ckbStopIfRunningLonger" << true << "cbStopIfRunning"
                                << "90 minutes" << "PT90M";
    QTest::newRow("no expiry") << "DeleteExpiredTaskAfter" << "" << "ckbDeleteNonScheduled" << false << "" << "" << "";
    QTest::newRow("delete at once") << "DeleteExpiredTaskAfter" << "PT0S" << "ckbDeleteNonScheduled" << true
                                    << "cbDeleteNotScheduled" << "Immediately" << "PT0S";
    QTest::newRow("90 days") << "DeleteExpiredTaskAfter" << "P90D" << "ckbDeleteNonScheduled" << true
                             << "cbDeleteNotScheduled" << "90 days" << "P90D";
    QTest::newRow("two days") << "DeleteExpiredTaskAfter" << "P2D" << "ckbDeleteNonScheduled" << true
                              << "cbDeleteNotScheduled" << "2 days" << "P2D";
    QTest::newRow("restart every 5 minutes") << "RestartInterval" << "PT5M" << "ckbRestartIfFails" << true
                                             << "cbRestartAttempt" << "5 minutes" << "PT5M";
    QTest::newRow("no restart") << "RestartInterval" << "" << "ckbRestartIfFails" << false << "" << "" << "";
    QTest::newRow("do not wait") << "IdleDuration" << "PT0S" << "ckbStartOnIdleOnly" << true << "cbWaitForIdle"
                                 << "Do not wait" << "PT0S";
    QTest::newRow("idle wait time-out") << "WaitTimeout" << "PT15M" << "ckbStartOnIdleOnly" << true
                                        << "cbIdleMinutesStart" << "15 minutes" << "PT15M";
    QTest::newRow("idle for 7 minutes") << "WaitTimeout" << "PT7M" << "ckbStartOnIdleOnly" << true
                                        << "cbIdleMinutesStart" << "7 minutes" << "PT7M";
}

void TestProps20::storedDurations()
{
    QFETCH(QString, property);
    QFETCH(QString, stored);
    QFETCH(QString, box);
    QFETCH(bool, checked);
    QFETCH(QString, list);
    QFETCH(QString, shown);
    QFETCH(QString, afterOk);
    Props20Fixture f([&](ITaskDefinition* d) {
        PutDuration(d, property, stored);
        OleCheck(SettingsOf(d)->put_RestartCount(3));
    });
    f.Open();
    QCOMPARE(f.Checked(box.toLatin1()), checked);
    if (!list.isEmpty()) {
        auto* combo = f.W<QComboBox>(list.toLatin1());
        QCOMPARE(combo->currentIndex() < 0 ? combo->placeholderText() : combo->currentText(), shown);
    }
    if (property == "RestartInterval" && checked) QCOMPARE(f.W<QSpinBox>("udRestartAttempts")->value(), 3);
    f.Click("btOK");
    QVERIFY(f.Accepted());
    QVERIFY(f.prompts.messages.isEmpty());
    QCOMPARE(GetDuration(f.Stored().Get(), property), afterOk);
}

void TestProps20::dependencyRules_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("dependents");
    QTest::newRow("idle") << "ckbStartOnIdleOnly"
                          << QStringList{"ckbStopIfCeasesIdle", "cbIdleMinutesStart", "cbWaitForIdle", "labWaitForIdle"};
    QTest::newRow("AC power") << "ckbStartOnACPower" << QStringList{"ckbStopOnBattery"};
    QTest::newRow("network") << "ckbStartOnlyOnNetwork" << QStringList{"cbNetworkConnections"};
    QTest::newRow("restart") << "ckbRestartIfFails"
                             << QStringList{"cbRestartAttempt", "labRestartAttempts1", "labRestartAttempts2",
                                            "edRestartAttempts", "udRestartAttempts"};
    QTest::newRow("time limit") << "ckbStopIfRunningLonger" << QStringList{"cbStopIfRunning"};
    QTest::newRow("expiry") << "ckbDeleteNonScheduled" << QStringList{"cbDeleteNotScheduled"};
}

void TestProps20::dependencyRules()
{
    QFETCH(QString, box);
    QFETCH(QStringList, dependents);
    // Read with the box checked, then unchecked and checked again by clicks.
    Props20Fixture f([](ITaskDefinition* d) {
        const ComPtr<ITaskSettings> s = SettingsOf(d);
        OleCheck(s->put_RunOnlyIfIdle(VARIANT_TRUE));
        OleCheck(s->put_DisallowStartIfOnBatteries(VARIANT_TRUE));
        OleCheck(NetworkOf(d)->put_Name("Home"));
        OleCheck(s->put_RestartInterval("PT1M"));
        OleCheck(s->put_ExecutionTimeLimit("PT1H"));
        OleCheck(s->put_DeleteExpiredTaskAfter("P30D"));
    });
    f.Open();
    const QByteArray name = box.toLatin1();
    for (const bool expected : {true, false, true}) {
        if (!expected || f.Checked(name) != expected) f.Click(name);
        QCOMPARE(f.Checked(name), expected);
        for (const QString& dependent : std::as_const(dependents))
            QVERIFY2(f.Enabled(dependent.toLatin1()) == expected, qPrintable(dependent));
    }
}

void TestProps20::restartOnIdleNeedsBothIdleBoxes()
{
    Props20Fixture f([](ITaskDefinition* d) { OleCheck(IdleSettingsOf(SettingsOf(d).Get())->put_StopOnIdleEnd(VARIANT_FALSE)); });
    f.Open();
    QVERIFY(!f.Checked("ckbStartOnIdleOnly") && !f.Enabled("ckbRestartIfIdleResume"));
    f.Click("ckbStartOnIdleOnly");
    QVERIFY(!f.Enabled("ckbRestartIfIdleResume"));
    f.Click("ckbStopIfCeasesIdle");
    QVERIFY(f.Enabled("ckbRestartIfIdleResume"));
    f.Click("ckbStartOnIdleOnly");
    QVERIFY(!f.Enabled("ckbRestartIfIdleResume"));
}

void TestProps20::immediateWritesReachTheItemAtOnce()
{
    Props20Fixture f([](ITaskDefinition* d) {
        const ComPtr<ITaskSettings> s = SettingsOf(d);
        OleCheck(s->put_RunOnlyIfIdle(VARIANT_TRUE));
        OleCheck(IdleSettingsOf(s.Get())->put_WaitTimeout("PT7M"));
        OleCheck(IdleSettingsOf(s.Get())->put_IdleDuration("PT5M"));
        OleCheck(IdleSettingsOf(s.Get())->put_StopOnIdleEnd(VARIANT_FALSE));
    });
    const QString before = f.StoredXml();
    f.Open();
    ITaskDefinition* live = f.task->GetTaskDefinition().Get();
    const ComPtr<IIdleSettings> idle = IdleSettingsOf(SettingsOf(live).Get());

    // Unchecking idle writes only the flag: the idle settings stay as they were.
    f.Click("ckbStartOnIdleOnly");
    QVERIFY(!f.Enabled("cbIdleMinutesStart") && !f.Enabled("cbWaitForIdle"));
    QVERIFY(!Flag(SettingsOf(live).Get(), &ITaskSettings::get_RunOnlyIfIdle));
    QCOMPARE(Text(idle.Get(), &IIdleSettings::get_WaitTimeout), QStringLiteral("PT7M"));
    QCOMPARE(Text(idle.Get(), &IIdleSettings::get_IdleDuration), QStringLiteral("PT5M"));
    // Checking it again writes the lists; the time-out no item denotes is kept.
    f.Click("ckbStartOnIdleOnly");
    QVERIFY(Flag(SettingsOf(live).Get(), &ITaskSettings::get_RunOnlyIfIdle));
    QCOMPARE(Text(idle.Get(), &IIdleSettings::get_WaitTimeout), QStringLiteral("PT7M"));
    f.W<QComboBox>("cbWaitForIdle")->setCurrentIndex(7);
    QCOMPARE(Text(idle.Get(), &IIdleSettings::get_IdleDuration), QStringLiteral("PT2H"));
    f.Click("ckbStopIfCeasesIdle");
    QVERIFY(Flag(idle.Get(), &IIdleSettings::get_StopOnIdleEnd));

    f.ShowPageOf(f.W<QWidget>("memDescription"));
    f.W<QPlainTextEdit>("memDescription")->setFocus();
    QTest::keyClick(f.W<QPlainTextEdit>("memDescription"), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(f.W<QPlainTextEdit>("memDescription"), " and after");
    QCOMPARE(f.task->GetComment(), QStringLiteral("Before and after"));
    f.Click("ckbTaskHidden");
    QVERIFY(f.task->GetVistaFlag(tfvHidden));
    f.W<QComboBox>("cbConfigureTaskFor")->setCurrentIndex(0);
    QCOMPARE(f.task->GetTaskCompatibility(), tcCompatibilityWin10);
    f.Click("ckbRunWithHighest");
    TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_LUA;
    OleCheck(PrincipalOf(live)->get_RunLevel(&level));
    QCOMPARE(level, TASK_RUNLEVEL_HIGHEST);
    f.Click("rbRunWhetherLoggedOrNo");
    QCOMPARE(f.task->GetTaskLogonType(), tltPassword);
    f.Click("rbRunOnLoggedOn");
    QCOMPARE(f.task->GetTaskLogonType(), tltInteractiveToken);

    // None of it reached the service before OK.
    QCOMPARE(f.StoredXml(), before);
}

void TestProps20::okWritesEveryPage()
{
    Props20Fixture f;
    f.Open();
    auto* description = f.W<QPlainTextEdit>("memDescription");
    description->setPlainText("After");
    f.SetChecked("ckbTaskHidden", true);
    f.W<QComboBox>("cbConfigureTaskFor")->setCurrentIndex(1);
    f.SetChecked("ckbRunWithHighest", true);
    f.SetChecked("ckbStartOnIdleOnly", true);
    f.W<QComboBox>("cbIdleMinutesStart")->setCurrentIndex(5);
    f.W<QComboBox>("cbWaitForIdle")->setCurrentIndex(0);
    f.SetChecked("ckbStopIfCeasesIdle", true);
    f.SetChecked("ckbRestartIfIdleResume", true);
    f.SetChecked("ckbStartOnACPower", true);
    f.SetChecked("ckbStopOnBattery", true);
    f.SetChecked("ckbWakePC", true);
    f.SetChecked("ckbStartOnlyOnNetwork", true);
    f.W<QComboBox>("cbNetworkConnections")->setCurrentIndex(1);
    f.SetChecked("ckbAllowRunOnDemand", false);
    f.SetChecked("ckbRunAsSoonAsPossible", true);
    f.SetChecked("ckbRestartIfFails", true);
    f.W<QComboBox>("cbRestartAttempt")->setCurrentIndex(6);
    f.W<QSpinBox>("udRestartAttempts")->setValue(4);
    f.SetChecked("ckbStopIfRunningLonger", true);
    f.W<QComboBox>("cbStopIfRunning")->setCurrentIndex(5);
    f.SetChecked("ckbForceToStop", false);
    f.SetChecked("ckbDeleteNonScheduled", true);
    f.W<QComboBox>("cbDeleteNotScheduled")->setCurrentIndex(4);
    f.W<QComboBox>("cbNewInstance")->setCurrentIndex(3);
    f.Click("btOK");
    QVERIFY(f.Accepted());

    TTaskScheduler fresh;
    fresh.Open();
    TTaskItem* stored = fresh.ActivateTask(Props20Fixture::kName);
    ITaskDefinition* d = stored->GetTaskDefinition().Get();
    const ComPtr<ITaskSettings> s = SettingsOf(d);
    const ComPtr<IIdleSettings> idle = IdleSettingsOf(s.Get());
    QCOMPARE(stored->GetComment(), QStringLiteral("After"));
    QVERIFY(stored->GetVistaFlag(tfvHidden));
    QCOMPARE(stored->GetTaskCompatibility(), tcCompatibilityWin7);
    TASK_RUNLEVEL_TYPE level = TASK_RUNLEVEL_LUA;
    OleCheck(PrincipalOf(d)->get_RunLevel(&level));
    QCOMPARE(level, TASK_RUNLEVEL_HIGHEST);
    QVERIFY(Flag(s.Get(), &ITaskSettings::get_RunOnlyIfIdle));
    QCOMPARE(Text(idle.Get(), &IIdleSettings::get_WaitTimeout), QStringLiteral("PT1H"));
    QCOMPARE(Text(idle.Get(), &IIdleSettings::get_IdleDuration), QStringLiteral("PT0S"));
    QVERIFY(Flag(idle.Get(), &IIdleSettings::get_StopOnIdleEnd));
    QVERIFY(Flag(idle.Get(), &IIdleSettings::get_RestartOnIdle));
    QVERIFY(Flag(s.Get(), &ITaskSettings::get_DisallowStartIfOnBatteries));
    QVERIFY(Flag(s.Get(), &ITaskSettings::get_StopIfGoingOnBatteries));
    QVERIFY(Flag(s.Get(), &ITaskSettings::get_WakeToRun));
    QCOMPARE(Text(NetworkOf(d).Get(), &INetworkSettings::get_Name), QStringLiteral("Office"));
    QVERIFY(!Flag(s.Get(), &ITaskSettings::get_AllowDemandStart));
    QVERIFY(stored->GetVistaFlag(tfvStartWhenAvailable));
    QCOMPARE(Text(s.Get(), &ITaskSettings::get_RestartInterval), QStringLiteral("PT2H"));
    LONG count = 0;
    OleCheck(s->get_RestartCount(&count));
    QCOMPARE(count, 4);
    QCOMPARE(Text(s.Get(), &ITaskSettings::get_ExecutionTimeLimit), QStringLiteral("P1D"));
    QVERIFY(!Flag(s.Get(), &ITaskSettings::get_AllowHardTerminate));
    QCOMPARE(Text(s.Get(), &ITaskSettings::get_DeleteExpiredTaskAfter), QStringLiteral("P365D"));
    QCOMPARE(stored->GetTaskInstancesPolicy(), tipStopExisting);
    QCOMPARE(ActionSummary(d), QStringList{"/bin/true||"});
}

void TestProps20::cancelLeavesServiceAndItemAsTheyWere()
{
    Props20Fixture f([](ITaskDefinition* d) {
        OleCheck(SettingsOf(d)->put_ExecutionTimeLimit("PT1H"));
        ComPtr<IAction> second;
        OleCheck(ActionsOf(d)->Create(TASK_ACTION_EXEC, second.Put()));
        OleCheck(ActionAs<IExecAction>(second)->put_Path("/bin/false"));
    });
    const QString before = f.StoredXml();
    QString itemBefore;
    OleCheck(f.task->GetTaskDefinition()->get_XmlText(&itemBefore));
    f.Open();
    f.W<QPlainTextEdit>("memDescription")->setPlainText("Cancelled");
    f.Click("ckbTaskHidden");
    f.Click("ckbStartOnIdleOnly");
    f.Click("ckbStopIfRunningLonger");
    f.Select("lvActions", 1);
    f.Trigger("acActionDelete");
    QCOMPARE(f.prompts.questions, QStringList{"This will delete the selected action! Continue?"});
    f.Click("btCancel");
    QCOMPARE(f.form->result(), int(QDialog::Rejected));
    QCOMPARE(f.StoredXml(), before);
    // The item itself is back as it was: a later save of it does not carry the cancelled edits.
    QString itemAfter;
    OleCheck(f.task->GetTaskDefinition()->get_XmlText(&itemAfter));
    QCOMPARE(itemAfter, itemBefore);
    f.task->Save();
    QCOMPARE(f.StoredXml(), before);
    f.Open();
    QCOMPARE(f.W<QPlainTextEdit>("memDescription")->toPlainText(), QStringLiteral("Before"));
    QCOMPARE(f.W<QTreeWidget>("lvActions")->topLevelItemCount(), 2);
}

void TestProps20::logonTypes_data()
{
    QTest::addColumn<int>("logon");
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("radiosEnabled");
    QTest::addColumn<bool>("onLoggedOn");
    QTest::addColumn<bool>("whether");
    QTest::newRow("interactive") << int(TASK_LOGON_INTERACTIVE_TOKEN) << UserAccount::CurrentLogonName() << true << true << false;
    QTest::newRow("group") << int(TASK_LOGON_GROUP) << "" << false << true << false;
    QTest::newRow("service account") << int(TASK_LOGON_SERVICE_ACCOUNT) << "System" << false << false << false;
    QTest::newRow("S4U") << int(TASK_LOGON_S4U) << UserAccount::CurrentLogonName() << true << false << false;
}

void TestProps20::logonTypes()
{
    QFETCH(int, logon);
    QFETCH(QString, account);
    QFETCH(bool, radiosEnabled);
    QFETCH(bool, onLoggedOn);
    QFETCH(bool, whether);
    Props20Fixture f([&](ITaskDefinition* d) {
        const ComPtr<IPrincipal> principal = PrincipalOf(d);
        OleCheck(principal->put_LogonType(static_cast<TASK_LOGON_TYPE>(logon)));
        if (logon == TASK_LOGON_GROUP)
            OleCheck(principal->put_GroupId(UserAccount::CurrentLogonName()));
        else
            OleCheck(principal->put_UserId(account));
    });
    QCOMPARE(int(f.task->GetTaskLogonType()), logon);
    f.Open();
    QCOMPARE(f.Enabled("rbRunOnLoggedOn"), radiosEnabled);
    QCOMPARE(f.Enabled("rbRunWhetherLoggedOrNo"), radiosEnabled);
    QCOMPARE(f.Checked("rbRunOnLoggedOn"), onLoggedOn);
    QCOMPARE(f.Checked("rbRunWhetherLoggedOrNo"), whether);
    f.Click("btOK");
    QVERIFY2(f.Accepted(), qPrintable(f.prompts.errors.join('\n')));
    TTaskScheduler fresh;
    fresh.Open();
    QCOMPARE(int(fresh.ActivateTask(Props20Fixture::kName)->GetTaskLogonType()), logon);
}

void TestProps20::networkCondition_data()
{
    QTest::addColumn<bool>("admin");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("choose");
    QTest::addColumn<bool>("uncheck");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("afterOk");
    QTest::newRow("known profile") << true << "Home" << "" << false << "Home" << "Home";
    QTest::newRow("another profile chosen") << true << "Home" << "Office" << false << "Office" << "Office";
    QTest::newRow("unchecked") << true << "Home" << "" << true << "Home" << "";
    QTest::newRow("profile this computer does not know") << true << "Cafe" << "" << false << "Cafe" << "Cafe";
    QTest::newRow("unknown profile replaced") << true << "Cafe" << "Home" << false << "Home" << "Home";
    QTest::newRow("without administrator rights") << false << "Cafe" << "" << false << "Cafe" << "Cafe";
    QTest::newRow("none, without administrator rights") << false << "" << "" << false << "" << "";
}

void TestProps20::networkCondition()
{
    QFETCH(bool, admin);
    QFETCH(QString, stored);
    QFETCH(QString, choose);
    QFETCH(bool, uncheck);
    QFETCH(QString, shown);
    QFETCH(QString, afterOk);
    Props20Fixture f([&](ITaskDefinition* d) { OleCheck(NetworkOf(d)->put_Name(stored)); }, admin);
    f.Open();
    auto* list = f.W<QComboBox>("cbNetworkConnections");
    QCOMPARE(f.Checked("ckbStartOnlyOnNetwork"), !stored.isEmpty());
    QCOMPARE(f.Enabled("ckbStartOnlyOnNetwork"), admin);
    QCOMPARE(list->isEnabled(), admin && !stored.isEmpty());
    QCOMPARE(f.W<QWidget>("btAdminRequired")->isHidden(), admin);
    if (!choose.isEmpty()) list->setCurrentIndex(list->findText(choose));
    if (uncheck) f.Click("ckbStartOnlyOnNetwork");
    QCOMPARE(list->currentIndex() < 0 ? list->placeholderText() : list->currentText(), shown);
    if (!admin) {
        QVERIFY(!f.W<QPushButton>("btAdminRequired")->icon().isNull());
        f.Click("btAdminRequired");
        QCOMPARE(f.prompts.messages.size(), 1);
        QCOMPARE(f.prompts.messages.at(0).text, QStringLiteral("This requires administrator privileges!"));
        QCOMPARE(f.prompts.messages.at(0).icon, QMessageBox::Information);
        f.prompts.messages.clear();
    }
    f.Click("btOK");
    QVERIFY(f.Accepted());
    QCOMPARE(Text(NetworkOf(f.Stored().Get()).Get(), &INetworkSettings::get_Name), afterOk);
}

void TestProps20::networkProfilesFromTheRegistryWithoutAConnectionManager()
{
    QTemporaryDir machine;
    qputenv("TASKSCHEDULER_MACHINE_CONFIG", machine.path().toLocal8Bit());
    FakeProfiles absent;
    absent.names.reset();
    NetworkProfileSource::ScopedOverride noManager(absent);

    QStringList names{"stale"};
    TfrmTask20Properties::GetNetworkProfileNames(names);
    QVERIFY(names.isEmpty());

    Registry registry(HKEY_LOCAL_MACHINE);
    const QString key = TfrmTask20Properties::NetworkProfilesKey;
    for (const auto& [sub, name] : {std::pair{"{1}", "Wired"}, {"{2}", ""}, {"{3}", "Wireless"}}) {
        QVERIFY(registry.OpenKey(key + '\\' + sub, true));
        if (*name) registry.WriteString("ProfileName", name);
    }
    // A sub-key whose name is of another type is skipped as well.
    QVERIFY(registry.OpenKey(key + "\\{4}", true));
    registry.WriteInteger("ProfileName", 4);
    TfrmTask20Properties::GetNetworkProfileNames(names);
    QCOMPARE(names, (QStringList{"Wired", "Wireless"}));

    // The connection manager, where there is one, is asked instead of the registry.
    FakeProfiles manager;
    manager.names = QStringList{};
    NetworkProfileSource::ScopedOverride withManager(manager);
    TfrmTask20Properties::GetNetworkProfileNames(names);
    QVERIFY(names.isEmpty());
    qunsetenv("TASKSCHEDULER_MACHINE_CONFIG");
}

void TestProps20::badInputKeepsTheFormOpenAndWritesNothing_data()
{
    QTest::addColumn<QString>("field");
    QTest::newRow("restart attempts") << "Attempt to restart up to:";
    QTest::newRow("no network chosen") << "Start only if the following network connection is available:";
    QTest::newRow("network removed") << "Start only if the following network connection is available:";
    QTest::newRow("empty program") << "Program/script:";
}

void TestProps20::badInputKeepsTheFormOpenAndWritesNothing()
{
    QFETCH(QString, field);
    const QByteArray tag = QTest::currentDataTag();
    Props20Fixture f;
    const QString before = f.StoredXml();
    if (tag == "empty program") {
        // A program action without a program, added to the item before the form opens.
        ComPtr<IAction> blank;
        OleCheck(ActionsOf(f.task->GetTaskDefinition().Get())->Create(TASK_ACTION_EXEC, blank.Put()));
    }
    f.Open();
    f.W<QPlainTextEdit>("memDescription")->setPlainText("Not written");
    if (tag == "restart attempts") {
        f.Click("ckbRestartIfFails");
        f.W<QLineEdit>("edRestartAttempts")->clear();
    } else if (tag != "empty program") {
        f.Click("ckbStartOnlyOnNetwork");
        if (tag == "network removed") {
            f.W<QComboBox>("cbNetworkConnections")->setCurrentIndex(1);
            f.profiles.names = QStringList{"Home"};
        }
    }
    f.Click("btOK");
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.prompts.messages.size(), 1);
    QVERIFY2(f.prompts.messages.at(0).text.contains('"' + field + '"'), qPrintable(f.prompts.messages.at(0).text));
    QCOMPARE(f.prompts.messages.at(0).icon, QMessageBox::Warning);
    QCOMPARE(f.StoredXml(), before);
    f.Click("btCancel");
    QCOMPARE(f.StoredXml(), before);
}

void TestProps20::serviceErrorOnOkKeepsTheFormOpen()
{
    // An account this computer does not know: the service refuses it in its own words, the
    // form stays open and nothing is stored until the user puts it right.
    Props20Fixture f;
    const QString before = f.StoredXml();
    f.Open();
    f.W<QPlainTextEdit>("memDescription")->setPlainText("Not yet");
    f.SetChecked("ckbWakePC", true);
    auto chooseAccount = [&f](const QString& AName) {
        WhenModal([AName](QWidget* account) {
            Child<QLineEdit>(account, "edUserName")->setText(AName);
            QTest::mouseClick(Child<QPushButton>(account, "btOK"), Qt::LeftButton);
        });
        f.Click("Button1");
    };
    chooseAccount(QStringLiteral("no-such-user-here"));
    f.Click("btOK");
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.prompts.errors.size(), 1);
    QVERIFY2(f.prompts.errors.at(0).contains("no-such-user-here"), qPrintable(f.prompts.errors.at(0)));
    QCOMPARE(f.StoredXml(), before);

    f.prompts.errors.clear();
    chooseAccount(UserAccount::CurrentLogonName());
    f.Click("btOK");
    QCOMPARE(f.prompts.errors, QStringList{});
    QVERIFY(f.Accepted());
    TTaskScheduler fresh;
    fresh.Open();
    TTaskItem* stored = fresh.ActivateTask(Props20Fixture::kName);
    QCOMPARE(stored->GetComment(), QStringLiteral("Not yet"));
    QCOMPARE(stored->GetAccountName(), UserAccount::CurrentLogonName());
    QVERIFY(Flag(SettingsOf(stored->GetTaskDefinition().Get()).Get(), &ITaskSettings::get_WakeToRun));
}

void TestProps20::taskDeletedWhileOpenGivesTheServiceError()
{
    Props20Fixture f;
    f.Open();
    f.W<QPlainTextEdit>("memDescription")->setPlainText("Too late");
    {
        TTaskScheduler other;
        other.Open();
        other.Refresh();
        other.DeleteTask(Props20Fixture::kName);
    }
    f.Click("btOK");
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.prompts.errors.size(), 1);
    QVERIFY2(f.prompts.errors.at(0).contains(Props20Fixture::kName), qPrintable(f.prompts.errors.at(0)));
    // OK did not bring the task back.
    QVERIFY(!f.Stored());
    f.Click("btCancel");
    QVERIFY(!f.form->isVisible());
    QVERIFY(!f.Stored());
}

void TestProps20::deletingActionsRemovesExactlyThose()
{
    Props20Fixture f([](ITaskDefinition* d) {
        const ComPtr<IActionCollection> actions = ActionsOf(d);
        OleCheck(ActionAs<IExecAction>(ActionAt(actions.Get(), 1))->put_Path("/bin/p1"));
        for (int i = 2; i <= 5; ++i) {
            ComPtr<IAction> action;
            OleCheck(actions->Create(TASK_ACTION_EXEC, action.Put()));
            OleCheck(ActionAs<IExecAction>(action)->put_Path(QStringLiteral("/bin/p%1").arg(i)));
        }
    });
    f.Open();
    QCOMPARE(f.W<QTreeWidget>("lvActions")->topLevelItemCount(), 5);
    // Answering No keeps the row.
    f.prompts.confirm = false;
    f.Select("lvActions", 1);
    f.Trigger("acActionDelete");
    QCOMPARE(f.W<QTreeWidget>("lvActions")->topLevelItemCount(), 5);
    f.prompts.confirm = true;
    f.Trigger("acActionDelete");
    f.Select("lvActions", 2); // the fourth action, now the third row
    f.Trigger("acActionDelete");
    QCOMPARE(f.W<QTreeWidget>("lvActions")->topLevelItemCount(), 3);
    f.Click("btOK");
    QVERIFY(f.Accepted());
    QCOMPARE(ActionSummary(f.Stored().Get()), (QStringList{"/bin/p1||", "/bin/p3||", "/bin/p5||"}));
}

void TestProps20::actionsOfOtherKindsAreKeptAsTheyAre()
{
    const QString clsid = QStringLiteral("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    Props20Fixture f([&](ITaskDefinition* d) {
        const ComPtr<IActionCollection> actions = ActionsOf(d);
        ComPtr<IAction> handler;
        OleCheck(actions->Create(TASK_ACTION_COM_HANDLER, handler.Put()));
        OleCheck(ActionAs<IComHandlerAction>(handler)->put_ClassId(clsid));
        OleCheck(ActionAs<IComHandlerAction>(handler)->put_Data("payload"));
        ComPtr<IAction> message;
        OleCheck(actions->Create(TASK_ACTION_SHOW_MESSAGE, message.Put()));
        OleCheck(ActionAs<IShowMessageAction>(message)->put_Title("Hello"));
        OleCheck(ActionAs<IShowMessageAction>(message)->put_MessageBody("World"));
        ComPtr<IAction> mail;
        OleCheck(actions->Create(TASK_ACTION_SEND_EMAIL, mail.Put()));
        const ComPtr<IEmailAction> email = ActionAs<IEmailAction>(mail);
        OleCheck(email->put_To("a@example.org"));
        OleCheck(email->put_Subject("Report"));
        OleCheck(email->put_Cc("c@example.org"));
        OleCheck(email->put_Attachments({"a.txt"}));
    });
    auto actionsPart = [&f] {
        const QString xml = f.StoredXml();
        const qsizetype from = xml.indexOf("<Actions");
        return xml.mid(from, xml.indexOf("</Actions>") - from);
    };
    const QString before = actionsPart();
    QVERIFY(before.contains("payload") && before.contains("c@example.org") && before.contains("a.txt"));
    f.Open();
    auto* list = f.W<QTreeWidget>("lvActions");
    QCOMPARE(list->topLevelItemCount(), 4);
    const QList<QStringList> rows{{"Start a program", "/bin/true "},
                                  {"(Unknown)", clsid},
                                  {"Display a message (deprecated)", "Hello"},
                                  {"Send an e-mail (deprecated)", "a@example.org Report"}};
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(list->topLevelItem(i)->text(0), rows.at(i).at(0));
        QCOMPARE(list->topLevelItem(i)->text(1), rows.at(i).at(1));
    }
    f.Select("lvActions", 1);
    f.Trigger("acActionEdit");
    QCOMPARE(f.prompts.messages.size(), 1);
    f.Click("btOK");
    QVERIFY(f.Accepted());
    QCOMPARE(actionsPart(), before);
}

void TestProps20::newAndEditedActions()
{
    Props20Fixture f;
    f.Open();
    // A new program action, entered in the action editor.
    WhenModal([](QWidget* editor) {
        QCOMPARE(editor->windowTitle(), QStringLiteral("New Action"));
        Child<QLineEdit>(editor, "edExeName")->setText("/usr/bin/env");
        Child<QLineEdit>(editor, "edExeArgs")->setText("-i");
        Child<QLineEdit>(editor, "edExeStartIn")->setText("/tmp");
        QTest::mouseClick(Child<QPushButton>(editor, "btOK"), Qt::LeftButton);
    });
    f.Trigger("acActionNew");
    auto* list = f.W<QTreeWidget>("lvActions");
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->currentItem(), list->topLevelItem(1));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("/usr/bin/env -i"));
    // Editing twice shows the latest details only; Cancel in the editor changes nothing.
    for (const char* args : {"-a", "-b"}) {
        WhenModal([args](QWidget* editor) {
            QCOMPARE(editor->windowTitle(), QStringLiteral("Edit Action"));
            Child<QLineEdit>(editor, "edExeArgs")->setText(args);
            QTest::mouseClick(Child<QPushButton>(editor, "btOK"), Qt::LeftButton);
        });
        f.Trigger("acActionEdit");
    }
    WhenModal([](QWidget* editor) {
        Child<QLineEdit>(editor, "edExeArgs")->setText("-c");
        QTest::mouseClick(Child<QPushButton>(editor, "btCancel"), Qt::LeftButton);
    });
    f.Trigger("acActionEdit");
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("/usr/bin/env -b"));
    f.Select("lvActions", 0);
    WhenModal([](QWidget* editor) {
        Child<QLineEdit>(editor, "edExeName")->setText("/bin/echo");
        QTest::mouseClick(Child<QPushButton>(editor, "btOK"), Qt::LeftButton);
    });
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(0)).center());
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("/bin/echo "));
    f.Click("btOK");
    QVERIFY2(f.Accepted(), qPrintable(f.prompts.errors.join('\n')));
    QCOMPARE(ActionSummary(f.Stored().Get()), (QStringList{"/bin/echo||", "/usr/bin/env|-b|/tmp"}));
}

void TestProps20::triggersListAndDelete()
{
    Props20Fixture f([](ITaskDefinition* d) {
        ComPtr<ITriggerCollection> triggers;
        OleCheck(d->get_Triggers(triggers.Put()));
        ComPtr<ITrigger> daily;
        OleCheck(triggers->Create(TASK_TRIGGER_DAILY, daily.Put()));
        OleCheck(daily->put_StartBoundary("2030-01-02T09:00:00"));
        ComPtr<ITrigger> logon;
        OleCheck(triggers->Create(TASK_TRIGGER_LOGON, logon.Put()));
    });
    f.Open();
    auto* list = f.W<QTreeWidget>("lvTriggers");
    QCOMPARE(list->topLevelItemCount(), 2);
    const QString status = TfrmTask20Properties::TaskStatusText(f.task->GetStatus());
    TTriggers* triggers = f.task->GetTriggers();
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(list->topLevelItem(i)->text(1), triggers->GetItem(i)->GetAsString());
        QCOMPARE(list->topLevelItem(i)->text(2), status);
    }
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("Daily"));
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("At logon"));
    f.Select("lvTriggers", 0);
    QVERIFY(f.form->findChild<QAction*>("acTriggerDelete")->isEnabled());
    QVERIFY(!f.form->findChild<QAction*>("acTriggerEdit")->isEnabled());
    f.Trigger("acTriggerDelete");
    QCOMPARE(f.prompts.questions, QStringList{"This will delete the selected trigger! Continue?"});
    QCOMPARE(list->topLevelItemCount(), 1);
    f.Click("btOK");
    QVERIFY(f.Accepted());
    ComPtr<ITriggerCollection> stored;
    OleCheck(f.Stored()->get_Triggers(stored.Put()));
    LONG count = 0;
    OleCheck(stored->get_Count(&count));
    QCOMPARE(count, 1);
    ComPtr<ITrigger> left;
    OleCheck(stored->get_Item(1, left.Put()));
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    OleCheck(left->get_Type(&type));
    QCOMPARE(type, TASK_TRIGGER_LOGON);
}

void TestProps20::accountButton()
{
    Props20Fixture f;
    f.Open();
    const QString shown = f.W<QLineEdit>("edUserGroupName")->text();
    WhenModal([](QWidget* account) {
        Child<QLineEdit>(account, "edUserName")->setText(UserAccount::CurrentLogonName());
        QTest::mouseClick(Child<QPushButton>(account, "btOK"), Qt::LeftButton);
    });
    f.Click("Button1");
    QCOMPARE(f.form->FCurrUserOrGroupName, UserAccount::CurrentLogonName());
    QCOMPARE(f.W<QLineEdit>("edUserGroupName")->text(), shown);
    f.Click("btOK");
    QVERIFY2(f.Accepted(), qPrintable(f.prompts.errors.join('\n')));
    TTaskScheduler fresh;
    fresh.Open();
    TTaskItem* stored = fresh.ActivateTask(Props20Fixture::kName);
    QCOMPARE(stored->GetAccountName(), UserAccount::CurrentLogonName());
    QCOMPARE(stored->GetTaskLogonType(), tltInteractiveToken);
}

void TestProps20::editTask20PropertiesShowsTheFormModally()
{
    Props20Fixture f;
    for (const bool ok : {false, true}) {
        WhenModal([ok](QWidget* form) {
            QVERIFY(qobject_cast<TfrmTask20Properties*>(form));
            Child<QPlainTextEdit>(form, "memDescription")->setPlainText(ok ? "Saved" : "Dropped");
            QTest::mouseClick(Child<QPushButton>(form, ok ? "btOK" : "btCancel"), Qt::LeftButton);
        });
        QCOMPARE(EditTask20Properties(f.task, &f.prompts), ok);
        TTaskScheduler fresh;
        fresh.Open();
        QCOMPARE(fresh.ActivateTask(Props20Fixture::kName)->GetComment(), QString::fromLatin1(ok ? "Saved" : "Before"));
    }
}

QTEST_MAIN(TestProps20)
#include "tst_props20.moc"
