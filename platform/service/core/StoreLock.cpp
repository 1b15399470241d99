#include "StoreLock.h"

#include "AtomicFile.h"
#include "StaleLockFile.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

StoreLock::StoreLock(const QString& lockPath) : m_lock(lockPath), m_path(lockPath)
{
    // Age says nothing about a writer: a slow disk may hold one for long. Whether its holder
    // lives is what counts (StaleLockFile).
    m_lock.setStaleLockTime(0);
}

bool StoreLock::Acquire(int waitMs, HRESULT* code, QString* error)
{
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (m_lock.tryLock(0)) {
            // The lock file is created under the process's umask; it is the service's own.
            QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            return true;
        }
        if (m_lock.error() != QLockFile::LockFailedError) {
            const ServiceError why = AtomicFile::CreateError(m_path);
            if (code) *code = why.Code();
            if (error) *error = why.Message();
            return false;
        }
        if (StaleLockFile::RemoveIfStale(m_path)) continue;
        if (deadline.hasExpired()) break;
        QThread::msleep(quint64(std::clamp<qint64>(deadline.remainingTime(), 1, 20)));
    }
    qint64 pid = 0;
    QString host, app;
    m_lock.getLockInfo(&pid, &host, &app);
    if (code) *code = SCHED_E_SERVICE_TOO_BUSY;
    if (error)
        *error = QStringLiteral("The store of \"%1\" is locked by another writer (process %2).")
                     .arg(QFileInfo(m_path).absolutePath()).arg(pid);
    return false;
}
