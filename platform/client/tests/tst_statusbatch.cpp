// The statuses of a listing: asked for once, served once a field, never stale, and a service
// that cannot give them (an older one, or one that fails) costs a row its own question only.
// The texts of a listing: read alike in each form a service sends them, and a listing whose
// texts do not read is refused whole.

#include "Gen2Protocol.h"
#include "Gen2RegisteredTask.h"
#include "Gen2Session.h"
#include "Gen2StatusBatch.h"
#include "Gen2TaskFolder.h"
#include "ListingWire.h"
#include "ServiceTransport.h"
#include "gen2/PackedDocument.h"
#include "gen2/TaskDocumentCodec.h"

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

    void listedTexts_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("readable");
        QTest::newRow("packed texts") << QStringLiteral("packed") << true;
        QTest::newRow("a plain text among packed ones") << QStringLiteral("plain kind") << true;
        QTest::newRow("texts themselves in a packed listing") << QStringLiteral("texts") << true;
        QTest::newRow("maps of an older service") << QStringLiteral("maps") << true;
        QTest::newRow("another packed form") << QStringLiteral("other form") << false;
        QTest::newRow("a kind that is none") << QStringLiteral("bad kind") << false;
        QTest::newRow("a text without its kind") << QStringLiteral("no kind") << false;
        QTest::newRow("a mark that names no piece") << QStringLiteral("bad mark") << false;
        QTest::newRow("a mark cut off at the end") << QStringLiteral("cut mark") << false;
    }

    void listedTexts()
    {
        QFETCH(QString, form);
        QFETCH(bool, readable);
        TaskDocument doc;
        doc.registrationInfo.description = QStringLiteral("Wöchentlich <&> prüfen");
        TriggerData daily;
        daily.type = TASK_TRIGGER_DAILY;
        daily.startBoundary = QStringLiteral("2030-03-15T09:05:00");
        doc.triggers = {daily};
        const QByteArray xml = TaskDocumentCodec::Encode(doc);
        const PackedDocument packed(xml);
        QVERIFY(packed.IsPacked());
        const qint64 id = qint64(PackedDocument::FormatId());

        auto transport = std::make_shared<ScriptedTransport>();
        transport->answer = [&](const QCborMap& request) {
            QCborMap reply{{QStringLiteral("hr"), 0}};
            if (form == QLatin1String("maps")) {
                const QCborMap record{{QStringLiteral("path"), QStringLiteral("\\T")}, {QStringLiteral("xml"), xml}};
                reply.insert(Gen2Protocol::Key::Tasks, QCborArray{record});
                return reply;
            }
            ListingWire::Writer writer;
            if (form == QLatin1String("texts")) {
                writer.Add("\\T", xml);
            } else {
                const qint64 sent = form == QLatin1String("other form") ? id + 1 : request.value(Gen2Protocol::Key::PackedTexts).toInteger();
                QByteArray bytes = form == QLatin1String("plain kind") ? xml : packed.Bytes().toByteArray();
                if (form == QLatin1String("bad mark")) bytes.prepend("\x04\xFF");
                if (form == QLatin1String("cut mark")) bytes.append('\x01');
                const auto kind = form == QLatin1String("plain kind") ? ListingWire::PlainText
                                  : form == QLatin1String("bad kind")  ? ListingWire::TextKind(7)
                                                                       : ListingWire::PackedText;
                writer.Add("\\T", kind, bytes, sent);
            }
            writer.InsertInto(&reply);
            if (form == QLatin1String("no kind")) {
                // One task whose text is empty: not even its kind.
                QByteArray listing = reply.value(Gen2Protocol::Key::Listing).toByteArray();
                listing = listing.left(1 + 2) + '\0';
                reply.insert(Gen2Protocol::Key::Listing, listing);
            }
            return reply;
        };
        auto session = std::make_shared<Gen2Session>(transport);
        auto folder = Gen2TaskFolder::Make(session, QStringLiteral("\\"));
        ComPtr<IRegisteredTaskCollection> tasks;
        const HRESULT hr = folder->GetTasks(0, tasks.Put());
        // This client asks for its own packed form.
        QCOMPARE(transport->requests.first().value(Gen2Protocol::Key::PackedTexts).toInteger(), id);
        if (!readable) {
            QCOMPARE(hr, E_UNEXPECTED);
            QVERIFY(!tasks);
            return;
        }
        QCOMPARE(hr, S_OK);
        LONG count = 0;
        QCOMPARE(tasks->get_Count(&count), S_OK);
        QCOMPARE(count, 1);
        ComPtr<IRegisteredTask> task;
        QCOMPARE(tasks->get_Item(VARIANT::I4(1), task.Put()), S_OK);
        QString text;
        QCOMPARE(task->get_Xml(&text), S_OK);
        QCOMPARE(text.toUtf8(), xml);
        // The definition reads from the same text, the triggers first and the rest after.
        ComPtr<ITaskDefinition> def;
        QCOMPARE(task->get_Definition(def.Put()), S_OK);
        ComPtr<ITriggerCollection> triggers;
        QCOMPARE(def->get_Triggers(triggers.Put()), S_OK);
        LONG triggerCount = 0;
        QCOMPARE(triggers->get_Count(&triggerCount), S_OK);
        QCOMPARE(triggerCount, 1);
        ComPtr<IRegistrationInfo> info;
        QCOMPARE(def->get_RegistrationInfo(info.Put()), S_OK);
        QString description;
        QCOMPARE(info->get_Description(&description), S_OK);
        QCOMPARE(description, doc.registrationInfo.description);
        QString whole;
        QCOMPARE(def->get_XmlText(&whole), S_OK);
        QCOMPARE(whole.toUtf8(), xml);
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
