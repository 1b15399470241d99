// The remote end of a connection from another computer: frames on standard input and output
// handed to the root's daemon, whatever the daemon sends back passed on, and every request
// answered even when the daemon is gone or cannot start.

#include "DaemonHarness.h"
#include "DaemonProtocol.h"
#include "FrameReader.h"
#include "ResultCodes.h"
#include "ServiceRoot.h"
#include "server/StdioBridge.h"
#include "TemporaryServiceRoot.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

using namespace DaemonProtocol;

const QCborMap kPing{{Key::Op, Op::Ping}};

QCborMap Request(const QString& op) { return QCborMap{{Key::Op, op}}; }

/// A stand-in for the daemon on a root's socket: answers each request with a notice frame
/// (no result code) and then its reply, or, told to, hangs up on the request instead.
class FakeDaemon : public QObject {
public:
    explicit FakeDaemon(const QString& socketPath)
    {
        QLocalServer::removeServer(socketPath);
        m_server.listen(socketPath);
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                auto reader = std::make_shared<FrameReader>(MaxRequestSize);
                connect(socket, &QLocalSocket::readyRead, socket, [this, socket, reader] {
                    reader->Append(socket->readAll());
                    QCborMap request;
                    while (reader->Next(&request, nullptr) == FrameReader::Message) {
                        if (hangUp) {
                            socket->abort();
                            return;
                        }
                        socket->write(EncodeFrame(QCborMap{{QStringLiteral("notice"), request.value(Key::Op)}}));
                        socket->write(EncodeFrame(QCborMap{{Key::Hr, 0}, {QStringLiteral("echo"), request.value(Key::Op)}}));
                    }
                });
            }
        });
    }
    bool IsListening() const { return m_server.isListening(); }

    int connections = 0;
    bool hangUp = false;

private:
    QLocalServer m_server;
};

/// A bridge in this process between two pipes, as ssh would connect it.
class PipedBridge {
public:
    explicit PipedBridge(const QString& rootPath)
    {
        int in[2], out[2];
        QVERIFY(::pipe(in) == 0 && ::pipe(out) == 0);
        m_toBridge = in[1];
        m_fromBridge = out[0];
        m_bridgeIn = in[0];
        m_bridgeOut = out[1];
        ::fcntl(m_fromBridge, F_SETFL, O_NONBLOCK);
        bridge = std::make_unique<StdioBridge>(rootPath, m_bridgeIn, m_bridgeOut);
        QObject::connect(bridge.get(), &StdioBridge::Finished, [this](int status) { finished = status; });
        bridge->Start();
    }
    ~PipedBridge()
    {
        bridge.reset();
        for (int fd : {m_toBridge, m_fromBridge, m_bridgeIn, m_bridgeOut}) {
            if (fd >= 0) ::close(fd);
        }
    }

    void Write(const QByteArray& bytes) { QCOMPARE(::write(m_toBridge, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size())); }
    void Send(const QCborMap& request) { Write(EncodeFrame(request)); }
    void EndInput()
    {
        ::close(m_toBridge);
        m_toBridge = -1;
    }

    /// The next `count` frames the bridge writes, waiting (bounded) while they come.
    QList<QCborMap> Read(int count)
    {
        QList<QCborMap> frames;
        const QDeadlineTimer deadline(20000);
        while (frames.size() < count && !deadline.hasExpired()) {
            char buffer[4096];
            const ssize_t n = ::read(m_fromBridge, buffer, sizeof buffer);
            if (n > 0) m_reader.Append(QByteArray(buffer, n));
            QCborMap frame;
            while (frames.size() < count && m_reader.Next(&frame, nullptr) == FrameReader::Message) frames.append(frame);
            if (n <= 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return frames;
    }

    /// Waits (bounded) until the bridge says it is done.
    int WaitFinished()
    {
        const QDeadlineTimer deadline(20000);
        while (finished < 0 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return finished;
    }

    std::unique_ptr<StdioBridge> bridge;
    int finished = -1;

private:
    int m_toBridge = -1, m_fromBridge = -1, m_bridgeIn = -1, m_bridgeOut = -1;
    FrameReader m_reader{MaxReplySize};
};

qint64 HrOf(const QCborMap& reply) { return reply.value(Key::Hr).toInteger(); }

} // namespace

class TestStdioBridge : public QObject {
    Q_OBJECT

private slots:
    void passesEveryFrameOnInOrder();
    void answersWhatTheDaemonDroppedAndConnectsAgain();
    void subscriptionEndsWithTheDaemon();
    void unreadableInput_data();
    void unreadableInput();
    void daemonThatCannotStartIsExplained();
    void startsTheDaemonAndStartsItAgain();
};

void TestStdioBridge::passesEveryFrameOnInOrder()
{
    TemporaryServiceRoot root;
    FakeDaemon daemon(ServiceRoot(root.Path()).SocketPath());
    QVERIFY(daemon.IsListening());
    PipedBridge bridge(root.Path());
    bridge.Send(Request(QStringLiteral("first")));
    bridge.Send(Request(QStringLiteral("second")));
    const QList<QCborMap> frames = bridge.Read(4);
    QCOMPARE(frames.size(), 4);
    QCOMPARE(frames.at(0).value(QStringLiteral("notice")).toString(), QStringLiteral("first"));
    QCOMPARE(frames.at(1).value(QStringLiteral("echo")).toString(), QStringLiteral("first"));
    QCOMPARE(frames.at(2).value(QStringLiteral("notice")).toString(), QStringLiteral("second"));
    QCOMPARE(frames.at(3).value(QStringLiteral("echo")).toString(), QStringLiteral("second"));
    QCOMPARE(daemon.connections, 1);
    // The end of the input, with nothing left to answer, ends the bridge.
    bridge.EndInput();
    QCOMPARE(bridge.WaitFinished(), 0);
}

void TestStdioBridge::answersWhatTheDaemonDroppedAndConnectsAgain()
{
    TemporaryServiceRoot root;
    FakeDaemon daemon(ServiceRoot(root.Path()).SocketPath());
    PipedBridge bridge(root.Path());
    daemon.hangUp = true;
    bridge.Send(Request(QStringLiteral("lost")));
    QList<QCborMap> frames = bridge.Read(1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(HrOf(frames.at(0)), qint64(SCHED_E_SERVICE_NOT_RUNNING));
    QVERIFY(!frames.at(0).value(Key::Error).toString().isEmpty());

    daemon.hangUp = false;
    bridge.Send(Request(QStringLiteral("again")));
    frames = bridge.Read(2);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames.at(1).value(QStringLiteral("echo")).toString(), QStringLiteral("again"));
    QCOMPARE(daemon.connections, 2);
    QCOMPARE(bridge.finished, -1);
}

void TestStdioBridge::subscriptionEndsWithTheDaemon()
{
    // Requests outlive a daemon (the next one connects anew), notices do not: the client has
    // to hear that they stopped.
    TemporaryServiceRoot root;
    auto daemon = std::make_unique<FakeDaemon>(ServiceRoot(root.Path()).SocketPath());
    PipedBridge bridge(root.Path());
    bridge.Send(Request(Op::Subscribe));
    QCOMPARE(bridge.Read(2).size(), 2);
    daemon.reset();
    QCOMPARE(bridge.WaitFinished(), 1);

    // Asking for notices alone starts no daemon.
    PipedBridge later(root.Path());
    later.Send(Request(Op::Subscribe));
    const QList<QCborMap> frames = later.Read(1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(HrOf(frames.at(0)), qint64(SCHED_E_SERVICE_NOT_RUNNING));
    QVERIFY(TemporaryServiceRoot::ServiceProcesses(root.Path()).isEmpty());
    QCOMPARE(later.finished, -1);
}

void TestStdioBridge::unreadableInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("streamLost");
    QByteArray notAMap = EncodeFrame(QCborMap{});
    notAMap.replace(HeaderSize - 1, 1, QByteArray(1, '\x01'));
    notAMap.replace(HeaderSize, 1, QByteArray(1, '\x05'));   // a payload that is a number
    QTest::newRow("not a frame") << QByteArray("GET / HTTP/1.0\r\n\r\n") << true;
    QTest::newRow("other protocol version") << QByteArray("TSKD\x00\x07\x00\x00\x00\x00\x00\x00", 12) << true;
    QTest::newRow("payload not a map") << notAMap << false;
}

void TestStdioBridge::unreadableInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, streamLost);
    TemporaryServiceRoot root;
    FakeDaemon daemon(ServiceRoot(root.Path()).SocketPath());
    PipedBridge bridge(root.Path());
    bridge.Write(bytes);
    const QList<QCborMap> frames = bridge.Read(1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(HrOf(frames.at(0)), qint64(HRESULT_FROM_WIN32(ERROR_INVALID_DATA)));
    if (streamLost) {
        QCOMPARE(bridge.WaitFinished(), 1);
    } else {
        bridge.Send(Request(QStringLiteral("after")));
        QCOMPARE(bridge.Read(2).value(1).value(QStringLiteral("echo")).toString(), QStringLiteral("after"));
    }
}

void TestStdioBridge::daemonThatCannotStartIsExplained()
{
    TemporaryServiceRoot root;
    QFile blocker(root.Path() + QStringLiteral("/file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // A root below a plain file cannot be made, so no daemon can serve it.
    PipedBridge bridge(blocker.fileName() + QStringLiteral("/root"));
    bridge.Send(kPing);
    bridge.Send(kPing);
    const QList<QCborMap> frames = bridge.Read(2);
    QCOMPARE(frames.size(), 2);
    for (const QCborMap& reply : frames) {
        QCOMPARE(HrOf(reply), qint64(SCHED_E_SERVICE_NOT_RUNNING));
        const QString error = reply.value(Key::Error).toString();
        QVERIFY2(error.contains(QStringLiteral("Cannot create the service directory \"%1/root\"").arg(blocker.fileName())), qPrintable(error));
    }
    bridge.EndInput();
    QCOMPARE(bridge.WaitFinished(), 0);
}

void TestStdioBridge::startsTheDaemonAndStartsItAgain()
{
    TemporaryServiceRoot root;
    QProcess process;
    process.start(DaemonHarness::Program(), {QStringLiteral("--stdio")});
    QVERIFY(process.waitForStarted());
    FrameReader reader(MaxReplySize);
    const auto ping = [&]() -> QCborMap {
        process.write(EncodeFrame(kPing));
        QCborMap reply;
        const QDeadlineTimer deadline(20000);
        while (reader.Next(&reply, nullptr) != FrameReader::Message) {
            if (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime()))) return {};
            reader.Append(process.readAllStandardOutput());
        }
        return reply;
    };

    const QCborMap first = ping();
    QCOMPARE(HrOf(first), qint64(S_OK));
    const pid_t daemon = pid_t(first.value(Key::Pid).toInteger());
    QVERIFY(daemon != pid_t(process.processId()));
    QCOMPARE(TemporaryServiceRoot::ServiceProcesses(root.Path()), QList<pid_t>{daemon});

    // The daemon dies between two requests: the next one starts it again.
    ::kill(daemon, SIGKILL);
    QVERIFY(DaemonHarness::WaitForExit(daemon, 20000));
    const QCborMap second = ping();
    QCOMPARE(HrOf(second), qint64(S_OK));
    QVERIFY(pid_t(second.value(Key::Pid).toInteger()) != daemon);

    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
}

QTEST_MAIN(TestStdioBridge)
#include "tst_stdio_bridge.moc"
