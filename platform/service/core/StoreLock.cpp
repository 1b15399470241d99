#include "StoreLock.h"

#include "AtomicFile.h"
#include "StaleLockFile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

/// The lock file of one root as this process keeps it between its writers' changes.
struct StoreLock::Kept {
    /// Held by the one writer of this process that holds the lock.
    std::timed_mutex turn;
    // Only under `turn`: the file this process made or took over, open, and which it is.
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
};

namespace {

// The process id takes as many digits whoever holds the lock, so that holding and letting go
// rewrite those digits alone.
constexpr int kPidWidth = 10;
// Above the largest process id the kernel gives (2^22 - 1): what a let-go file names, which
// QLockFile and StaleLockFile both find stale.
constexpr qint64 kNoProcess = 4194304;
// Files of at most this many roots are kept; those of the others are removed again.
constexpr qsizetype kMaxKept = 16;

QByteArray PidField(qint64 pid) { return QByteArray::number(pid).rightJustified(kPidWidth, '0'); }

QByteArray ContentsFor(qint64 pid)
{
    // The program's name as the kernel tells it, which is what a QLockFile of another process
    // compares with the named process's to tell a reused process id.
    static const QByteArray rest = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName().toUtf8() + '\n'
                                   + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n'
                                   + QSysInfo::bootUniqueId() + '\n';
    return PidField(pid) + '\n' + rest;
}

// Both kinds of kernel lock, as QLockFile takes them: flock for the local holders, a
// record lock for those on network file systems.
bool TakeNativeLocks(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, F_SETLK, &whole) == 0;
}

void DropNativeLocks(int fd)
{
    struct flock whole {};
    whole.l_type = F_UNLCK;
    whole.l_whence = SEEK_SET;
    ::fcntl(fd, F_SETLK, &whole);
    ::flock(fd, LOCK_UN);
}

// Whether `name` still names the file `device`/`inode`, and not one put in its place.
bool Names(const QByteArray& name, dev_t device, ino_t inode)
{
    struct stat st {};
    return ::lstat(name.constData(), &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

bool WriteAt(int fd, const QByteArray& bytes, off_t offset)
{
    return ::pwrite(fd, bytes.constData(), size_t(bytes.size()), offset) == bytes.size();
}

// The whole file, as Replace() leaves it: `bytes` and nothing after them.
bool Rewrite(int fd, const QByteArray& bytes) { return WriteAt(fd, bytes, 0) && ::ftruncate(fd, bytes.size()) == 0; }

QByteArray FirstLine(int fd)
{
    char head[kPidWidth + 1];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    return got > 0 ? QByteArray(head, qsizetype(got)) : QByteArray();
}

bool SaysLetGo(int fd) { return FirstLine(fd) == PidField(kNoProcess) + '\n'; }

void Keep(StoreLock::Kept& kept, int fd)
{
    struct stat st {};
    ::fstat(fd, &st);
    kept.fd = fd;
    kept.device = st.st_dev;
    kept.inode = st.st_ino;
}

// Removes the kept file, while this process holds its locks and the path still names it,
// and closes it. Under its turn.
void LetGo(StoreLock::Kept& kept, const QByteArray& name)
{
    if (kept.fd < 0) return;
    if (TakeNativeLocks(kept.fd) && Names(name, kept.device, kept.inode)) ::unlink(name.constData());
    ::close(kept.fd);
    kept.fd = -1;
}

struct Registry {
    std::mutex mutex;
    QHash<QString, std::shared_ptr<StoreLock::Kept>> kept;
};

Registry& TheRegistry()
{
    // Never destroyed: a journal's checkpointing thread may still take a lock while the
    // process's statics go at its exit.
    static Registry* const registry = new Registry;
    return *registry;
}

std::shared_ptr<StoreLock::Kept> KeptFor(const QString& path)
{
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.mutex);
    std::shared_ptr<StoreLock::Kept> kept = registry.kept.value(path);
    if (kept) return kept;
    // A process that writes to many roots in turn (tests, a tool) keeps only a few files open.
    if (registry.kept.size() >= kMaxKept) {
        for (auto it = registry.kept.begin(); it != registry.kept.end();) {
            StoreLock::Kept& other = **it;
            if (!other.turn.try_lock()) {
                ++it;
                continue;
            }
            LetGo(other, QFile::encodeName(it.key()));
            other.turn.unlock();
            it = registry.kept.erase(it);
        }
    }
    kept = std::make_shared<StoreLock::Kept>();
    registry.kept.insert(path, kept);
    return kept;
}

} // namespace

StoreLock::StoreLock(const QString& lockPath) : m_path(lockPath) {}

StoreLock::~StoreLock() { Release(); }

QByteArray StoreLock::Contents() { return ContentsFor(qint64(::getpid())); }

qint64 StoreLock::HolderPid(const QString& lockPath)
{
    QFile file(lockPath);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    bool ok = false;
    const qint64 pid = file.readLine(32).trimmed().toLongLong(&ok);
    return ok && pid > 0 && pid < kNoProcess ? pid : 0;
}

bool StoreLock::TakeKept()
{
    Kept& kept = *m_kept;
    const QByteArray name = QFile::encodeName(m_path);
    if (!Names(name, kept.device, kept.inode)) return false;
    // Let go of as this process left it: only its holder's digits change. Anything else (a
    // writer that took it over and died holding it, a hand) is written whole again.
    const QByteArray line = FirstLine(kept.fd);
    if (line == PidField(kNoProcess) + '\n') return WriteAt(kept.fd, PidField(::getpid()), 0);
    return Rewrite(kept.fd, Contents());
}

bool StoreLock::TakeOver()
{
    // Another writer's file that it let go of: taken as it is, under the kernel's locks, while
    // the path still names it. A file that says anything else (just made by a QLockFile that
    // is about to hold it, left by a writer that died) is for StaleLockFile to judge.
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    const bool taken = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && TakeNativeLocks(fd)
                       && Names(name, st.st_dev, st.st_ino) && SaysLetGo(fd) && Rewrite(fd, Contents());
    if (!taken) {
        ::close(fd);
        return false;
    }
    Keep(*m_kept, fd);
    return true;
}

StoreLock::Attempt StoreLock::TryTake(int* err)
{
    Kept& kept = *m_kept;
    if (kept.fd >= 0) {
        // Someone holds its locks for a moment to see whether it is stale: looked at again.
        if (!TakeNativeLocks(kept.fd)) return Attempt::Looked;
        if (TakeKept()) return Attempt::Taken;
        // Removed as stale by another writer meanwhile, or not writable: made anew.
        ::close(kept.fd);
        kept.fd = -1;
    }
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *err = errno;
        if (*err != EEXIST) return Attempt::Failed;
        return TakeOver() ? Attempt::Taken : Attempt::Held;
    }
    // The file is ours alone whatever the umask; a process that saw it before its locks were
    // taken looks again before it calls it stale (StaleLockFile).
    if (::fchmod(fd, 0600) != 0 || !TakeNativeLocks(fd) || !AtomicFile::WriteAll(fd, Contents())) {
        *err = errno;
        ::unlink(name.constData());
        ::close(fd);
        return Attempt::Failed;
    }
    // Not flushed: see the class comment. Other processes read it through the page cache.
    Keep(kept, fd);
    return Attempt::Taken;
}

void StoreLock::Release()
{
    if (!m_held) return;
    m_held = false;
    Kept& kept = *m_kept;
    // It names no one before its locks go, so that no other writer finds it held by a live
    // process that no longer holds it. When it cannot say so, it is removed while still
    // held, so that no other process can have put a successor there yet.
    if (WriteAt(kept.fd, PidField(kNoProcess), 0)) DropNativeLocks(kept.fd);
    else LetGo(kept, QFile::encodeName(m_path));
    m_turn.unlock();
}

void StoreLock::Forget(const QString& lockPath)
{
    std::shared_ptr<Kept> kept;
    {
        Registry& registry = TheRegistry();
        std::lock_guard guard(registry.mutex);
        kept = registry.kept.take(lockPath);
    }
    if (!kept) return;
    std::lock_guard turn(kept->turn);
    LetGo(*kept, QFile::encodeName(lockPath));
}

bool StoreLock::Acquire(int waitMs, HRESULT* code, QString* error)
{
    if (m_held) return true;
    const QDeadlineTimer deadline(waitMs);
    m_kept = KeptFor(m_path);
    m_turn = std::unique_lock(m_kept->turn, std::defer_lock);
    const bool turn = waitMs < 0 ? (m_turn.lock(), true) : m_turn.try_lock_for(std::chrono::milliseconds(waitMs));
    qint64 holder = qint64(::getpid());
    if (turn) {
        for (;;) {
            int err = 0;
            const Attempt attempt = TryTake(&err);
            if (attempt == Attempt::Taken) {
                m_held = true;
                return true;
            }
            if (attempt == Attempt::Failed) {
                m_turn.unlock();
                const ServiceError why = AtomicFile::WriteError(m_path, err ? err : EIO);
                if (code) *code = why.Code();
                if (error) *error = why.Message();
                return false;
            }
            if (attempt == Attempt::Held && StaleLockFile::RemoveIfStale(m_path)) continue;
            if (deadline.hasExpired()) break;
            const qint64 pause = attempt == Attempt::Looked ? 1 : std::clamp<qint64>(deadline.remainingTime(), 1, 20);
            QThread::msleep(quint64(pause));
        }
        // Read before the turn goes: closing a file of the lock drops the record lock that
        // this process holds on it, which the next writer of this process may hold by then.
        holder = HolderPid(m_path);
        m_turn.unlock();
    }
    if (code) *code = SCHED_E_SERVICE_TOO_BUSY;
    if (error)
        *error = QStringLiteral("The store of \"%1\" is locked by another writer (process %2).")
                     .arg(QFileInfo(m_path).absolutePath()).arg(holder);
    return false;
}
