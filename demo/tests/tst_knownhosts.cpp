// The computers offered by the target dialog, and the program paths with variables.

#include "EnvironmentText.h"
#include "KnownHosts.h"
#include "TTargetComputerDialog.h"

#include <QLineEdit>
#include <QListWidget>
#include <QtTest>

class TestKnownHosts : public QObject {
    Q_OBJECT

private slots:
    void hostsFromSshConfigAndHostsFile();
    void unreadableFilesAddNothing();
    void dialogTakesAPickedOrTypedName();
    void expandEnvironment_data();
    void expandEnvironment();
};

void TestKnownHosts::hostsFromSshConfigAndHostsFile()
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config"));
    const QString hosts = dir.filePath(QStringLiteral("hosts"));
    {
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# my machines\n"
                   "Host build-server  backup\n"
                   "    HostName 10.1.2.3\n"
                   "Host *.internal !secret gate?\n"
                   "host=Office # set off by an equals sign\n"
                   "Match host anything\n");
    }
    {
        QFile file(hosts);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("127.0.0.1\tlocalhost\n"
                   "::1 localhost ip6-localhost # loopback\n"
                   "# 10.0.0.9 commented-out\n"
                   "192.0.2.7 BACKUP files.example\n");
    }
    QCOMPARE(KnownHosts::Read(config, hosts),
             (QStringList{"backup", "build-server", "files.example", "ip6-localhost", "localhost", "Office"}));
}

void TestKnownHosts::unreadableFilesAddNothing()
{
    QCOMPARE(KnownHosts::Read(QStringLiteral("/nonexistent/config"), QStringLiteral("/nonexistent/hosts")), QStringList());
}

void TestKnownHosts::dialogTakesAPickedOrTypedName()
{
    TTargetComputerDialog dialog(QStringLiteral("Choose"), {QStringLiteral("alpha"), QStringLiteral("beta")});
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("edComputer"));
    auto* list = dialog.findChild<QListWidget*>(QStringLiteral("lvHosts"));
    QCOMPARE(list->count(), 2);
    list->setCurrentRow(1);
    QCOMPARE(dialog.Computer(), QStringLiteral("beta"));
    edit->setText(QStringLiteral("  typed.example  "));
    QCOMPARE(dialog.Computer(), QStringLiteral("typed.example"));
}

void TestKnownHosts::expandEnvironment_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expanded");
    QTest::newRow("plain") << "/usr/bin/true" << "/usr/bin/true";
    QTest::newRow("bare name") << "$DEMO_DIR/run" << "/opt/demo/run";
    QTest::newRow("braced") << "${DEMO_DIR}x/run" << "/opt/demox/run";
    QTest::newRow("unset stays") << "$DEMO_UNSET/run" << "$DEMO_UNSET/run";
    QTest::newRow("lone dollar") << "price$ 5$" << "price$ 5$";
    QTest::newRow("twice") << "$DEMO_DIR:$DEMO_DIR" << "/opt/demo:/opt/demo";
}

void TestKnownHosts::expandEnvironment()
{
    QFETCH(QString, text);
    QFETCH(QString, expanded);
    qputenv("DEMO_DIR", "/opt/demo");
    qunsetenv("DEMO_UNSET");
    QCOMPARE(ExpandEnvironmentText(text), expanded);
    qunsetenv("DEMO_DIR");
}

QTEST_MAIN(TestKnownHosts)
#include "tst_knownhosts.moc"
