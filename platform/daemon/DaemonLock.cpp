#include "DaemonLock.h"

#include "AtomicFile.h"
#include "StaleLockFile.h"
#include "run/ProcessFd.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QThread>

namespace {

// How long a lock whose daemon has ended is waited for. A killed daemon's lock can stay held
// a moment after its end has been reported (it was seen held with the daemon a zombie that had
// no descriptor left): a daemon started right after a kill -9 of its predecessor would
// otherwise find the lock taken and leave, with nobody serving the root.
constexpr int DeadHolderWaitMs = 2000;
constexpr int DeadHolderLookMs = 20;

} // namespace

DaemonLock::DaemonLock(const QString& lockPath) : m_lock(lockPath), m_path(lockPath)
{
    // Never stale by age: a daemon runs for months. A lock whose process is gone is stale at once.
    m_lock.setStaleLockTime(0);
}

DaemonLock::Result DaemonLock::TryAcquire(qint64* holderPid, QString* error)
{
    // A daemon killed while it wrote the lock leaves it empty; one whose process id was taken
    // by another program since leaves it naming a live process. Neither holds it any more.
    const auto tryOnce = [this] {
        return m_lock.tryLock(0) || (m_lock.error() == QLockFile::LockFailedError && StaleLockFile::RemoveIfStale(m_path) && m_lock.tryLock(0));
    };
    bool acquired = tryOnce();
    QElapsedTimer waited;
    waited.start();
    while (!acquired && m_lock.error() == QLockFile::LockFailedError && waited.elapsed() < DeadHolderWaitMs) {
        qint64 pid = 0;
        QString host, app;
        // Another computer's process ids say nothing here (a root on a shared file system).
        if (!m_lock.getLockInfo(&pid, &host, &app) || (!host.isEmpty() && host != QSysInfo::machineHostName()) || pid <= 0 || !ProcessEnded(pid_t(pid), 0)) break;
        QThread::msleep(DeadHolderLookMs);
        acquired = tryOnce();
    }
    if (acquired) {
        QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return Acquired;
    }
    switch (m_lock.error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host, app;
        m_lock.getLockInfo(&pid, &host, &app);
        if (holderPid) *holderPid = pid;
        return HeldByOther;
    }
    case QLockFile::PermissionError:
        if (error) *error = QStringLiteral("No permission to create the lock \"%1\".").arg(m_path);
        return Failed;
    default:
        if (error) *error = QStringLiteral("The lock \"%1\" cannot be taken. %2").arg(m_path, AtomicFile::CreateError(m_path).Message());
        return Failed;
    }
}
