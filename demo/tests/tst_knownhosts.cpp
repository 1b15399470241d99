// The computers the target dialog offers, and the program paths with variables.

#include "EnvironmentText.h"
#include "KnownHosts.h"

#include <QtTest>

class TestKnownHosts : public QObject {
    Q_OBJECT

private slots:
    void hostsFromSshConfigAndKnownHosts();
    void unreadableFilesAddNothing();
    void expandEnvironment_data();
    void expandEnvironment();
};

void TestKnownHosts::hostsFromSshConfigAndKnownHosts()
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config"));
    const QString known = dir.filePath(QStringLiteral("known_hosts"));
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
        QFile file(known);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("files.example,192.0.2.7 ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIExample\n"
                   "|1|F1E1KeoE/eEWhi10WpGv4OdiO6Y=|3988QV0VE8wmZL7suNrYQLITLCg= ssh-rsa AAAAB3Nza\n"
                   "[BACKUP]:2222 ecdsa-sha2-nistp256 AAAAE2VjZHNh\n"
                   "# old-box ssh-rsa AAAA\n"
                   "@cert-authority *.corp.example ssh-rsa AAAAB3Nza\n"
                   "@revoked stolen.example ssh-rsa AAAAB3Nza\n"
                   "*.lab,!lab-gate lab-?? ssh-rsa AAAAB3Nza\n"
                   "\n");
    }
    QCOMPARE(KnownHosts::Read(config, known),
             (QStringList{"192.0.2.7", "backup", "build-server", "files.example", "Office"}));
}

void TestKnownHosts::unreadableFilesAddNothing()
{
    QCOMPARE(KnownHosts::Read(QStringLiteral("/nonexistent/config"), QStringLiteral("/nonexistent/known_hosts")), QStringList());
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
