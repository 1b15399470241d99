#pragma once
// The lock that makes a daemon the only one of its root.

#include <QLockFile>
#include <QString>

/// Held for the daemon's whole life. A lock left by a daemon that died is taken over; one
/// held by a live daemon is not.
class DaemonLock {
public:
    enum Result { Acquired, HeldByOther, Failed };

    explicit DaemonLock(const QString& lockPath);
    /// Tries without waiting for a live holder; a lock whose holder has ended is waited for
    /// a moment, as the system lets go of it. On HeldByOther `holderPid` is the other daemon's
    /// process id; on Failed `error` says why.
    Result TryAcquire(qint64* holderPid, QString* error);
    void Release() { m_lock.unlock(); }

private:
    QLockFile m_lock;
    QString m_path;
};
