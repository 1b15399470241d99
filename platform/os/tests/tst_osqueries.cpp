// The operating system queries: version (with its test overrides), administrator test and
// the current user's logon name.

#include "AdminCheck.h"
#include "OsVersion.h"
#include "TemporaryServiceRoot.h"
#include "UserAccount.h"

#include <QtTest>
#include <pwd.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::optional<OsVersion>)

namespace {
// Sets or clears TASKSCHEDULER_OS_VERSION for one test.
class VersionVariable {
public:
    explicit VersionVariable(const QByteArray& value)
        : m_previous(qgetenv("TASKSCHEDULER_OS_VERSION")), m_hadPrevious(qEnvironmentVariableIsSet("TASKSCHEDULER_OS_VERSION"))
    {
        if (value.isNull())
            qunsetenv("TASKSCHEDULER_OS_VERSION");
        else
            qputenv("TASKSCHEDULER_OS_VERSION", value);
    }
    ~VersionVariable()
    {
        if (m_hadPrevious)
            qputenv("TASKSCHEDULER_OS_VERSION", m_previous);
        else
            qunsetenv("TASKSCHEDULER_OS_VERSION");
    }

private:
    QByteArray m_previous;
    bool m_hadPrevious;
};
} // namespace

class TestOsQueries : public QObject {
    Q_OBJECT

private slots:
    void parseVersion_data();
    void parseVersion();
    void versionFromEnvironment_data();
    void versionFromEnvironment();
    void versionOverrideWins();
    void administratorTest();
    void logonNameIsTheEffectiveUser();

private:
    TemporaryServiceRoot m_root;
};

void TestOsQueries::parseVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<OsVersion>>("version");
    QTest::newRow("major.minor") << u"5.1"_qs << std::optional(OsVersion(5, 1));
    QTest::newRow("major only") << u"6"_qs << std::optional(OsVersion(6, 0));
    QTest::newRow("two digits") << u"10.0"_qs << std::optional(OsVersion(10, 0));
    QTest::newRow("blanks around") << u"  6.2 "_qs << std::optional(OsVersion(6, 2));
    QTest::newRow("empty") << QString() << std::optional<OsVersion>();
    QTest::newRow("letters") << u"six"_qs << std::optional<OsVersion>();
    QTest::newRow("empty minor") << u"6."_qs << std::optional<OsVersion>();
    QTest::newRow("empty major") << u".1"_qs << std::optional<OsVersion>();
    QTest::newRow("three parts") << u"6.1.7601"_qs << std::optional<OsVersion>();
    QTest::newRow("negative") << u"-6.1"_qs << std::optional<OsVersion>();
    QTest::newRow("blank inside") << u"6 .1"_qs << std::optional<OsVersion>();
    QTest::newRow("too long to be a version") << u"99999999999.0"_qs << std::optional<OsVersion>();
}

void TestOsQueries::parseVersion()
{
    QFETCH(QString, text);
    QFETCH(std::optional<OsVersion>, version);
    QCOMPARE(OsVersion::Parse(text), version);
}

void TestOsQueries::versionFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("warns");
    QTest::newRow("unset") << QByteArray() << 6 << 1 << false;
    QTest::newRow("empty") << QByteArray("") << 6 << 1 << false;
    QTest::newRow("generation 1.0 only") << QByteArray("5.1") << 5 << 1 << false;
    QTest::newRow("newer") << QByteArray("10.0") << 10 << 0 << false;
    QTest::newRow("unreadable") << QByteArray("five") << 6 << 1 << true;
}

void TestOsQueries::versionFromEnvironment()
{
    QFETCH(QByteArray, variable);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, warns);
    const VersionVariable scope(variable);
    if (warns) QTest::ignoreMessage(QtWarningMsg, QRegularExpression("TASKSCHEDULER_OS_VERSION=\"five\""));
    QCOMPARE(OsVersion::Current(), OsVersion(major, minor));
}

void TestOsQueries::versionOverrideWins()
{
    const VersionVariable variable("5.1");
    {
        const OsVersion::ScopedOverride outer({6, 0});
        QCOMPARE(OsVersion::Current(), OsVersion(6, 0));
        {
            const OsVersion::ScopedOverride inner({4, 0});
            QCOMPARE(OsVersion::Current(), OsVersion(4, 0));
        }
        QCOMPARE(OsVersion::Current(), OsVersion(6, 0));
    }
    QVERIFY(!OsVersion::Override());
    QCOMPARE(OsVersion::Current(), OsVersion(5, 1));
    OsVersion::SetOverride(OsVersion(7, 0));
    QCOMPARE(OsVersion::Current(), OsVersion(7, 0));
    OsVersion::SetOverride(std::nullopt);
    QCOMPARE(OsVersion::Current(), OsVersion(5, 1));
}

void TestOsQueries::administratorTest()
{
    const bool superuser = geteuid() == 0;
    QCOMPARE(AdminCheck::IsAdministrator(), superuser);
    {
        const AdminCheck::ScopedOverride outer(!superuser);
        QCOMPARE(AdminCheck::IsAdministrator(), !superuser);
        {
            const AdminCheck::ScopedOverride inner(superuser);
            QCOMPARE(AdminCheck::IsAdministrator(), superuser);
        }
        QCOMPARE(AdminCheck::IsAdministrator(), !superuser);
    }
    QVERIFY(!AdminCheck::Override());
    QCOMPARE(AdminCheck::IsAdministrator(), superuser);
}

void TestOsQueries::logonNameIsTheEffectiveUser()
{
    const QString name = UserAccount::CurrentLogonName();
    QVERIFY(!name.isEmpty());
    const passwd* entry = getpwnam(name.toLocal8Bit().constData());
    QVERIFY(entry);
    QCOMPARE(entry->pw_uid, geteuid());
}

QTEST_GUILESS_MAIN(TestOsQueries)
#include "tst_osqueries.moc"
