#pragma once
// The inter-process lock that lets one writer change a root's store at a time.

#include "ResultCodes.h"

#include <QString>
#include <memory>
#include <mutex>

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
///
/// A process keeps the file it made between its changes instead of removing it and making
/// it again for each (two changes of the directory, and most of a change's own cost outside
/// its flush). Let go of, the file names a process id that no process can have, so that
/// every earlier writer finds it stale and takes it over at once; held, it names the
/// holder. Holding is having the kernel's locks on the file that the path names: a file is
/// removed as stale, by any writer, only under those locks, and a writer of this process
/// takes them on its kept file and then looks that the path still names it. A writer of
/// another process takes over a let-go file the same way, and only one that says it was let
/// go: a file just made by a QLockFile names no one until its maker holds it.
/// One writer of a process holds a root's lock at a time; the others wait as for one of
/// another process.
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

    /// Removes the file this process keeps at `lockPath`, when no writer holds it: a clean
    /// stop of this process's writing to that root.
    static void Forget(const QString& lockPath);

    /// What this process writes into a lock file it holds.
    static QByteArray Contents();
    /// The process id a lock file names; 0 when it names none, or says it was let go of.
    static qint64 HolderPid(const QString& lockPath);

    struct Kept;

private:
    enum class Attempt { Taken, Held, Looked, Failed };
    Attempt TryTake(int* err);
    bool TakeKept();
    bool TakeOver();

    QString m_path;
    std::shared_ptr<Kept> m_kept;
    std::unique_lock<std::timed_mutex> m_turn;
    bool m_held = false;
};
