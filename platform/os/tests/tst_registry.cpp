// The registry over files: keys, typed values, their errors, and the store's safety.

#include "Exceptions.h"
#include "Registry.h"

#include <QtTest>
#include <memory>

class TestRegistry : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void valuesSurviveTheObject();
    void readErrors_data();
    void readErrors();
    void openWithoutCreateLeavesTheStoreAlone();
    void openCreatesMissingParents();
    void namesIgnoreCaseAndKeepTheirCase();
    void pathForms_data();
    void pathForms();
    void damagedStoreIsNeverOverwritten();
    void writersDoNotLoseEachOthersValues();
    void deleteKeyAndValue();
    void rootsAreSeparateStores();

private:
    QString StoreFile() const { return Registry::StoreFilePath(HKEY_CURRENT_USER); }

    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QTemporaryDir> m_machine;
};

void TestRegistry::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    m_machine = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
    qputenv("TASKSCHEDULER_MACHINE_CONFIG", m_machine->path().toLocal8Bit());
}

void TestRegistry::cleanup()
{
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("TASKSCHEDULER_MACHINE_CONFIG");
}

void TestRegistry::valuesSurviveTheObject()
{
    QVERIFY(StoreFile().startsWith(m_config->path() + QStringLiteral("/taskscheduler/")));
    {
        Registry reg;
        QVERIFY(reg.OpenKey(QStringLiteral("Software\\Maker\\Product"), true));
        reg.WriteInteger(QStringLiteral("Left"), -120);
        reg.WriteInteger(QStringLiteral("Big"), 2147483647);
        reg.WriteString(QStringLiteral("Title"), QStringLiteral("Grüße \"quoted\""));
        reg.WriteInteger(QStringLiteral("Left"), 40);
    }
    Registry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("Software\\Maker\\Product"), false));
    QCOMPARE(reg.ReadInteger(QStringLiteral("Left")), 40);
    QCOMPARE(reg.ReadInteger(QStringLiteral("Big")), 2147483647);
    QCOMPARE(reg.ReadString(QStringLiteral("Title")), QStringLiteral("Grüße \"quoted\""));
    QCOMPARE(reg.GetDataType(QStringLiteral("Left")), rdInteger);
    QCOMPARE(reg.GetDataType(QStringLiteral("Title")), rdString);
    QCOMPARE(reg.GetDataType(QStringLiteral("None")), rdUnknown);
    QCOMPARE(reg.GetValueNames(), (QStringList{QStringLiteral("Left"), QStringLiteral("Big"), QStringLiteral("Title")}));
}

void TestRegistry::readErrors_data()
{
    QTest::addColumn<bool>("readInteger");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("integer missing") << true << "Height" << "Failed to get data for 'Height'";
    QTest::newRow("integer holds a string") << true << "Text" << "Invalid data type for 'Text'";
    QTest::newRow("string missing") << false << "Other" << "Failed to get data for 'Other'";
    QTest::newRow("string holds an integer") << false << "Number" << "Invalid data type for 'Number'";
}

void TestRegistry::readErrors()
{
    QFETCH(bool, readInteger);
    QFETCH(QString, name);
    QFETCH(QString, message);
    Registry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("Software\\Errors"), true));
    reg.WriteString(QStringLiteral("Text"), QStringLiteral("12"));
    reg.WriteInteger(QStringLiteral("Number"), 12);
    try {
        if (readInteger)
            reg.ReadInteger(name);
        else
            reg.ReadString(name);
        QFAIL("the read did not fail");
    } catch (const ERegistryError& e) {
        QCOMPARE(e.Message(), message);
    }
}

void TestRegistry::openWithoutCreateLeavesTheStoreAlone()
{
    Registry reg;
    QVERIFY(!reg.OpenKey(QStringLiteral("Software\\Missing"), false));
    QVERIFY(!reg.OpenKeyReadOnly(QStringLiteral("Software\\Missing")));
    QVERIFY(!QFile::exists(StoreFile()));
    QCOMPARE(reg.CurrentPath(), QString());
}

void TestRegistry::openCreatesMissingParents()
{
    Registry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("A\\B\\C"), true));
    QCOMPARE(reg.CurrentPath(), QStringLiteral("A\\B\\C"));
    QVERIFY(reg.KeyExists(QStringLiteral("A")));
    QVERIFY(reg.KeyExists(QStringLiteral("A\\B")));
    QVERIFY(reg.OpenKey(QStringLiteral("A"), false));
    QCOMPARE(reg.GetKeyNames(), QStringList{QStringLiteral("B")});
    QVERIFY(reg.GetValueNames().isEmpty());
}

void TestRegistry::namesIgnoreCaseAndKeepTheirCase()
{
    Registry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("Software\\Talvera"), true));
    reg.WriteInteger(QStringLiteral("Width"), 5);
    QVERIFY(reg.OpenKey(QStringLiteral("SOFTWARE\\talvera"), true));
    QCOMPARE(reg.ReadInteger(QStringLiteral("WIDTH")), 5);
    reg.WriteInteger(QStringLiteral("width"), 6);
    QCOMPARE(reg.GetValueNames(), QStringList{QStringLiteral("width")});
    QVERIFY(reg.OpenKey(QStringLiteral("software"), false));
    QCOMPARE(reg.GetKeyNames(), QStringList{QStringLiteral("Talvera")});
}

void TestRegistry::pathForms_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "X\\Y" << true;
    QTest::newRow("leading backslash") << "\\X\\Y" << true;
    QTest::newRow("trailing backslash") << "X\\Y\\" << true;
    QTest::newRow("root") << "" << true;
    QTest::newRow("empty component") << "X\\\\Y" << false;
    QTest::newRow("only backslashes") << "\\\\\\" << false;
}

void TestRegistry::pathForms()
{
    QFETCH(QString, path);
    QFETCH(bool, valid);
    Registry reg;
    QCOMPARE(reg.OpenKey(path, true), valid);
    if (valid && !path.isEmpty()) {
        QCOMPARE(reg.CurrentPath(), QStringLiteral("X\\Y"));
        QVERIFY(reg.KeyExists(QStringLiteral("x\\y")));
    }
}

void TestRegistry::damagedStoreIsNeverOverwritten()
{
    QVERIFY(QDir().mkpath(QFileInfo(StoreFile()).absolutePath()));
    const QByteArray damaged = "{\"keys\": [ {\"name\": \"Soft";
    {
        QFile file(StoreFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(damaged);
    }
    Registry reg;
    QVERIFY(!reg.OpenKey(QStringLiteral("Software"), true));
    QVERIFY(!reg.KeyExists(QStringLiteral("Software")));
    QVERIFY_THROWS_EXCEPTION(ERegistryError, reg.WriteInteger(QStringLiteral("Left"), 1));
    QVERIFY(!reg.DeleteKey(QStringLiteral("Software")));
    QFile file(StoreFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), damaged);
}

void TestRegistry::writersDoNotLoseEachOthersValues()
{
    Registry first;
    Registry second;
    QVERIFY(first.OpenKey(QStringLiteral("Shared"), true));
    QVERIFY(second.OpenKey(QStringLiteral("Shared"), true));
    first.WriteInteger(QStringLiteral("One"), 1);
    second.WriteInteger(QStringLiteral("Two"), 2);
    first.WriteInteger(QStringLiteral("Three"), 3);
    Registry reader;
    QVERIFY(reader.OpenKey(QStringLiteral("Shared"), false));
    QCOMPARE(reader.ReadInteger(QStringLiteral("One")), 1);
    QCOMPARE(reader.ReadInteger(QStringLiteral("Two")), 2);
    QCOMPARE(reader.ReadInteger(QStringLiteral("Three")), 3);
    QVERIFY(!QFile::exists(StoreFile() + QStringLiteral(".lock")));
}

void TestRegistry::deleteKeyAndValue()
{
    Registry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("Top\\Inner"), true));
    reg.WriteInteger(QStringLiteral("V"), 1);
    QVERIFY(reg.DeleteValue(QStringLiteral("v")));
    QVERIFY(!reg.DeleteValue(QStringLiteral("v")));
    QVERIFY(!reg.ValueExists(QStringLiteral("V")));
    QVERIFY(!reg.DeleteKey(QString()));
    QVERIFY(reg.DeleteKey(QStringLiteral("TOP")));
    QCOMPARE(reg.CurrentPath(), QString());
    QVERIFY(!reg.KeyExists(QStringLiteral("Top\\Inner")));
    QVERIFY(!reg.KeyExists(QStringLiteral("Top")));
    QVERIFY(!reg.DeleteKey(QStringLiteral("Top")));
}

void TestRegistry::rootsAreSeparateStores()
{
    Registry user(HKEY_CURRENT_USER);
    QVERIFY(user.OpenKey(QStringLiteral("Software\\Only"), true));
    Registry machine(HKEY_LOCAL_MACHINE);
    QVERIFY(!machine.KeyExists(QStringLiteral("Software\\Only")));
    QVERIFY(machine.OpenKey(QStringLiteral("SOFTWARE\\Profiles\\1"), true));
    machine.WriteString(QStringLiteral("ProfileName"), QStringLiteral("Office"));
    QVERIFY(QFile::exists(m_machine->path() + QStringLiteral("/HKEY_LOCAL_MACHINE.json")));
    user.SetRootKey(HKEY_LOCAL_MACHINE);
    QCOMPARE(user.CurrentPath(), QString());
    QVERIFY(user.OpenKeyReadOnly(QStringLiteral("SOFTWARE\\Profiles\\1")));
    QCOMPARE(user.ReadString(QStringLiteral("ProfileName")), QStringLiteral("Office"));
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
