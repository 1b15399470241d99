// A daemon running as root believes only what root alone could write: the attack of an
// ordinary user who writes a definition naming root into a store, and its variants.

#include "DaemonHarness.h"
#include "catalog/Gen1Catalog.h"
#include "catalog/Gen2Catalog.h"
#include "gen1/JobStore.h"
#include "catalog/StoreTrust.h"
#include "gen2/TaskStore.h"
#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// An ordinary account every Debian system has.
struct Nobody {
    uid_t uid = 0;
    gid_t gid = 0;
    bool found = false;
    Nobody()
    {
        if (const passwd* pw = ::getpwnam("nobody")) {
            uid = pw->pw_uid;
            gid = pw->pw_gid;
            found = true;
        }
    }
};

bool GiveTo(const QString& path, const Nobody& user)
{
    return ::lchown(QFile::encodeName(path).constData(), user.uid, user.gid) == 0;
}

bool SetMode(const QString& path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode) == 0; }

/// A 2.0 definition that runs `program` as root.
TaskDocument AsRoot(const QString& program)
{
    TaskDocument doc;
    ActionData exec;
    exec.path = program;
    doc.actions = {exec};
    doc.principal.userId = QStringLiteral("root");
    return doc;
}

JobDefinition JobAsRoot(const QString& program)
{
    JobDefinition d;
    d.applicationName = program;
    d.accountSet = true;
    d.accountName = QStringLiteral("root");
    return d;
}

/// Replaces `file` by a symbolic link to a copy of it that `user` owns elsewhere.
bool PlantLink(const QString& file, const QString& elsewhere, const Nobody& user)
{
    const QString target = elsewhere + QStringLiteral("/planted");
    return QFile::copy(file, target) && GiveTo(target, user) && QFile::remove(file) && QFile::link(target, file);
}

} // namespace

class TestStoreTrust : public QObject {
    Q_OBJECT

    Nobody m_nobody;

private slots:
    void init()
    {
        if (::geteuid() != 0) QSKIP("needs root to give files to another user");
        if (!m_nobody.found) QSKIP("no account \"nobody\" on this system");
    }

    void checksOnlyForRoot()
    {
        // A daemon of an ordinary user trusts its files: only that user, or root, writes them.
        QTemporaryDir dir;
        QVERIFY(SetMode(dir.path(), 0777));
        QVERIFY(StoreTrust(1000).RootRefusal(dir.path()).isEmpty());
        QVERIFY(!StoreTrust(0).RootRefusal(dir.path()).isEmpty());
    }

    void rootRefused_data()
    {
        QTest::addColumn<QString>("change");   // what is done to the fresh root
        QTest::addColumn<QString>("reason");
        QTest::newRow("root alone can change it") << QString() << QString();
        QTest::newRow("owned by a user") << "own ." << "belongs to nobody";
        QTest::newRow("writable by its group") << "mode . 0770" << "may be written by its group or others";
        QTest::newRow("a store folder writable by all") << "mode tasks 0777" << "/tasks\" may be written";
        QTest::newRow("a folder deep down owned by a user") << "own tasks/Reports" << "/tasks/Reports\" belongs to nobody";
        QTest::newRow("a store folder that is a link") << "link jobs" << "/jobs\" is a symbolic link";
        QTest::newRow("a link deep down that leads nowhere") << "dangle tasks/Reports/Gone" << "/Gone\" is a symbolic link";
        QTest::newRow("a link to a plain file") << "filelink tasks/Reports/Notes" << QString();
    }
    void rootRefused()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        TemporaryServiceRoot root;
        QTemporaryDir elsewhere;
        const ServiceRoot serviceRoot(root.Path());
        QVERIFY(serviceRoot.Ensure());
        QVERIFY(QDir().mkpath(serviceRoot.TasksDir() + QStringLiteral("/Reports")));
        const QStringList words = change.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString target = words.size() > 1 ? QDir(root.Path()).filePath(words[1]) : QString();
        if (!words.isEmpty() && words[0] == QLatin1String("own")) QVERIFY(GiveTo(target, m_nobody));
        if (!words.isEmpty() && words[0] == QLatin1String("mode")) QVERIFY(SetMode(target, mode_t(words[2].toUInt(nullptr, 8))));
        if (!words.isEmpty() && words[0] == QLatin1String("link")) {
            QVERIFY(QDir(target).removeRecursively());
            QVERIFY(GiveTo(elsewhere.path(), m_nobody));
            QVERIFY(QFile::link(elsewhere.path(), target));
        }
        if (!words.isEmpty() && words[0] == QLatin1String("dangle")) QVERIFY(QFile::link(elsewhere.filePath("gone"), target));
        if (!words.isEmpty() && words[0] == QLatin1String("filelink")) {
            QFile plain(root.Path() + QStringLiteral("/notes.txt"));
            QVERIFY(plain.open(QIODevice::WriteOnly));
            plain.close();
            QVERIFY(QFile::link(plain.fileName(), target));
        }
        const QString refusal = StoreTrust(0).RootRefusal(root.Path());
        if (reason.isEmpty()) QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
        else QVERIFY2(refusal.contains(reason), qPrintable(refusal));
    }

    void definitionsBelievedAsFarAsTheirFile_data()
    {
        QTest::addColumn<bool>("v1");
        QTest::addColumn<QString>("change");   // what is done to the stored file
        QTest::addColumn<QString>("account");  // the account the task runs as; empty: not run
        for (const bool v1 : {false, true}) {
            const QByteArray gen = v1 ? "1.0 " : "2.0 ";
            QTest::newRow(gen + "root's file runs as it says") << v1 << QString() << "root";
            QTest::newRow(gen + "a user's file runs as that user only") << v1 << "own" << "nobody";
            QTest::newRow(gen + "a file its group may write is not run") << v1 << "group" << QString();
            QTest::newRow(gen + "a file all may write is not run") << v1 << "others" << QString();
            QTest::newRow(gen + "a planted link is not run") << v1 << "link" << QString();
        }
    }
    void definitionsBelievedAsFarAsTheirFile()
    {
        QFETCH(bool, v1);
        QFETCH(QString, change);
        QFETCH(QString, account);
        TemporaryServiceRoot root;
        QTemporaryDir elsewhere;
        const ServiceRoot serviceRoot(root.Path());
        QVERIFY(serviceRoot.Ensure());
        QString file;
        TaskKey key;
        if (v1) {
            JobStore store(serviceRoot);
            QVERIFY(store.Save(QStringLiteral("Planted.job"), JobAsRoot(QStringLiteral("/bin/true")), JobStore::SaveMode::CreateNew).Ok());
            file = store.PathOf(QStringLiteral("Planted.job"));
            key = TaskKey{TaskGeneration::Gen1, QStringLiteral("Planted.job")};
        } else {
            TaskStore store(serviceRoot);
            const TaskPath path = *TaskPath::Parse(QStringLiteral("\\Planted"));
            store.StoreTask(path, AsRoot(QStringLiteral("/bin/true")), TaskStore::Mode::Create);
            file = store.TaskFile(path);
            key = TaskKey{TaskGeneration::Gen2, path.ToString()};
        }
        if (change == QLatin1String("own")) QVERIFY(GiveTo(file, m_nobody));
        if (change == QLatin1String("group")) QVERIFY(SetMode(file, 0620));
        if (change == QLatin1String("others")) QVERIFY(SetMode(file, 0602));
        if (change == QLatin1String("link")) QVERIFY(PlantLink(file, elsewhere.path(), m_nobody));

        std::unique_ptr<TaskCatalog> catalog;
        if (v1) catalog = std::make_unique<Gen1Catalog>(serviceRoot, StoreTrust(0));
        else catalog = std::make_unique<Gen2Catalog>(serviceRoot, StoreTrust(0));
        const QList<RunnableTask> all = catalog->LoadAll();
        QString error;
        const std::optional<RunnableTask> one = catalog->Load(key, &error);
        if (account.isEmpty()) {
            QVERIFY(all.isEmpty());
            QVERIFY(!one);
            QVERIFY2(!error.isEmpty(), "a refused task says why");
            return;
        }
        QCOMPARE(all.size(), 1);
        QVERIFY2(one, qPrintable(error));
        QCOMPARE(all.first().account, account);
        QCOMPARE(one->account, account);
    }

    void daemonRefusesARootAUserOwns()
    {
        // The attack: a user owns the root, plants a definition naming root whose start was
        // missed, and a daemon running as root is started on it. It must not start, and say why.
        TemporaryServiceRoot root;
        const ServiceRoot serviceRoot(root.Path());
        QVERIFY(serviceRoot.Ensure());
        QTemporaryDir outside;
        const QString mark = outside.filePath(QStringLiteral("ran"));
        TaskDocument doc = AsRoot(QStringLiteral("/usr/bin/touch"));
        doc.actions[0].arguments = mark;
        TriggerData once;
        once.type = 1;   // a time trigger
        once.startBoundary = QStringLiteral("2020-01-01T08:00:00");
        doc.triggers = {once};
        doc.settings.startWhenAvailable = true;
        TaskStore(serviceRoot).StoreTask(*TaskPath::Parse(QStringLiteral("\\Planted")), doc, TaskStore::Mode::Create);
        QDirIterator entries(root.Path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (entries.hasNext()) QVERIFY(GiveTo(entries.next(), m_nobody));
        QVERIFY(GiveTo(root.Path(), m_nobody));

        QProcess daemon;
        daemon.start(DaemonHarness::Program(), {QStringLiteral("--root"), root.Path()});
        QVERIFY(daemon.waitForFinished(10000));
        QCOMPARE(daemon.exitCode(), 1);
        const QString output = QString::fromLocal8Bit(daemon.readAllStandardError());
        QVERIFY2(output.contains(QStringLiteral("serves only a directory that root alone can change"))
                     && output.contains(QStringLiteral("belongs to nobody")),
                 qPrintable(output));
        QVERIFY(!QFile::exists(mark));
        QVERIFY(TemporaryServiceRoot::ServiceProcesses(root.Path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStoreTrust)
#include "tst_store_trust.moc"
