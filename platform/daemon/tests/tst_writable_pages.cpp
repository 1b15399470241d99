// A forked process that takes its own copies of the pages it shares with its parent: no page
// fault when it writes them afterwards, the same contents, and pages nobody touched left alone.

#include "supervisor/WritablePages.h"

#include <QtTest>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int Pages = 64;

struct ChildReport {
    long faultsOnWrite = -1;   ///< page faults while it wrote a byte of each touched page
    int changed = -1;          ///< touched pages whose contents were not as the parent left them
    int untouchedResident = -1;   ///< pages nobody touched that are in memory afterwards
};

long MinorFaults()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

} // namespace

class TestWritablePages : public QObject {
    Q_OBJECT
private slots:
    void afterAFork_data();
    void afterAFork();
};

void TestWritablePages::afterAFork_data()
{
    QTest::addColumn<bool>("prefault");
    QTest::newRow("taken ahead, writes fault no more") << true;
    QTest::newRow("not taken, every write copies a page") << false;
}

void TestWritablePages::afterAFork()
{
    QFETCH(bool, prefault);
    const long page = ::sysconf(_SC_PAGESIZE);
    // Half of the mapping is written before the fork, the other half never.
    auto* memory = static_cast<char*>(::mmap(nullptr, size_t(2 * Pages * page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    QVERIFY(memory != MAP_FAILED);
    for (int i = 0; i < Pages; ++i) std::memset(memory + i * page, 'a' + i % 26, size_t(page));
    int report[2];
    QCOMPARE(::pipe(report), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ChildReport r;
        if (prefault && WritablePages::Prefault() < Pages) ::_exit(2);
        r.changed = 0;
        for (int i = 0; i < Pages; ++i) {
            for (long b = 0; b < page; ++b) r.changed += memory[i * page + b] != 'a' + i % 26 ? 1 : 0;
        }
        const long before = MinorFaults();
        for (int i = 0; i < Pages; ++i) memory[i * page] = 'z';
        r.faultsOnWrite = MinorFaults() - before;
        unsigned char resident[Pages];
        r.untouchedResident = ::mincore(memory + Pages * page, size_t(Pages * page), resident) == 0 ? 0 : -1;
        for (unsigned char p : resident) r.untouchedResident += r.untouchedResident >= 0 && (p & 1) ? 1 : 0;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &r, sizeof r);
        ::_exit(0);
    }
    ::close(report[1]);
    ChildReport r;
    const ssize_t n = ::read(report[0], &r, sizeof r);
    ::close(report[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the child could not take its pages");
    QCOMPARE(n, ssize_t(sizeof r));
    QCOMPARE(r.changed, 0);
    QCOMPARE(r.untouchedResident, 0);
    if (prefault) QVERIFY2(r.faultsOnWrite < Pages / 8, qPrintable(QString::number(r.faultsOnWrite)));
    else QVERIFY2(r.faultsOnWrite >= Pages, qPrintable(QString::number(r.faultsOnWrite)));
    // The parent's pages are its own still.
    for (int i = 0; i < Pages; ++i) QCOMPARE(memory[i * page], char('a' + i % 26));
    ::munmap(memory, size_t(2 * Pages * page));
}

QTEST_GUILESS_MAIN(TestWritablePages)
#include "tst_writable_pages.moc"
