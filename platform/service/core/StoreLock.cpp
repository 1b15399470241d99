#include "StoreLock.h"

#include "AtomicFile.h"
#include "StaleLockFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

StoreLock::StoreLock(const QString& lockPath) : m_path(lockPath) {}

StoreLock::~StoreLock() { Release(); }

QByteArray StoreLock::Contents()
{
    // The program's name as the kernel tells it, which is what a QLockFile of another process
    // compares with the named process's to tell a reused process id.
    static const QByteArray rest = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName().toUtf8() + '\n'
                                   + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n'
                                   + QSysInfo::bootUniqueId() + '\n';
    return QByteArray::number(qint64(::getpid())) + '\n' + rest;
}

qint64 StoreLock::HolderPid(const QString& lockPath)
{
    QFile file(lockPath);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    bool ok = false;
    const qint64 pid = file.readLine(32).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

StoreLock::Attempt StoreLock::TryTake(int* err)
{
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *err = errno;
        return *err == EEXIST ? Attempt::Held : Attempt::Failed;
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
    m_fd = fd;
    return Attempt::Taken;
}

void StoreLock::Release()
{
    if (m_fd < 0) return;
    // Removed while still held, so that no other process can have put a successor there yet.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

bool StoreLock::Acquire(int waitMs, HRESULT* code, QString* error)
{
    if (m_fd >= 0) return true;
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        int err = 0;
        const Attempt attempt = TryTake(&err);
        if (attempt == Attempt::Taken) return true;
        if (attempt == Attempt::Failed) {
            const ServiceError why = AtomicFile::WriteError(m_path, err ? err : EIO);
            if (code) *code = why.Code();
            if (error) *error = why.Message();
            return false;
        }
        if (StaleLockFile::RemoveIfStale(m_path)) continue;
        if (deadline.hasExpired()) break;
        QThread::msleep(quint64(std::clamp<qint64>(deadline.remainingTime(), 1, 20)));
    }
    if (code) *code = SCHED_E_SERVICE_TOO_BUSY;
    if (error)
        *error = QStringLiteral("The store of \"%1\" is locked by another writer (process %2).")
                     .arg(QFileInfo(m_path).absolutePath()).arg(HolderPid(m_path));
    return false;
}
