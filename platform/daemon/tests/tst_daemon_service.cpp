// The daemon as a process: starting it, one per root, its socket and who may use it.

#include "server/ClientConnection.h"
#include "DaemonFixture.h"
#include "DaemonLauncher.h"
#include "DaemonProtocol.h"
#include "server/DaemonServer.h"
#include "FrameReader.h"
#include "InProcessTransport.h"
#include "LocalSocketTransport.h"
#include "ResultCodes.h"
#include "ServiceControl.h"
#include "ServiceRoot.h"
#include "StoreLock.h"
#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSysInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QtEndian>
#include <QtTest>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QCborMap Ping() { return QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}}; }

qint64 Hr(const QCborMap& reply) { return reply.value(DaemonProtocol::Key::Hr).toInteger(); }

// Reads one reply frame off a raw socket; an empty map when none comes in time.
QCborMap ReadReply(QLocalSocket& socket, int timeoutMs = 5000)
{
    FrameReader reader(DaemonProtocol::MaxReplySize);
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QCborMap reply;
        if (reader.Next(&reply, nullptr) == FrameReader::Message) return reply;
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(std::max<qint64>(1, timeoutMs - timer.elapsed()))))
            return {};
        reader.Append(socket.readAll());
    }
}

QByteArray Header(quint16 version, quint32 length)
{
    QByteArray h(DaemonProtocol::HeaderSize, '\0');
    std::copy(std::begin(DaemonProtocol::Magic), std::end(DaemonProtocol::Magic), h.data());
    qToBigEndian<quint16>(version, h.data() + 4);
    qToBigEndian<quint32>(length, h.data() + 8);
    return h;
}

bool RunCommand(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestDaemonService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsDetachedAndAnswers();
    void secondDaemonEndsAtOnce();
    void takesOverAfterKill();
    void staleLockTakenOver_data();
    void staleLockTakenOver();
    void leftoversRemovedAtStart();
    void commandLine_data();
    void commandLine();
    void noDaemonMeansNotRunning();
    void serviceControlStartsTheDaemon();
    void transportChoice();
    void malformedMessages_data();
    void malformedMessages();
    void stalledClientBlocksNobody();
    void silentConnectionsLockNobodyOut();
    void clientOfAnotherUserRefused();
    void endsWhenRootGoes_data();
    void endsWhenRootGoes();
    void fixtureStopsWhatTheTestStarted();

private:
    std::unique_ptr<DaemonFixture> m_f;
};

void TestDaemonService::init()
{
    m_f = std::make_unique<DaemonFixture>();
    QVERIFY(m_f->root.IsValid());
}

void TestDaemonService::cleanup() { m_f.reset(); }

void TestDaemonService::startsDetachedAndAnswers()
{
    QVERIFY(m_f->daemon.Start());
    const QCborMap reply = m_f->daemon.Call(Ping());
    QCOMPARE(Hr(reply), S_OK);
    QCOMPARE(reply.value(DaemonProtocol::Key::Root).toString(), ServiceRoot(m_f->root.Path()).Path());
    QCOMPARE(reply.value(DaemonProtocol::Key::Pid).toInteger(), m_f->daemon.Pid());
    QCOMPARE(reply.value(DaemonProtocol::Key::Uid).toInteger(), qint64(geteuid()));
    QVERIFY(QFile::exists(ServiceRoot(m_f->root.Path()).SocketPath()));
    // Its messages went to the root's log, not to the terminal of whoever started it.
    QTRY_VERIFY(QFile(DaemonLauncher::LogFile(m_f->root.Path())).size() > 0);

    m_f->daemon.Stop();
    QVERIFY(!QFile::exists(ServiceRoot(m_f->root.Path()).SocketPath()));
    QVERIFY(!LocalSocketTransport(m_f->root.Path()).Ping());
}

void TestDaemonService::secondDaemonEndsAtOnce()
{
    QVERIFY(m_f->daemon.Start());
    QProcess second;
    second.start(DaemonHarness::Program(), {QStringLiteral("--root"), m_f->root.Path()});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(second.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("already serves")) && err.contains(QString::number(m_f->daemon.Pid())), qPrintable(err));
    // The first one is untouched.
    QCOMPARE(Hr(m_f->daemon.Call(Ping())), S_OK);
}

void TestDaemonService::takesOverAfterKill()
{
    QVERIFY(m_f->daemon.Start());
    const pid_t first = m_f->daemon.Pid();
    m_f->daemon.Kill();
    // The lock and the socket of the dead daemon are still there.
    QVERIFY(QFile::exists(ServiceRoot(m_f->root.Path()).SocketPath()));
    QVERIFY(!LocalSocketTransport(m_f->root.Path()).Ping());
    QVERIFY(m_f->daemon.Start());
    QVERIFY(m_f->daemon.Pid() != first);
    QCOMPARE(Hr(m_f->daemon.Call(Ping())), S_OK);
}

void TestDaemonService::staleLockTakenOver_data()
{
    QTest::addColumn<QByteArray>("contents");
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    QTest::newRow("empty: the daemon was killed while it wrote it") << QByteArray();
    QTest::newRow("unreadable") << QByteArray("\xff\xfe?\n", 4);
    QTest::newRow("its process is gone") << QByteArray("2147483646\ntaskschedd\n" + host + "\n");
    // A live process of that name now has the id (this test stands in for it).
    QTest::newRow("its process id was reused")
        << QByteArray::number(::getpid()) + "\n" + QCoreApplication::applicationName().toUtf8() + "\n" + host + "\n";
}

void TestDaemonService::staleLockTakenOver()
{
    QFETCH(QByteArray, contents);
    const ServiceRoot root(m_f->root.Path());
    QVERIFY(root.Ensure());
    for (const QString& lock : {root.DaemonLockPath(), root.StoreLockPath()}) {
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QVERIFY(m_f->daemon.Start());
    QCOMPARE(Hr(m_f->daemon.Call(Ping())), S_OK);
    // It holds the lock now, with its own process id in it.
    QLockFile lock(root.DaemonLockPath());
    qint64 pid = 0;
    QString host, app;
    QVERIFY(lock.getLockInfo(&pid, &host, &app));
    QCOMPARE(pid, qint64(m_f->daemon.Pid()));
    // The store lock did not hold up its start: it was taken over and let go of (the daemon
    // keeps the file, naming no one), and a write goes through at once.
    QFile storeLock(root.StoreLockPath());
    QVERIFY(!storeLock.open(QIODevice::ReadOnly) || storeLock.readAll() != contents);
    QCOMPARE(StoreLock::HolderPid(root.StoreLockPath()), 0);
    const QCborMap created = m_f->daemon.Call(QCborMap{{QStringLiteral("op"), QStringLiteral("v2.folder.create")},
                                                     {QStringLiteral("path"), QStringLiteral("\\Made")}});
    QCOMPARE(Hr(created), S_OK);
    QVERIFY(QFileInfo(root.TasksDir() + QStringLiteral("/Made.folder")).isDir());
}

void TestDaemonService::leftoversRemovedAtStart()
{
    const ServiceRoot root(m_f->root.Path());
    QVERIFY(root.Ensure());
    QVERIFY(QDir().mkpath(root.TasksDir() + QStringLiteral("/A.folder")));
    QVERIFY(QDir().mkpath(root.HistoryDir() + QStringLiteral("/v2")));
    const QStringList leftovers{root.TasksDir() + QStringLiteral("/A.folder/T.task.Xa1b2C"), root.StateDir() + QStringLiteral("/T.state.000000"),
                                root.JobsDir() + QStringLiteral("/J.job.q9W8e7"), root.HistoryDir() + QStringLiteral("/v2/T.json.ABCdef"),
                                root.Path() + QStringLiteral("/taskschedd.state.zzzzzz")};
    const QString kept = root.JobsDir() + QStringLiteral("/notes.txt.abcdef");
    for (const QString& file : leftovers + QStringList{kept}) {
        QFile f(file);
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(file));
        f.write("half a file");
    }
    QVERIFY(m_f->daemon.Start());
    for (const QString& file : leftovers) QVERIFY2(!QFile::exists(file), qPrintable(file));
    QVERIFY(QFile::exists(kept));
}

void TestDaemonService::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outputPart");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << "systemctl --user enable --now taskschedd";
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << 2 << "frobnicate";
    QTest::newRow("stray argument") << QStringList{QStringLiteral("now")} << 2 << "unexpected argument";
    QTest::newRow("unusable root") << QStringList{QStringLiteral("--root"), QStringLiteral("/proc/no-root-here")} << 1 << "Cannot create";
}

void TestDaemonService::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, outputPart);
    QProcess p;
    p.start(DaemonHarness::Program(), args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), exitCode);
    const QString output = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    QVERIFY2(output.contains(outputPart), qPrintable(output));
}

void TestDaemonService::noDaemonMeansNotRunning()
{
    LocalSocketTransport transport(m_f->root.Path());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!transport.Connect(300));
    QVERIFY(timer.elapsed() >= 250);
    const QCborMap reply = transport.Call(Ping());
    QCOMPARE(Hr(reply), SCHED_E_SERVICE_NOT_RUNNING);
    QVERIFY(!reply.value(DaemonProtocol::Key::Error).toString().isEmpty());
    QVERIFY(!transport.Ping());
}

void TestDaemonService::serviceControlStartsTheDaemon()
{
    qunsetenv("TASKSCHEDULER_TRANSPORT");
    const auto restore = qScopeGuard([] { qputenv("TASKSCHEDULER_TRANSPORT", "inprocess"); });
    const QString name = ServiceControl::ScheduleServiceName();
    ServiceControl::State state = ServiceControl::State::Running;

    // A root that cannot be made: the daemon cannot start, and the service does not run.
    QFile plain(m_f->root.Path() + QStringLiteral("/plain-file"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const ServiceControl impossible(plain.fileName() + QStringLiteral("/root"));
    QCOMPARE(impossible.QueryState(name, state), DWORD(0));
    QCOMPARE(state, ServiceControl::State::Stopped);
    QCOMPARE(impossible.Start(name), DWORD(ERROR_SERVICE_NOT_ACTIVE));
    QCOMPARE(impossible.QueryState(QStringLiteral("Spooler"), state), ServiceControl::ServiceDoesNotExist);

    // Without a daemon the service is stopped; starting it launches one, detached.
    const ServiceControl control(m_f->root.Path());
    QCOMPARE(control.QueryState(name, state), DWORD(0));
    QCOMPARE(state, ServiceControl::State::Stopped);
    QCOMPARE(control.Start(name), DWORD(0));
    LocalSocketTransport transport(m_f->root.Path());
    QVERIFY(transport.Connect(10000));
    const pid_t pid = pid_t(transport.Call(Ping()).value(DaemonProtocol::Key::Pid).toInteger());
    QVERIFY(pid > 0);
    const auto stop = qScopeGuard([pid] {
        ::kill(pid, SIGTERM);
        DaemonHarness::WaitForExit(pid, 10000);
    });
    QCOMPARE(control.QueryState(name, state), DWORD(0));
    QCOMPARE(state, ServiceControl::State::Running);
    // Starting a running service changes nothing.
    QCOMPARE(control.Start(name), DWORD(0));
    QCOMPARE(pid_t(transport.Call(Ping()).value(DaemonProtocol::Key::Pid).toInteger()), pid);
}

void TestDaemonService::transportChoice()
{
    qputenv("TASKSCHEDULER_TRANSPORT", "inprocess");
    QVERIFY(InProcessServiceSelected());
    QVERIFY(dynamic_cast<InProcessTransport*>(OpenServiceTransport().get()));
    qunsetenv("TASKSCHEDULER_TRANSPORT");
    QVERIFY(!InProcessServiceSelected());
    QVERIFY(m_f->daemon.Start());
    const auto transport = OpenServiceTransport();
    QVERIFY(dynamic_cast<LocalSocketTransport*>(transport.get()));
    QCOMPARE(Hr(transport->Call(Ping())), S_OK);
    // A lost connection is made again at the next call.
    m_f->daemon.Kill();
    QCOMPARE(Hr(transport->Call(Ping())), SCHED_E_SERVICE_NOT_RUNNING);
    QVERIFY(m_f->daemon.Start());
    QCOMPARE(Hr(transport->Call(Ping())), S_OK);
}

void TestDaemonService::malformedMessages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("hr");
    QTest::addColumn<bool>("connectionSurvives");
    const qint64 invalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    QTest::newRow("not a frame") << QByteArray("hello daemon\n") << invalidData << false;
    QTest::newRow("unknown version") << Header(7, 0) << invalidData << false;
    QTest::newRow("oversized") << Header(DaemonProtocol::Version, 0x7FFFFFFF) << invalidData << false;
    const QByteArray junk("\x9f\x9f\x9f", 3);
    QTest::newRow("payload not CBOR") << Header(DaemonProtocol::Version, junk.size()) + junk << invalidData << true;
    const QByteArray text = QCborValue(QStringLiteral("ping")).toCbor();
    QTest::newRow("payload not a map") << Header(DaemonProtocol::Version, text.size()) + text << invalidData << true;
    QTest::newRow("no operation") << DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("path"), 1}}) << qint64(E_INVALIDARG) << true;
    QTest::newRow("operation not text") << DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("op"), 42}}) << qint64(E_INVALIDARG) << true;
    QTest::newRow("unknown operation") << DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("op"), QStringLiteral("v9.launch")}})
                                       << qint64(E_INVALIDARG) << true;
    // Task names become file names: one that leads out of the root is refused, not followed.
    const auto history = [](const QString& task) {
        return DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("op"), QStringLiteral("daemon.history")}, {QStringLiteral("task"), task}});
    };
    const qint64 invalidName = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    QTest::newRow("history of a 1.0 name outside the root") << history(QStringLiteral("v1:../../taskschedd.job")) << invalidName << true;
    QTest::newRow("history of a 2.0 name outside the root") << history(QStringLiteral("v2:\\..\\..\\taskschedd")) << invalidName << true;
    QTest::newRow("history of a 2.0 name with a slash") << history(QStringLiteral("v2:\\a/../../../taskschedd")) << invalidName << true;
}

void TestDaemonService::malformedMessages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, hr);
    QFETCH(bool, connectionSurvives);
    QVERIFY(m_f->daemon.Start());

    QLocalSocket socket;
    socket.connectToServer(ServiceRoot(m_f->root.Path()).SocketPath());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(bytes);
    const QCborMap reply = ReadReply(socket);
    QCOMPARE(Hr(reply), hr);
    QVERIFY(!reply.value(DaemonProtocol::Key::Error).toString().isEmpty());

    if (connectionSurvives) {
        socket.write(DaemonProtocol::EncodeFrame(Ping()));
        QCOMPARE(Hr(ReadReply(socket)), S_OK);
    } else {
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
    }
    // Whatever one client sent, the daemon goes on serving the others.
    QCOMPARE(Hr(m_f->daemon.Call(Ping())), S_OK);
}

void TestDaemonService::stalledClientBlocksNobody()
{
    QVERIFY(m_f->daemon.Start());
    QLocalSocket stalled;
    stalled.connectToServer(ServiceRoot(m_f->root.Path()).SocketPath());
    QVERIFY(stalled.waitForConnected(5000));
    const QByteArray frame = DaemonProtocol::EncodeFrame(Ping());
    stalled.write(frame.left(frame.size() - 3));   // and then nothing
    QVERIFY(stalled.waitForBytesWritten(5000));

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Hr(m_f->daemon.Call(Ping())), S_OK);
    QVERIFY(timer.elapsed() < ClientConnection::StallTimeoutMs);

    const QCborMap reply = ReadReply(stalled, ClientConnection::StallTimeoutMs + 5000);
    QCOMPARE(Hr(reply), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    QVERIFY(reply.value(DaemonProtocol::Key::Error).toString().contains(QStringLiteral("incomplete")));
    QTRY_COMPARE(stalled.state(), QLocalSocket::UnconnectedState);
}

void TestDaemonService::silentConnectionsLockNobodyOut()
{
    QVERIFY(m_f->daemon.Start());
    std::vector<std::unique_ptr<QLocalSocket>> silent;
    for (int i = 0; i < DaemonServer::MaxClients + 44; ++i) {
        silent.push_back(std::make_unique<QLocalSocket>());
        silent.back()->connectToServer(ServiceRoot(m_f->root.Path()).SocketPath());
        QVERIFY(silent.back()->waitForConnected(5000));
    }
    QCOMPARE(Hr(m_f->daemon.Call(Ping())), S_OK);
}

void TestDaemonService::clientOfAnotherUserRefused()
{
    if (geteuid() != 0) QSKIP("needs root to make a throwaway user");
    const QString user = QStringLiteral("tsd%1").arg(getpid());
    QVERIFY(RunCommand(QStringLiteral("useradd"), {QStringLiteral("--no-create-home"), QStringLiteral("--shell"),
                                                   QStringLiteral("/usr/sbin/nologin"), user}));
    auto removeUser = qScopeGuard([&] { RunCommand(QStringLiteral("userdel"), {user}); });
    const passwd* pw = getpwnam(user.toLocal8Bit().constData());
    QVERIFY(pw);
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;

    QVERIFY(m_f->daemon.Start());
    // Open the way to the socket, so that only the daemon's own check stands between them.
    const QString socketPath = ServiceRoot(m_f->root.Path()).SocketPath();
    QVERIFY(QFile::setPermissions(m_f->root.Path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther));
    QVERIFY(QFile::setPermissions(socketPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther));

    // The other user's client is a forked child that uses nothing but system calls.
    const QByteArray request = DaemonProtocol::EncodeFrame(Ping());
    const QByteArray path = socketPath.toLocal8Bit();
    int pipeFds[2];
    QCOMPARE(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(10);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) ::_exit(11);
        if (::write(fd, request.constData(), size_t(request.size())) != request.size()) ::_exit(12);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof(buffer))) > 0) {
            if (::write(pipeFds[1], buffer, size_t(n)) != n) ::_exit(13);
            if (n >= 12) break;   // a small reply comes in one piece
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    QByteArray received;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0) received.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    QCOMPARE(WEXITSTATUS(status), 0);

    FrameReader reader(DaemonProtocol::MaxReplySize);
    reader.Append(received);
    QCborMap reply;
    QCOMPARE(reader.Next(&reply, nullptr), FrameReader::Message);
    QCOMPARE(Hr(reply), E_ACCESSDENIED);
    QCOMPARE(reply.value(DaemonProtocol::Key::Error).toString(), QStringLiteral("Access is denied."));
    QVERIFY(!reply.contains(DaemonProtocol::Key::Pid));
    // Root, which the test runs as, is still served.
    QCOMPARE(Hr(m_f->daemon.Call(Ping())), S_OK);
}

void TestDaemonService::endsWhenRootGoes_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("deleted") << "delete";
    QTest::newRow("moved away") << "move";
    QTest::newRow("replaced") << "replace";
}

void TestDaemonService::endsWhenRootGoes()
{
    // A daemon whose root is gone serves nobody: it notices and ends, saying why, and leaves
    // nothing in a directory that took the root's place.
    QFETCH(QString, change);
    const QString root = m_f->root.Path() + QStringLiteral("/root");
    const QString moved = m_f->root.Path() + QStringLiteral("/moved");
    QVERIFY(QDir().mkpath(root));
    DaemonHarness daemon(root);
    QVERIFY(daemon.Start());
    const pid_t pid = daemon.Pid();
    if (change == QLatin1String("delete")) {
        QVERIFY(QDir(root).removeRecursively());
    } else {
        QVERIFY(QDir().rename(root, moved));
        if (change == QLatin1String("replace")) QVERIFY(QDir().mkpath(root));
    }
    QVERIFY(DaemonHarness::WaitForExit(pid, 30000));
    if (change != QLatin1String("delete")) {
        QFile log(DaemonLauncher::LogFile(moved));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromLocal8Bit(log.readAll());
        // Replaced quickly, the root may already be the new directory when the daemon looks.
        const bool said = text.contains(QStringLiteral("\"%1\" was deleted or moved away: ending").arg(root))
                          || (change == QLatin1String("replace")
                              && text.contains(QStringLiteral("\"%1\" was replaced by another: ending").arg(root)));
        QVERIFY2(said, qPrintable(text));
    }
    if (change == QLatin1String("replace"))
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestDaemonService::fixtureStopsWhatTheTestStarted()
{
    pid_t pid = 0;
    QString path;
    {
        TemporaryServiceRoot root;
        path = root.Path();
        QVERIFY(DaemonLauncher::Launch(root.Path()));
        LocalSocketTransport transport(root.Path());
        QVERIFY(transport.Connect(10000));
        pid = pid_t(transport.Call(Ping()).value(DaemonProtocol::Key::Pid).toInteger());
        QVERIFY(pid > 0);
        QCOMPARE(TemporaryServiceRoot::ServiceProcesses(root.Path()), QList<pid_t>{pid});
    }
    QVERIFY(DaemonHarness::WaitForExit(pid, 0));
    QVERIFY(TemporaryServiceRoot::ServiceProcesses(path).isEmpty());
}

QTEST_GUILESS_MAIN(TestDaemonService)
#include "tst_daemon_service.moc"
