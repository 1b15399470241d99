// What the stores do when things go wrong around them: a writer that died holding the
// lock, a full disk, a strange umask, and the temporary files of interrupted writes.

#include "AtomicFile.h"
#include "gen1/JobStore.h"
#include "ResultCodes.h"
#include "SampleDocuments.h"
#include "ServiceError.h"
#include "StoreLock.h"
#include "gen2/TaskDocumentCodec.h"
#include "gen2/TaskStore.h"
#include "TemporaryServiceRoot.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QtTest>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TaskPath Path(const char* text) { return *TaskPath::Parse(QLatin1String(text)); }

TaskDocument Runnable(const QString& program = QStringLiteral("/bin/true"))
{
    TaskDocument doc;
    ActionData exec;
    exec.path = program;
    doc.actions = {exec};
    return doc;
}

JobDefinition Job(const QString& comment)
{
    JobDefinition d;
    d.applicationName = QStringLiteral("/bin/true");
    d.comment = comment;
    return d;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(bytes);
}

mode_t ModeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

const char* const FullDiskRootVariable = "TS_FULL_DISK_ROOT";
const char* const HolderLockVariable = "TS_HOLDER_LOCK";

// A lock file that no writer holds: it names no one, and a writer of an earlier version
// (QLockFile) takes it at once. Taking it removes this process's kept file.
bool LockIsFree(const QString& path)
{
    if (QFile::exists(path) && StoreLock::HolderPid(path) != 0) return false;
    QLockFile earlier(path);
    return earlier.tryLock(0);
}

ino_t InodeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

class TestStoreReliability : public QObject {
    Q_OBJECT

private slots:
    void staleStoreLockIsTakenOver_data()
    {
        QTest::addColumn<QByteArray>("contents");
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        QTest::newRow("empty: its writer was killed before it wrote") << QByteArray();
        QTest::newRow("unreadable") << QByteArray("\x01\x02 not a lock\n", 15);
        QTest::newRow("its process is gone") << QByteArray("2147483646\ntaskschedd\n" + host + "\n");
        // The id now belongs to a live process of the same name (this one): only the kernel's
        // lock tells that it is not the holder.
        QTest::newRow("its process id was reused")
            << QByteArray::number(::getpid()) + "\n" + QCoreApplication::applicationName().toUtf8() + "\n" + host + "\n";
    }

    void staleStoreLockIsTakenOver()
    {
        QFETCH(QByteArray, contents);
        TemporaryServiceRoot home;
        const ServiceRoot root(home.Path());
        QVERIFY(root.Ensure());
        WriteFile(root.StoreLockPath(), contents);

        TaskStore store(root, 200);
        store.StoreTask(Path("\\T"), Runnable(), TaskStore::Mode::Create);
        QVERIFY(LockIsFree(root.StoreLockPath()));

        // Left by another writer that died, beside the file this process kept.
        WriteFile(root.StoreLockPath(), contents);
        JobStore jobs(root);
        const JobResult saved = jobs.Save(QStringLiteral("J.job"), Job(QStringLiteral("one")), JobStore::SaveMode::CreateNew);
        QVERIFY2(saved.Ok(), qPrintable(saved.error));
    }

    void liveWriterKeepsTheLock()
    {
        TemporaryServiceRoot home;
        const ServiceRoot root(home.Path());
        QVERIFY(root.Ensure());
        // A holder in another process: the child keeps the lock until it is told to go.
        QProcess holder;
        holder.start(QStringLiteral("flock"), {root.StoreLockPath(), QStringLiteral("sh"), QStringLiteral("-c"),
                                               QStringLiteral("echo held; read line")});
        if (!holder.waitForStarted(5000)) QSKIP("flock(1) is not installed");
        QVERIFY(holder.waitForReadyRead(5000));
        TaskStore store(root, 300);
        try {
            store.StoreTask(Path("\\T"), Runnable(), TaskStore::Mode::Create);
            QFAIL("stored while another process held the lock");
        } catch (const ServiceError& e) {
            QCOMPARE(e.Code(), SCHED_E_SERVICE_TOO_BUSY);
            QVERIFY2(e.Message().contains(QStringLiteral("locked by another writer")), qPrintable(e.Message()));
        }
        QVERIFY(QFile::exists(root.StoreLockPath()));
        holder.write("\n");
        QVERIFY(holder.waitForFinished(5000));
    }

    // Writers of an earlier version take the lock with QLockFile: each kind keeps the other
    // out, reads who holds it, and takes it once the other has let go.
    void lockAgreesWithQLockFile()
    {
        TemporaryServiceRoot home;
        const ServiceRoot root(home.Path());
        QVERIFY(root.Ensure());
        const QString path = root.StoreLockPath();
        {
            QLockFile earlier(path);
            earlier.setStaleLockTime(0);
            QVERIFY(earlier.tryLock(0));
            StoreLock lock(path);
            HRESULT code = S_OK;
            QString error;
            QVERIFY(!lock.Acquire(150, &code, &error));
            QCOMPARE(code, SCHED_E_SERVICE_TOO_BUSY);
            QVERIFY2(error.contains(QStringLiteral("(process %1)").arg(::getpid())), qPrintable(error));
        }
        QVERIFY(!QFile::exists(path));

        const mode_t previous = ::umask(0);
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        StoreLock lock(path);
        QVERIFY(lock.Acquire(0, nullptr, nullptr));
        QCOMPARE(ModeOf(path), mode_t(0600));
        QLockFile earlier(path);
        earlier.setStaleLockTime(0);
        QVERIFY(!earlier.tryLock(0));
        QCOMPARE(earlier.error(), QLockFile::LockFailedError);
        qint64 pid = 0;
        QString host, program;
        QVERIFY(earlier.getLockInfo(&pid, &host, &program));
        QCOMPARE(pid, qint64(::getpid()));
        QCOMPARE(host, QSysInfo::machineHostName());
        QVERIFY(QFile::exists(path));
        lock.Release();
        // The file stays, let go of: the earlier writer takes it at once, and keeps it.
        QCOMPARE(StoreLock::HolderPid(path), 0);
        QVERIFY(earlier.tryLock(0));
        QVERIFY(!lock.Acquire(100, nullptr, nullptr));
        earlier.unlock();
        QVERIFY(lock.Acquire(0, nullptr, nullptr));
        QCOMPARE(ModeOf(path), mode_t(0600));
    }

    // Another process takes over the file this one let go of, as it is; each keeps the other
    // out while it holds it, and a holder that dies leaves it to be taken at once.
    void lockPassesBetweenProcesses_data()
    {
        QTest::addColumn<bool>("holderDies");
        QTest::newRow("the other lets go") << false;
        QTest::newRow("the other dies holding it") << true;
    }

    void lockPassesBetweenProcesses()
    {
        QFETCH(bool, holderDies);
        TemporaryServiceRoot home;
        const ServiceRoot root(home.Path());
        QVERIFY(root.Ensure());
        const QString path = root.StoreLockPath();
        StoreLock lock(path);
        QVERIFY(lock.Acquire(0, nullptr, nullptr));
        lock.Release();
        const ino_t kept = InodeOf(path);
        QVERIFY(kept != 0);

        QProcess other;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(HolderLockVariable), path);
        other.setProcessEnvironment(env);
        other.start(QCoreApplication::applicationFilePath(), {QStringLiteral("holdLockInside")});
        QVERIFY(other.waitForStarted(5000));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += other.readAllStandardOutput()).contains("held\n"), 10000);
        QCOMPARE(InodeOf(path), kept);   // taken over, not removed and made anew
        QCOMPARE(StoreLock::HolderPid(path), other.processId());
        HRESULT code = S_OK;
        QString error;
        QVERIFY(!lock.Acquire(100, &code, &error));
        QCOMPARE(code, SCHED_E_SERVICE_TOO_BUSY);
        QVERIFY2(error.contains(QStringLiteral("(process %1)").arg(other.processId())), qPrintable(error));
        if (holderDies) {
            other.kill();
        } else {
            other.write("\n");
        }
        QVERIFY(other.waitForFinished(5000));
        QVERIFY(lock.Acquire(5000, nullptr, nullptr));
        QCOMPARE(InodeOf(path), kept);
        QCOMPARE(StoreLock::HolderPid(path), qint64(::getpid()));
        lock.Release();
        QVERIFY(LockIsFree(path));
    }

    // The other process of lockPassesBetweenProcesses: holds the lock until told to go.
    void holdLockInside()
    {
        const QString path = qEnvironmentVariable(HolderLockVariable);
        if (path.isEmpty()) QSKIP("lockPassesBetweenProcesses runs this in another process");
        StoreLock lock(path);
        QVERIFY(lock.Acquire(5000, nullptr, nullptr));
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        char line[8];
        QVERIFY(std::fgets(line, sizeof line, stdin));
        lock.Release();
    }

    void explicitModes_data()
    {
        QTest::addColumn<int>("umaskValue");
        QTest::newRow("open umask") << 0;
        QTest::newRow("umask taking the owner's rights") << 0277;
    }

    void explicitModes()
    {
        QFETCH(int, umaskValue);
        TemporaryServiceRoot home;
        const ServiceRoot root(home.Path());
        QVERIFY(root.Ensure());
        const mode_t previous = ::umask(mode_t(umaskValue));
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        TaskStore store(root);
        store.StoreTask(Path("\\A\\B\\T"), Runnable(), TaskStore::Mode::Create);
        TaskRuntimeState state;
        state.missedRuns = 1;
        store.WriteState(Path("\\A\\B\\T"), state);
        QVERIFY(JobStore(root).Save(QStringLiteral("J.job"), Job(QString()), JobStore::SaveMode::CreateNew).Ok());
        AtomicFile::MakePath(root.Path() + QStringLiteral("/history/v2/X.folder"));

        for (const QString& dir : {store.TaskFile(Path("\\A\\B")).chopped(5) + QStringLiteral(".folder"),
                                   QFileInfo(store.TaskFile(Path("\\A\\B\\T"))).absolutePath(),
                                   QFileInfo(store.StateFile(Path("\\A\\B\\T"))).absolutePath(),
                                   root.Path() + QStringLiteral("/history/v2"), root.Path() + QStringLiteral("/history/v2/X.folder")})
            QCOMPARE(ModeOf(dir), mode_t(0700));
        for (const QString& file : {store.TaskFile(Path("\\A\\B\\T")), store.StateFile(Path("\\A\\B\\T")),
                                    root.JobsDir() + QStringLiteral("/J.job")})
            QCOMPARE(ModeOf(file), mode_t(0600));
    }

    void leftoversOfInterruptedWrites_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("leftover");
        QTest::newRow("task") << "Daily.task.Xa1b2C" << true;
        QTest::newRow("state") << "taskschedd.state.000000" << true;
        QTest::newRow("job") << "Backup.job.q9W8e7" << true;
        QTest::newRow("history") << "Daily.json.ABCdef" << true;
        QTest::newRow("lock probe") << "store.lock.zzzzzz" << true;
        QTest::newRow("a task itself") << "Daily.task" << false;
        QTest::newRow("a job itself") << "Backup.job" << false;
        QTest::newRow("somebody else's file") << "notes.txt.abcdef" << false;
        QTest::newRow("five characters") << "Daily.task.abcde" << false;
        QTest::newRow("a dot among them") << "Daily.task.ab.def" << false;
    }

    void leftoversOfInterruptedWrites()
    {
        QFETCH(QString, name);
        QFETCH(bool, leftover);
        QCOMPARE(AtomicFile::IsLeftover(name), leftover);
        TemporaryServiceRoot home;
        const QString nested = home.Path() + QStringLiteral("/tasks/A.folder");
        AtomicFile::MakePath(nested);
        WriteFile(nested + QLatin1Char('/') + name, "x");
        WriteFile(home.Path() + QLatin1Char('/') + name, "x");
        QCOMPARE(AtomicFile::RemoveLeftovers(home.Path(), false), leftover ? 1 : 0);
        QCOMPARE(AtomicFile::RemoveLeftovers(home.Path() + QStringLiteral("/tasks"), true), leftover ? 1 : 0);
        QCOMPARE(QFile::exists(nested + QLatin1Char('/') + name), !leftover);
    }

    // A small file system of its own in a private mount namespace: the child is this test
    // again, which finds its root in the environment.
    void fullDisk()
    {
        if (!qEnvironmentVariableIsEmpty(FullDiskRootVariable)) QSKIP("runs only inside the small file system");
        if (::geteuid() != 0) QSKIP("mounting a small file system needs root");
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (unshare.isEmpty()) QSKIP("unshare(1) is not installed");
        QTemporaryDir mountPoint;
        QVERIFY(mountPoint.isValid());
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(FullDiskRootVariable), mountPoint.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(unshare, {QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private"), QStringLiteral("sh"),
                              QStringLiteral("-c"),
                              QStringLiteral("mount -t tmpfs -o size=512k,mode=0700 tmpfs \"$0\" || exit 77; exec \"$1\" fullDiskInside"),
                              mountPoint.path(), QCoreApplication::applicationFilePath()});
        QVERIFY(child.waitForFinished(120000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (child.exitCode() == 77) QSKIP(qPrintable(QStringLiteral("no small file system here: ") + output.trimmed()));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("PASS   : TestStoreReliability::fullDiskInside")), qPrintable(output));
    }

    void fullDiskInside()
    {
        const QString dir = qEnvironmentVariable(FullDiskRootVariable);
        if (dir.isEmpty()) QSKIP("the fullDisk test runs this inside a small file system");
        const ServiceRoot root(dir + QStringLiteral("/root"));
        QVERIFY(root.Ensure());
        TaskStore store(root, 200);
        JobStore jobs(root);
        const TaskDocument before = Runnable(QStringLiteral("/bin/before"));
        store.StoreTask(Path("\\T"), before, TaskStore::Mode::Create);
        QVERIFY(jobs.Save(QStringLiteral("J.job"), Job(QStringLiteral("before")), JobStore::SaveMode::CreateNew).Ok());

        // Fill the file system to the last byte: the lock this process keeps is taken, and the
        // new file has no room. A writer that must make the lock (one that kept none) cannot
        // with no page free; with one, the lock takes it and the new file has none.
        const QString filler = dir + QStringLiteral("/filler");
        const int fd = ::open(QFile::encodeName(filler).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        const QByteArray block(4096, 'f');
        off_t size = 0;
        while (::write(fd, block.constData(), size_t(block.size())) == block.size()) size += block.size();
        QCOMPARE(errno, ENOSPC);

        struct Row {
            int freePages;
            bool lockKept;
            QString failingFile;
            QString failingJob;
        };
        const QString taskFile = store.TaskFile(Path("\\T"));
        const QString jobFile = root.JobsDir() + QStringLiteral("/J.job");
        for (const Row& row : {Row{0, true, taskFile, jobFile}, Row{0, false, root.StoreLockPath(), root.StoreLockPath()},
                               Row{1, false, taskFile, jobFile}}) {
            const auto& [freePages, lockKept, failingFile, failingJob] = row;
            if (!lockKept) {
                // Its page is given back, and taken again by the filler.
                StoreLock::Forget(root.StoreLockPath());
                QVERIFY(::ftruncate(fd, size) == 0 && ::lseek(fd, size, SEEK_SET) == size);
                while (::write(fd, block.constData(), size_t(block.size())) == block.size()) size += block.size();
            }
            QVERIFY(::ftruncate(fd, size - off_t(freePages) * 4096) == 0);
            try {
                store.StoreTask(Path("\\T"), Runnable(QStringLiteral("/bin/after")), TaskStore::Mode::Update);
                QFAIL("a write to a full disk succeeded");
            } catch (const ServiceError& e) {
                QCOMPARE(e.Code(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
                QVERIFY2(e.Message().contains(QStringLiteral("disk is full")) && e.Message().contains(failingFile), qPrintable(e.Message()));
            }
            const JobResult saved = jobs.Save(QStringLiteral("J.job"), Job(QStringLiteral("after")), JobStore::SaveMode::Replace);
            QCOMPARE(saved.hr, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
            QVERIFY2(saved.error.contains(QStringLiteral("disk is full")) && saved.error.contains(failingJob), qPrintable(saved.error));

            // The old versions are whole, and no temporary file is left behind.
            QVERIFY(store.LoadTask(Path("\\T")).doc == before);
            JobDefinition job;
            JobRuntime runtime;
            QVERIFY(jobs.Load(QStringLiteral("J.job"), &job, &runtime).Ok());
            QCOMPARE(job.comment, QStringLiteral("before"));
            QDirIterator it(root.Path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) QVERIFY2(!AtomicFile::IsLeftover(QFileInfo(it.next()).fileName()), qPrintable(it.filePath()));
            QCOMPARE(StoreLock::HolderPid(root.StoreLockPath()), 0);
            QCOMPARE(QFile::exists(root.StoreLockPath()), failingFile != root.StoreLockPath());
        }

        ::close(fd);
        QVERIFY(QFile::remove(filler));
        store.StoreTask(Path("\\T"), Runnable(QStringLiteral("/bin/after")), TaskStore::Mode::Update);
        QCOMPARE(store.LoadTask(Path("\\T")).doc.actions.first().path, QStringLiteral("/bin/after"));
        QVERIFY(jobs.Save(QStringLiteral("J.job"), Job(QStringLiteral("after")), JobStore::SaveMode::Replace).Ok());
    }
};

QTEST_GUILESS_MAIN(TestStoreReliability)
#include "tst_storereliability.moc"
