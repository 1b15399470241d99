// The main window's placement under a real window manager: an X server without a screen
// (Xvfb) and openbox, both started here, and the window shown there by placement_probe.
// Offscreen every frame is known at once; a window manager frames the window only after it
// is shown, and that is where placements used to drift.

#include "Registry.h"
#include "TemporaryServiceRoot.h"
#include "TtvFormStorage.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kPlacementKey = QStringLiteral("Software\\Talvera\\Task Scheduler\\Task Scheduler Demo\\TMainForm");

/// Ends `AProcess` if it runs: a termination request, then a kill.
void End(QProcess& AProcess)
{
    if (AProcess.state() == QProcess::NotRunning) return;
    AProcess.terminate();
    if (!AProcess.waitForFinished(5000)) {
        AProcess.kill();
        AProcess.waitForFinished(5000);
    }
}

/// The rectangle of the printed line starting with `AWhat`, or a null one.
QRect PrintedRect(const QString& AOutput, const QString& AWhat)
{
    for (const QString& line : AOutput.split(QLatin1Char('\n'))) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() == 5 && parts.first() == AWhat)
            return QRect(parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt());
    }
    return {};
}

} // namespace

class TestPlacement : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();

private:
    /// Runs the probe with `AArguments`; its output, or empty when it failed.
    QString RunProbe(const QStringList& AArguments);
    void Store(const QRect& AOuter);
    QRect Stored();

    QProcess m_server;
    QProcess m_manager;
    QString m_display;
    QTemporaryDir m_managerConfig;
    std::unique_ptr<TemporaryServiceRoot> m_root;
    std::unique_ptr<QTemporaryDir> m_config;
};

void TestPlacement::initTestCase()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    const QString xprop = QStandardPaths::findExecutable(QStringLiteral("xprop"));
    if (xvfb.isEmpty() || openbox.isEmpty() || xprop.isEmpty())
        QSKIP("Xvfb, openbox and xprop are needed (scripts/setup.sh installs them); placement under a window manager is not tried");

    // The server picks a free display itself and tells its number.
    m_server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                          QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY2(m_server.waitForStarted(10000), "Xvfb does not start");
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine() || m_server.state() == QProcess::NotRunning, 20000);
    const QString number = QString::fromLatin1(m_server.readLine()).trimmed();
    QVERIFY2(!number.isEmpty(), qPrintable(QString::fromLocal8Bit(m_server.readAllStandardError())));
    m_display = QLatin1Char(':') + number;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_managerConfig.path());
    m_manager.setProcessEnvironment(env);
    m_manager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_manager.start(openbox, {QStringLiteral("--sm-disable")});
    QVERIFY2(m_manager.waitForStarted(10000), "openbox does not start");
    // A window manager announces itself on the root window once it manages the screen.
    const auto managing = [&] {
        QProcess query;
        query.setProcessEnvironment(env);
        query.start(xprop, {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        query.waitForFinished(5000);
        return query.readAllStandardOutput().contains("window id");
    };
    QTRY_VERIFY_WITH_TIMEOUT(managing(), 20000);
}

void TestPlacement::cleanupTestCase()
{
    End(m_manager);
    End(m_server);
}

void TestPlacement::init()
{
    m_root = std::make_unique<TemporaryServiceRoot>();
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
}

QString TestPlacement::RunProbe(const QStringList& AArguments)
{
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("TASKSCHEDULER_TRANSPORT"), QStringLiteral("inprocess"));
    probe.setProcessEnvironment(env);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QCoreApplication::applicationDirPath() + QStringLiteral("/placement_probe"), AArguments);
    if (!probe.waitForFinished(60000)) {
        End(probe);
        qWarning("the probe did not end");
        return {};
    }
    const QString output = QString::fromLocal8Bit(probe.readAllStandardOutput());
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        qWarning("the probe failed (%d): %s", probe.exitCode(), qPrintable(output));
        return {};
    }
    return output;
}

void TestPlacement::Store(const QRect& AOuter)
{
    Registry reg;
    QVERIFY(reg.OpenKey(kPlacementKey, true));
    reg.WriteInteger(QStringLiteral("Left"), AOuter.x());
    reg.WriteInteger(QStringLiteral("Top"), AOuter.y());
    reg.WriteInteger(QStringLiteral("Width"), AOuter.width());
    reg.WriteInteger(QStringLiteral("Height"), AOuter.height());
}

QRect TestPlacement::Stored()
{
    Registry reg;
    if (!reg.OpenKey(kPlacementKey, false)) return {};
    return QRect(reg.ReadInteger(QStringLiteral("Left")), reg.ReadInteger(QStringLiteral("Top")),
                 reg.ReadInteger(QStringLiteral("Width")), reg.ReadInteger(QStringLiteral("Height")));
}

void TestPlacement::roundTrip_data()
{
    // What the window was closed with is stored; the next start shows it again (on the screen)
    // and, closed untouched, stores exactly that: nothing drifts from one start to the next.
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QStringList>("action");
    QTest::newRow("normal") << QRect(150, 130, 642, 505) << QStringList{"show"};
    QTest::newRow("moved partly off the screen") << QRect(150, 130, 642, 505) << QStringList{"move", "700", "500"};
    QTest::newRow("closed maximised") << QRect(150, 130, 642, 505) << QStringList{"maximise"};
    QTest::newRow("on a monitor that is gone") << QRect(1700, 100, 642, 505) << QStringList{"show"};
    QTest::newRow("larger than the screen") << QRect(-40, -30, 1200, 900) << QStringList{"show"};
}

void TestPlacement::roundTrip()
{
    QFETCH(QRect, stored);
    QFETCH(QStringList, action);
    Store(stored);

    const QString first = RunProbe(action);
    QVERIFY(!first.isEmpty());
    const QRect screen = PrintedRect(first, QStringLiteral("screen"));
    QCOMPARE(PrintedRect(first, QStringLiteral("shown")), TtvFormStorage::FitPlacement(stored, {screen}));
    const QRect closed = PrintedRect(first, QStringLiteral("closed"));
    if (action.first() == QLatin1String("move")) QCOMPARE(closed.topLeft(), QPoint(action[1].toInt(), action[2].toInt()));
    QCOMPARE(Stored(), closed);

    const QString next = RunProbe({QStringLiteral("show")});
    QVERIFY(!next.isEmpty());
    const QRect shown = PrintedRect(next, QStringLiteral("shown"));
    QCOMPARE(shown, TtvFormStorage::FitPlacement(closed, {screen}));
    QVERIFY2(screen.contains(shown), "the window came back partly off the screen");
    QCOMPARE(Stored(), shown);
}

QTEST_GUILESS_MAIN(TestPlacement)
#include "tst_placement.moc"
