#pragma once
// Lock files whose holder is gone.

#include <QString>

/// A lock file (as QLockFile writes it) is held while its holder keeps the file's native
/// lock, which the kernel drops when the holder dies, however it dies. A file that nobody
/// holds is stale whatever it says: empty (its writer was killed before it wrote its
/// process id), unreadable, or naming a process that is gone or is another one now.
class StaleLockFile {
public:
    /// Removes the lock file at `path` when no live process holds it, looked at twice a short
    /// moment apart (a new holder creates the file a moment before it takes the native lock).
    /// True when it was removed; false when it is held, missing or cannot be examined.
    static bool RemoveIfStale(const QString& path);
};
