#pragma once
// The inter-process lock that lets one writer change a root's store at a time.

#include "ResultCodes.h"

#include <QString>

/// Held by a writer for the length of one change. A lock left by a writer that died is
/// taken over at once; one that cannot be created (a full disk, no permission) is reported
/// as such, not as a busy store.
///
/// The file is the one QLockFile makes (created exclusively, the holder's process id,
/// program, host, machine and boot ids on lines of their own, the kernel's flock and record
/// locks held on it), so that a writer of an earlier version, which took it with QLockFile,
/// still excludes and is excluded. Unlike QLockFile it is never flushed to disk: a lock
/// lives only as long as its holder, and no holder outlives a power failure, so a lock file
/// that a power failure keeps or loses, whole or not, is stale either way and taken over.
class StoreLock {
public:
    explicit StoreLock(const QString& lockPath);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    /// Waits up to `waitMs` for the lock. False, with `code` and `error` filled, when another
    /// writer keeps it that long or it cannot be created.
    bool Acquire(int waitMs, HRESULT* code, QString* error);
    /// Gives the lock up (the destructor does too).
    void Release();

    /// What this process writes into a lock file it holds.
    static QByteArray Contents();
    /// The process id a lock file names; 0 when it names none.
    static qint64 HolderPid(const QString& lockPath);

private:
    enum class Attempt { Taken, Held, Failed };
    Attempt TryTake(int* err);

    QString m_path;
    int m_fd = -1;
};
