// A running instance is watched through a process descriptor. When none can be opened as it
// starts (the daemon is out of descriptors) its supervisor still runs: the instance stays
// running and is watched as soon as a descriptor is free, rather than ending at once, which
// would record the run as lost while its program goes on.

#include "run/RunningInstance.h"

#include <QtTest>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>

extern char** environ;

namespace {

// A child of this test that runs `seconds`, as a supervisor would.
pid_t StartSleep(const char* seconds)
{
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>(seconds), nullptr};
    pid_t pid = 0;
    return ::posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// The sanitizers' runtime opens a pipe to tell whether memory can be read, and so reports
// faults of its own in a process that has no descriptor left.
#ifdef __SANITIZE_ADDRESS__
constexpr bool CanRunOutOfDescriptors = false;
#else
constexpr bool CanRunOutOfDescriptors = true;
#endif

// Uses up every descriptor this process may open, until it is destroyed.
class DescriptorsUsedUp {
public:
    DescriptorsUsedUp()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_limit);
        int highest = 0;
        if (DIR* dir = ::opendir("/proc/self/fd")) {
            while (const dirent* entry = ::readdir(dir)) highest = std::max(highest, std::atoi(entry->d_name));
            ::closedir(dir);
        }
        rlimit lowered = m_limit;
        lowered.rlim_cur = rlim_t(highest) + 1;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        // The gaps below the highest one are filled too.
        for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;) m_taken.append(fd);
        m_exhausted = errno == EMFILE;
    }
    ~DescriptorsUsedUp() { Release(); }
    bool Exhausted() const { return m_exhausted; }
    void Release()
    {
        for (const int fd : std::as_const(m_taken)) ::close(fd);
        m_taken.clear();
        ::setrlimit(RLIMIT_NOFILE, &m_limit);
    }

private:
    rlimit m_limit{};
    QList<int> m_taken;
    bool m_exhausted = false;
};

InstanceDescription Description()
{
    InstanceDescription d;
    d.id = QStringLiteral("instance");
    d.task = QStringLiteral("\\Watched");
    d.start = QDateTime::currentDateTime();
    return d;
}

} // namespace

class TestRunningInstance : public QObject {
    Q_OBJECT
private slots:
    void watchedOnceADescriptorIsFree_data();
    void watchedOnceADescriptorIsFree();
    void goneBeforeItIsWatched();
};

void TestRunningInstance::watchedOnceADescriptorIsFree_data()
{
    QTest::addColumn<bool>("descriptorsLeft");
    QTest::newRow("a descriptor at its start") << true;
    QTest::newRow("none at its start") << false;
}

void TestRunningInstance::watchedOnceADescriptorIsFree()
{
    QFETCH(bool, descriptorsLeft);
    if (!descriptorsLeft && !CanRunOutOfDescriptors) QSKIP("a sanitized process needs descriptors of its own");
    const pid_t pid = StartSleep("2");
    QVERIFY(pid > 0);
    std::optional<DescriptorsUsedUp> used;
    if (!descriptorsLeft) {
        used.emplace();
        QVERIFY(used->Exhausted());
    }
    RunningInstance instance(Description(), pid, true, 0, true);
    QSignalSpy ended(&instance, &RunningInstance::Ended);
    used.reset();
    QVERIFY(instance.IsValid());
    QVERIFY(!instance.HasEnded());
    // Still running when the descriptor is there to be had, and so not ended by the retry.
    QTest::qWait(RunningInstance::WatchRetryMs + 100);
    QCOMPARE(ended.count(), 0);
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.count(), 1);
    QVERIFY(instance.HasEnded());
    // Reaped: the supervisor was this process's own child.
    QCOMPARE(::kill(pid, 0), -1);
}

void TestRunningInstance::goneBeforeItIsWatched()
{
    // Out of descriptors at its start, and ended before one is free: the retry sees it gone.
    if (!CanRunOutOfDescriptors) QSKIP("a sanitized process needs descriptors of its own");
    const pid_t pid = StartSleep("0");
    QVERIFY(pid > 0);
    DescriptorsUsedUp used;
    QVERIFY(used.Exhausted());
    RunningInstance instance(Description(), pid, true, 0, true);
    QSignalSpy ended(&instance, &RunningInstance::Ended);
    QVERIFY(instance.IsValid());
    QTest::qWait(200);   // it has ended, unreaped, while nothing could watch it
    used.Release();
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(::kill(pid, 0), -1);
}

QTEST_GUILESS_MAIN(TestRunningInstance)
#include "tst_running_instance.moc"
