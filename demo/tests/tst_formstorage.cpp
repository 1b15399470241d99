// Window placements in the per-user registry.

#include "Exceptions.h"
#include "Registry.h"
#include "TtvFormStorage.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

class TProbeForm : public QWidget {
    Q_OBJECT
};

class TestFormStorage : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void basePath_data();
    void basePath();
    void nullWindowIsIgnored();
    void firstStartKeepsTheDesignPlacement();
    void maximisedWindowComesBackNormalAtItsBounds();
    void damagedKeyAppliesWhatItCanRead();

private:
    std::unique_ptr<QTemporaryDir> m_config;
};

void TestFormStorage::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
    QApplication::setApplicationDisplayName(QStringLiteral("Probe App"));
}

void TestFormStorage::cleanup()
{
    qunsetenv("XDG_CONFIG_HOME");
}

void TestFormStorage::basePath_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("key");
    QTest::newRow("without backslash") << "Software\\Maker" << "Software\\Maker\\" << "Software\\Maker\\Probe App\\TProbeForm";
    QTest::newRow("with backslash") << "Software\\Maker\\" << "Software\\Maker\\" << "Software\\Maker\\Probe App\\TProbeForm";
    QTest::newRow("empty") << "" << "" << "Probe App\\TProbeForm";
}

void TestFormStorage::basePath()
{
    QFETCH(QString, given);
    QFETCH(QString, base);
    QFETCH(QString, key);
    TtvFormStorage storage(given);
    QCOMPARE(storage.BasePath(), base);
    TProbeForm form;
    form.setGeometry(10, 20, 300, 200);
    storage.WriteFormPlacement(&form);
    Registry reg;
    QVERIFY(reg.OpenKey(key, false));
    QCOMPARE(reg.GetValueNames(), (QStringList{"Left", "Top", "Width", "Height"}));
    QCOMPARE(reg.ReadInteger(QStringLiteral("Width")), form.frameGeometry().width());
}

void TestFormStorage::nullWindowIsIgnored()
{
    TtvFormStorage storage(QStringLiteral("Software\\Maker"));
    storage.WriteFormPlacement(nullptr);
    storage.ReadFormPlacement(nullptr);
    QVERIFY(!Registry().KeyExists(QStringLiteral("Software")));
}

void TestFormStorage::firstStartKeepsTheDesignPlacement()
{
    TtvFormStorage storage(QStringLiteral("Software\\Maker"));
    TProbeForm form;
    form.setGeometry(15, 25, 350, 250);
    const QRect design = form.geometry();
    storage.ReadFormPlacement(&form);
    QCOMPARE(form.geometry(), design);
    QVERIFY(!Registry().KeyExists(QStringLiteral("Software\\Maker\\Probe App\\TProbeForm")));
}

void TestFormStorage::maximisedWindowComesBackNormalAtItsBounds()
{
    TtvFormStorage storage(QStringLiteral("Software\\Maker"));
    QRect maximised;
    {
        TProbeForm form;
        form.showMaximized();
        QTRY_VERIFY(form.isMaximized());
        maximised = form.frameGeometry();
        storage.WriteFormPlacement(&form);
    }
    TProbeForm next;
    next.setGeometry(0, 0, 100, 100);
    storage.ReadFormPlacement(&next);
    next.show();
    QVERIFY(!next.isMaximized());
    QCOMPARE(next.frameGeometry().size(), maximised.size());
    QCOMPARE(next.frameGeometry().topLeft(), maximised.topLeft());
}

void TestFormStorage::damagedKeyAppliesWhatItCanRead()
{
    {
        Registry reg;
        QVERIFY(reg.OpenKey(QStringLiteral("Software\\Maker\\Probe App\\TProbeForm"), true));
        reg.WriteInteger(QStringLiteral("Left"), 70);
        reg.WriteString(QStringLiteral("Top"), QStringLiteral("high"));
    }
    TtvFormStorage storage(QStringLiteral("Software\\Maker"));
    TProbeForm form;
    form.setGeometry(5, 6, 200, 100);
    try {
        storage.ReadFormPlacement(&form);
        QFAIL("the damaged key was read");
    } catch (const ERegistryError& e) {
        QCOMPARE(e.Message(), QStringLiteral("Invalid data type for 'Top'"));
    }
    QCOMPARE(form.x(), 70);
    QCOMPARE(form.size(), QSize(200, 100));
}

QTEST_MAIN(TestFormStorage)
#include "tst_formstorage.moc"
