// The store's write-ahead journal: what a writer that stopped at any point leaves is brought
// back by the next one, never older than what was acknowledged and never what was refused.
// A second StoreJournal object of the same root stands for a writer in another process: it
// shares nothing with the stores' own but the files.

#include "ServiceCore.h"
#include "ServiceError.h"
#include "ServiceRoot.h"
#include "StoreJournal.h"
#include "StoreLock.h"
#include "gen2/TaskStore.h"
#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <functional>

namespace {

TaskPath Path(const char* text) { return *TaskPath::Parse(QLatin1String(text)); }

TaskDocument Runnable(const QString& program)
{
    TaskDocument doc;
    ActionData exec;
    exec.path = program;
    doc.actions = {exec};
    return doc;
}

QByteArray Read(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

// A root whose journal this process stops using when the test ends.
struct Root {
    TemporaryServiceRoot home;
    ServiceRoot root{home.Path()};
    TaskStore store{root};
    Root() { root.Ensure(); }
    ~Root() { StoreJournal::Close(home.Path()); }
    QString Task(const char* path) const { return store.TaskFile(Path(path)); }
    QString State(const char* path) const { return store.StateFile(Path(path)); }
};

// A writer of another process: its own journal object, under the store lock.
struct OtherWriter {
    explicit OtherWriter(const ServiceRoot& root) : journal(root.Path()), lock(root.StoreLockPath())
    {
        if (!lock.Acquire(5000, nullptr, nullptr)) throw ServiceError(E_FAIL, QStringLiteral("no lock"));
        journal.Sync();
    }
    StoreJournal journal;
    StoreLock lock;
};

bool JournalIsEmpty(const ServiceRoot& root)
{
    const QByteArray head = Read(StoreJournal::FileOf(root.Path())).left(40);
    return head.size() == 40 && head.count('\0') == 40;
}

} // namespace

class TestStoreJournal : public QObject {
    Q_OBJECT

private slots:
    // What a crash after the journal's flush can leave of the file: nothing, an empty file
    // (renamed, its data never written out), or the old file (the rename lost). The change
    // is there for the service when it is opened, before it answers anything.
    void acknowledgedChangeIsReplayed_data()
    {
        QTest::addColumn<QByteArray>("left");   // "(missing)": no file
        QTest::newRow("never written") << QByteArray("(missing)");
        QTest::newRow("renamed, its data lost") << QByteArray();
        QTest::newRow("the rename lost") << QByteArray("<Task>old</Task>");
    }

    void acknowledgedChangeIsReplayed()
    {
        QFETCH(QByteArray, left);
        Root r;
        const QString file = r.Task("\\T");
        {
            OtherWriter other(r.root);
            QVERIFY(other.journal.Append({StoreJournal::Change{file, "<Task>journaled</Task>", 0640}}));
        }
        if (left != "(missing)") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(left);
            // With the mode the record gives: only the content tells it from the change.
            QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        }
        ServiceCore(r.root);
        QCOMPARE(Read(file), QByteArray("<Task>journaled</Task>"));
        QCOMPARE(QFile::permissions(file), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                                                | QFileDevice::WriteUser | QFileDevice::ReadGroup);
        QVERIFY(JournalIsEmpty(r.root));
    }

    // Damage in the chain: what lies before it is replayed, nothing after it, and the rest of
    // the store is left as it was.
    void damagedRecordEndsTheChain_data()
    {
        QTest::addColumn<QByteArray>("damaged");   // the content whose record is damaged
        QTest::addColumn<bool>("truncated");       // torn short, or one byte changed
        QTest::addColumn<bool>("firstKept");
        QTest::newRow("last record torn") << QByteArray("second") << true << true;
        QTest::newRow("last record changed") << QByteArray("second") << false << true;
        QTest::newRow("first record changed") << QByteArray("first") << false << false;
    }

    void damagedRecordEndsTheChain()
    {
        QFETCH(QByteArray, damaged);
        QFETCH(bool, truncated);
        QFETCH(bool, firstKept);
        Root r;
        r.store.StoreTask(Path("\\Kept"), Runnable(QStringLiteral("/bin/kept")), TaskStore::Mode::Create);
        StoreJournal::Close(r.home.Path());
        const QString a = r.Task("\\A");
        const QString b = r.Task("\\B");
        {
            OtherWriter other(r.root);
            QVERIFY(other.journal.Append({StoreJournal::Change{a, "first-content"}}));
            QVERIFY(other.journal.Append({StoreJournal::Change{b, "second-content"}}));
        }
        QFile journal(StoreJournal::FileOf(r.root.Path()));
        QVERIFY(journal.open(QIODevice::ReadWrite));
        QByteArray bytes = journal.readAll();
        const qsizetype at = bytes.indexOf(damaged + "-content");
        QVERIFY(at > 0);
        // A torn write leaves the preallocated zeros where its end did not reach.
        if (truncated) bytes.replace(at + 3, 11, QByteArray(11, '\0'));
        else bytes[at + 2] = 'X';
        journal.seek(0);
        journal.write(bytes);
        journal.close();

        r.store.Recover();
        QCOMPARE(QFile::exists(a), firstKept);
        QVERIFY(!QFile::exists(b));
        QCOMPARE(r.store.LoadTask(Path("\\Kept")).doc.actions.first().path, QStringLiteral("/bin/kept"));
        QVERIFY(JournalIsEmpty(r.root));
    }

    // Replaying again, after a replay that was cut off or finished, changes nothing more; the
    // last record of a file wins over its earlier ones.
    void replayIsIdempotent_data()
    {
        QTest::addColumn<int>("replays");
        QTest::addColumn<bool>("cutOff");   // the first replay stopped after writing one file
        QTest::newRow("once") << 1 << false;
        QTest::newRow("twice") << 2 << false;
        QTest::newRow("after a replay that was cut off") << 1 << true;
    }

    void replayIsIdempotent()
    {
        QFETCH(int, replays);
        QFETCH(bool, cutOff);
        Root r;
        const QString x = r.Task("\\X");
        const QString y = r.Task("\\Y");
        {
            OtherWriter other(r.root);
            QVERIFY(other.journal.Append({StoreJournal::Change{x, "x1"}, StoreJournal::Change{y, "y1"}}));
            QVERIFY(other.journal.Append({StoreJournal::Change{x, "x2"}}));
            QVERIFY(other.journal.Append({StoreJournal::Change{y, {}, 0, true}}));
        }
        if (cutOff) {
            QFile partial(x);
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write("x2");
        }
        const QByteArray journalBefore = Read(StoreJournal::FileOf(r.root.Path()));
        for (int i = 0; i < replays; ++i) {
            // Each time as a fresh process would, from the same journal.
            QFile::remove(StoreJournal::FileOf(r.root.Path()));
            QFile restore(StoreJournal::FileOf(r.root.Path()));
            QVERIFY(restore.open(QIODevice::WriteOnly));
            restore.write(journalBefore);
            restore.close();
            OtherWriter replaying(r.root);
            QCOMPARE(Read(x), QByteArray("x2"));
            QVERIFY(!QFile::exists(y));
            QVERIFY(!replaying.journal.HasPending());
        }
        QVERIFY(JournalIsEmpty(r.root));
    }

    // A journaled write and then a removal, or a folder's removal after its tasks' state was
    // journaled: a replay afterwards does not bring anything back.
    void removalIsNotUndoneByReplay()
    {
        Root r;
        r.store.StoreTask(Path("\\F\\T"), Runnable(QStringLiteral("/bin/t")), TaskStore::Mode::Create);
        TaskRuntimeState state;
        state.missedRuns = 3;
        r.store.WriteState(Path("\\F\\T"), state);
        r.store.DeleteTask(Path("\\F\\T"));
        r.store.StoreTask(Path("\\G\\U"), Runnable(QStringLiteral("/bin/u")), TaskStore::Mode::Create);
        r.store.WriteState(Path("\\G\\U"), state);
        r.store.DeleteTask(Path("\\G\\U"));
        r.store.DeleteFolder(Path("\\G"));
        OtherWriter replaying(r.root);
        for (const QString& gone : {r.Task("\\F\\T"), r.State("\\F\\T"), r.Task("\\G\\U"), r.State("\\G\\U")})
            QVERIFY2(!QFile::exists(gone), qPrintable(gone));
        QVERIFY(!QDir(QFileInfo(r.Task("\\G\\U")).absolutePath()).exists());
    }

    // A state written without a flush after a journaled one survives a crash of the process:
    // the replay of the journaled one must not put it back.
    void unflushedWriteAfterJournaledOneIsKept()
    {
        Root r;
        r.store.StoreTask(Path("\\T"), Runnable(QStringLiteral("/bin/t")), TaskStore::Mode::Create);
        TaskRuntimeState state;
        state.missedRuns = 1;
        r.store.WriteState(Path("\\T"), state);
        state.missedRuns = 2;
        r.store.WriteState(Path("\\T"), state, false);
        OtherWriter replaying(r.root);
        QString error;
        QCOMPARE(r.store.ReadState(Path("\\T"), &error)->missedRuns, 2);
    }

    // A change whose file cannot be written is refused, and its record goes with it.
    void refusedChangeIsNotReplayed()
    {
        Root r;
        const QString blocked = r.Task("\\Blocked");
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inside")));
        {
            OtherWriter other(r.root);
            QVERIFY_THROWS_EXCEPTION(ServiceError, other.journal.Commit({StoreJournal::Change{blocked, "refused"}}));
            QVERIFY(!other.journal.HasPending());
        }
        OtherWriter replaying(r.root);
        QVERIFY(QFileInfo(blocked).isDir());
        QVERIFY(JournalIsEmpty(r.root));
    }

    // A change larger than the journal is written durably the direct way, after what was
    // pending reached the disk.
    void oversizedChangeBypassesTheJournal()
    {
        Root r;
        r.store.StoreTask(Path("\\Small"), Runnable(QStringLiteral("/bin/small")), TaskStore::Mode::Create);
        const QByteArray big(StoreJournal::kCapacity + 1, 'b');
        {
            OtherWriter other(r.root);
            other.journal.Commit({StoreJournal::Change{r.Task("\\Big"), big}});
            QVERIFY(!other.journal.HasPending());
        }
        QCOMPARE(Read(r.Task("\\Big")), big);
        QVERIFY(JournalIsEmpty(r.root));
    }

    // The store's own writers and one of another process take turns; whoever writes next
    // carries on from what the other left, and a crash of both leaves the latest of each.
    void interleavedWriters()
    {
        Root r;
        const QString a = r.Task("\\A");
        const QString b = r.Task("\\B");
        auto ours = [&](const char* program) {
            r.store.StoreTask(Path("\\A"), Runnable(QLatin1String(program)), TaskStore::Mode::CreateOrUpdate);
        };
        auto theirs = [&](const QByteArray& content) {
            OtherWriter other(r.root);
            other.journal.Commit({StoreJournal::Change{b, content}});
            QCOMPARE(Read(a), r.store.LoadTask(Path("\\A")).xml);
        };
        ours("/bin/a1");
        theirs("b1");
        ours("/bin/a2");
        theirs("b2");
        ours("/bin/a3");
        const QByteArray latestA = Read(a);
        {
            // Another writer stopped after its flush, then ours writes again.
            OtherWriter other(r.root);
            QVERIFY(other.journal.Append({StoreJournal::Change{b, "b3"}}));
        }
        ours("/bin/a4");
        QCOMPARE(Read(b), QByteArray("b3"));
        QVERIFY(Read(a) != latestA);
        OtherWriter replaying(r.root);
        QCOMPARE(r.store.LoadTask(Path("\\A")).doc.actions.first().path, QStringLiteral("/bin/a4"));
        QCOMPARE(Read(b), QByteArray("b3"));
    }

    // A journal that another account could have written is not replayed: its records would
    // be written into the store as they are. The store refuses changes, with the reason,
    // until it is removed, and the files stay as they were.
    void journalOthersCouldWriteIsRefused()
    {
        Root r;
        const QString file = r.Task("\\T");
        r.store.StoreTask(Path("\\T"), Runnable(QStringLiteral("/bin/t")), TaskStore::Mode::Create);
        StoreJournal::Close(r.home.Path());
        const QByteArray stored = Read(file);
        {
            OtherWriter other(r.root);
            QVERIFY(other.journal.Append({StoreJournal::Change{file, "<Task>planted</Task>"}}));
        }
        QVERIFY(QFile::setPermissions(StoreJournal::FileOf(r.home.Path()),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::WriteOther));
        StoreJournal fresh(r.home.Path());
        StoreLock lock(r.root.StoreLockPath());
        QVERIFY(lock.Acquire(5000, nullptr, nullptr));
        try {
            fresh.Sync();
            QFAIL("a journal others can write was believed");
        } catch (const ServiceError& e) {
            QCOMPARE(e.Code(), E_ACCESSDENIED);
            QVERIFY2(e.Message().contains(QStringLiteral("another account")), qPrintable(e.Message()));
        }
        QCOMPARE(Read(file), stored);
    }

    // A clean stop checkpoints: the journal holds nothing, and the files are as written.
    void closeCheckpoints()
    {
        Root r;
        for (const char* name : {"\\One", "\\Two", "\\Three"})
            r.store.StoreTask(Path(name), Runnable(QStringLiteral("/bin/true")), TaskStore::Mode::Create);
        StoreJournal::Close(r.home.Path());
        QVERIFY(JournalIsEmpty(r.root));
        QCOMPARE(r.store.LoadTask(Path("\\Two")).doc.actions.first().path, QStringLiteral("/bin/true"));
    }
};

QTEST_GUILESS_MAIN(TestStoreJournal)
#include "tst_storejournal.moc"
