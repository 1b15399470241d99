// The store of a root as the service uses it: runtime state files, the writer lock,
// leftovers of interrupted writes, and state answers through the service's requests.

#include "Gen2Protocol.h"
#include "ListingWire.h"
#include "SampleDocuments.h"
#include "ServiceCore.h"
#include "FileBatch.h"
#include "ServiceError.h"
#include "gen2/ScheduledRuns.h"
#include "gen2/TaskDocumentCodec.h"
#include "gen2/TaskStore.h"
#include "TemporaryServiceRoot.h"

#include <QCborArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QTest>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TaskDocument Runnable()
{
    TaskDocument doc;
    ActionData exec;
    exec.path = QStringLiteral("/bin/true");
    doc.actions = {exec};
    return doc;
}

TaskPath Path(const char* text) { return *TaskPath::Parse(QLatin1String(text)); }

// A store over a root of its own; `ready` says whether the root could be made.
struct FreshStore {
    TemporaryServiceRoot root;
    ServiceRoot serviceRoot{root.Path()};
    bool ready = serviceRoot.Ensure();
    TaskStore store{serviceRoot};
};

} // namespace

class TestTaskStore : public QObject {
    Q_OBJECT

private slots:
    void stateFiles()
    {
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        store.StoreTask(Path("\\Reports\\Daily"), Runnable(), TaskStore::Mode::Create);
        QString error;
        auto state = store.ReadState(Path("\\Reports\\Daily"), &error);
        QVERIFY(state && *state == TaskRuntimeState{});   // never ran
        QCOMPARE(state->lastTaskResult, SCHED_S_TASK_HAS_NOT_RUN);

        TaskRuntimeState written;
        written.lastRunTime = QDateTime(QDate(2024, 3, 15), QTime(9, 30, 0, 125));
        written.lastTaskResult = qint32(0x800700C1);
        written.runState = TaskRuntimeState::Running;
        written.missedRuns = 2;
        store.WriteState(Path("\\Reports\\Daily"), written);
        state = store.ReadState(Path("\\Reports\\Daily"), &error);
        QVERIFY(state);
        QCOMPARE(state->lastRunTime, written.lastRunTime);
        QVERIFY(*state == written);

        QFile file(store.StateFile(Path("\\Reports\\Daily")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"version\": 1, \"runState\": 9}");
        file.close();
        QVERIFY(!store.ReadState(Path("\\Reports\\Daily"), &error));
        QVERIFY(error.contains(QStringLiteral("run state")));

        QVERIFY_THROWS_EXCEPTION(ServiceError, store.WriteState(Path("\\Nope"), written));
        store.DeleteTask(Path("\\Reports\\Daily"));
        QVERIFY(!QFile::exists(store.StateFile(Path("\\Reports\\Daily"))));
    }

    void stateFileIsTheJsonOfItsState_data()
    {
        QTest::addColumn<QDateTime>("lastRunTime");
        QTest::addColumn<qint32>("lastTaskResult");
        QTest::addColumn<int>("runState");
        QTest::addColumn<qint32>("missedRuns");
        QTest::newRow("never ran") << QDateTime() << qint32(SCHED_S_TASK_HAS_NOT_RUN) << int(TaskRuntimeState::Idle) << 0;
        QTest::newRow("running, a local time") << QDateTime(QDate(2024, 3, 15), QTime(9, 30, 0, 125)) << qint32(0x00041301)
                                              << int(TaskRuntimeState::Running) << 0;
        QTest::newRow("failed, in UTC") << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999), Qt::UTC)
                                        << qint32(0x80070002) << int(TaskRuntimeState::Idle) << 3;
        QTest::newRow("queued, before 1970") << QDateTime(QDate(1969, 7, 20), QTime(20, 17), Qt::UTC) << qint32(1)
                                             << int(TaskRuntimeState::Queued) << 1;
        QTest::newRow("extremes") << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC) << std::numeric_limits<qint32>::min()
                                  << int(TaskRuntimeState::Idle) << std::numeric_limits<qint32>::max();
        QTest::newRow("largest result, fewest missed") << QDateTime(QDate(9999, 12, 31), QTime(12, 0), Qt::UTC)
                                                       << std::numeric_limits<qint32>::max() << int(TaskRuntimeState::Running)
                                                       << std::numeric_limits<qint32>::min();
    }

    // The state file is written by hand: it must be what the JSON document of the state is,
    // byte for byte, and read back as the same state.
    void stateFileIsTheJsonOfItsState()
    {
        QFETCH(QDateTime, lastRunTime);
        QFETCH(qint32, lastTaskResult);
        QFETCH(int, runState);
        QFETCH(qint32, missedRuns);
        TaskRuntimeState state;
        state.lastRunTime = lastRunTime;
        state.lastTaskResult = lastTaskResult;
        state.runState = TaskRuntimeState::RunState(runState);
        state.missedRuns = missedRuns;

        QJsonObject o;
        o.insert(QStringLiteral("version"), 1);
        if (lastRunTime.isValid()) o.insert(QStringLiteral("lastRunTime"), lastRunTime.toUTC().toString(Qt::ISODateWithMs));
        o.insert(QStringLiteral("lastTaskResult"), qint64(lastTaskResult));
        o.insert(QStringLiteral("runState"), runState);
        o.insert(QStringLiteral("missedRuns"), missedRuns);
        const QByteArray encoded = TaskStateFile::Encode(state);
        QCOMPARE(encoded, QJsonDocument(o).toJson(QJsonDocument::Indented));

        QString error;
        const auto decoded = TaskStateFile::Decode(encoded, &error);
        QVERIFY2(decoded, qPrintable(error));
        QCOMPARE(decoded->lastRunTime.toMSecsSinceEpoch(), lastRunTime.toMSecsSinceEpoch());
        QCOMPARE(decoded->lastRunTime.isValid(), lastRunTime.isValid());
        QCOMPARE(decoded->lastTaskResult, lastTaskResult);
        QCOMPARE(int(decoded->runState), runState);
        QCOMPARE(decoded->missedRuns, missedRuns);
    }

    void stateThroughRequests_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("runState");
        QTest::addColumn<int>("expected");
        QTest::newRow("ready") << true << int(TaskRuntimeState::Idle) << 3;
        QTest::newRow("running") << true << int(TaskRuntimeState::Running) << 4;
        QTest::newRow("queued") << true << int(TaskRuntimeState::Queued) << 2;
        QTest::newRow("disabled") << false << int(TaskRuntimeState::Idle) << 1;
    }

    void stateThroughRequests()
    {
        QFETCH(bool, enabled);
        QFETCH(int, runState);
        QFETCH(int, expected);
        TemporaryServiceRoot root;
        ServiceCore core{ServiceRoot(root.Path())};
        TaskStore store{ServiceRoot(root.Path())};
        TaskDocument doc = Runnable();
        doc.settings.enabled = enabled;
        store.StoreTask(Path("\\T"), doc, TaskStore::Mode::Create);
        TaskRuntimeState state;
        state.runState = TaskRuntimeState::RunState(runState);
        state.lastRunTime = QDateTime(QDate(2024, 3, 15), QTime(9, 30));
        state.lastTaskResult = 1;
        store.WriteState(Path("\\T"), state);
        const ClientIdentity peer{getuid(), getgid(), getpid()};
        QCborMap reply = core.Handle(QCborMap{{QStringLiteral("op"), Gen2Protocol::kTaskStatus},
                                              {QStringLiteral("folder"), QStringLiteral("\\")},
                                              {QStringLiteral("path"), QStringLiteral("T")}},
                                     peer);
        QCOMPARE(reply.value(QStringLiteral("hr")).toInteger(), 0);
        QCOMPARE(reply.value(QStringLiteral("state")).toInteger(), expected);
        QCOMPARE(reply.value(QStringLiteral("lastTaskResult")).toInteger(), 1);
        QCOMPARE(QDateTime::fromMSecsSinceEpoch(reply.value(QStringLiteral("lastRunTime")).toInteger()), state.lastRunTime);
        QVERIFY(!reply.contains(QStringLiteral("nextRunTime")));

        // A listing that asks for statuses carries the same answer for each task, with or
        // without the documents; one that does not ask (an older client) has none.
        reply.remove(QStringLiteral("hr"));
        const auto listed = [&](QCborMap extra) {
            extra.insert(QStringLiteral("op"), Gen2Protocol::kTaskList);
            extra.insert(QStringLiteral("folder"), QStringLiteral("\\"));
            extra.insert(QStringLiteral("path"), QString());
            const QCborMap list = core.Handle(extra, peer);
            return list.value(QStringLiteral("tasks")).toArray().at(0).toMap();
        };
        const QCborMap both = listed({{QStringLiteral("status"), true}});
        QCOMPARE(both.value(QStringLiteral("status")).toMap(), reply);
        QCOMPARE(both.value(QStringLiteral("xml")).toByteArray(), store.LoadTask(Path("\\T")).xml);
        const QCborMap statusOnly = listed({{QStringLiteral("status"), true}, {QStringLiteral("xml"), false}});
        QCOMPARE(statusOnly.value(QStringLiteral("status")).toMap(), reply);
        QVERIFY(!statusOnly.contains(QStringLiteral("xml")));
        QCOMPARE(statusOnly.value(QStringLiteral("path")).toString(), QStringLiteral("\\T"));
        const QCborMap plain = listed({});
        QVERIFY(!plain.contains(QStringLiteral("status")));
        QVERIFY(plain.contains(QStringLiteral("xml")));

        // Packed, the same answers: the status as it reads, the document as it is stored.
        const auto packed = [&](QCborMap extra) {
            extra.insert(QStringLiteral("op"), Gen2Protocol::kTaskList);
            extra.insert(QStringLiteral("folder"), QStringLiteral("\\"));
            extra.insert(QStringLiteral("path"), QString());
            extra.insert(Gen2Protocol::Key::Packed, true);
            const QCborMap list = core.Handle(extra, peer);
            auto listing = ListingWire::Read(list);
            if (list.contains(Gen2Protocol::Key::Tasks) || !listing || listing->entries.size() != 1 || listing->Path(0) != QStringLiteral("\\T"))
                listing.reset();
            return listing;
        };
        const auto packedBoth = packed({{QStringLiteral("status"), true}});
        QVERIFY(packedBoth);
        QCOMPARE(ListingWire::StatusMap(packedBoth->Status(0)), reply);
        QCOMPARE(packedBoth->Xml(0), store.LoadTask(Path("\\T")).xml);
        const auto packedStatus = packed({{QStringLiteral("status"), true}, {QStringLiteral("xml"), false}});
        QVERIFY(packedStatus);
        QCOMPARE(ListingWire::StatusMap(packedStatus->Status(0)), reply);
        QVERIFY(packedStatus->Xml(0).isEmpty());
        const auto packedPlain = packed({});
        QVERIFY(packedPlain && !packedPlain->HasStatuses());

        // Asked with this build's packed form, the texts come in it, as the cache holds them;
        // asked with another, as they are stored.
        const qint64 form = qint64(PackedDocument::FormatId());
        const auto packedTexts = packed({{Gen2Protocol::Key::PackedTexts, form}});
        QVERIFY(packedTexts);
        QCOMPARE(packedTexts->textForm, std::optional<qint64>(form));
        const QByteArray text = packedTexts->Xml(0);
        QCOMPARE(text.front(), char(ListingWire::PackedText));
        QCOMPARE(PackedDocument(store.LoadTask(Path("\\T")).xml).Bytes().toByteArray(), text.mid(1));
        const auto otherForm = packed({{Gen2Protocol::Key::PackedTexts, form + 1}});
        QVERIFY(otherForm && !otherForm->textForm);
        QCOMPARE(otherForm->Xml(0), store.LoadTask(Path("\\T")).xml);
        const auto statusWithForm = packed({{Gen2Protocol::Key::PackedTexts, form}, {QStringLiteral("xml"), false}});
        QVERIFY(statusWithForm && !statusWithForm->textForm && statusWithForm->Xml(0).isEmpty());
    }

    void listedStatusFollowsChanges()
    {
        // What a listing keeps of a task's next start and state must never outlive a change
        // of the document, of the state file, or of the moment asked about.
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        TaskDocument doc = Runnable();
        TriggerData daily;
        daily.type = TASK_TRIGGER_DAILY;
        daily.startBoundary = QStringLiteral("2024-03-15T09:00:00Z");
        doc.triggers = {daily};
        store.StoreTask(Path("\\T"), doc, TaskStore::Mode::Create);
        const auto listed = [&](bool withTexts) {
            QList<ListedTask> tasks;
            store.ListTaskTexts(TaskPath(), &tasks, nullptr, withTexts);
            return tasks.value(0);
        };
        const auto expected = [&](const TaskDocument& d, const QDateTime& now) {
            const QList<QDateTime> starts = ScheduledRunTimes(d, now, {}, 1);
            return starts.isEmpty() ? std::optional<qint64>() : starts.first().toMSecsSinceEpoch();
        };
        // Moments before, at, just after a start and back again, in that order.
        const QDateTime at = QDateTime(QDate(2024, 3, 20), QTime(9, 0), Qt::UTC);
        for (const QDateTime& now : {at.addSecs(-3600), at, at.addMSecs(1), at.addDays(3), at.addSecs(-3600), at.addYears(-1)}) {
            for (const bool withTexts : {true, false}) {
                const auto next = store.NextStart(listed(withTexts), now);
                QVERIFY(next);
                QCOMPARE(*next, *expected(doc, now));
            }
        }
        // A changed document: its own start, whatever was kept of the one before.
        doc.triggers[0].startBoundary = QStringLiteral("2024-03-15T11:30:00Z");
        store.StoreTask(Path("\\T"), doc, TaskStore::Mode::Update);
        QCOMPARE(*store.NextStart(listed(false), at), *expected(doc, at));
        doc.triggers.clear();
        store.StoreTask(Path("\\T"), doc, TaskStore::Mode::Update);
        QVERIFY(!store.NextStart(listed(false), at));

        // The state as written last, a damaged one refused, a removed one the default again.
        QString error;
        QCOMPARE(*store.ReadListedState(listed(false), &error), TaskRuntimeState{});
        TaskRuntimeState state;
        state.lastRunTime = QDateTime(QDate(2024, 3, 15), QTime(9, 30));
        for (const qint32 result : {1, 2, 3}) {
            state.lastTaskResult = result;
            store.WriteState(Path("\\T"), state);
            const auto read = store.ReadListedState(listed(false), &error);
            QVERIFY(read);
            QCOMPARE(read->lastTaskResult, result);
            QCOMPARE(read->lastRunTime, state.lastRunTime);
        }
        QFile file(store.StateFile(Path("\\T")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"version\": 1, \"runState\": 9}");
        file.close();
        QVERIFY(!store.ReadListedState(listed(false), &error));
        QVERIFY(QFile::remove(store.StateFile(Path("\\T"))));
        QCOMPARE(*store.ReadListedState(listed(false), &error), TaskRuntimeState{});
    }

    void relativeRootBecomesAbsolute()
    {
        // Clients, the daemon and the programs it runs in other directories must agree.
        const QByteArray previous = qgetenv("TASKSCHEDULER_HOME");
        qputenv("TASKSCHEDULER_HOME", "some/relative/../root");
        const QString path = ServiceRoot::DefaultPath();
        qputenv("TASKSCHEDULER_HOME", previous);
        QCOMPARE(path, QDir::current().absoluteFilePath(QStringLiteral("some/root")));
    }

    void oneWriterAtATime()
    {
        TemporaryServiceRoot root;
        ServiceRoot serviceRoot(root.Path());
        QVERIFY(serviceRoot.Ensure());
        TaskStore store(serviceRoot, 100);
        QLockFile other(serviceRoot.StoreLockPath());
        QVERIFY(other.lock());
        try {
            store.StoreTask(Path("\\T"), Runnable(), TaskStore::Mode::Create);
            QFAIL("stored while another writer held the store");
        } catch (const ServiceError& e) {
            QCOMPARE(e.Code(), SCHED_E_SERVICE_TOO_BUSY);
        }
        QVERIFY_THROWS_EXCEPTION(ServiceError, store.CreateFolder(Path("\\F")));
        QList<StoredTask> tasks;
        store.ListTasks(TaskPath(), &tasks, nullptr);   // readers take no lock
        QVERIFY(tasks.isEmpty());
        other.unlock();
        store.StoreTask(Path("\\T"), Runnable(), TaskStore::Mode::Create);
    }

    void leftoversOfInterruptedWrites()
    {
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        store.StoreTask(Path("\\T"), FullDocument(), TaskStore::Mode::Create);
        const QString file = store.TaskFile(Path("\\T"));
        QFile leftover(file + QStringLiteral(".Xa1b2C"));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.write(TaskDocumentCodec::Encode(Runnable()).left(40));
        leftover.close();
        QList<StoredTask> tasks;
        QList<DamagedTask> damaged;
        store.ListTasks(TaskPath(), &tasks, &damaged);
        QCOMPARE(tasks.size(), 1);
        QVERIFY(tasks.first().doc == FullDocument());
        QVERIFY(damaged.isEmpty());
        QCOMPARE(store.FolderNames(TaskPath()), QStringList());
    }

    void listingTakesEntriesByTheirKind()
    {
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        store.StoreTask(Path("\\A"), Runnable(), TaskStore::Mode::Create);
        store.CreateFolder(Path("\\Sub"));
        const QString tasks = fresh.serviceRoot.TasksDir() + QLatin1Char('/');
        QVERIFY(QDir().mkdir(tasks + QStringLiteral("Dir.task")));                      // a directory is no task
        QVERIFY(QFile::copy(store.TaskFile(Path("\\A")), tasks + QStringLiteral("File.folder")));   // a file is no folder
        QVERIFY(QFile::copy(store.TaskFile(Path("\\A")), tasks + QStringLiteral("Upper.TASK")));    // not the store's suffix
        // A link counts as what it points to.
        QVERIFY(QFile::link(store.TaskFile(Path("\\A")), tasks + QStringLiteral("Linked.task")));
        QVERIFY(QFile::link(tasks + QStringLiteral("Sub.folder"), tasks + QStringLiteral("LinkedSub.folder")));
        QVERIFY(QFile::link(tasks + QStringLiteral("nowhere"), tasks + QStringLiteral("Dangling.task")));
        QCOMPARE(::mkfifo(QFile::encodeName(tasks + QStringLiteral("Pipe.task")).constData(), 0600), 0);

        QList<StoredTask> listed;
        QList<DamagedTask> damaged;
        store.ListTasks(TaskPath(), &listed, &damaged);
        QStringList names;
        for (const StoredTask& t : listed) names << t.path.Name();
        QCOMPARE(names, (QStringList{QStringLiteral("A"), QStringLiteral("Linked")}));
        QVERIFY(damaged.isEmpty());
        QCOMPARE(store.FolderNames(TaskPath()), (QStringList{QStringLiteral("LinkedSub"), QStringLiteral("Sub")}));
        // Asked for by name, a pipe is no task either, and reading it does not wait for a writer.
        QVERIFY_THROWS_EXCEPTION(ServiceError, store.LoadTask(Path("\\Pipe")));
    }

    // Paths as a caller writes them, and the names a store's files give: what is refused, and
    // the one spelling an accepted path is written back in. Lengths count UTF-8 bytes as well.
    void pathRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written");   // empty: refused
        const auto repeat = [](const char16_t* unit, int n) { return QString::fromUtf16(unit).repeated(n); };
        QTest::newRow("root") << "\\" << "\\";
        QTest::newRow("empty is the root") << "" << "\\";
        QTest::newRow("one name") << "Backup" << "\\Backup";
        QTest::newRow("leading and trailing backslash") << "\\Reports\\Daily\\" << "\\Reports\\Daily";
        QTest::newRow("empty name inside") << "\\Reports\\\\Daily" << "";
        QTest::newRow("dot dot") << "\\Reports\\.." << "";
        QTest::newRow("slash") << "a/b" << "";
        QTest::newRow("control character") << QStringLiteral("a\tb") << "";
        QTest::newRow("unpaired surrogate") << QString(QString(QChar(0xD800)) + QStringLiteral("x")) << "";
        QTest::newRow("200 characters") << QString(200, QLatin1Char('a')) << QString(QLatin1Char('\\') + QString(200, QLatin1Char('a')));
        QTest::newRow("201 characters") << QString(201, QLatin1Char('a')) << "";
        QTest::newRow("120 two-byte characters") << repeat(u"\u00e9", 120) << QString(QLatin1Char('\\') + repeat(u"\u00e9", 120));
        QTest::newRow("121 two-byte characters") << repeat(u"\u00e9", 121) << "";
        QTest::newRow("80 three-byte characters") << repeat(u"\u20ac", 80) << QString(QLatin1Char('\\') + repeat(u"\u20ac", 80));
        QTest::newRow("81 three-byte characters") << repeat(u"\u20ac", 81) << "";
        QTest::newRow("60 four-byte characters") << repeat(u"\U0001F600", 60) << QString(QLatin1Char('\\') + repeat(u"\U0001F600", 60));
        QTest::newRow("61 four-byte characters") << repeat(u"\U0001F600", 61) << "";
        QStringList deep;
        for (int i = 0; i < TaskPath::MaxDepth; ++i) deep.append(QStringLiteral("f%1").arg(i));
        QTest::newRow("deepest") << deep.join(QLatin1Char('\\')) << QString(QLatin1Char('\\') + deep.join(QLatin1Char('\\')));
        QTest::newRow("too deep") << QString(deep.join(QLatin1Char('\\')) + QStringLiteral("\\x")) << "";
    }

    void pathRules()
    {
        QFETCH(QString, text);
        QFETCH(QString, written);
        QString error;
        const auto path = TaskPath::Parse(text, &error);
        QCOMPARE(path.has_value(), !written.isEmpty());
        if (!path) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(path->ToString(), written);
        QVERIFY(TaskPath::Parse(path->ToString()) == path);
        if (path->IsRoot()) return;
        // A name read from a folder joins its parent the way a parsed path does.
        const auto child = path->Parent().Child(path->Name());
        QVERIFY(child);
        QVERIFY(*child == *path);
        QCOMPARE(child->ToString(), written);
    }

    void childNamesAreChecked()
    {
        const TaskPath folder = Path("\\Reports");
        QString error;
        for (const QString& bad : {QString(), QStringLiteral(".."), QStringLiteral("a\\b"), QString(201, QLatin1Char('x'))}) {
            QVERIFY2(!folder.Child(bad, &error), qPrintable(bad));
            QVERIFY(!error.isEmpty());
        }
        QStringList names;
        for (int i = 0; i < TaskPath::MaxDepth; ++i) names.append(QStringLiteral("f%1").arg(i));
        const TaskPath deepest = *TaskPath::Parse(names.join(QLatin1Char('\\')));
        QVERIFY(!deepest.Child(QStringLiteral("x")));
        QCOMPARE(deepest.Parent().Child(QStringLiteral("x"))->Names().size(), TaskPath::MaxDepth);
    }

    void namesIgnoreCase_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::newRow("same") << "\\Reports\\Backup";
        QTest::newRow("task in another case") << "\\Reports\\BACKUP";
        QTest::newRow("folder in another case") << "\\reports\\Backup";
        QTest::newRow("both") << "\\REPORTS\\backup";
    }

    void namesIgnoreCase()
    {
        QFETCH(QString, asked);
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        const TaskPath stored = Path("\\Reports\\Backup");
        const TaskPath path = *TaskPath::Parse(asked);
        store.StoreTask(stored, Runnable(), TaskStore::Mode::Create);
        try {
            store.StoreTask(path, Runnable(), TaskStore::Mode::Create);
            QFAIL("a second spelling was created");
        } catch (const ServiceError& e) {
            QCOMPARE(e.Code(), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
            QVERIFY2(e.Message().contains(QStringLiteral("\\Reports\\Backup")), qPrintable(e.Message()));
        }
        QVERIFY_THROWS_EXCEPTION(ServiceError, store.CreateFolder(path.Parent()));
        QVERIFY(store.FolderExists(path.Parent()));
        QCOMPARE(store.LoadTask(path).path, stored);

        TaskDocument changed = Runnable();
        changed.registrationInfo.description = QStringLiteral("updated");
        QCOMPARE(store.StoreTask(path, changed, TaskStore::Mode::CreateOrUpdate).path, stored);
        QList<StoredTask> tasks;
        store.ListTasks(path.Parent(), &tasks, nullptr);
        QCOMPARE(tasks.size(), 1);
        QCOMPARE(tasks.first().path, stored);
        QCOMPARE(tasks.first().doc.registrationInfo.description, QStringLiteral("updated"));
        QCOMPARE(store.FolderNames(TaskPath()), QStringList{QStringLiteral("Reports")});

        TaskRuntimeState state;
        state.missedRuns = 3;
        store.WriteState(path, state);
        QString error;
        QCOMPARE(store.ReadState(stored, &error)->missedRuns, 3);
        store.DeleteTask(path);
        QVERIFY_THROWS_EXCEPTION(ServiceError, store.LoadTask(stored));
        store.DeleteFolder(path.Parent());
        QVERIFY(!store.FolderExists(stored.Parent()));
    }

    // Every task of a folder one at a time: the same tasks, in the same order, as a listing,
    // read from the files and then from the cache; a damaged file is reported, not visited;
    // a visit that fails ends the walk with its own error, and reports nothing as damaged.
    void eachTaskOneAtATime()
    {
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        for (const char* name : {"\\F\\Charlie", "\\F\\Alpha", "\\F\\Bravo"}) {
            TaskDocument doc = Runnable();
            doc.registrationInfo.description = QString::fromLatin1(name);
            store.StoreTask(Path(name), doc, TaskStore::Mode::Create);
        }
        QFile broken(store.TaskFile(Path("\\F\\Bravo")));
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("<Task");
        broken.close();

        for (int pass = 0; pass < 2; ++pass) {
            QStringList visited;
            QList<DamagedTask> damaged;
            store.EachTask(Path("\\F"), [&](StoredTask&& task) {
                QCOMPARE(task.doc.registrationInfo.description, task.path.ToString());
                QCOMPARE(task.file, store.TaskFile(task.path));
                visited.append(task.path.ToString());
            }, &damaged);
            QCOMPARE(visited, (QStringList{QStringLiteral("\\F\\Alpha"), QStringLiteral("\\F\\Charlie")}));
            QCOMPARE(damaged.size(), 1);
            QCOMPARE(damaged.first().path, Path("\\F\\Bravo"));
            QList<StoredTask> listed;
            store.ListTasks(Path("\\F"), &listed, nullptr);
            QCOMPARE(listed.size(), 2);
            QCOMPARE(listed.first().path, Path("\\F\\Alpha"));
        }

        QList<DamagedTask> damaged;
        int visits = 0;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, store.EachTask(Path("\\F"), [&](StoredTask&&) {
            ++visits;
            throw std::runtime_error("stop");
        }, &damaged));
        QCOMPARE(visits, 1);
        QVERIFY(damaged.isEmpty());
        QVERIFY_THROWS_EXCEPTION(ServiceError, store.EachTask(Path("\\Missing"), [](StoredTask&&) {}, nullptr));
    }

    // A folder read in batches gives what reading each file by itself gives: the same tasks,
    // texts and file facts, the same damaged ones with the same reasons, and readings the
    // cache then knows again.
    void batchesReadAsFilesAlone_data()
    {
        QTest::addColumn<bool>("batched");
        QTest::newRow("in batches") << true;
        QTest::newRow("one at a time") << false;
    }

    void batchesReadAsFilesAlone()
    {
        QFETCH(bool, batched);
        FileBatch::SetEnabled(batched);
        const struct Restore {
            ~Restore() { FileBatch::SetEnabled(true); }
        } restore;
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        // More tasks than one batch takes, one with a text longer than a batch reads itself;
        // written as files, so that the cache knows none of them.
        store.CreateFolder(Path("\\F"));
        const QString dir = fresh.serviceRoot.TasksDir() + QStringLiteral("/F.folder/");
        for (int i = 0; i < FileBatch::Capacity * 2 + 5; ++i) {
            TaskDocument doc = Runnable();
            doc.registrationInfo.description = QStringLiteral("task %1").arg(i);
            if (i == 7) doc.registrationInfo.description = QString(100 * 1024, QLatin1Char('x'));
            QFile file(dir + QStringLiteral("T%1.task").arg(i, 3, 10, QLatin1Char('0')));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(TaskDocumentCodec::Encode(doc));
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        }
        QVERIFY(QFile::link(dir + QStringLiteral("T001.task"), dir + QStringLiteral("T001-link.task")));
        QVERIFY(QFile::link(dir + QStringLiteral("nowhere"), dir + QStringLiteral("T002-dangling.task")));
        QCOMPARE(::mkfifo(QFile::encodeName(dir + QStringLiteral("T003-pipe.task")).constData(), 0600), 0);
        QFile empty(dir + QStringLiteral("T004-empty.task"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QFile huge(dir + QStringLiteral("T005-huge.task"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(TaskDocumentCodec::MaxDocumentBytes + 1));
        huge.close();
        QFile cut(dir + QStringLiteral("T006-cut.task"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write("<Task");
        cut.close();

        QList<StoredTask> tasks;
        QList<DamagedTask> damaged;
        store.ListTasks(Path("\\F"), &tasks, &damaged);
        QCOMPARE(tasks.size(), FileBatch::Capacity * 2 + 5 + 1);   // the link is the task it points to
        for (const StoredTask& task : std::as_const(tasks)) {
            QFile file(task.file);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(task.xml, file.readAll());
            QVERIFY(task.facts.known && task.facts.regular);
            QCOMPARE(task.facts.link, task.path.Name() == QStringLiteral("T001-link"));
            QCOMPARE(task.facts.owner, geteuid());
            QCOMPARE(task.facts.mode & 0777, mode_t(0600));
        }
        QCOMPARE(tasks[8].doc.registrationInfo.description.size(), 100 * 1024);   // \F\T007 after the link
        QStringList damagedNames;
        for (const DamagedTask& d : std::as_const(damaged)) damagedNames << d.path.Name() + QLatin1Char(':') + d.error.section(QLatin1Char('('), 1);
        QCOMPARE(damaged.size(), 3);   // the dangling link and the pipe are no tasks
        QVERIFY2(damagedNames[0].startsWith(QStringLiteral("T004-empty:")), qPrintable(damagedNames.join(QLatin1Char('|'))));
        QVERIFY2(damagedNames[1].contains(QStringLiteral("too large")), qPrintable(damagedNames[1]));
        QVERIFY2(damagedNames[2].startsWith(QStringLiteral("T006-cut:")), qPrintable(damagedNames[2]));

        // What was read is known to the cache by the file's signature: a listing reads nothing again.
        QList<ListedTask> first;
        QList<ListedTask> second;
        store.ListTaskTexts(Path("\\F"), &first, nullptr);
        store.ListTaskTexts(Path("\\F"), &second, nullptr);
        QCOMPARE(first.size(), tasks.size());
        for (qsizetype i = 0; i < first.size(); ++i) {
            QCOMPARE(first[i].reading, second[i].reading);
            QCOMPARE(first[i].xml, tasks[i].xml);
        }
    }

    // A name asked for in another letter case finds its stored spelling among the folder's
    // other entries, however they are spelt; the first in sorted order when there are several.
    void storedSpellingAmongOthers_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("found");   // empty: no task of that name
        const QStringList none;
        QTest::newRow("letter case") << QStringList{QStringLiteral("Backup")} << none << QStringLiteral("BACKUP") << QStringLiteral("Backup");
        QTest::newRow("letters beyond ASCII") << QStringList{QStringLiteral("\u00dcber")} << none << QStringLiteral("\u00fcBER")
                                              << QStringLiteral("\u00dcber");
        QTest::newRow("ASCII name, stored with a letter beyond it") << QStringList{QStringLiteral("\u212Aelvin")} << none
                                                                    << QStringLiteral("kelvin") << QStringLiteral("\u212Aelvin");
        QTest::newRow("several spellings") << QStringList{QStringLiteral("backup"), QStringLiteral("BackUp"), QStringLiteral("Backup")} << none
                                           << QStringLiteral("BACKUP") << QStringLiteral("BackUp");
        QTest::newRow("longer and shorter names") << QStringList{QStringLiteral("Backups"), QStringLiteral("Backu"), QStringLiteral("Backup")}
                                                  << none << QStringLiteral("backup") << QStringLiteral("Backup");
        QTest::newRow("a folder of the name") << QStringList{QStringLiteral("Other")} << QStringList{QStringLiteral("Backup")}
                                              << QStringLiteral("backup") << QString();
    }

    void storedSpellingAmongOthers()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, folders);
        QFETCH(QString, asked);
        QFETCH(QString, found);
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        for (int i = 0; i < 50; ++i) store.StoreTask(*TaskPath::Parse(QStringLiteral("\\F\\Task %1").arg(i)), Runnable(), TaskStore::Mode::Create);
        const auto inF = [](const QString& name) { return *TaskPath::Parse(QStringLiteral("\\F\\") + name); };
        // Put there as files: the store itself keeps one spelling of a name.
        store.StoreTask(inF(stored.first()), Runnable(), TaskStore::Mode::Create);
        for (const QString& name : stored.mid(1)) QVERIFY(QFile::copy(store.TaskFile(inF(stored.first())), store.TaskFile(inF(name))));
        for (const QString& name : folders) store.CreateFolder(inF(name));
        if (found.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(ServiceError, store.LoadTask(inF(asked)));
            return;
        }
        QCOMPARE(store.LoadTask(inF(asked)).path, inF(found));
        QCOMPARE(store.ResolveTask(inF(asked)), inF(found));
        // A registration under the asked name replaces the stored spelling.
        const StoredTask replaced = store.StoreTask(inF(asked), Runnable(), TaskStore::Mode::CreateOrUpdate);
        QCOMPARE(replaced.path, inF(found));
        QVERIFY(replaced.replaced);
        QVERIFY(!QFileInfo::exists(store.TaskFile(inF(asked))) || asked == found);
    }

    void twoStoredSpellingsStayApart()
    {
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        TaskDocument upper = Runnable();
        upper.registrationInfo.description = QStringLiteral("upper");
        store.StoreTask(Path("\\Backup"), upper, TaskStore::Mode::Create);
        QVERIFY(QFile::copy(store.TaskFile(Path("\\Backup")), store.TaskFile(Path("\\backup"))));
        TaskDocument lower = Runnable();
        lower.registrationInfo.description = QStringLiteral("lower");
        store.StoreTask(Path("\\backup"), lower, TaskStore::Mode::CreateOrUpdate);
        QList<StoredTask> tasks;
        store.ListTasks(TaskPath(), &tasks, nullptr);
        QCOMPARE(tasks.size(), 2);
        QCOMPARE(store.LoadTask(Path("\\Backup")).doc.registrationInfo.description, QStringLiteral("upper"));
        QCOMPARE(store.LoadTask(Path("\\backup")).doc.registrationInfo.description, QStringLiteral("lower"));
        store.DeleteTask(Path("\\backup"));
        QCOMPARE(store.LoadTask(Path("\\BACKUP")).path, Path("\\Backup"));
    }

    void damagedDocumentIsReported_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::newRow("renamed encoding attribute") << QByteArray("encoding=") << QByteArray("encodinf=");
        QTest::newRow("cut-off character") << QByteArray("</Task>") << QByteArray("</Task>\xc3");
    }

    void damagedDocumentIsReported()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        TaskDocument doc = Runnable();
        doc.registrationInfo.description = QStringLiteral("bell \a");   // stored encoded
        store.StoreTask(Path("\\T"), doc, TaskStore::Mode::Create);
        QFile file(store.TaskFile(Path("\\T")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        file.close();
        QVERIFY(bytes.contains(from));
        bytes.replace(from, to);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();

        QList<StoredTask> tasks;
        QList<DamagedTask> damaged;
        store.ListTasks(TaskPath(), &tasks, &damaged);
        QVERIFY(tasks.isEmpty());
        QCOMPARE(damaged.size(), 1);
        QVERIFY2(damaged.first().error.contains(QStringLiteral("damaged")), qPrintable(damaged.first().error));
        QList<ListedTask> texts;
        damaged.clear();
        store.ListTaskTexts(TaskPath(), &texts, &damaged);
        QVERIFY(texts.isEmpty());
        QCOMPARE(damaged.size(), 1);
        try {
            store.LoadTask(Path("\\T"));
            QFAIL("a damaged document loaded");
        } catch (const ServiceError& e) {
            QCOMPARE(e.Code(), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
        }
    }

    void listedTextsAsStored()
    {
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        TaskDocument hidden = Runnable();
        hidden.settings.hidden = true;
        TaskDocument disabled = Runnable();
        disabled.settings.enabled = false;
        store.StoreTask(Path("\\Hidden"), hidden, TaskStore::Mode::Create);
        store.StoreTask(Path("\\Off"), disabled, TaskStore::Mode::Create);
        const auto listed = [&] {
            QList<ListedTask> texts;
            store.ListTaskTexts(TaskPath(), &texts, nullptr);
            return texts;
        };
        const auto fileOf = [&](const char* path) {
            QFile file(store.TaskFile(Path(path)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        // Read from the cache the writes filled, then from the files again after they were
        // replaced behind the store's back.
        for (int round = 0; round < 2; ++round) {
            const QList<ListedTask> texts = listed();
            QCOMPARE(texts.size(), 2);
            QCOMPARE(texts[0].xml, fileOf("\\Hidden"));
            QCOMPARE(texts[1].xml, fileOf("\\Off"));
            QVERIFY(texts[0].facts.hidden && texts[0].facts.enabled);
            QVERIFY(!texts[1].facts.hidden && !texts[1].facts.enabled);
            for (const char* path : {"\\Hidden", "\\Off"}) {
                const QByteArray bytes = fileOf(path);
                QFile::remove(store.TaskFile(Path(path)));
                QFile file(store.TaskFile(Path(path)));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(bytes);
            }
        }
        store.ChangeTask(Path("\\Off"), [](TaskDocument& doc) { doc.settings.enabled = true; });
        QVERIFY(listed()[1].facts.enabled);
    }

    void listedTextsFollowFilesReplacedBehind_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("listed as stored") << 0;
        QTest::newRow("listed packed") << 1;
        QTest::newRow("loaded") << 2;
    }

    void listedTextsFollowFilesReplacedBehind()
    {
        // Documents of other lengths written over the one the cache holds, by another
        // process: whichever way the task is read next, it is read as it is now.
        QFETCH(int, how);
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        store.StoreTask(Path("\\T"), Runnable(), TaskStore::Mode::Create);
        const auto read = [&]() -> QByteArray {
            if (how == 2) return store.LoadTask(Path("\\T")).xml;
            QList<ListedTask> texts;
            store.ListTaskTexts(TaskPath(), &texts, nullptr, true, how == 1);
            if (texts.size() != 1) return QByteArray();
            return how == 1 ? texts[0].packed.Unpack() : texts[0].xml;
        };
        QCOMPARE(read(), TaskDocumentCodec::Encode(Runnable()));
        for (const QString& description : {QStringLiteral("A description far longer than none at all, to move every byte"),
                                           QStringLiteral("Short"), QString()}) {
            TaskDocument doc = Runnable();
            doc.registrationInfo.description = description;
            const QByteArray xml = TaskDocumentCodec::Encode(doc);
            QVERIFY(QFile::remove(store.TaskFile(Path("\\T"))));
            QFile file(store.TaskFile(Path("\\T")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(xml);
            file.close();
            QCOMPARE(read(), xml);
            QCOMPARE(read(), xml);   // from the cache the reading filled
        }
    }

    void sameNameInEveryFolder()
    {
        // The cache knows a task by its folder and its name: tasks of one name in several
        // folders, one folder's directory the beginning of another's, stay apart.
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        const QStringList paths{u"\\T"_qs, u"\\F\\T"_qs, u"\\F\\G\\T"_qs, u"\\FG\\T"_qs};
        const auto describe = [](const QString& path) {
            TaskDocument doc = Runnable();
            doc.registrationInfo.description = path;
            return doc;
        };
        for (const QString& path : paths) store.StoreTask(*TaskPath::Parse(path), describe(path), TaskStore::Mode::Create);
        const auto check = [&](const QStringList& present) {
            for (const QString& path : present) {
                const TaskPath task = *TaskPath::Parse(path);
                QCOMPARE(store.LoadTask(task).doc.registrationInfo.description, path);
                QList<ListedTask> listed;
                store.ListTaskTexts(task.Parent(), &listed, nullptr, true, true);
                QCOMPARE(listed.size(), 1);
                QCOMPARE(listed[0].packed.Unpack(), TaskDocumentCodec::Encode(describe(path)));
            }
        };
        check(paths);
        store.DeleteTask(*TaskPath::Parse(u"\\F\\T"_qs));
        QVERIFY_THROWS_EXCEPTION(ServiceError, store.LoadTask(*TaskPath::Parse(u"\\F\\T"_qs)));
        check({u"\\T"_qs, u"\\F\\G\\T"_qs, u"\\FG\\T"_qs});
    }

    void changeTask()
    {
        FreshStore fresh;
        QVERIFY(fresh.ready);
        TaskStore& store = fresh.store;
        store.StoreTask(Path("\\T"), Runnable(), TaskStore::Mode::Create);
        store.ChangeTask(Path("\\T"), [](TaskDocument& doc) { doc.settings.enabled = false; });
        QVERIFY(!store.LoadTask(Path("\\T")).doc.settings.enabled);
        QVERIFY_THROWS_EXCEPTION(ServiceError, store.ChangeTask(Path("\\Missing"), [](TaskDocument&) {}));
    }
};

QTEST_GUILESS_MAIN(TestTaskStore)
#include "tst_taskstore.moc"
