// The statuses of a listing: asked for once, served once a field, never stale, and a service
// that cannot give them (an older one, or one that fails) costs a row its own question only.

#include "Gen2Protocol.h"
#include "Gen2RegisteredTask.h"
#include "Gen2Session.h"
#include "Gen2StatusBatch.h"
#include "ListingWire.h"
#include "ServiceTransport.h"

#include <QCborArray>
#include <QTest>
#include <functional>
#include <memory>

namespace {

/// Answers requests with a function of the test's and keeps every request it was sent.
class ScriptedTransport : public ServiceTransport {
public:
    QCborMap Call(const QCborMap& request) override
    {
        requests.append(request);
        return answer(request);
    }
    QList<QCborMap> requests;
    std::function<QCborMap(const QCborMap&)> answer;
};

QString Op(const QCborMap& request) { return request.value(QStringLiteral("op")).toString(); }

QCborMap Status(int state) { return QCborMap{{QStringLiteral("state"), state}, {QStringLiteral("enabled"), state != 1}}; }

/// A listing of "\A" and "\B" whose statuses say `listed`; a status request says `own`.
std::function<QCborMap(const QCborMap&)> Service(const QString& listing, int listed, int own)
{
    return [=](const QCborMap& request) {
        if (Op(request) == Gen2Protocol::kTaskStatus) {
            QCborMap reply = Status(own);
            reply.insert(QStringLiteral("hr"), 0);
            return reply;
        }
        if (listing == QLatin1String("fails")) return QCborMap{{QStringLiteral("hr"), qint64(E_ACCESSDENIED)}};
        if (listing.startsWith(QLatin1String("packed"))) {
            // Asked for packed, as this client does.
            if (!request.value(Gen2Protocol::Key::Packed).toBool()) return QCborMap{{QStringLiteral("hr"), qint64(E_INVALIDARG)}};
            ListingWire::Writer writer;
            for (const char* path : {"\\A", "\\B"}) {
                if (listing == QLatin1String("packed without B") && path == QByteArray("\\B")) continue;
                writer.Add(path, QByteArray());
                if (listing != QLatin1String("packed without statuses")) writer.AddStatus({listed != 1, listed, 0, 0, {}, {}});
            }
            QCborMap reply{{QStringLiteral("hr"), 0}};
            writer.InsertInto(&reply);
            if (listing == QLatin1String("packed, count disagrees")) reply.insert(Gen2Protocol::Key::Count, 3);
            return reply;
        }
        QCborArray tasks;
        for (const QString& path : {QStringLiteral("\\A"), QStringLiteral("\\B")}) {
            QCborMap record{{QStringLiteral("path"), path}, {QStringLiteral("xml"), QByteArray("<Task/>")}};
            if (listing == QLatin1String("statuses") || (listing == QLatin1String("without B") && path != QLatin1String("\\B")))
                record.insert(QStringLiteral("status"), Status(listed));
            if (listing == QLatin1String("without B") && path == QLatin1String("\\B")) continue;
            tasks.append(record);
        }
        return QCborMap{{QStringLiteral("hr"), 0}, {QStringLiteral("tasks"), tasks}};
    };
}

} // namespace

class TestStatusBatch : public QObject {
    Q_OBJECT

private slots:
    void rowsOfAListing_data()
    {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<int>("stateA");
        QTest::addColumn<int>("stateB");
        QTest::addColumn<int>("requests");
        // Ready (3) from the listing, running (4) from a task's own question.
        QTest::newRow("one request for every row") << QStringLiteral("statuses") << 3 << 3 << 1;
        QTest::newRow("older service: a request a row") << QStringLiteral("plain") << 4 << 4 << 3;
        QTest::newRow("listing fails: a request a row") << QStringLiteral("fails") << 4 << 4 << 3;
        QTest::newRow("task left out asks for itself") << QStringLiteral("without B") << 3 << 4 << 2;
        QTest::newRow("packed: one request for every row") << QStringLiteral("packed") << 3 << 3 << 1;
        QTest::newRow("packed: task left out asks for itself") << QStringLiteral("packed without B") << 3 << 4 << 2;
        QTest::newRow("packed without statuses: a request a row") << QStringLiteral("packed without statuses") << 4 << 4 << 3;
        QTest::newRow("packed unreadable: a request a row") << QStringLiteral("packed, count disagrees") << 4 << 4 << 3;
    }

    void rowsOfAListing()
    {
        QFETCH(QString, listing);
        QFETCH(int, stateA);
        QFETCH(int, stateB);
        QFETCH(int, requests);
        auto transport = std::make_shared<ScriptedTransport>();
        transport->answer = Service(listing, 3, 4);
        auto session = std::make_shared<Gen2Session>(transport);
        auto batch = std::make_shared<Gen2StatusBatch>(session, QStringLiteral("\\"), false);
        auto a = Gen2RegisteredTask::Make(session, QStringLiteral("\\A"), QByteArray(), batch);
        auto b = Gen2RegisteredTask::Make(session, QStringLiteral("\\B"), QByteArray(), batch);
        TASK_STATE state = TASK_STATE_UNKNOWN;
        VARIANT_BOOL enabled = VARIANT_FALSE;
        QCOMPARE(a->get_State(&state), S_OK);
        QCOMPARE(int(state), stateA);
        QCOMPARE(a->get_Enabled(&enabled), S_OK);
        QCOMPARE(b->get_State(&state), S_OK);
        QCOMPARE(int(state), stateB);
        QCOMPARE(b->get_Enabled(&enabled), S_OK);
        QCOMPARE(enabled, VARIANT_TRUE);
        QCOMPARE(transport->requests.size(), requests);
        const QCborMap& first = transport->requests.first();
        if (Op(first) == Gen2Protocol::kTaskList) {
            // The documents came with the listing; the statuses are all that is asked for.
            QCOMPARE(first.value(QStringLiteral("xml")).toBool(true), false);
            QCOMPARE(first.value(QStringLiteral("status")).toBool(), true);
        }
    }

    void servedOnceAndNeverStale()
    {
        auto transport = std::make_shared<ScriptedTransport>();
        transport->answer = Service(QStringLiteral("statuses"), 3, 4);
        auto session = std::make_shared<Gen2Session>(transport);
        auto batch = std::make_shared<Gen2StatusBatch>(session, QStringLiteral("\\"), true);

        // Each field of a task once: a second read of it asks the service, whichever object of
        // the listing reads it.
        QVERIFY(batch->Take(QStringLiteral("\\A"), 1));
        QCOMPARE(transport->requests.size(), 1);
        QCOMPARE(transport->requests.first().value(QStringLiteral("hidden")).toBool(), true);
        QVERIFY(!batch->Take(QStringLiteral("\\A"), 1));
        QVERIFY(batch->Take(QStringLiteral("\\A"), 2));
        QVERIFY(!batch->Take(QStringLiteral("\\C"), 1));

        // Any other request through the connection may have changed a task: nothing more is
        // served from the listing, and it is not asked for again.
        QCborMap reply;
        QCOMPARE(session->Call(QCborMap{{QStringLiteral("op"), Gen2Protocol::kTaskStatus}}, &reply), S_OK);
        QVERIFY(!batch->Take(QStringLiteral("\\B"), 1));
        QCOMPARE(transport->requests.size(), 2);
    }

    void ownAnswerServesTheOtherFields()
    {
        // A task read on its own: one answer serves its fields once each, while nothing else
        // went through the connection; however long the reads are apart.
        auto transport = std::make_shared<ScriptedTransport>();
        transport->answer = Service(QStringLiteral("statuses"), 3, 4);
        auto session = std::make_shared<Gen2Session>(transport);
        auto task = Gen2RegisteredTask::Make(session, QStringLiteral("\\A"), QByteArray());
        TASK_STATE state{};
        DATE next = 0;
        QCOMPARE(task->get_State(&state), S_OK);
        QTest::qWait(150);
        QCOMPARE(task->get_NextRunTime(&next), S_OK);
        QCOMPARE(transport->requests.size(), 1);
        QCOMPARE(task->get_State(&state), S_OK);
        QCOMPARE(transport->requests.size(), 2);
        QCborMap reply;
        session->Call(QCborMap{{QStringLiteral("op"), Gen2Protocol::kFolderGet}}, &reply);
        QCOMPARE(task->get_NextRunTime(&next), S_OK);
        QCOMPARE(transport->requests.size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestStatusBatch)
#include "tst_statusbatch.moc"
