// How the daemon's socket shares itself out: which connection gives way to a new client,
// idle connections dropped (and clients that connect again), and complaints about bad
// clients kept from flooding the log.

#include "server/ConnectionAdmission.h"
#include "DaemonProtocol.h"
#include "server/DaemonServer.h"
#include "LocalSocketTransport.h"
#include "server/LogRateLimit.h"
#include "ServiceNotifications.h"
#include "ServiceRoot.h"
#include "TemporaryServiceRoot.h"

#include <QLocalSocket>
#include <QLoggingCategory>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <optional>

namespace {

using Held = ConnectionAdmission::Held;
using Decision = ConnectionAdmission::Decision;

// `count` connections of `uid`, numbered from `firstId`, idle since their number (so the
// lowest number idled longest) when `idle`.
QList<Held> Connections(int firstId, int count, uid_t uid, bool idle)
{
    QList<Held> held;
    for (int i = 0; i < count; ++i) held.append(Held{firstId + i, uid, idle, qint64(firstId + i)});
    return held;
}

// A DaemonServer answering pings in a thread of its own, so that a blocking client can use it.
class ServerThread {
public:
    ServerThread(const QString& socketPath, int idleTimeoutMs)
    {
        m_thread.start();
        m_host.moveToThread(&m_thread);
        QMetaObject::invokeMethod(&m_host, [&] {
            m_server = new DaemonServer([this](const QCborMap&, const ClientIdentity&) {
                ++requests;
                return QCborMap{{DaemonProtocol::Key::Hr, 0}};
            }, &m_host, idleTimeoutMs);
            m_listening = m_server->Listen(socketPath, nullptr);
        }, Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(&m_host, [&] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool IsListening() const { return m_listening; }
    void Notify(const QCborMap& message)
    {
        QMetaObject::invokeMethod(&m_host, [&] { m_server->Notify(message); }, Qt::BlockingQueuedConnection);
    }
    int ClientCount()
    {
        int count = 0;
        QMetaObject::invokeMethod(&m_host, [&] { count = m_server->ClientCount(); }, Qt::BlockingQueuedConnection);
        return count;
    }
    std::atomic<int> requests{0};

private:
    QThread m_thread;
    QObject m_host;
    DaemonServer* m_server = nullptr;
    bool m_listening = false;
};

QStringList g_warnings;
void Collect(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg) g_warnings.append(message);
}

} // namespace

class TestConnections : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("taskschedd.*.debug=false")); }
    void admission_data();
    void admission();
    void rateLimit();
    void idleConnectionsDroppedAndClientsComeBack();
    void floodOfIdleConnectionsLocksNobodyOut();
    void badFramesLoggedWithinLimit();
    void subscribersStayWhileIdleAndGetNotices();
    void noticesReadFromMessages_data();
    void noticesReadFromMessages();
};

void TestConnections::admission_data()
{
    QTest::addColumn<QList<Held>>("held");
    QTest::addColumn<int>("uid");
    QTest::addColumn<Decision>("expected");
    // A limit of 8 connections, 4 for one user.
    QTest::newRow("room") << Connections(1, 3, 1000, true) << 1000 << Decision{true, 0};
    QTest::newRow("own share full: its longest idle goes") << Connections(1, 4, 1000, true) << 1000 << Decision{true, 1};
    QTest::newRow("own share full and busy: refused") << Connections(1, 4, 1000, false) << 1000 << Decision{false, 0};
    QTest::newRow("another user at its share: room for this one")
        << Connections(1, 4, 1000, false) << 0 << Decision{true, 0};
    QTest::newRow("full: the user with most gives way")
        << Connections(1, 3, 0, true) + Connections(4, 4, 1000, true) + Connections(8, 1, 2000, true) << 2000 << Decision{true, 4};
    QTest::newRow("full, the biggest busy: the next gives way")
        << Connections(1, 3, 0, true) + Connections(4, 4, 1000, false) + Connections(8, 1, 2000, true) << 2000 << Decision{true, 1};
    QTest::newRow("full and all busy: refused")
        << Connections(1, 4, 0, false) + Connections(5, 4, 1000, false) << 2000 << Decision{false, 0};
    QList<Held> mixed = Connections(1, 4, 1000, true);
    mixed[0].idle = false;
    mixed[2].idleSinceMs = -5;
    QTest::newRow("the one idle longest, not the first") << mixed << 1000 << Decision{true, 3};
}

void TestConnections::admission()
{
    QFETCH(QList<Held>, held);
    QFETCH(int, uid);
    QFETCH(Decision, expected);
    const Decision decision = ConnectionAdmission(8, 4).Decide(held, uid_t(uid));
    QCOMPARE(decision.admit, expected.admit);
    QCOMPARE(decision.evict, expected.evict);
}

void TestConnections::rateLimit()
{
    LogRateLimit limit(3, 1000);
    qint64 suppressed = -1;
    // Three in the first second, then silence counted.
    for (qint64 t : {0, 10, 20}) {
        QVERIFY(limit.Allow(t, &suppressed));
        QCOMPARE(suppressed, 0);
    }
    for (qint64 t = 30; t < 1000; t += 100) QVERIFY(!limit.Allow(t, &suppressed));
    // The next second: the first message says how many were left out.
    QVERIFY(limit.Allow(1000, &suppressed));
    QCOMPARE(suppressed, 10);
    QVERIFY(limit.Allow(1001, &suppressed));
    QCOMPARE(suppressed, 0);
    // A clock set back starts a new window rather than silencing the log for good.
    QVERIFY(limit.Allow(5, &suppressed));
}

void TestConnections::idleConnectionsDroppedAndClientsComeBack()
{
    TemporaryServiceRoot root;
    const QString socketPath = ServiceRoot(root.Path()).SocketPath();
    ServerThread server(socketPath, 300);
    QVERIFY(server.IsListening());

    LocalSocketTransport client(root.Path());
    QCOMPARE(client.Call(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}}).value(DaemonProtocol::Key::Hr).toInteger(), 0);
    QLocalSocket silent;
    silent.connectToServer(socketPath);
    QVERIFY(silent.waitForConnected(5000));
    // The connection that sends nothing is dropped; the client's, idle longer, went before it.
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server.ClientCount(), 0, 10000);
    // The client finds its connection closed and makes a new one, unnoticed by its caller.
    QCOMPARE(client.Call(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}}).value(DaemonProtocol::Key::Hr).toInteger(), 0);
    QCOMPARE(server.requests.load(), 2);
}

void TestConnections::floodOfIdleConnectionsLocksNobodyOut()
{
    TemporaryServiceRoot root;
    const QString socketPath = ServiceRoot(root.Path()).SocketPath();
    ServerThread server(socketPath, DaemonServer::IdleTimeoutMs);
    QVERIFY(server.IsListening());

    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < DaemonServer::MaxClients + 50; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(socketPath);
        QVERIFY(idle.back()->waitForConnected(5000));
    }
    // One user holds no more than its share, however many it opens.
    QTRY_VERIFY_WITH_TIMEOUT(server.ClientCount() == DaemonServer::PerUserLimit, 10000);
    LocalSocketTransport client(root.Path());
    QCOMPARE(client.Call(QCborMap{{DaemonProtocol::Key::Op, DaemonProtocol::Op::Ping}}).value(DaemonProtocol::Key::Hr).toInteger(), 0);
    QVERIFY(server.ClientCount() <= DaemonServer::PerUserLimit);
    // The connections that gave way were the oldest.
    QTRY_COMPARE_WITH_TIMEOUT(idle.front()->state(), QLocalSocket::UnconnectedState, 10000);
    QCOMPARE(idle.back()->state(), QLocalSocket::ConnectedState);
}

void TestConnections::badFramesLoggedWithinLimit()
{
    TemporaryServiceRoot root;
    const QString socketPath = ServiceRoot(root.Path()).SocketPath();
    ServerThread server(socketPath, DaemonServer::IdleTimeoutMs);
    QVERIFY(server.IsListening());
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(Collect);
    auto restore = qScopeGuard([&] { qInstallMessageHandler(previous); });

    constexpr int Frames = 200;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray bad = DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("no"), QStringLiteral("operation")}});
    for (int i = 0; i < Frames; ++i) socket.write(bad);
    QVERIFY(socket.waitForBytesWritten(5000));
    // Every frame is answered, each with its error.
    QByteArray replies;
    QTRY_VERIFY_WITH_TIMEOUT((replies += socket.readAll(), replies.count("operation") >= Frames), 20000);
    qInstallMessageHandler(previous);
    restore.dismiss();
    QVERIFY(!g_warnings.isEmpty());
    QVERIFY2(g_warnings.size() <= DaemonServer::ComplaintsPerMinute, qPrintable(QString::number(g_warnings.size())));
}


void TestConnections::subscribersStayWhileIdleAndGetNotices()
{
    TemporaryServiceRoot root;
    const QString socketPath = ServiceRoot(root.Path()).SocketPath();
    std::optional<ServerThread> server(std::in_place, socketPath, 300);
    QVERIFY(server->IsListening());
    ServiceNotifications notices;
    QVERIFY(notices.Subscribe(root.Path()));
    QList<ServiceNotice> heard;
    connect(&notices, &ServiceNotifications::Notified, this, [&heard](const ServiceNotice& notice) { heard.append(notice); });
    QLocalSocket silent;
    silent.connectToServer(socketPath);
    QVERIFY(silent.waitForConnected(5000));

    // The silent connection goes; the subscriber, idle longer, stays and hears what happens.
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 10000);
    QCOMPARE(server->ClientCount(), 1);
    QVERIFY(notices.IsSubscribed());
    server->Notify(DaemonProtocol::NoticeMessage(DaemonProtocol::Notice::TaskDeleted, 2, QStringLiteral("\\Gone")));
    QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 10000);
    QCOMPARE(heard.at(0).kind, ServiceNotice::TaskDeleted);
    QCOMPARE(heard.at(0).path, QStringLiteral("\\Gone"));
    QCOMPARE(server->requests.load(), 0);   // subscribing is the connection's business, not the service's

    // The server goes: the subscriber is told that its notices have stopped.
    QSignalSpy lost(&notices, &ServiceNotifications::Lost);
    server.reset();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QVERIFY(!notices.IsSubscribed());
    QVERIFY(!notices.Subscribe(root.Path(), 200));
}

void TestConnections::noticesReadFromMessages_data()
{
    using namespace DaemonProtocol;
    QTest::addColumn<QCborMap>("message");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("generation");
    QTest::addColumn<quint32>("result");
    const QString path = QStringLiteral("\\Reports\\Daily");
    QCborMap ended = NoticeMessage(Notice::RunEnded, 2, path);
    ended.insert(Key::Result, qint64(0x8004130F));
    QCborMap replyLike = NoticeMessage(Notice::TaskAdded, 2, path);
    replyLike.insert(Key::Hr, 0);
    QTest::newRow("added") << NoticeMessage(Notice::TaskAdded, 2, path) << true << int(ServiceNotice::TaskAdded) << 2 << 0u;
    QTest::newRow("1.0 changed") << NoticeMessage(Notice::TaskChanged, 1, QStringLiteral("Backup.job")) << true
                                 << int(ServiceNotice::TaskChanged) << 1 << 0u;
    QTest::newRow("deleted") << NoticeMessage(Notice::TaskDeleted, 2, path) << true << int(ServiceNotice::TaskDeleted) << 2 << 0u;
    QTest::newRow("started") << NoticeMessage(Notice::RunStarted, 2, path) << true << int(ServiceNotice::RunStarted) << 2 << 0u;
    QTest::newRow("ended with its result") << ended << true << int(ServiceNotice::RunEnded) << 2 << 0x8004130Fu;
    QTest::newRow("unknown kind") << NoticeMessage(QLatin1StringView("taskRenamed"), 2, path) << false << 0 << 0 << 0u;
    QTest::newRow("unknown generation") << NoticeMessage(Notice::TaskAdded, 3, path) << false << 0 << 0 << 0u;
    QTest::newRow("no task") << NoticeMessage(Notice::TaskAdded, 2, QString()) << false << 0 << 0 << 0u;
    QTest::newRow("a reply") << replyLike << false << 0 << 0 << 0u;
    QTest::newRow("empty") << QCborMap{} << false << 0 << 0 << 0u;
}

void TestConnections::noticesReadFromMessages()
{
    QFETCH(QCborMap, message);
    QFETCH(bool, valid);
    const auto notice = ServiceNotice::FromMessage(message);
    QCOMPARE(notice.has_value(), valid);
    if (!valid) return;
    QFETCH(int, kind);
    QFETCH(int, generation);
    QFETCH(quint32, result);
    QCOMPARE(int(notice->kind), kind);
    QCOMPARE(notice->generation, generation);
    QCOMPARE(notice->result, result);
    QCOMPARE(notice->path, message.value(DaemonProtocol::Key::Path).toString());
}
QTEST_GUILESS_MAIN(TestConnections)
#include "tst_connections.moc"
