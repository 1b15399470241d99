#pragma once
// The runs of each task, kept in the root: when each started and ended and how it went.

#include "catalog/RunnableTask.h"
#include "ServiceRoot.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

struct RunHistoryEntry {
    QString instance;   ///< the instance id; an instance is recorded once
    QString cause;      ///< why it started: scheduled, demand, missed, boot, logon, restart
    qint32 attempt = 0; ///< restarts after a failure before this run
    QDateTime start;
    QDateTime end;
    HRESULT result = 0;
    QString reason;     ///< for a start that was skipped: why
    friend bool operator==(const RunHistoryEntry&, const RunHistoryEntry&) = default;
};

/// One file per task under <root>/history, rewritten crash-safely at every end of a run and
/// holding the most recent runs. A damaged file is reported and started afresh, never
/// half-read.
class RunHistory {
public:
    /// Runs kept per task; older ones are dropped.
    static constexpr int MaxEntries = 200;

    explicit RunHistory(const ServiceRoot& root);

    /// Adds a run, unless its instance is already recorded: false then. Throws ServiceError
    /// when the file cannot be written.
    bool Append(const TaskKey& key, const RunHistoryEntry& entry);
    /// Adds runs in one write, those whose instance is not recorded yet, and returns them.
    QList<RunHistoryEntry> Append(const TaskKey& key, const QList<RunHistoryEntry>& runs);

    /// The same in three steps, so that the write can go on beside other work: what adding
    /// `runs` writes (Prepare), the durable write itself, which touches nothing of this object
    /// and may run on another thread (Write, throws ServiceError), and taking note of it once
    /// written (Keep).
    struct Change {
        QString file;
        QList<RunHistoryEntry> added;   ///< the runs not recorded yet; nothing to write when empty
        QList<RunHistoryEntry> entries;
        QList<QByteArray> encoded;
        QByteArray document;
    };
    Change Prepare(const TaskKey& key, const QList<RunHistoryEntry>& runs) const;
    static void Write(const Change& change);
    void Keep(const Change& change);
    /// The recorded runs, oldest first; empty, with `error` filled, for a damaged file.
    QList<RunHistoryEntry> Read(const TaskKey& key, QString* error = nullptr) const;
    /// Forgets a task's runs (the task was deleted).
    void Remove(const TaskKey& key);
    /// The history file of a task.
    QString File(const TaskKey& key) const;

private:
    /// The runs of a file as this daemon last wrote it, known by its inode, size and time.
    struct Written {
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        QList<RunHistoryEntry> entries;
        QList<QByteArray> encoded;   ///< each entry as the file holds it
    };
    /// Tasks whose runs are kept in memory at most; every end of a run otherwise reads back
    /// and decodes the whole file it is about to replace.
    static constexpr qsizetype MaxRemembered = 64;

    /// What this daemon wrote to `file`, or null when it wrote nothing there or the file changed since.
    const Written* Remembered(const QString& file) const;
    void Remember(const QString& file, const QList<RunHistoryEntry>& entries, const QList<QByteArray>& encoded);

    QString m_dir;
    QHash<QString, Written> m_written;
};
