// The packed listing: what the service writes the client reads back, and bytes that do not
// add up are refused whole rather than read as fewer or other tasks.

#include "Gen2Protocol.h"
#include "ListingWire.h"

#include <QtTest>

using ListingWire::TaskStatus;

namespace {

QByteArray Number(quint64 n)
{
    QByteArray out;
    do {
        out.append(char((n & 0x7F) | (n > 0x7F ? 0x80 : 0)));
        n >>= 7;
    } while (n);
    return out;
}

QByteArray Task(const QByteArray& path, const QByteArray& xml) { return Number(path.size()) + path + Number(xml.size()) + xml; }

QCborMap Reply(const QByteArray& listing, qint64 count)
{
    return QCborMap{{Gen2Protocol::Key::Listing, listing}, {Gen2Protocol::Key::Count, count}};
}

} // namespace

class TestListingWire : public QObject {
    Q_OBJECT
private slots:
    void roundTrip()
    {
        struct Listed {
            QString path;
            QByteArray xml;
            TaskStatus status;
        };
        // A document past 127 bytes takes a two-byte length, past 16383 three.
        const QList<Listed> tasks = {
            {QStringLiteral("\\Ä\\Wöchentlich"), QByteArray(200, 'x'), {true, 3, 0, 0, 1710491400000, 1710577800000}},
            {QStringLiteral("\\never ran"), QByteArray(), {false, 1, qint32(0x00041303), 0, std::nullopt, std::nullopt}},
            {QStringLiteral("\\b"), QByteArray(20000, 'y'), {true, 0, qint32(0x8007045A), 7, -62135596800000, std::nullopt}},
        };
        ListingWire::Writer writer;
        writer.Reserve(tasks.size(), 0, true);
        for (const Listed& t : tasks) {
            writer.Add(t.path.toUtf8(), t.xml);
            writer.AddStatus(t.status);
        }
        QCborMap reply;
        writer.InsertInto(&reply);
        // As it crosses the wire.
        reply = QCborValue::fromCbor(QCborValue(reply).toCbor()).toMap();
        QVERIFY(ListingWire::IsPacked(reply));
        const auto listing = ListingWire::Read(reply);
        QVERIFY(listing);
        QCOMPARE(listing->entries.size(), tasks.size());
        QVERIFY(listing->HasStatuses());
        for (qsizetype i = 0; i < tasks.size(); ++i) {
            QCOMPARE(listing->Path(i), tasks[i].path);
            QCOMPARE(listing->Xml(i), tasks[i].xml);
            QVERIFY(listing->Status(i) == tasks[i].status);
        }

        // Without statuses, and a listing of nothing, are listings too.
        ListingWire::Writer plain;
        plain.Add(QByteArrayLiteral("\\a"), QByteArrayLiteral("<Task/>"));
        QCborMap plainReply;
        plain.InsertInto(&plainReply);
        QVERIFY(!plainReply.contains(Gen2Protocol::Key::Statuses));
        QVERIFY(!ListingWire::Read(plainReply)->HasStatuses());
        QCborMap empty;
        ListingWire::Writer().InsertInto(&empty);
        QCOMPARE(ListingWire::Read(empty)->entries.size(), 0);
    }

    void statusAsItsMap()
    {
        // The map a single status request answers: the keys an older client reads, and no
        // run time the task does not have.
        const QCborMap map = ListingWire::StatusMap({false, 1, qint32(0x8007045A), 2, 1710491400000, std::nullopt});
        QCOMPARE(map.value(Gen2Protocol::Key::Enabled).toBool(true), false);
        QCOMPARE(map.value(Gen2Protocol::Key::State).toInteger(), 1);
        QCOMPARE(map.value(Gen2Protocol::Key::LastTaskResult).toInteger(), qint64(qint32(0x8007045A)));
        QCOMPARE(map.value(Gen2Protocol::Key::MissedRuns).toInteger(), 2);
        QCOMPARE(map.value(Gen2Protocol::Key::LastRunTime).toInteger(), 1710491400000);
        QVERIFY(!map.contains(Gen2Protocol::Key::NextRunTime));
    }

    void refused_data()
    {
        QTest::addColumn<QCborMap>("reply");
        const QByteArray two = Task("\\a", "<a/>") + Task("\\b", "");
        const QByteArray status(ListingWire::StatusBytes, '\0');
        auto withStatuses = [](QCborMap m, const QByteArray& s) {
            m.insert(Gen2Protocol::Key::Statuses, s);
            return m;
        };
        QTest::newRow("count larger than the tasks") << Reply(two, 3);
        QTest::newRow("count smaller than the tasks") << Reply(two, 1);
        QTest::newRow("count negative") << Reply(two, -1);
        QTest::newRow("count far beyond the bytes") << Reply(two, qint64(1) << 40);
        QTest::newRow("no count") << QCborMap{{Gen2Protocol::Key::Listing, two}};
        QTest::newRow("listing not bytes") << QCborMap{{Gen2Protocol::Key::Listing, QStringLiteral("\\a")}, {Gen2Protocol::Key::Count, 1}};
        QTest::newRow("cut inside a document") << Reply(Task("\\a", "<a/>").chopped(1), 1);
        QTest::newRow("path runs past the end") << Reply(Number(9) + "\\a", 1);
        QTest::newRow("document runs past the end") << Reply(Number(2) + "\\a" + Number(5) + "<a/>", 1);
        QTest::newRow("cut inside a length") << Reply(Task("\\a", "") + char(0x80), 2);
        QTest::newRow("length longer than 64 bits") << Reply(QByteArray(10, char(0xFF)) + char(0x01), 1);
        QTest::newRow("a length without its document") << Reply(Number(2) + "\\a", 1);
        QTest::newRow("statuses of fewer tasks") << withStatuses(Reply(two, 2), status);
        QTest::newRow("statuses of more tasks") << withStatuses(Reply(two, 2), status + status + status);
        QTest::newRow("statuses cut short") << withStatuses(Reply(two, 2), (status + status).chopped(1));
        QCborMap notBytes = Reply(two, 2);
        notBytes.insert(Gen2Protocol::Key::Statuses, 7);
        QTest::newRow("statuses not bytes") << notBytes;
    }

    void refused()
    {
        QFETCH(QCborMap, reply);
        QVERIFY(ListingWire::IsPacked(reply));
        QVERIFY(!ListingWire::Read(reply));
    }

    void olderPeer()
    {
        // A reply of maps is not packed: the reader of the older form takes it.
        const QCborMap old{{QStringLiteral("hr"), 0}, {Gen2Protocol::Key::Tasks, QCborArray{}}};
        QVERIFY(!ListingWire::IsPacked(old));
        QVERIFY(!ListingWire::Read(old));
    }
};

QTEST_GUILESS_MAIN(TestListingWire)
#include "tst_listingwire.moc"
