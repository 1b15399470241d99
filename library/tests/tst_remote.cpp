// Tasks of another computer, reached through OpenSSH: a throwaway sshd on the loopback
// address serves a second service root of this machine.

#include "LibraryTestSupport.h"
#include "ThrowawaySshServer.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <memory>
#include <unistd.h>

using namespace LibraryTests;

namespace {

const QString kSshConfigVariable = QStringLiteral("TASKSCHEDULER_SSH_CONFIG");

// The ssh processes this test started that still run (an ended one stays a zombie until the
// transport that started it notices).
QList<pid_t> LiveSshClients()
{
    QList<pid_t> live;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < 0) continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == "ssh" && fields.size() > 1 && fields.at(0) != "Z"
            && fields.at(1).toLongLong() == ::getpid())
            live.append(pid_t(entry.toLongLong()));
    }
    return live;
}

QString Target(bool vista, const QString& host)
{
    return vista ? host : QStringLiteral("\\\\") + host;
}

/// The changes a scheduler reported, each as "kind name folder".
class NoticeLog {
public:
    explicit NoticeLog(TTaskScheduler& scheduler)
    {
        QObject::connect(&scheduler, &TTaskScheduler::TaskChanged, &m_receiver,
                         [this](TTaskChange change, const QString& name, const QString& folder) {
                             m_changes << QStringLiteral("%1 %2 %3").arg(int(change)).arg(name, folder);
                         });
    }
    bool Contains(TTaskChange change, const QString& task) const
    {
        return m_changes.contains(QStringLiteral("%1 %2").arg(int(change)).arg(task));
    }
    /// Whether the scheduler said that changes may have been missed.
    bool Missed() const { return m_changes.contains(QStringLiteral("%1  ").arg(int(tcMissed))); }

private:
    QObject m_receiver;
    QStringList m_changes;
};

} // namespace

class TestRemote : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void tasksOfAnotherComputer_data() { AddBothGenerations(); }
    void tasksOfAnotherComputer();
    void computersThatCannotServe_data();
    void computersThatCannotServe();
    void lostConnectionIsMadeAgain();
    void changesAreReportedAgainAfterALoss_data();
    void changesAreReportedAgainAfterALoss();

private:
    /// Starts a new server for the other computer and points the clients at it.
    bool StartServer();

    /// A second service root: the other computer's.
    QTemporaryDir m_remoteRoot;
    std::unique_ptr<ThrowawaySshServer> m_server;
};

void TestRemote::initTestCase()
{
    const QString unavailable = ThrowawaySshServer::Unavailable();
    if (!unavailable.isEmpty()) QSKIP(qPrintable(QStringLiteral("No OpenSSH server for the test: %1.").arg(unavailable)));
    QVERIFY(m_remoteRoot.isValid());
    // The real OpenSSH client, not the stand-in the other tests get.
    qunsetenv("TASKSCHEDULER_SSH");
    QVERIFY(StartServer());
}

void TestRemote::init()
{
    // A case that failed while the server was stopped does not take the next ones with it.
    if (!m_server->IsRunning()) QVERIFY(StartServer());
}

bool TestRemote::StartServer()
{
    m_server = std::make_unique<ThrowawaySshServer>(m_remoteRoot.path(), QCoreApplication::applicationDirPath());
    QString error;
    if (!m_server->Start(&error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    qputenv(kSshConfigVariable.toLatin1(), m_server->ConfigFile().toLocal8Bit());
    return true;
}

void TestRemote::cleanupTestCase()
{
    if (m_server) m_server->Stop();
    qunsetenv(kSshConfigVariable.toLatin1());
    // The other computer's daemon was started by the connections; it ends with the test.
    QVERIFY(TemporaryServiceRoot::StopServiceProcesses(m_remoteRoot.path()));
    QVERIFY(LiveSshClients().isEmpty());
}

void TestRemote::tasksOfAnotherComputer()
{
    QFETCH(bool, vista);
    Fixture local(vista);
    TTaskScheduler& scheduler = *local.scheduler;
    const QString marker = m_remoteRoot.filePath(vista ? QStringLiteral("ran-2.0") : QStringLiteral("ran-1.0"));

    scheduler.SetTargetComputer(Target(vista, ThrowawaySshServer::RemoteHost()));
    QCOMPARE(scheduler.GetTargetComputer(), Target(vista, ThrowawaySshServer::RemoteHost()));
    if (vista) scheduler.SetVistaSelectedFolder(scheduler.VistaRootFolder().Get());
    // The other computer's service reports its changes, as this one's would.
    QTRY_VERIFY_WITH_TIMEOUT(scheduler.GetWatching(), 20000);
    const NoticeLog notices(scheduler);

    TTaskItem* item = scheduler.CreateNewItem(QStringLiteral("Remote job"));
    item->SetApplicationName(QStringLiteral("/usr/bin/touch"));
    item->SetParameters(marker);
    item->Save();
    const QString reported = vista ? QStringLiteral("Remote job \\") : QStringLiteral("Remote job.job ");
    QTRY_VERIFY_WITH_TIMEOUT(notices.Contains(tcAdded, reported), 10000);
    scheduler.Refresh();
    QCOMPARE(scheduler.GetCount(), 1);
    QCOMPARE(scheduler.GetItem(0)->GetName(), QStringLiteral("Remote job"));
    // Stored by the other computer's service, not by this one's.
    QVERIFY(QDir(m_remoteRoot.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).contains(vista ? "tasks" : "jobs"));
    QVERIFY(QDir(local.root.Path() + (vista ? QStringLiteral("/tasks") : QStringLiteral("/jobs")))
                .entryList(QDir::Files | QDir::NoDotAndDotDot)
                .isEmpty());

    TTaskItem* listed = scheduler.ActivateTask(QStringLiteral("Remote job"));
    QVERIFY(listed);
    listed->Activate();
    listed->Run();
    listed->Deactivate(false);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(notices.Contains(tcRunEnded, reported), 20000);
    QVERIFY(notices.Contains(tcRunStarted, reported));

    scheduler.DeleteTask(QStringLiteral("Remote job"));
    scheduler.Refresh();
    QCOMPARE(scheduler.GetCount(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(notices.Contains(tcDeleted, reported), 10000);

    // Back on this computer, whose own list never had the task.
    scheduler.SetTargetComputer(QString());
    QCOMPARE(scheduler.GetTargetComputer(), Target(vista, QSysInfo::machineHostName()));
    scheduler.Refresh();
    QCOMPARE(scheduler.GetCount(), 0);
}

void TestRemote::computersThatCannotServe_data()
{
    QTest::addColumn<bool>("vista");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("sshWords");
    const struct {
        QString host, what, words;
    } cases[] = {
        {ThrowawaySshServer::ClosedHost(), QStringLiteral("cannot be reached"), QStringLiteral("Connection refused")},
        {ThrowawaySshServer::RefusedHost(), QStringLiteral("refused the login"), QStringLiteral("Permission denied")},
        {ThrowawaySshServer::NoServiceHost(), QStringLiteral("has no scheduling service program"), QStringLiteral("taskschedd-missing")},
        {QStringLiteral("-oProxyCommand=true"), QStringLiteral("is not the name of a computer"), QString()},
    };
    for (bool vista : {true, false}) {
        for (const auto& c : cases)
            QTest::addRow("%s %s", vista ? "2.0" : "1.0", qPrintable(c.host)) << vista << c.host << c.what << c.words;
    }
}

void TestRemote::computersThatCannotServe()
{
    QFETCH(bool, vista);
    QFETCH(QString, host);
    QFETCH(QString, what);
    QFETCH(QString, sshWords);
    Fixture local(vista);
    TTaskScheduler& scheduler = *local.scheduler;
    local.New(QStringLiteral("Here"))->Save();

    const QString message = MessageOf<EPlatformError>([&] { scheduler.SetTargetComputer(Target(vista, host)); });
    QVERIFY2(message.contains(QStringLiteral("\"%1\" %2").arg(host, what)), qPrintable(message));
    QVERIFY2(message.contains(sshWords), qPrintable(message));
    // The scheduler stays with the computer it had.
    QCOMPARE(scheduler.GetTargetComputer(), Target(vista, QSysInfo::machineHostName()));
    if (vista) scheduler.SetVistaSelectedFolder(scheduler.VistaRootFolder().Get());
    scheduler.Refresh();
    QCOMPARE(scheduler.GetCount(), 1);
    QVERIFY(LiveSshClients().isEmpty());
}

void TestRemote::lostConnectionIsMadeAgain()
{
    Fixture local(true);
    TTaskScheduler& scheduler = *local.scheduler;
    scheduler.SetTargetComputer(ThrowawaySshServer::RemoteHost());
    scheduler.SetVistaSelectedFolder(scheduler.VistaRootFolder().Get());
    TTaskItem* item = scheduler.CreateNewItem(QStringLiteral("Survivor"));
    item->SetApplicationName(kProgram);
    item->Save();

    // The connection drops between two calls: the next call connects again.
    m_server->DropSessions();
    QTRY_VERIFY_WITH_TIMEOUT(LiveSshClients().isEmpty(), 20000);
    scheduler.Refresh();
    QCOMPARE(scheduler.GetCount(), 1);

    // Dropped again, and the computer no longer takes connections: the one new attempt fails.
    m_server->Stop();
    QTRY_VERIFY_WITH_TIMEOUT(LiveSshClients().isEmpty(), 20000);
    const QString message = MessageOf<EPlatformError>([&] { scheduler.Refresh(); });
    QVERIFY2(message.contains(QStringLiteral("\"tsremote\" cannot be reached")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("Connection refused")), qPrintable(message));

    // Until it is back.
    QVERIFY(StartServer());
    scheduler.Refresh();
    QCOMPARE(scheduler.GetCount(), 1);
    scheduler.DeleteTask(QStringLiteral("Survivor"));
}

void TestRemote::changesAreReportedAgainAfterALoss_data()
{
    QTest::addColumn<bool>("vista");
    QTest::addColumn<bool>("serviceEnds");
    for (bool vista : {true, false}) {
        QTest::addRow("%s, connection dropped", vista ? "2.0" : "1.0") << vista << false;
        QTest::addRow("%s, service ended", vista ? "2.0" : "1.0") << vista << true;
    }
}

void TestRemote::changesAreReportedAgainAfterALoss()
{
    QFETCH(bool, vista);
    QFETCH(bool, serviceEnds);
    Fixture local(vista);
    TTaskScheduler& scheduler = *local.scheduler;
    scheduler.SetTargetComputer(Target(vista, ThrowawaySshServer::RemoteHost()));
    if (vista) scheduler.SetVistaSelectedFolder(scheduler.VistaRootFolder().Get());
    QTRY_VERIFY_WITH_TIMEOUT(scheduler.GetWatching(), 20000);
    const NoticeLog notices(scheduler);

    if (serviceEnds) {
        // Its service is not started again for the reports alone; the next listing starts
        // it, and asks for them again.
        QVERIFY(TemporaryServiceRoot::StopServiceProcesses(m_remoteRoot.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!scheduler.GetWatching(), 20000);
        scheduler.Refresh();
    } else {
        // Asked for again at once, without a call.
        m_server->DropSessions();
    }
    QTRY_VERIFY_WITH_TIMEOUT(notices.Missed(), 20000);
    QVERIFY(scheduler.GetWatching());
    TTaskItem* item = scheduler.CreateNewItem(QStringLiteral("Reported"));
    item->SetApplicationName(kProgram);
    item->Save();
    QTRY_VERIFY_WITH_TIMEOUT(notices.Contains(tcAdded, vista ? QStringLiteral("Reported \\") : QStringLiteral("Reported.job ")),
                             10000);
    scheduler.DeleteTask(QStringLiteral("Reported"));
}

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
