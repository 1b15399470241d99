// Reaching another computer's service through ssh: the command line handed to ssh, what its
// failures are told as, and the transport over a stand-in for ssh that runs the remote end
// (or fails) on this machine.

#include "DaemonProtocol.h"
#include "ResultCodes.h"
#include "SshCommand.h"
#include "SshFailure.h"
#include "SshTransport.h"
#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QtTest>
#include <csignal>
#include <unistd.h>

namespace {

const QCborMap kPing{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}};

/// Sets TASKSCHEDULER_SSH (and optionally the configuration variable) for one test.
class SshVariables {
public:
    explicit SshVariables(const QString& program, const QString& config = {})
    {
        qputenv("TASKSCHEDULER_SSH", program.toLocal8Bit());
        if (config.isEmpty())
            qunsetenv("TASKSCHEDULER_SSH_CONFIG");
        else
            qputenv("TASKSCHEDULER_SSH_CONFIG", config.toLocal8Bit());
    }
    ~SshVariables()
    {
        qunsetenv("TASKSCHEDULER_SSH");
        qunsetenv("TASKSCHEDULER_SSH_CONFIG");
    }
};

// The live children of this test that run `program`.
QList<pid_t> LiveChildren(const QByteArray& program)
{
    QList<pid_t> live;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < 0) continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == program && fields.size() > 1 && fields.at(0) != "Z"
            && fields.at(1).toLongLong() == ::getpid())
            live.append(pid_t(entry.toLongLong()));
    }
    return live;
}

} // namespace

class TestSshTransport : public QObject {
    Q_OBJECT

private slots:
    void commandLine();
    void hostNames_data();
    void hostNames();
    void failures_data();
    void failures();
    void failingStandIns_data();
    void failingStandIns();
    void remoteEndServesAndIsReachedAgain();
};

void TestSshTransport::commandLine()
{
    {
        SshVariables vars{QString()};
        const QStringList command = SshCommand::For(QStringLiteral("server"));
        QCOMPARE(command.first(), QStringLiteral("ssh"));
        QVERIFY(command.contains(QStringLiteral("BatchMode=yes")));
        QVERIFY(command.contains(QStringLiteral("ConnectTimeout=%1").arg(SshCommand::ConnectTimeoutSeconds)));
        QVERIFY(!command.contains(QStringLiteral("-F")));
        QVERIFY(!command.contains(QStringLiteral("-l")));
        // Nothing after the host can be taken for an option of ssh.
        QCOMPARE(command.mid(command.size() - 4), (QStringList{"--", "server", "taskschedd", "--stdio"}));
    }
    {
        SshVariables vars(QStringLiteral("\"/opt/my ssh/ssh\" -v"), QStringLiteral("/tmp/test config"));
        const QStringList command = SshCommand::For(QStringLiteral("server"), QStringLiteral("admin"));
        QCOMPARE(command.mid(0, 4), (QStringList{"/opt/my ssh/ssh", "-v", "-F", "/tmp/test config"}));
        QCOMPARE(command.mid(command.size() - 6, 2), (QStringList{"-l", "admin"}));
    }
}

void TestSshTransport::hostNames_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("valid");
    QTest::newRow("name") << "build-server" << true;
    QTest::newRow("dotted") << "files.example.org" << true;
    QTest::newRow("user and name") << "admin@files.example.org" << true;
    QTest::newRow("address") << "192.0.2.7" << true;
    QTest::newRow("IPv6 address") << "fe80::1%eth0" << true;
    QTest::newRow("option") << "-oProxyCommand=touch" << false;
    QTest::newRow("user as option") << "-l@server" << false;
    QTest::newRow("two users") << "a@b@c" << false;
    QTest::newRow("blank") << "two words" << false;
    QTest::newRow("shell") << "host;reboot" << false;
    QTest::newRow("empty") << "" << false;
}

void TestSshTransport::hostNames()
{
    QFETCH(QString, host);
    QFETCH(bool, valid);
    QCOMPARE(SshCommand::IsValidHost(host), valid);
}

void TestSshTransport::failures_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("standardError");
    QTest::addColumn<HRESULT>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("refused port") << 255 << false << "ssh: connect to host 127.0.0.1 port 2: Connection refused\n"
                                  << HRESULT_FROM_WIN32(ERROR_BAD_NETPATH)
                                  << "The computer \"h\" cannot be reached: ssh: connect to host 127.0.0.1 port 2: Connection refused";
    QTest::newRow("unknown name") << 255 << false << "ssh: Could not resolve hostname h: Name or service not known\n"
                                  << HRESULT_FROM_WIN32(ERROR_BAD_NETPATH)
                                  << "The computer \"h\" cannot be reached: ssh: Could not resolve hostname h: Name or service not known";
    QTest::newRow("no answer in time") << 255 << false << "ssh: connect to host 192.0.2.1 port 22: Connection timed out\n"
                                       << HRESULT_FROM_WIN32(ERROR_BAD_NETPATH)
                                       << "The computer \"h\" cannot be reached: ssh: connect to host 192.0.2.1 port 22: Connection timed out";
    QTest::newRow("key refused") << 255 << false << "root@127.0.0.1: Permission denied (publickey).\n" << E_ACCESSDENIED
                                 << "The computer \"h\" refused the login: root@127.0.0.1: Permission denied (publickey).";
    QTest::newRow("unknown host key") << 255 << false << "No ED25519 host key is known for h and you have requested strict checking.\nHost key verification failed.\n"
                                      << E_ACCESSDENIED
                                      << "The computer \"h\" could not be verified by its host key: No ED25519 host key is known for h and you "
                                         "have requested strict checking. Host key verification failed.";
    QTest::newRow("no service program") << 127 << false << "bash: line 1: taskschedd: command not found\n" << SCHED_E_SERVICE_NOT_INSTALLED
                                        << "The computer \"h\" has no scheduling service program (\"taskschedd --stdio\"): bash: line 1: "
                                           "taskschedd: command not found";
    QTest::newRow("service program not runnable") << 126 << false << "" << SCHED_E_SERVICE_NOT_INSTALLED
                                                  << "The computer \"h\" has no scheduling service program (\"taskschedd --stdio\").";
    QTest::newRow("dropped") << 255 << true << "Warning: Permanently added 'h' (ED25519) to the list of known hosts.\nConnection to h closed by remote host.\n"
                             << HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED)
                             << "The connection to the computer \"h\" was lost: Connection to h closed by remote host.";
    QTest::newRow("dropped, silently") << 255 << true << "" << HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED)
                                       << "The connection to the computer \"h\" was lost.";
    QTest::newRow("server gone quiet") << 255 << false << "Timeout, server h not responding.\n" << HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED)
                                       << "The connection to the computer \"h\" was lost: Timeout, server h not responding.";
    QTest::newRow("old service program") << 2 << false << "taskschedd: Unknown option 'stdio'.\n" << SCHED_E_SERVICE_NOT_AVAILABLE
                                         << "The scheduling service of the computer \"h\" ended without answering (exit status 2): "
                                            "taskschedd: Unknown option 'stdio'.";
}

void TestSshTransport::failures()
{
    QFETCH(int, exitCode);
    QFETCH(bool, answered);
    QFETCH(QString, standardError);
    QFETCH(HRESULT, code);
    QFETCH(QString, message);
    SshOutcome outcome;
    outcome.exitCode = exitCode;
    outcome.answered = answered;
    outcome.standardError = standardError;
    const SshFailure failure = SshFailure::Describe(QStringLiteral("h"), outcome);
    QCOMPARE(failure.message, message);
    QCOMPARE(failure.code, code);
}

void TestSshTransport::failingStandIns_data()
{
    QTest::addColumn<QString>("ssh");
    QTest::addColumn<HRESULT>("code");
    QTest::addColumn<QString>("words");
    QTest::newRow("no ssh program") << "/nonexistent/ssh" << HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
                                    << "The SSH client could not be started to reach the computer \"there\": \"/nonexistent/ssh\"";
    QTest::newRow("dropped while asked") << "/bin/sh -c \"head -c 1 >/dev/null; echo 'Connection to there closed by remote host.' >&2; exit 255\""
                                         << HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED)
                                         << "was lost: Connection to there closed by remote host.";
    QTest::newRow("answers nonsense") << "/bin/sh -c \"cat >/dev/null & echo 'Welcome to the machine'; sleep 5\""
                                      << HRESULT_FROM_WIN32(ERROR_INVALID_DATA) << "The answer of the computer \"there\" is unreadable";
    QTest::newRow("not a name") << "/bin/true" << HRESULT_FROM_WIN32(ERROR_INVALID_NAME) << "\"-x\" is not the name of a computer.";
}

void TestSshTransport::failingStandIns()
{
    QFETCH(QString, ssh);
    QFETCH(HRESULT, code);
    QFETCH(QString, words);
    SshVariables vars(ssh);
    SshTransport transport(words.startsWith(QLatin1String("\"-x\"")) ? QStringLiteral("-x") : QStringLiteral("there"));
    const QCborMap reply = transport.Call(kPing);
    QCOMPARE(reply.value(DaemonProtocol::Key::Hr).toInteger(), qint64(code));
    const QString error = reply.value(DaemonProtocol::Key::Error).toString();
    QVERIFY2(error.contains(words), qPrintable(error));
    // The same words wait for whoever reports the failure.
    QCOMPARE(ErrorDescription(code), error);
    QVERIFY(!transport.IsConnected());
    QVERIFY(LiveChildren("sh").isEmpty());
}

void TestSshTransport::remoteEndServesAndIsReachedAgain()
{
    TemporaryServiceRoot root;
    const QString bridge = QCoreApplication::applicationDirPath() + QStringLiteral("/taskschedd");
    // The stand-in runs the remote end here, as ssh would run it there.
    SshVariables vars(QStringLiteral("/bin/sh -c \"exec '%1' --stdio\"").arg(bridge));
    {
        SshTransport transport(QStringLiteral("there"));
        QCOMPARE(transport.Call(kPing).value(DaemonProtocol::Key::Hr).toInteger(), qint64(S_OK));
        QVERIFY(transport.IsConnected());
        QCOMPARE(transport.Call(kPing).value(DaemonProtocol::Key::Hr).toInteger(), qint64(S_OK));

        const QList<pid_t> ends = LiveChildren("taskschedd");
        QCOMPARE(ends.size(), 1);
        ::kill(ends.first(), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(LiveChildren("taskschedd").isEmpty(), 20000);
        // The next call finds the connection gone and makes it again.
        QCOMPARE(transport.Call(kPing).value(DaemonProtocol::Key::Hr).toInteger(), qint64(S_OK));
        QCOMPARE(LiveChildren("taskschedd").size(), 1);
    }
    // Ending the transport ends its remote end.
    QVERIFY(LiveChildren("taskschedd").isEmpty());
}

QTEST_MAIN(TestSshTransport)
#include "tst_sshtransport.moc"
