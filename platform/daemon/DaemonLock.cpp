#include "DaemonLock.h"

DaemonLock::DaemonLock(const QString& lockPath) : m_lock(lockPath), m_path(lockPath)
{
    // Never stale by age: a daemon runs for months. A lock whose process is gone is stale at once.
    m_lock.setStaleLockTime(0);
}

DaemonLock::Result DaemonLock::TryAcquire(qint64* holderPid, QString* error)
{
    if (m_lock.tryLock(0)) return Acquired;
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
        if (error) *error = QStringLiteral("The lock \"%1\" cannot be taken.").arg(m_path);
        return Failed;
    }
}
