#pragma once
// The generation 2.0 store of one root: a tree of folders under the root's task directory,
// one document per task, and each task's runtime state in a mirror tree of state files.
// Every change is made under the root's inter-process writer lock with crash-safe writes;
// readers take no lock. A document that does not load is reported and kept out of
// listings, never half-loaded and never overwritten.
// Names keep the spelling they were created with but are unique ignoring case: a path is
// looked up under the stored spelling of each of its names, the exact one first, so a store
// that already holds two spellings keeps both reachable.

#include "FileBatch.h"
#include "ServiceRoot.h"
#include "gen2/PackedDocument.h"
#include "gen2/TaskDocument.h"
#include "TaskPath.h"
#include "gen2/TaskRuntimeState.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>
#include <optional>
#include <sys/types.h>

/// What the file of a task was when it was read, for a service that believes a file only as
/// far as its owner and its permissions allow.
struct StoredFile {
    bool known = false;     ///< false: the task was not read from its file just now
    bool link = false;      ///< the task's name is a symbolic link (the rest is of its target)
    bool regular = false;
    uid_t owner = 0;
    mode_t mode = 0;
};

/// A stored task: its path, its document as stored, and the document read from it.
struct StoredTask {
    TaskPath path;
    QByteArray xml;
    TaskDocument doc;
    /// The file it was read from or written to.
    QString file;
    StoredFile facts;
    /// Set by StoreTask: the task was there (in any letter case) and has been replaced.
    bool replaced = false;
};

/// The two settings a listing looks at.
struct ListedFacts {
    bool hidden = false;
    bool enabled = true;
};

/// A stored task as a listing sends it: its document as stored, not decoded.
struct ListedTask {
    TaskPath path;
    QByteArray xml;
    ListedFacts facts;
    /// Its file, and which reading of it the cache holds the text from (0: none).
    QByteArray file;
    quint64 reading = 0;
    /// The text packed, in place of `xml`, when a listing asked for it so.
    PackedDocument packed;
};

/// A task file that does not load, and why.
struct DamagedTask {
    TaskPath path;
    QString error;
};

class TaskStore {
public:
    /// `lockWaitMs`: how long a change waits for another writer before it gives up.
    explicit TaskStore(ServiceRoot root, int lockWaitMs = 10000);

    bool FolderExists(const TaskPath& folder) const;
    /// The names of the direct sub-folders, sorted. Throws ServiceError for a missing folder.
    QStringList FolderNames(const TaskPath& folder) const;
    /// Creates a folder and any missing parents; an existing folder is refused.
    void CreateFolder(const TaskPath& folder);
    /// Deletes an empty folder; the root, missing and non-empty folders are refused.
    void DeleteFolder(const TaskPath& folder);

    /// The tasks of a folder that load, sorted by name, and those that do not.
    void ListTasks(const TaskPath& folder, QList<StoredTask>* tasks, QList<DamagedTask>* damaged) const;
    /// Calls `visit` with each task of a folder that loads, one at a time, in the order of
    /// ListTasks; those that do not are reported in `damaged`. For a reader of every task of a
    /// store, which then never holds a whole folder's documents at once.
    void EachTask(const TaskPath& folder, const std::function<void(StoredTask&&)>& visit, QList<DamagedTask>* damaged) const;
    /// The same without decoding the documents that were read before and have not changed
    /// since: what a listing sends.
    /// Without `withTexts` the texts are left empty: a listing of statuses sends none.
    /// With `packed` the texts are given packed (ListedTask::packed) as the cache holds them.
    void ListTaskTexts(const TaskPath& folder, QList<ListedTask>* tasks, QList<DamagedTask>* damaged, bool withTexts = true,
                       bool packed = false) const;
    /// One task; throws ServiceError when it is missing or damaged.
    StoredTask LoadTask(const TaskPath& task) const;

    enum class Mode { Create, Update, CreateOrUpdate };
    /// Stores a checked definition under `task`, creating missing folders. Create refuses an
    /// existing task, Update a missing one; a damaged existing document is never replaced.
    StoredTask StoreTask(const TaskPath& task, const TaskDocument& doc, Mode mode);
    /// Loads, changes with `change` and stores a task in one locked step.
    StoredTask ChangeTask(const TaskPath& task, const std::function<void(TaskDocument&)>& change);
    /// Deletes a task (damaged ones too) and its runtime state.
    void DeleteTask(const TaskPath& task);
    /// Takes the writer lock once, which replays what a crash left in the store's journal:
    /// for an owner that reads the store before it changes anything.
    void Recover();

    /// The runtime state of a task; a task that never ran has the default state. Nothing,
    /// with `error` filled, when the state file is damaged.
    std::optional<TaskRuntimeState> ReadState(const TaskPath& task, QString* error) const;
    /// The same for a task as a listing gave it (its path spelt as stored). The state last
    /// read of the same file is given again while the file has not changed.
    std::optional<TaskRuntimeState> ReadListedState(const ListedTask& task, QString* error) const;
    /// The first scheduled start of a listed task at or after `now`, in milliseconds since
    /// 1970-01-01T00:00Z. Worked out once for each reading of its document and given again
    /// while it is still the first at or after `now`: a listing with statuses for thousands
    /// of tasks then decodes none of them.
    std::optional<qint64> NextStart(const ListedTask& task, const QDateTime& now) const;
    /// Replaces the runtime state of a task whole; unless `flush`, without waiting for the disk
    /// (the state then survives a crash of the process, not a power failure).
    void WriteState(const TaskPath& task, const TaskRuntimeState& state, bool flush = true);

    /// `folder` with each name spelt as stored (names without a stored match are kept).
    TaskPath ResolveFolder(const TaskPath& folder) const;
    /// `task` with its folders and its own name spelt as stored.
    TaskPath ResolveTask(const TaskPath& task) const;

    /// The file of a task's document and of its state, for the path exactly as given.
    QString TaskFile(const TaskPath& task) const;
    QString StateFile(const TaskPath& task) const;
    /// The file for `task` under `base` by the store's rule: each folder a directory named
    /// after it with ".folder", the task's name with `suffix`. No two paths share a file, and
    /// no file is a directory of another path, whatever the names.
    static QString FileFor(const QString& base, const TaskPath& task, const QString& suffix);

private:
    class WriteLock;
    QString FolderDir(const QString& base, const TaskPath& folder) const;
    /// The stored spelling of `name` among the entries of `dir` ending in `suffix`.
    static QString StoredSpelling(const QString& dir, const QString& name, const QString& suffix);
    /// For each of `suffixes`, the first in sorted order of the spellings of `name` (in any
    /// letter case) among the entries of `dir` ending in it; null where there is none. One
    /// reading of the directory.
    static QStringList FirstSpellings(const QString& dir, const QString& name, const QStringList& suffixes);
    void EnsureFolders(const QString& base, const TaskPath& folder);
    /// A task file as a folder's listing found it: its encoded path, and its name in the
    /// folder's directory, opened once for the listing (`dir` < 0: not open).
    struct FileAt {
        QByteArray name;
        int dir = -1;
        QByteArray leaf;
        /// What a batch read of it ahead of its turn, taken by its reading; none: it is read then.
        FileReading* reading = nullptr;
    };
    StoredTask Read(const TaskPath& task, const QString& file, const FileAt* at = nullptr) const;
    /// The text of `task` from the cache, and what a listing looks at; false when the cache
    /// holds nothing for the file `name` or the file changed since.
    bool Cached(const TaskPath& task, const QByteArray& name, QByteArray* xml, ListedFacts* facts, const FileAt* at = nullptr,
                quint64* reading = nullptr, PackedDocument* packed = nullptr) const;
    /// Reads and checks the file `name` into `stored` (whose path and file are set) and caches
    /// it; gives the reading the cache holds it as.
    quint64 ReadFile(const QByteArray& name, StoredTask* stored, const FileAt* at = nullptr) const;
    /// Calls `read` with the path and file of each task of `folder`, sorted by name; a task
    /// that `read` refuses with a ServiceError is reported in `damaged`.
    void EachTaskFile(const TaskPath& folder, QList<DamagedTask>* damaged,
                      const std::function<void(const TaskPath&, const QString&, const FileAt&)>& read) const;
    void Write(WriteLock& lock, const TaskPath& task, const TaskDocument& doc, StoredTask* stored);

    ServiceRoot m_root;
    int m_lockWaitMs;
    // The two directories as file names with their final '/'.
    QByteArray m_tasksDir;
    QByteArray m_stateDir;
};
