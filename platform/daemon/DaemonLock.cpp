#include "DaemonLock.h"

#include "AtomicFile.h"
#include "StaleLockFile.h"

#include <QFile>

DaemonLock::DaemonLock(const QString& lockPath) : m_lock(lockPath), m_path(lockPath)
{
    // Never stale by age: a daemon runs for months. A lock whose process is gone is stale at once.
    m_lock.setStaleLockTime(0);
}

DaemonLock::Result DaemonLock::TryAcquire(qint64* holderPid, QString* error)
{
    // A daemon killed while it wrote the lock leaves it empty; one whose process id was taken
    // by another program since leaves it naming a live process. Neither holds it any more.
    const bool acquired = m_lock.tryLock(0) || (m_lock.error() == QLockFile::LockFailedError && StaleLockFile::RemoveIfStale(m_path) && m_lock.tryLock(0));
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
