#pragma once
// Crash-safe changes to files and directories: a reader sees the old content or the new,
// never half a file, and a change reported done survives a power failure.

#include <QByteArray>
#include <QString>

class AtomicFile {
public:
    /// Writes `bytes` to a temporary file beside `path`, flushes it to disk, renames it over
    /// `path` and flushes the directory. Throws ServiceError on failure; `path` is then unchanged.
    static void Write(const QString& path, const QByteArray& bytes);
    /// Removes a file (a missing one is fine) and flushes its directory.
    static void Remove(const QString& path);
    /// Creates a directory (owner-only access) and flushes its parent.
    static void MakeDirectory(const QString& path);
    /// Removes an empty directory and flushes its parent.
    static void RemoveDirectory(const QString& path);
    /// Flushes a directory's entries to disk.
    static void SyncDirectory(const QString& path);
};
