// The 2.0 run settings of a task item against a private service: the flag set and its single
// flags, the six time properties, compatibility, instance policy and logon type, and the
// fixed answers of the 1.0 generation.

#include "LibraryTestSupport.h"
#include "kvTask.h"

#include "ObjectRuntime.h"
#include "OsVersion.h"
#include "TaskService2.h"

#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

namespace {

using ReadFlag = std::function<bool(ITaskDefinition*)>;

// Each Boolean service property read straight from the definition, so that a flag wired to
// the wrong property shows.
bool SettingsBool(ITaskDefinition* definition, HRESULT (ITaskSettings::*get)(VARIANT_BOOL*))
{
    ComPtr<ITaskSettings> settings;
    OleCheck(definition->get_Settings(settings.Put()));
    VARIANT_BOOL value = VARIANT_FALSE;
    OleCheck((settings.Get()->*get)(&value));
    return value != VARIANT_FALSE;
}

bool IdleBool(ITaskDefinition* definition, HRESULT (IIdleSettings::*get)(VARIANT_BOOL*))
{
    ComPtr<ITaskSettings> settings;
    OleCheck(definition->get_Settings(settings.Put()));
    ComPtr<IIdleSettings> idle;
    OleCheck(settings->get_IdleSettings(idle.Put()));
    VARIANT_BOOL value = VARIANT_FALSE;
    OleCheck((idle.Get()->*get)(&value));
    return value != VARIANT_FALSE;
}

ComPtr<ITaskSettings> SettingsOf(TTaskItem* item)
{
    ComPtr<ITaskSettings> settings;
    OleCheck(item->GetTaskDefinition()->get_Settings(settings.Put()));
    return settings;
}

ComPtr<IPrincipal> PrincipalOf(TTaskItem* item)
{
    ComPtr<IPrincipal> principal;
    OleCheck(item->GetTaskDefinition()->get_Principal(principal.Put()));
    return principal;
}

TASK_LOGON_TYPE LogonTypeOf(TTaskItem* item)
{
    TASK_LOGON_TYPE logonType = TASK_LOGON_NONE;
    OleCheck(PrincipalOf(item)->get_LogonType(&logonType));
    return logonType;
}

bool HardTerminateOf(TTaskItem* item)
{
    VARIANT_BOOL value = VARIANT_FALSE;
    OleCheck(SettingsOf(item)->get_AllowHardTerminate(&value));
    return value != VARIANT_FALSE;
}

QString XmlOf(TTaskItem* item)
{
    QString xml;
    OleCheck(item->GetTaskDefinition()->get_XmlText(&xml));
    return xml;
}

// Puts a value the service's own setter refuses into the definition in memory, through its
// document: first a valid `placeholder` (so that the element is written), then the text swapped.
void PutSettingThroughDocument(TTaskItem* item, const QString& element, int placeholder, int value)
{
    const QString from = QStringLiteral("<%1>%2</%1>").arg(element).arg(placeholder);
    QString xml = XmlOf(item);
    QVERIFY2(xml.contains(from), qPrintable(xml));
    xml.replace(from, QStringLiteral("<%1>%2</%1>").arg(element).arg(value));
    OleCheck(item->GetTaskDefinition()->put_XmlText(xml));
}

TTaskVistaFlags AllFlags()
{
    TTaskVistaFlags flags;
    for (int n = 0; n <= tfvNeedLogon; ++n) flags.Include(static_cast<TTaskVistaFlag>(n));
    return flags;
}

} // namespace

Q_DECLARE_METATYPE(TTaskVistaFlag)
Q_DECLARE_METATYPE(TTaskVistaFlags)
Q_DECLARE_METATYPE(ReadFlag)

class tst_settings : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void flagsWrittenWithTheirReadSetChangeNothing_data();
    void flagsWrittenWithTheirReadSetChangeNothing();
    void hardTerminateIsReadButNeverWritten();
    void eachFlagReachesItsOwnProperty_data();
    void eachFlagReachesItsOwnProperty();
    void flagSetDecidesTheLogonType_data();
    void flagSetDecidesTheLogonType();
    void singleLogonFlagDecidesTheLogonType();

    void timePropertiesOfANewDefinitionAreTheServiceDefaults();
    void timePropertiesRoundTrip();
    void timePropertiesGrowAShortList();
    void restartCountThatIsNoIntegerStopsAfterTwoElements_data();
    void restartCountThatIsNoIntegerStopsAfterTwoElements();
    void refusedCountStopsAtItsElement();
    void refusedDurationStopsAtItsElement();
    void shortListIsRefusedBeforeAnyWrite();

    void compatibilityRead_data();
    void compatibilityRead();
    void compatibilityWrite();
    void compatibilityNeedsTheNewInterfaceWhenOldIsForced();
    void instancesPolicy_data();
    void instancesPolicy();
    void unknownInstancesPolicyReadsAsIgnoreNew();
    void logonType();
    void logonTypeWrittenOnlyWhenItDiffers();

    void oldGenerationAnswers_data();
    void oldGenerationAnswers();
    void missingDefinitionIsNotActivated();

private:
    TTaskItem* NewItem(const QString& name = QStringLiteral("Settings probe"));

    std::unique_ptr<LibraryTests::Fixture> m_f;
};

void tst_settings::init()
{
    m_f = std::make_unique<LibraryTests::Fixture>(true);
    QVERIFY(m_f->root.IsValid());
    m_f->SelectRootFolder();
}

void tst_settings::cleanup() { m_f.reset(); }

TTaskItem* tst_settings::NewItem(const QString& name)
{
    return m_f->New(name);
}

void tst_settings::flagsWrittenWithTheirReadSetChangeNothing_data()
{
    QTest::addColumn<int>("logonType");
    QTest::addColumn<bool>("hardTerminate");
    QTest::addColumn<TTaskVistaFlags>("extra");

    QTest::newRow("defaults") << int(TASK_LOGON_INTERACTIVE_TOKEN) << true << TTaskVistaFlags{};
    QTest::newRow("password, no hard stop") << int(TASK_LOGON_PASSWORD) << false << TTaskVistaFlags{};
    QTest::newRow("many flags on")
        << int(TASK_LOGON_INTERACTIVE_TOKEN) << false
        << TTaskVistaFlags{tfvHidden, tfvRunOnlyIfIdle, tfvRestartOnIdle, tfvRunOnlyIfNetworkAvailable,
                           tfvStartWhenAvailable, tfvWakeToRun};
}

void tst_settings::flagsWrittenWithTheirReadSetChangeNothing()
{
    QFETCH(int, logonType);
    QFETCH(bool, hardTerminate);
    QFETCH(TTaskVistaFlags, extra);

    TTaskItem* item = NewItem();
    OleCheck(PrincipalOf(item)->put_LogonType(static_cast<TASK_LOGON_TYPE>(logonType)));
    OleCheck(SettingsOf(item)->put_AllowHardTerminate(hardTerminate ? VARIANT_TRUE : VARIANT_FALSE));
    for (int n = 0; n <= tfvNeedLogon; ++n) {
        const auto flag = static_cast<TTaskVistaFlag>(n);
        if (extra.Contains(flag)) item->SetVistaFlag(flag, true);
    }
    const QString before = XmlOf(item);

    const TTaskVistaFlags read = item->GetVistaFlags();
    QCOMPARE(read.Contains(tfvAllowHardTerminate), hardTerminate);
    QCOMPARE(read.Contains(tfvNeedLogon), logonType == TASK_LOGON_INTERACTIVE_TOKEN);
    item->SetVistaFlags(read);

    QCOMPARE(XmlOf(item), before);
    QCOMPARE(item->GetVistaFlags(), read);
}

void tst_settings::hardTerminateIsReadButNeverWritten()
{
    TTaskItem* item = NewItem();
    QVERIFY(HardTerminateOf(item));
    QVERIFY(item->GetVistaFlags().Contains(tfvAllowHardTerminate));
    QVERIFY(!item->GetVistaFlag(tfvAllowHardTerminate));

    item->SetVistaFlags(TTaskVistaFlags{tfvEnabled});
    QVERIFY(HardTerminateOf(item));
    item->SetVistaFlag(tfvAllowHardTerminate, false);
    QVERIFY(HardTerminateOf(item));

    OleCheck(SettingsOf(item)->put_AllowHardTerminate(VARIANT_FALSE));
    item->SetVistaFlags(AllFlags());
    QVERIFY(!HardTerminateOf(item));
    item->SetVistaFlag(tfvAllowHardTerminate, true);
    QVERIFY(!HardTerminateOf(item));
    QVERIFY(!item->GetVistaFlags().Contains(tfvAllowHardTerminate));
}

void tst_settings::eachFlagReachesItsOwnProperty_data()
{
    QTest::addColumn<TTaskVistaFlag>("flag");
    QTest::addColumn<ReadFlag>("read");

    const auto settings = [](HRESULT (ITaskSettings::*get)(VARIANT_BOOL*)) {
        return ReadFlag([get](ITaskDefinition* d) { return SettingsBool(d, get); });
    };
    const auto idle = [](HRESULT (IIdleSettings::*get)(VARIANT_BOOL*)) {
        return ReadFlag([get](ITaskDefinition* d) { return IdleBool(d, get); });
    };
    QTest::newRow("AllowDemandStart") << tfvAllowDemandStart << settings(&ITaskSettings::get_AllowDemandStart);
    QTest::newRow("DisallowStartIfOnBatteries")
        << tfvDisallowStartIfOnBatteries << settings(&ITaskSettings::get_DisallowStartIfOnBatteries);
    QTest::newRow("StopIfGoingOnBatteries")
        << tfvStopIfGoingOnBatteries << settings(&ITaskSettings::get_StopIfGoingOnBatteries);
    QTest::newRow("Enabled") << tfvEnabled << settings(&ITaskSettings::get_Enabled);
    QTest::newRow("Hidden") << tfvHidden << settings(&ITaskSettings::get_Hidden);
    QTest::newRow("RunOnlyIfIdle") << tfvRunOnlyIfIdle << settings(&ITaskSettings::get_RunOnlyIfIdle);
    QTest::newRow("StopOnIdleEnd") << tfvStopOnIdleEnd << idle(&IIdleSettings::get_StopOnIdleEnd);
    QTest::newRow("RestartOnIdle") << tfvRestartOnIdle << idle(&IIdleSettings::get_RestartOnIdle);
    QTest::newRow("RunOnlyIfNetworkAvailable")
        << tfvRunOnlyIfNetworkAvailable << settings(&ITaskSettings::get_RunOnlyIfNetworkAvailable);
    QTest::newRow("StartWhenAvailable") << tfvStartWhenAvailable << settings(&ITaskSettings::get_StartWhenAvailable);
    QTest::newRow("WakeToRun") << tfvWakeToRun << settings(&ITaskSettings::get_WakeToRun);
}

void tst_settings::eachFlagReachesItsOwnProperty()
{
    QFETCH(TTaskVistaFlag, flag);
    QFETCH(ReadFlag, read);

    TTaskItem* item = NewItem();
    ITaskDefinition* definition = item->GetTaskDefinition().Get();

    // Alone in the set: only its own property is on.
    item->SetVistaFlags(TTaskVistaFlags{flag});
    QVERIFY(read(definition));
    QVERIFY(item->GetVistaFlag(flag));
    QCOMPARE(item->GetVistaFlags(), TTaskVistaFlags{flag}.Include(tfvAllowHardTerminate));

    // Missing from the set: only its own property is off.
    item->SetVistaFlags(AllFlags().Exclude(flag));
    QVERIFY(!read(definition));
    QCOMPARE(item->GetVistaFlags(), AllFlags().Exclude(flag));

    item->SetVistaFlag(flag, true);
    QVERIFY(read(definition));
    QCOMPARE(item->GetVistaFlags(), AllFlags());
    item->SetVistaFlag(flag, false);
    QVERIFY(!read(definition));
    QVERIFY(!item->GetVistaFlag(flag));
}

void tst_settings::flagSetDecidesTheLogonType_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<bool>("needLogon");
    QTest::addColumn<int>("after");

    QTest::newRow("service account, no logon flag") << int(TASK_LOGON_SERVICE_ACCOUNT) << false << int(TASK_LOGON_PASSWORD);
    QTest::newRow("service account, logon flag")
        << int(TASK_LOGON_SERVICE_ACCOUNT) << true << int(TASK_LOGON_INTERACTIVE_TOKEN);
    QTest::newRow("group, no logon flag") << int(TASK_LOGON_GROUP) << false << int(TASK_LOGON_PASSWORD);
    QTest::newRow("S4U, logon flag") << int(TASK_LOGON_S4U) << true << int(TASK_LOGON_INTERACTIVE_TOKEN);
    QTest::newRow("interactive, no logon flag")
        << int(TASK_LOGON_INTERACTIVE_TOKEN) << false << int(TASK_LOGON_PASSWORD);
}

void tst_settings::flagSetDecidesTheLogonType()
{
    QFETCH(int, before);
    QFETCH(bool, needLogon);
    QFETCH(int, after);

    TTaskItem* item = NewItem();
    OleCheck(PrincipalOf(item)->put_LogonType(static_cast<TASK_LOGON_TYPE>(before)));
    QVERIFY(!item->GetVistaFlags().Contains(tfvNeedLogon) || before == TASK_LOGON_INTERACTIVE_TOKEN);

    TTaskVistaFlags flags = item->GetVistaFlags();
    if (needLogon) {
        flags.Include(tfvNeedLogon);
    } else {
        flags.Exclude(tfvNeedLogon);
    }
    item->SetVistaFlags(flags);
    QCOMPARE(int(LogonTypeOf(item)), after);
}

void tst_settings::singleLogonFlagDecidesTheLogonType()
{
    TTaskItem* item = NewItem();
    OleCheck(PrincipalOf(item)->put_LogonType(TASK_LOGON_SERVICE_ACCOUNT));
    QVERIFY(!item->GetVistaFlag(tfvNeedLogon));
    item->SetVistaFlag(tfvNeedLogon, false);
    QCOMPARE(LogonTypeOf(item), TASK_LOGON_PASSWORD);
    item->SetVistaFlag(tfvNeedLogon, true);
    QCOMPARE(LogonTypeOf(item), TASK_LOGON_INTERACTIVE_TOKEN);
    QVERIFY(item->GetVistaFlag(tfvNeedLogon));
}

void tst_settings::timePropertiesOfANewDefinitionAreTheServiceDefaults()
{
    TTaskItem* item = NewItem();
    QStringList arr(6, QStringLiteral("stale"));
    item->GetTimeProperties(arr);
    const QStringList expected{QStringLiteral("PT72H"), QString(), QStringLiteral("0"),
                               QString(),             QStringLiteral("PT1H"), QStringLiteral("PT10M")};
    QCOMPARE(arr, expected);
}

void tst_settings::timePropertiesRoundTrip()
{
    TTaskItem* item = NewItem();
    const QStringList written{QStringLiteral("PT2H"), QStringLiteral("PT10M"), QStringLiteral("3"),
                              QStringLiteral("P30D"), QStringLiteral("PT5M"), QStringLiteral("PT15M")};
    item->SetTimeProperties(written + QStringList{QStringLiteral("ignored")});
    item->Save();

    // A second connection sees the registered task, not this item's definition.
    TTaskScheduler other;
    other.Open();
    other.SetVistaSelectedFolder(other.VistaRootFolder().Get());
    TTaskItem* listed = other.ActivateTask(item->GetName());
    QVERIFY(listed);
    QVERIFY(listed != item);
    QStringList arr(7, QStringLiteral("kept"));
    listed->GetTimeProperties(arr);
    QCOMPARE(arr, written + QStringList{QStringLiteral("kept")});
}

void tst_settings::timePropertiesGrowAShortList()
{
    TTaskItem* item = NewItem();
    QStringList arr{QStringLiteral("first")};
    item->GetTimeProperties(arr);
    QCOMPARE(arr.size(), 6);
    QCOMPARE(arr.at(0), QStringLiteral("PT72H"));
    QCOMPARE(arr.at(5), QStringLiteral("PT10M"));
}

void tst_settings::restartCountThatIsNoIntegerStopsAfterTwoElements_data()
{
    QTest::addColumn<QString>("count");
    QTest::newRow("letters") << QStringLiteral("abc");
    QTest::newRow("empty") << QString();
    QTest::newRow("trailing letters") << QStringLiteral("12x");
    QTest::newRow("beyond 32 bits") << QStringLiteral("2147483648");
    QTest::newRow("hexadecimal") << QStringLiteral("0x10");
    QTest::newRow("fraction") << QStringLiteral("1.5");
}

void tst_settings::restartCountThatIsNoIntegerStopsAfterTwoElements()
{
    QFETCH(QString, count);

    TTaskItem* item = NewItem();
    const QStringList arr{QStringLiteral("PT4H"), QStringLiteral("PT20M"), count,
                          QStringLiteral("P7D"),  QStringLiteral("PT9M"),  QStringLiteral("PT8M")};
    try {
        item->SetTimeProperties(arr);
        QFAIL("the restart count was accepted");
    } catch (const EConvertError& e) {
        QCOMPARE(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(count));
    }
    QStringList read;
    item->GetTimeProperties(read);
    const QStringList expected{QStringLiteral("PT4H"), QStringLiteral("PT20M"), QStringLiteral("0"),
                               QString(),             QStringLiteral("PT1H"), QStringLiteral("PT10M")};
    QCOMPARE(read, expected);
}

void tst_settings::refusedCountStopsAtItsElement()
{
    TTaskItem* item = NewItem();
    // A negative restart count is the service's to refuse, after the first two elements.
    QVERIFY_THROWS_EXCEPTION(EPlatformError,
                             item->SetTimeProperties({QStringLiteral("PT4H"), QStringLiteral("PT20M"),
                                                      QStringLiteral("-1"), QStringLiteral("P7D"),
                                                      QStringLiteral("PT9M"), QStringLiteral("PT8M")}));
    QStringList read;
    item->GetTimeProperties(read);
    QCOMPARE(read.mid(0, 4), (QStringList{QStringLiteral("PT4H"), QStringLiteral("PT20M"), QStringLiteral("0"), QString()}));
}

void tst_settings::refusedDurationStopsAtItsElement()
{
    TTaskItem* item = NewItem();
    QVERIFY_THROWS_EXCEPTION(EPlatformError,
                             item->SetTimeProperties({QStringLiteral("PT4H"), QStringLiteral("PT20M"),
                                                      QStringLiteral("5"), QStringLiteral("soon"),
                                                      QStringLiteral("PT9M"), QStringLiteral("PT8M")}));
    QStringList read;
    item->GetTimeProperties(read);
    const QStringList expected{QStringLiteral("PT4H"), QStringLiteral("PT20M"), QStringLiteral("5"),
                               QString(),             QStringLiteral("PT1H"), QStringLiteral("PT10M")};
    QCOMPARE(read, expected);
}

void tst_settings::shortListIsRefusedBeforeAnyWrite()
{
    TTaskItem* item = NewItem();
    const QString before = XmlOf(item);
    QVERIFY_THROWS_EXCEPTION(ETaskError, item->SetTimeProperties({QStringLiteral("PT1H"), QStringLiteral("PT1M"),
                                                                 QStringLiteral("1"), QString(), QString()}));
    QCOMPARE(XmlOf(item), before);
}

void tst_settings::compatibilityRead_data()
{
    QTest::addColumn<int>("service");
    QTest::addColumn<int>("expected");
    QTest::newRow("AT") << 0 << int(tcCompatibilityAT);
    QTest::newRow("V1") << 1 << int(tcCompatibilityXP);
    QTest::newRow("V2") << 2 << int(tcCompatibilityVista);
    QTest::newRow("V2_1") << 3 << int(tcCompatibilityWin7);
    QTest::newRow("V2_2") << 4 << int(tcCompatibilityWin10);
    QTest::newRow("V2_3") << 5 << int(tcCompatibilityUnkn1);
    QTest::newRow("V2_4") << 6 << int(tcCompatibilityUnkn2);
    QTest::newRow("unknown level 7") << 7 << int(tcCompatibilityVista);
}

void tst_settings::compatibilityRead()
{
    QFETCH(int, service);
    QFETCH(int, expected);

    TTaskItem* item = NewItem();
    if (service <= TASK_COMPATIBILITY_V2_4) {
        OleCheck(SettingsOf(item)->put_Compatibility(static_cast<TASK_COMPATIBILITY>(service)));
    } else {
        OleCheck(SettingsOf(item)->put_Compatibility(TASK_COMPATIBILITY_V2_4));
        PutSettingThroughDocument(item, QStringLiteral("Compatibility"), TASK_COMPATIBILITY_V2_4, service);
        TASK_COMPATIBILITY stored = TASK_COMPATIBILITY_AT;
        OleCheck(SettingsOf(item)->get_Compatibility(&stored));
        QCOMPARE(int(stored), service);
    }
    QCOMPARE(int(item->GetTaskCompatibility()), expected);
}

void tst_settings::compatibilityWrite()
{
    TTaskItem* item = NewItem();
    for (int n = tcCompatibilityAT; n <= tcCompatibilityUnkn2; ++n) {
        item->SetTaskCompatibility(static_cast<TTaskCompatibility>(n));
        TASK_COMPATIBILITY stored = TASK_COMPATIBILITY_AT;
        OleCheck(SettingsOf(item)->get_Compatibility(&stored));
        QCOMPARE(int(stored), n);
    }
}

void tst_settings::compatibilityNeedsTheNewInterfaceWhenOldIsForced()
{
    TTaskItem* item = NewItem();
    m_f->scheduler->SetUseTaskScheduler1Only(true);
    const QString message =
        QStringLiteral("Use of Task Service 2.0 API is required! (Be sure to set UseTaskScheduler1Only to False)");
    try {
        item->GetTaskCompatibility();
        QFAIL("reading raised nothing");
    } catch (const ETaskError& e) {
        QCOMPARE(e.Message(), message);
    }
    try {
        item->SetTaskCompatibility(tcCompatibilityWin7);
        QFAIL("writing raised nothing");
    } catch (const ETaskError& e) {
        QCOMPARE(e.Message(), message);
    }
    m_f->scheduler->SetUseTaskScheduler1Only(false);
    QCOMPARE(item->GetTaskCompatibility(), tcCompatibilityVista);
}

void tst_settings::instancesPolicy_data()
{
    QTest::addColumn<int>("policy");
    QTest::newRow("parallel") << int(tipParallel);
    QTest::newRow("queue") << int(tipQueue);
    QTest::newRow("ignore new") << int(tipIgnoreNew);
    QTest::newRow("stop existing") << int(tipStopExisting);
}

void tst_settings::instancesPolicy()
{
    QFETCH(int, policy);

    TTaskItem* item = NewItem();
    item->SetTaskInstancesPolicy(static_cast<TTaskInstancesPolicy>(policy));
    TASK_INSTANCES_POLICY stored = TASK_INSTANCES_PARALLEL;
    OleCheck(SettingsOf(item)->get_MultipleInstances(&stored));
    QCOMPARE(int(stored), policy);
    QCOMPARE(int(item->GetTaskInstancesPolicy()), policy);
}

void tst_settings::unknownInstancesPolicyReadsAsIgnoreNew()
{
    TTaskItem* item = NewItem();
    item->SetTaskInstancesPolicy(tipStopExisting);
    PutSettingThroughDocument(item, QStringLiteral("MultipleInstances"), TASK_INSTANCES_STOP_EXISTING, 4);
    TASK_INSTANCES_POLICY stored = TASK_INSTANCES_PARALLEL;
    OleCheck(SettingsOf(item)->get_MultipleInstances(&stored));
    QCOMPARE(int(stored), 4);
    QCOMPARE(item->GetTaskInstancesPolicy(), tipIgnoreNew);
}

void tst_settings::logonType()
{
    TTaskItem* item = NewItem();
    QCOMPARE(item->GetTaskLogonType(), tltInteractiveToken);
    for (int n = tltNone; n <= tltInteractiveTokenOrPassword; ++n) {
        item->SetTaskLogonType(static_cast<TTaskLogonType>(n));
        QCOMPARE(int(LogonTypeOf(item)), n);
        QCOMPARE(int(item->GetTaskLogonType()), n);
        item->SetTaskLogonType(static_cast<TTaskLogonType>(n));
        QCOMPARE(int(LogonTypeOf(item)), n);
    }
}

void tst_settings::logonTypeWrittenOnlyWhenItDiffers()
{
    TTaskItem* item = NewItem();
    // A logon type the principal's setter refuses, held by the document: writing that same
    // value must not reach the setter, writing another one must.
    OleCheck(PrincipalOf(item)->put_LogonType(TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD));
    PutSettingThroughDocument(item, QStringLiteral("LogonType"), TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD, 9);
    QCOMPARE(int(LogonTypeOf(item)), 9);
    QVERIFY_THROWS_EXCEPTION(EPlatformError, OleCheck(PrincipalOf(item)->put_LogonType(static_cast<TASK_LOGON_TYPE>(9))));

    item->SetTaskLogonType(static_cast<TTaskLogonType>(9));
    QCOMPARE(int(LogonTypeOf(item)), 9);
    QCOMPARE(int(item->GetTaskLogonType()), 9);
    item->SetTaskLogonType(tltPassword);
    QCOMPARE(LogonTypeOf(item), TASK_LOGON_PASSWORD);
}

void tst_settings::oldGenerationAnswers_data()
{
    QTest::addColumn<bool>("forced");
    QTest::newRow("1.0 forced") << true;
    QTest::newRow("platform offers 1.0 only") << false;
}

void tst_settings::oldGenerationAnswers()
{
    QFETCH(bool, forced);

    std::optional<OsVersion::ScopedOverride> oldPlatform;
    if (!forced) oldPlatform.emplace(OsVersion(5, 1));
    TTaskScheduler scheduler;
    scheduler.SetUseTaskScheduler1Only(forced);
    QVERIFY(!scheduler.RunningVistaOrLater());
    TTaskItem item(&scheduler);

    QVERIFY(item.GetVistaFlags().IsEmpty());
    item.SetVistaFlags(AllFlags());
    for (int n = 0; n <= tfvNeedLogon; ++n) {
        const auto flag = static_cast<TTaskVistaFlag>(n);
        item.SetVistaFlag(flag, true);
        QVERIFY(!item.GetVistaFlag(flag));
    }

    QStringList arr{QStringLiteral("a"), QStringLiteral("b")};
    item.GetTimeProperties(arr);
    QCOMPARE(arr, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    item.SetTimeProperties({QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("no number")});

    if (forced) {
        QVERIFY_THROWS_EXCEPTION(ETaskError, item.GetTaskCompatibility());
        QVERIFY_THROWS_EXCEPTION(ETaskError, item.SetTaskCompatibility(tcCompatibilityWin10));
    } else {
        QCOMPARE(item.GetTaskCompatibility(), tcCompatibilityXP);
        item.SetTaskCompatibility(tcCompatibilityWin10);
        QCOMPARE(item.GetTaskCompatibility(), tcCompatibilityXP);
    }
    QCOMPARE(item.GetTaskInstancesPolicy(), tipIgnoreNew);
    item.SetTaskInstancesPolicy(tipParallel);
    QCOMPARE(item.GetTaskInstancesPolicy(), tipIgnoreNew);
    QCOMPARE(item.GetTaskLogonType(), tltNone);
    item.SetTaskLogonType(tltPassword);
    QCOMPARE(item.GetTaskLogonType(), tltNone);
}

void tst_settings::missingDefinitionIsNotActivated()
{
    TTaskItem item(m_f->scheduler.get());
    QVERIFY(m_f->scheduler->RunningVistaOrLater());
    const QString message = QStringLiteral("Task \"\" is not activated.");
    const std::function<void()> members[] = {
        [&] { item.GetVistaFlags(); },
        [&] { item.SetVistaFlags({}); },
        [&] { item.GetVistaFlag(tfvEnabled); },
        [&] { item.SetVistaFlag(tfvEnabled, true); },
        [&] { QStringList arr; item.GetTimeProperties(arr); },
        [&] { item.SetTimeProperties(QStringList(6)); },
        [&] { item.GetTaskCompatibility(); },
        [&] { item.SetTaskCompatibility(tcCompatibilityWin7); },
        [&] { item.GetTaskInstancesPolicy(); },
        [&] { item.SetTaskInstancesPolicy(tipQueue); },
        [&] { item.GetTaskLogonType(); },
        [&] { item.SetTaskLogonType(tltPassword); },
    };
    for (const auto& member : members) {
        try {
            member();
            QFAIL("a member without a definition raised nothing");
        } catch (const ETaskError& e) {
            QCOMPARE(e.Message(), message);
        }
    }
}

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
