// Window placements in the per-user registry.

#include "Exceptions.h"
#include "Registry.h"
#include "TtvFormStorage.h"

#include <QApplication>
#include <QScreen>
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
    void fitPlacement_data();
    void fitPlacement();
    void windowOffEveryScreenComesBackOnThePrimary();

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

void TestFormStorage::fitPlacement_data()
{
    // Two monitors side by side, the primary one first; its bottom 40 pixels are a panel.
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("restored");
    const QList<QRect> one{QRect(0, 0, 1920, 1040)};
    const QList<QRect> two{QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
    QTest::newRow("inside a screen: exactly as stored") << one << QRect(120, 80, 901, 511) << QRect(120, 80, 901, 511);
    QTest::newRow("filling the screen") << one << QRect(0, 0, 1920, 1040) << QRect(0, 0, 1920, 1040);
    QTest::newRow("maximised with the frame outside the screen")
        << one << QRect(-4, -4, 1928, 1052) << QRect(0, 0, 1920, 1040);
    QTest::newRow("bottom below the panel") << one << QRect(300, 700, 800, 500) << QRect(300, 540, 800, 500);
    QTest::newRow("on the second monitor") << two << QRect(2000, 100, 800, 600) << QRect(2000, 100, 800, 600);
    QTest::newRow("second monitor gone: nearest place on the primary")
        << one << QRect(2000, 100, 800, 600) << QRect(1120, 100, 800, 600);
    QTest::newRow("left of every screen") << two << QRect(-3000, 50, 800, 600) << QRect(0, 50, 800, 600);
    QTest::newRow("mostly on the second monitor")
        << two << QRect(1700, 100, 800, 600) << QRect(1920, 100, 800, 600);
    QTest::newRow("larger than the second monitor")
        << two << QRect(2000, 0, 1600, 1200) << QRect(1920, 0, 1280, 1024);
    QTest::newRow("no screens known") << QList<QRect>{} << QRect(5, 5, 10, 10) << QRect(5, 5, 10, 10);
}

void TestFormStorage::fitPlacement()
{
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, stored);
    QFETCH(QRect, restored);
    QCOMPARE(TtvFormStorage::FitPlacement(stored, screens), restored);
}

void TestFormStorage::windowOffEveryScreenComesBackOnThePrimary()
{
    {
        Registry reg;
        QVERIFY(reg.OpenKey(QStringLiteral("Software\\Maker\\Probe App\\TProbeForm"), true));
        reg.WriteInteger(QStringLiteral("Left"), 50000);
        reg.WriteInteger(QStringLiteral("Top"), 40);
        reg.WriteInteger(QStringLiteral("Width"), 300);
        reg.WriteInteger(QStringLiteral("Height"), 200);
    }
    TtvFormStorage storage(QStringLiteral("Software\\Maker"));
    TProbeForm form;
    form.show();
    storage.ReadFormPlacement(&form);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(form.frameGeometry(), QRect(screen.left() + screen.width() - 300, screen.top() + 40, 300, 200));
    // Stored again, the placement is the one shown: the round trip changes nothing more.
    storage.WriteFormPlacement(&form);
    TProbeForm again;
    again.show();
    storage.ReadFormPlacement(&again);
    QCOMPARE(again.frameGeometry(), form.frameGeometry());
}

QTEST_MAIN(TestFormStorage)
#include "tst_formstorage.moc"
