#pragma once
// A write-ahead journal of the store's changes, kept in the root, so that a change is durable
// after one flush of one file instead of the two of a replace-by-rename.
//
// The file is made once at its full size and filled, so that writing records into it later
// changes no metadata and one fdatasync makes them durable. A change is appended as records
// (a file's path under the root with its whole new content and mode, or its removal; each with
// the chain's number, its place in it and a checksum), the journal is flushed, and the change
// is then applied to the files by rename without flushing: readers that take no lock see the
// old file or the new one whole, as before, and after a power failure the next writer brings
// the files up to what the journal holds. A checkpoint flushes the applied files and their
// directories and only then ends the chain, so that a record is dropped only once its change
// is on disk by itself.
//
// Every change of the files a record names goes through the journal while records are
// pending; a change that is not journaled (a folder's removal, a document too large for the
// journal) checkpoints first, so that a replay never puts back something older.

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <sys/types.h>

class StoreJournal {
public:
    /// One change of a file under the root: its whole new content and mode, or its removal.
    struct Change {
        QString file;   ///< absolute, below the root
        QByteArray bytes;
        mode_t mode = 0600;
        bool remove = false;
    };

    /// The journal of the root at `rootPath` that this process's stores share; it checkpoints
    /// by itself a moment after the last change.
    static std::shared_ptr<StoreJournal> For(const QString& rootPath);
    /// A clean stop of this process's writing to that root: checkpoints what is pending
    /// (taking the store lock) and ends the idle checkpointing until the next change.
    static void Close(const QString& rootPath);

    /// Without `background`, nothing is checkpointed but by Checkpoint() and a full journal.
    explicit StoreJournal(QString rootPath, bool background = false);
    /// Stops the idle checkpointing; checkpoints nothing: what is pending is the next
    /// writer's to replay, which is safe at any time.
    ~StoreJournal();
    StoreJournal(const StoreJournal&) = delete;
    StoreJournal& operator=(const StoreJournal&) = delete;

    /// Held by a writer of this process for as long as it holds the store lock, taken first.
    std::mutex& Mutex() { return m_mutex; }

    // The rest only under Mutex() and the store lock.

    /// Brings this process's view of the journal up to date. Records that another writer
    /// left, or that a crash left, are replayed: each file they name is brought to what its
    /// last record says, then everything is checkpointed. Throws ServiceError.
    void Sync();
    /// Makes `changes` durable, in order, and applies them: journaled with one flush when it
    /// can be, else written by AtomicFile after a checkpoint. Throws ServiceError; the
    /// changes not applied are then not journaled either.
    void Commit(const QList<Change>& changes);
    /// Applies a change without waiting for the disk (it survives a crash of the process, not
    /// necessarily a power failure). Journaled, without a flush, only while its file has
    /// records pending, whose replay would otherwise put an older content back.
    void CommitUnflushed(const Change& change);
    /// Appends `changes` and flushes them without applying them: what a writer that stopped
    /// right after its flush leaves. False when they cannot be journaled.
    bool Append(const QList<Change>& changes);
    /// Flushes the files that pending records changed, then their directories, then ends the
    /// chain. Nothing to do when none is pending.
    void Checkpoint();
    bool HasPending() const { return !m_pending.isEmpty(); }
    bool IsPending(const QString& file) const;

    /// The journal's file in a root.
    static QString FileOf(const QString& rootPath);
    /// The size a new journal is made with.
    static constexpr qint64 kCapacity = 1024 * 1024;

private:
    struct Record {
        quint32 kind = 0;
        mode_t mode = 0;
        QByteArray path;   ///< relative to the root, encoded
        QByteArray bytes;
    };
    bool OpenFile(bool create);
    void CloseFile();
    bool Append(const QList<Change>& changes, QList<qint64>* offsets, bool flush);
    void Apply(const QList<Change>& changes, const QList<qint64>& offsets);
    QByteArray Encode(const QList<Change>& changes, QList<qint64>* offsets, QList<QByteArray>* paths);
    QList<Record> ReadChain();
    void Replay(const QList<Record>& records);
    /// Makes the first record at `offset` (and with it the rest of the chain) invalid, durably.
    void Cut(qint64 offset);
    QByteArray Relative(const QString& file) const;
    QString Absolute(const QByteArray& relative) const;
    void NoteAppended();
    void RunIdleCheckpoints();
    void StopIdleCheckpoints();

    QString m_root;
    QString m_file;
    bool m_background;
    std::mutex m_mutex;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    qint64 m_capacity = 0;
    // This process's chain: where its next record goes, its number and the next place in it.
    qint64 m_end = 0;
    quint64 m_chain = 0;
    quint64 m_next = 0;
    // The files that records of the chain name, relative to the root.
    QSet<QByteArray> m_pending;
    // The file of each record this process appended to the chain, in order.
    QList<QByteArray> m_chainPaths;
    qint64 m_createFailedMs = -1;

    // Idle checkpointing, on a thread of its own: the requests never wait for it but for
    // the lock it takes.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_stop = false;
    bool m_due = false;
    bool m_full = false;
    quint64 m_appends = 0;
};
