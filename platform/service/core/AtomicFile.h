#pragma once
// Crash-safe changes to files and directories: a reader sees the old content or the new,
// never half a file, and a change reported done survives a power failure.

#include "ServiceError.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>

class AtomicFile {
public:
    /// Writes `bytes` to a temporary file beside `path` (named `path` and six more characters
    /// after a dot), flushes it to disk, renames it over `path` and flushes the directory. The
    /// file gets `mode` whatever the umask. Throws ServiceError naming the file on failure
    /// (WriteError); `path` is then unchanged.
    static void Write(const QString& path, const QByteArray& bytes, mode_t mode = 0600);
    /// Writes as Write does, so that a reader sees the old file or the new one whole, but
    /// flushes nothing: after a power failure the file may be missing, old, new, or damaged.
    /// Only for bookkeeping that the next daemon recreates or judges stale after a crash.
    static void WriteUnflushed(const QString& path, const QByteArray& bytes, mode_t mode = 0600);
    /// Removes a file (a missing one is fine) and flushes its directory.
    static void Remove(const QString& path);
    /// Creates a directory (owner-only access, whatever the umask) and flushes its parent.
    static void MakeDirectory(const QString& path);
    /// Creates a directory and its missing parents, each as MakeDirectory does.
    static void MakePath(const QString& path);
    /// Removes an empty directory and flushes its parent.
    static void RemoveDirectory(const QString& path);
    /// Flushes a directory's entries to disk.
    static void SyncDirectory(const QString& path);

    /// Writes all of `bytes` to `fd`, again after an interruption. False with errno set on
    /// failure; a write that takes nothing counts as a full disk (ENOSPC).
    static bool WriteAll(int fd, const QByteArray& bytes);

    /// Whether `fileName` is the temporary file of an interrupted Write of a store file
    /// (a task, state, job, history or daemon state file).
    static bool IsLeftover(const QString& fileName);
    /// Removes the leftovers of interrupted writes in `dir` and, with `recursive`, below it.
    /// Returns how many were removed. Only call it while no write can be under way there.
    static int RemoveLeftovers(const QString& dir, bool recursive);

    /// The error of a write of `path` that failed with `err` (an errno value): a full disk
    /// or an exhausted quota say so and name the file.
    static ServiceError WriteError(const QString& path, int err);
    /// The error of a file at `path` that cannot be created, found out by creating and
    /// writing a probe file beside it.
    static ServiceError CreateError(const QString& path);

private:
    /// Writes a temporary file, flushed to disk with `flush`, and renames it over `path`.
    static void Replace(const QString& path, const QByteArray& bytes, mode_t mode, bool flush);
};
