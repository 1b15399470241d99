// The framing of the daemon protocol, byte by byte.

#include "DaemonProtocol.h"
#include "FrameReader.h"

#include <QCborValue>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray Header(const char magic[4], quint16 version, quint32 length)
{
    QByteArray h(DaemonProtocol::HeaderSize, '\0');
    std::copy(magic, magic + 4, h.data());
    qToBigEndian<quint16>(version, h.data() + 4);
    qToBigEndian<quint32>(length, h.data() + 8);
    return h;
}

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void roundTrip();
    void byteByByte();
    void severalFramesInOneChunk();
    void refusedFrames_data();
    void refusedFrames();
    void brokenStreamStaysBroken();
};

void TestProtocol::roundTrip()
{
    const QCborMap message{{QStringLiteral("op"), QStringLiteral("v2.task.get")}, {QStringLiteral("path"), QStringLiteral("\\Ä\\b")}};
    FrameReader reader(DaemonProtocol::MaxRequestSize);
    reader.Append(DaemonProtocol::EncodeFrame(message));
    QCborMap out;
    QCOMPARE(reader.Next(&out, nullptr), FrameReader::Message);
    QCOMPARE(out, message);
    QCOMPARE(reader.Next(&out, nullptr), FrameReader::NeedMore);
    QCOMPARE(reader.Buffered(), 0);
}

void TestProtocol::byteByByte()
{
    const QCborMap message{{QStringLiteral("op"), QStringLiteral("ping")}};
    const QByteArray frame = DaemonProtocol::EncodeFrame(message);
    FrameReader reader(DaemonProtocol::MaxRequestSize);
    QCborMap out;
    for (qsizetype i = 0; i + 1 < frame.size(); ++i) {
        reader.Append(frame.mid(i, 1));
        QCOMPARE(reader.Next(&out, nullptr), FrameReader::NeedMore);
        QVERIFY(reader.HasPartialFrame());
    }
    reader.Append(frame.right(1));
    QCOMPARE(reader.Next(&out, nullptr), FrameReader::Message);
    QCOMPARE(out, message);
    QVERIFY(!reader.HasPartialFrame());
}

void TestProtocol::severalFramesInOneChunk()
{
    FrameReader reader(DaemonProtocol::MaxRequestSize);
    QByteArray chunk;
    for (int i = 0; i < 3; ++i) chunk += DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("n"), i}});
    reader.Append(chunk);
    for (int i = 0; i < 3; ++i) {
        QCborMap out;
        QCOMPARE(reader.Next(&out, nullptr), FrameReader::Message);
        QCOMPARE(out.value(QStringLiteral("n")).toInteger(), i);
    }
}

void TestProtocol::refusedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("text instead of a frame") << QByteArray("GET / HTTP/1.0\r\n\r\n") << int(FrameReader::BadStream) << "not a service request";
    QTest::newRow("wrong magic, short") << QByteArray("XY") << int(FrameReader::BadStream) << "not a service request";
    QTest::newRow("future version") << Header(DaemonProtocol::Magic, 2, 0) << int(FrameReader::BadStream) << "version 2";
    QTest::newRow("version zero") << Header(DaemonProtocol::Magic, 0, 0) << int(FrameReader::BadStream) << "version 0";
    QTest::newRow("length over the limit") << Header(DaemonProtocol::Magic, 1, quint32(DaemonProtocol::MaxRequestSize + 1))
                                           << int(FrameReader::BadStream) << "exceeds the limit";
    QTest::newRow("largest length") << Header(DaemonProtocol::Magic, 1, 0xFFFFFFFFu) << int(FrameReader::BadStream) << "exceeds the limit";
    QTest::newRow("empty payload") << Header(DaemonProtocol::Magic, 1, 0) << int(FrameReader::BadPayload) << "malformed";
    const QByteArray garbage("\xff\xfe\x00\x01", 4);
    QTest::newRow("garbage payload") << Header(DaemonProtocol::Magic, 1, quint32(garbage.size())) + garbage
                                     << int(FrameReader::BadPayload) << "malformed";
    const QByteArray array = QCborValue(QCborArray{1, 2}).toCbor();
    QTest::newRow("array, not a map") << Header(DaemonProtocol::Magic, 1, quint32(array.size())) + array
                                      << int(FrameReader::BadPayload) << "not a map";
    const QByteArray truncatedMap = QCborValue(QCborMap{{QStringLiteral("op"), QStringLiteral("ping")}}).toCbor().chopped(2);
    QTest::newRow("map cut short inside the payload") << Header(DaemonProtocol::Magic, 1, quint32(truncatedMap.size())) + truncatedMap
                                                      << int(FrameReader::BadPayload) << "malformed";
}

void TestProtocol::refusedFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QString, errorPart);
    FrameReader reader(DaemonProtocol::MaxRequestSize);
    reader.Append(bytes);
    QCborMap out;
    QString error;
    QCOMPARE(int(reader.Next(&out, &error)), status);
    QVERIFY2(error.contains(errorPart), qPrintable(error));
    if (status == FrameReader::BadPayload) {
        // The frame was whole, so the stream goes on.
        reader.Append(DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("op"), QStringLiteral("ping")}}));
        QCOMPARE(reader.Next(&out, &error), FrameReader::Message);
    }
}

void TestProtocol::brokenStreamStaysBroken()
{
    FrameReader reader(DaemonProtocol::MaxRequestSize);
    reader.Append(QByteArray("nonsense"));
    QCOMPARE(reader.Next(nullptr, nullptr), FrameReader::BadStream);
    reader.Append(DaemonProtocol::EncodeFrame(QCborMap{{QStringLiteral("op"), QStringLiteral("ping")}}));
    QString error;
    QCOMPARE(reader.Next(nullptr, &error), FrameReader::BadStream);
    QVERIFY(!error.isEmpty());
    QVERIFY(!reader.HasPartialFrame());
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
