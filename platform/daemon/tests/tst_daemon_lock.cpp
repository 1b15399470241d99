// The lock that makes a daemon the only one of its root: a live daemon keeps it; one that has
// ended gives it up, even while the system still holds its lock for a moment after the end,
// as it does for a daemon that was killed.

#include "DaemonLock.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// A process that takes the lock at `path` as a daemon does, and then ends at once without
// letting go of it (as a killed one) or lives on until it is killed.
pid_t StartHolder(const QString& path, bool livesOn)
{
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    QLockFile lock(path);
    lock.setStaleLockTime(0);
    const bool taken = lock.tryLock(0);
    if (livesOn && taken) ::pause();
    ::_exit(taken ? 0 : 1);
}

bool LockNamed(const QString& path, pid_t pid)
{
    QLockFile lock(path);
    qint64 holder = 0;
    QString host, app;
    return lock.getLockInfo(&holder, &host, &app) && holder == pid;
}

} // namespace

class TestDaemonLock : public QObject {
    Q_OBJECT
private slots:
    void aLiveHolderKeepsIt();
    void anEndedHolderGivesItUp_data();
    void anEndedHolderGivesItUp();
};

void TestDaemonLock::aLiveHolderKeepsIt()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("taskschedd.lock"));
    const pid_t holder = StartHolder(path, true);
    QVERIFY(holder > 0);
    QVERIFY(QTest::qWaitFor([&] { return LockNamed(path, holder); }, 5000));
    qint64 pid = 0;
    QString error;
    DaemonLock lock(path);
    const DaemonLock::Result result = lock.TryAcquire(&pid, &error);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    QCOMPARE(result, DaemonLock::HeldByOther);
    QCOMPARE(pid, qint64(holder));
}

void TestDaemonLock::anEndedHolderGivesItUp_data()
{
    QTest::addColumn<bool>("reaped");
    QTest::newRow("ended, not reaped yet") << false;
    QTest::newRow("ended and reaped") << true;
}

void TestDaemonLock::anEndedHolderGivesItUp()
{
    QFETCH(bool, reaped);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("taskschedd.lock"));
    const pid_t holder = StartHolder(path, false);
    QVERIFY(holder > 0);
    siginfo_t info{};
    QCOMPARE(::waitid(P_PID, id_t(holder), &info, WEXITED | (reaped ? 0 : WNOWAIT)), 0);
    QCOMPARE(info.si_status, 0);
    QVERIFY(LockNamed(path, holder));
    // The system still holds the ended daemon's lock for a moment: stood for by a descriptor
    // of this process, let go of a little later.
    const int late = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(late >= 0);
    QCOMPARE(::flock(late, LOCK_EX | LOCK_NB), 0);
    std::thread release([late] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(late);
    });
    qint64 pid = 0;
    QString error;
    DaemonLock lock(path);
    const DaemonLock::Result result = lock.TryAcquire(&pid, &error);
    release.join();
    if (!reaped) ::waitpid(holder, nullptr, 0);
    QCOMPARE(result, DaemonLock::Acquired);
    QVERIFY(LockNamed(path, ::getpid()));
}

QTEST_GUILESS_MAIN(TestDaemonLock)
#include "tst_daemon_lock.moc"
