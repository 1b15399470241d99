#pragma once
// The inter-process lock that lets one writer change a root's store at a time.

#include "ResultCodes.h"

#include <QLockFile>
#include <QString>

/// Held by a writer for the length of one change. A lock left by a writer that died is
/// taken over at once; one that cannot be created (a full disk, no permission) is reported
/// as such, not as a busy store.
class StoreLock {
public:
    explicit StoreLock(const QString& lockPath);
    /// Waits up to `waitMs` for the lock. False, with `code` and `error` filled, when another
    /// writer keeps it that long or it cannot be created.
    bool Acquire(int waitMs, HRESULT* code, QString* error);

private:
    QLockFile m_lock;
    QString m_path;
};
