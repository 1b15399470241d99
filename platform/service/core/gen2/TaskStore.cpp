#include "gen2/TaskStore.h"

#include "AtomicFile.h"
#include "FileBatch.h"
#include "ServiceError.h"
#include "StoreJournal.h"
#include "StoreLock.h"
#include "gen2/PackedDocument.h"
#include "gen2/ScheduledRuns.h"
#include "gen2/TaskDocumentCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSharedData>
#include <QtDebug>
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>
#include <cerrno>
#include <cstring>
#include <exception>
#include <dirent.h>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kFolderSuffix = QStringLiteral(".folder");
const QString kTaskSuffix = QStringLiteral(".task");
const QString kStateSuffix = QStringLiteral(".state");

ServiceError NotFound(const TaskPath& path)
{
    return ServiceError(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                        QStringLiteral("The system cannot find the file specified. (\"%1\")").arg(path.ToString()));
}

ServiceError FolderNotFound(const TaskPath& path)
{
    return ServiceError(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                        QStringLiteral("The system cannot find the path specified. (\"%1\")").arg(path.ToString()));
}

bool IsDir(const QString& path) { return QFileInfo(path).isDir(); }

// What identifies one version of a file: a rewrite renames a new file (new inode) over the
// old one, and an edit in place changes its size or times.
struct FileSignature {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    friend bool operator==(const FileSignature&, const FileSignature&) = default;
};

FileSignature SignatureOf(const struct stat& st)
{
    return FileSignature{st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                         qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

std::optional<FileSignature> Signature(const QString& file)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return SignatureOf(st);
}

// The names of the files (or with `directories`, the directories) in `dir` that end with
// `suffix`, unsorted. Read with readdir, whose entry types spare a stat per name where the
// file system gives them: QDir stats, matches and collates every name, which cost a daemon
// holding thousands of tasks more than reading their files did. Links and unknown types are
// stat'ed, so that a link counts as what it points to, as with QDir.
QStringList EntriesEndingWith(const QString& dir, const QString& suffix, bool directories)
{
    QStringList names;
    const QByteArray path = QFile::encodeName(dir);
    DIR* handle = ::opendir(path.constData());
    if (!handle) return names;
    const QByteArray ending = QFile::encodeName(suffix);
    while (const dirent* entry = ::readdir(handle)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= size_t(ending.size()) || !name.ends_with(std::string_view(ending.constData(), size_t(ending.size()))))
            continue;
        bool isDir = entry->d_type == DT_DIR;
        bool isFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            if (::fstatat(::dirfd(handle), entry->d_name, &st, 0) != 0) continue;
            isDir = S_ISDIR(st.st_mode);
            isFile = S_ISREG(st.st_mode);
        }
        if (directories ? isDir : isFile) names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(handle);
    return names;
}

bool IsAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return quint8(c) < 0x80; });
}

ServiceError Damaged(const TaskPath& task, const QString& why)
{
    return ServiceError(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT),
                        QStringLiteral("The task \"%1\" is damaged and cannot be loaded (%2).").arg(task.ToString(), why));
}

// Documents already read and checked, by file, so that listing a folder again reads only
// what changed. Shared by every store of the process: the service outlives its clients.
// Only the stored text is kept, packed, with the two settings a listing looks at: a decoded
// document takes four times the room of its text, and the service holds every task of the
// computer; a listing sends the text as it is, and reading it again the quick way costs a
// few microseconds and no file access, its checks passed when it was first read.
class DocumentCache {
public:
    static DocumentCache& Instance()
    {
        static DocumentCache cache;
        return cache;
    }

    bool Holds(const QByteArray& file)
    {
        QMutexLocker locker(&m_mutex);
        return m_entries.contains(Lookup(file));
    }

    /// The text of `file` when the cache holds it for `signature`, with the reading it is of.
    bool Find(const QByteArray& file, const FileSignature& signature, QByteArray* xml, ListedFacts* facts, quint64* reading = nullptr,
              PackedDocument* packedOut = nullptr)
    {
        PackedDocument packed;
        {
            QMutexLocker locker(&m_mutex);
            const auto it = m_entries.constFind(Lookup(file));
            if (it == m_entries.constEnd() || !(it->signature == signature)) return false;
            packed = Document(it);
            if (facts) *facts = it->facts;
            if (reading) *reading = it->reading;
        }
        if (xml) *xml = packed.Unpack();
        if (packedOut) *packedOut = std::move(packed);
        return true;
    }

    /// The text of that reading of `file`, if the cache still holds it.
    bool Text(const QByteArray& file, quint64 reading, QByteArray* xml)
    {
        PackedDocument packed;
        {
            QMutexLocker locker(&m_mutex);
            const auto it = m_entries.constFind(Lookup(file));
            if (it == m_entries.constEnd() || it->reading != reading) return false;
            packed = Document(it);
        }
        *xml = packed.Unpack();
        return true;
    }

    /// Returns the reading of the entry made.
    quint64 Insert(const QByteArray& file, const FileSignature& signature, const QByteArray& xml, const TaskDocument& doc)
    {
        // The file's name in its directory leads the block the text is packed into: the key
        // and the text of an entry share one block of memory, and the directory, which the
        // tasks of a folder share, is kept once.
        const auto [directory, leaf] = Split(file);
        const PackedDocument packed(xml, leaf);
        Entry entry{signature, 0, qint32(packed.DocumentSize()), packed.IsPacked(), ListedFacts{doc.settings.hidden, doc.settings.enabled}, {}};
        QMutexLocker locker(&m_mutex);
        if (m_entries.size() >= kMaxEntries) {
            m_entries.clear();
            m_directories.clear();
            m_lastDirectory = {};
        }
        entry.reading = ++m_readings;
        // An entry already there keeps its key, whose block holds its old text: the key takes
        // the new block, which holds the same name.
        const auto it = m_entries.insert(Key::Holding(packed.Block(), leaf.size(), DirectoryIndex(directory, true)), std::move(entry));
        it.key().Adopt(packed.Block());
        return m_readings;
    }

    void Remove(const QByteArray& file)
    {
        QMutexLocker locker(&m_mutex);
        m_entries.remove(Lookup(file));
    }

    /// The first start at or after `nowMs` remembered for that reading of `file`, if any is.
    bool FindNext(const QByteArray& file, quint64 reading, qint64 nowMs, std::optional<qint64>* next)
    {
        QMutexLocker locker(&m_mutex);
        const auto it = m_entries.constFind(Lookup(file));
        if (it == m_entries.constEnd() || it->reading != reading || !it->memos || !it->memos->next) return false;
        // The first start at or after the moment it was worked out for is also the first at
        // or after any later moment up to it; with none, there is none later either.
        const NextStart& memo = *it->memos->next;
        if (nowMs < memo.fromMs || (memo.startMs && nowMs > *memo.startMs)) return false;
        *next = memo.startMs;
        return true;
    }

    void RememberNext(const QByteArray& file, quint64 reading, qint64 fromMs, std::optional<qint64> next)
    {
        QMutexLocker locker(&m_mutex);
        const auto it = m_entries.find(Lookup(file));
        if (it == m_entries.end() || it->reading != reading) return;
        auto* memos = it->memos ? new Memos(*it->memos) : new Memos;
        memos->next = NextStart{fromMs, next};
        it->memos = QExplicitlySharedDataPointer<const Memos>(memos);
    }

    /// The runtime state remembered with `file`'s entry for the state file of `signature`.
    bool FindState(const QByteArray& file, const FileSignature& signature, TaskRuntimeState* state)
    {
        QMutexLocker locker(&m_mutex);
        const auto it = m_entries.constFind(Lookup(file));
        if (it == m_entries.constEnd() || !it->memos || !it->memos->state || !(it->memos->state->signature == signature)) return false;
        *state = it->memos->state->state;
        return true;
    }

    void RememberState(const QByteArray& file, const FileSignature& signature, const TaskRuntimeState& state)
    {
        QMutexLocker locker(&m_mutex);
        const auto it = m_entries.find(Lookup(file));
        if (it == m_entries.end()) return;
        auto* memos = it->memos ? new Memos(*it->memos) : new Memos;
        memos->state = StateMemo{signature, state};
        it->memos = QExplicitlySharedDataPointer<const Memos>(memos);
    }

private:
    static constexpr qsizetype kMaxEntries = 200000;
    struct NextStart {
        qint64 fromMs = 0;
        std::optional<qint64> startMs;
    };
    struct StateMemo {
        FileSignature signature;
        TaskRuntimeState state;
    };
    /// Made only by a listing with statuses, while a daemon holds an entry for every task it
    /// schedules whether anyone lists them or not: held apart, both behind one pointer, whose
    /// count is in what it points to.
    struct Memos : QSharedData {
        std::optional<NextStart> next;
        std::optional<StateMemo> state;
    };
    /// A file's name in its directory, and the directory as its number in m_directories. An
    /// entry's key holds the name at the start of the block its text is packed into; a key to
    /// look a name up with points into the name it was made from, for as long as the lookup.
    class Key {
    public:
        static Key Pointing(QByteArrayView leaf, quint32 directory)
        {
            return Key(QByteArray::fromRawData(leaf.data(), leaf.size()), leaf.size(), directory);
        }
        static Key Holding(const QByteArray& block, qsizetype nameSize, quint32 directory) { return Key(block, nameSize, directory); }
        QByteArrayView Name() const { return QByteArrayView(m_bytes.constData(), m_nameSize); }
        const QByteArray& Block() const { return m_bytes; }
        qsizetype NameSize() const { return m_nameSize; }
        /// Takes `block`, which begins with the same name: neither the key's hash nor its
        /// equality changes.
        void Adopt(const QByteArray& block) const
        {
            Q_ASSERT(block.startsWith(Name()));
            m_bytes = block;
        }
        friend bool operator==(const Key& a, const Key& b) { return a.m_directory == b.m_directory && a.Name() == b.Name(); }
        friend size_t qHash(const Key& key, size_t seed = 0) { return qHash(key.Name(), seed ^ key.m_directory); }

    private:
        Key(const QByteArray& bytes, qsizetype nameSize, quint32 directory)
            : m_bytes(bytes), m_nameSize(qint32(nameSize)), m_directory(directory)
        {
        }
        mutable QByteArray m_bytes;
        qint32 m_nameSize = 0;
        quint32 m_directory = 0;
    };
    /// `file`'s directory (with its final '/') and its name in it.
    static std::pair<QByteArrayView, QByteArrayView> Split(const QByteArray& file)
    {
        const auto* const slash = static_cast<const char*>(::memrchr(file.constData(), '/', size_t(file.size())));
        const qsizetype at = slash ? slash - file.constData() + 1 : 0;
        return {QByteArrayView(file).first(at), QByteArrayView(file).sliced(at)};
    }
    /// The number of `directory`; with `add`, a new one for a directory not known yet, else
    /// 0, which no entry has.
    quint32 DirectoryIndex(QByteArrayView directory, bool add)
    {
        // The files of a folder are looked up one after another.
        if (m_lastDirectory.index && QByteArrayView(m_lastDirectory.name) == directory) return m_lastDirectory.index;
        auto it = m_directories.constFind(QByteArray::fromRawData(directory.data(), directory.size()));
        if (it == m_directories.constEnd()) {
            if (!add) return 0;
            it = m_directories.insert(directory.toByteArray(), quint32(m_directories.size() + 1));
        }
        m_lastDirectory = LastDirectory{it.key(), *it};
        return *it;
    }
    /// The key to look `file` up with; valid while `file` is.
    Key Lookup(const QByteArray& file)
    {
        const auto [directory, leaf] = Split(file);
        return Key::Pointing(leaf, DirectoryIndex(directory, false));
    }
    struct Entry {
        FileSignature signature;
        quint64 reading = 0;
        qint32 documentSize = 0;   ///< of the text unpacked
        bool packed = false;
        ListedFacts facts;
        QExplicitlySharedDataPointer<const Memos> memos;
    };
    static PackedDocument Document(QHash<Key, Entry>::const_iterator it)
    {
        return PackedDocument::FromBlock(it.key().Block(), it.key().NameSize(), it->documentSize, it->packed);
    }
    struct LastDirectory {
        QByteArray name;
        quint32 index = 0;
    };
    QMutex m_mutex;
    QHash<Key, Entry> m_entries;
    /// The directories of the entries' files, numbered from 1.
    QHash<QByteArray, quint32> m_directories;
    LastDirectory m_lastDirectory;
    quint64 m_readings = 0;
};

} // namespace

// The writers of this process take turns at the journal before they take the store lock;
// holding both, the journal is brought up to what other writers or a crash left.
class TaskStore::WriteLock {
public:
    WriteLock(const ServiceRoot& root, int waitMs)
        : m_journal(StoreJournal::For(root.Path())), m_turn(m_journal->Mutex()), m_lock(root.StoreLockPath())
    {
        HRESULT code = E_FAIL;
        QString error;
        if (!m_lock.Acquire(waitMs, &code, &error)) throw ServiceError(code, error);
        m_journal->Sync();
    }

    StoreJournal& Journal() { return *m_journal; }

private:
    std::shared_ptr<StoreJournal> m_journal;
    std::unique_lock<std::mutex> m_turn;
    StoreLock m_lock;
};

TaskStore::TaskStore(ServiceRoot root, int lockWaitMs)
    : m_root(std::move(root)),
      m_lockWaitMs(lockWaitMs),
      m_tasksDir(QFile::encodeName(m_root.TasksDir()) + '/'),
      m_stateDir(QFile::encodeName(m_root.StateDir()) + '/')
{
}

QString TaskStore::FolderDir(const QString& base, const TaskPath& folder) const
{
    QString dir = base;
    for (const QString& name : folder.Names()) dir += QLatin1Char('/') + name + kFolderSuffix;
    return dir;
}

QString TaskStore::FileFor(const QString& base, const TaskPath& task, const QString& suffix)
{
    // Named, not iterated as a temporary: the loop would read the names of a destroyed path.
    const TaskPath parent = task.Parent();
    QString dir = base;
    for (const QString& name : parent.Names()) dir += QLatin1Char('/') + name + kFolderSuffix;
    return dir + QLatin1Char('/') + task.Name() + suffix;
}

QString TaskStore::TaskFile(const TaskPath& task) const { return FileFor(m_root.TasksDir(), task, kTaskSuffix); }

QString TaskStore::StateFile(const TaskPath& task) const { return FileFor(m_root.StateDir(), task, kStateSuffix); }

QStringList TaskStore::FirstSpellings(const QString& dir, const QString& name, const QStringList& suffixes)
{
    QStringList found(suffixes.size());
    DIR* handle = ::opendir(QFile::encodeName(dir).constData());
    if (!handle) return found;
    QByteArrayList endings;
    for (const QString& suffix : suffixes) endings.append(QFile::encodeName(suffix));
    const QByteArray asked = QFile::encodeName(name);
    const bool askedAscii = IsAscii(std::string_view(asked.constData(), size_t(asked.size())));
    // Every entry whatever its kind, none of them examined: QDir examined, converted and
    // sorted each one, which cost a registration in a folder of a few hundred tasks more than
    // everything else it does. Two names that match have as many characters, so the first
    // in sorted order of the entries is the first of the spellings; and an ASCII name
    // matches an ASCII one letter for letter, so only the others are converted.
    while (const dirent* entry = ::readdir(handle)) {
        const std::string_view all(entry->d_name);
        for (qsizetype i = 0; i < endings.size(); ++i) {
            const std::string_view ending(endings[i].constData(), size_t(endings[i].size()));
            if (all.size() <= ending.size() || !all.ends_with(ending)) continue;
            const std::string_view stem = all.substr(0, all.size() - ending.size());
            QString spelling;
            if (askedAscii && IsAscii(stem)) {
                if (qsizetype(stem.size()) != asked.size() || qstrnicmp(stem.data(), qsizetype(stem.size()), asked.constData(), asked.size()) != 0)
                    continue;
                spelling = QString::fromLatin1(stem.data(), qsizetype(stem.size()));
            } else {
                spelling = QFile::decodeName(QByteArray(stem.data(), qsizetype(stem.size())));
                if (spelling.size() != name.size() || spelling.compare(name, Qt::CaseInsensitive) != 0) continue;
            }
            if ((found[i].isNull() || spelling < found[i]) && TaskPath::NameProblem(spelling).isEmpty()) found[i] = spelling;
        }
    }
    ::closedir(handle);
    return found;
}

QString TaskStore::StoredSpelling(const QString& dir, const QString& name, const QString& suffix)
{
    if (QFileInfo::exists(dir + QLatin1Char('/') + name + suffix)) return name;
    const QString first = FirstSpellings(dir, name, {suffix}).first();
    return first.isNull() ? name : first;
}

TaskPath TaskStore::ResolveFolder(const TaskPath& folder) const
{
    TaskPath resolved;
    QString dir = m_root.TasksDir();
    for (const QString& name : folder.Names()) {
        const QString stored = StoredSpelling(dir, name, kFolderSuffix);
        resolved = *resolved.Join(*TaskPath::Parse(stored));
        dir += QLatin1Char('/') + stored + kFolderSuffix;
    }
    return resolved;
}

TaskPath TaskStore::ResolveTask(const TaskPath& task) const
{
    if (task.IsRoot()) return task;
    const TaskPath parent = ResolveFolder(task.Parent());
    const QString name = StoredSpelling(FolderDir(m_root.TasksDir(), parent), task.Name(), kTaskSuffix);
    return *parent.Join(*TaskPath::Parse(name));
}

bool TaskStore::FolderExists(const TaskPath& folder) const
{
    return IsDir(FolderDir(m_root.TasksDir(), ResolveFolder(folder)));
}

QStringList TaskStore::FolderNames(const TaskPath& folder) const
{
    const QString dir = FolderDir(m_root.TasksDir(), ResolveFolder(folder));
    if (!IsDir(dir)) throw FolderNotFound(folder);
    QStringList names;
    for (const QString& entry : EntriesEndingWith(dir, kFolderSuffix, true)) {
        const QString name = entry.chopped(kFolderSuffix.size());
        if (TaskPath::NameProblem(name).isEmpty()) names.append(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void TaskStore::EnsureFolders(const QString& base, const TaskPath& folder)
{
    QString dir = base;
    for (const QString& name : folder.Names()) {
        dir += QLatin1Char('/') + name + kFolderSuffix;
        if (!IsDir(dir)) AtomicFile::MakeDirectory(dir);
    }
}

void TaskStore::CreateFolder(const TaskPath& folder)
{
    WriteLock lock(m_root, m_lockWaitMs);
    const TaskPath resolved = ResolveFolder(folder);
    if (folder.IsRoot() || IsDir(FolderDir(m_root.TasksDir(), resolved)))
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                           QStringLiteral("Cannot create a file when that file already exists. (\"%1\")").arg(resolved.ToString()));
    // Missing parents take the spelling asked for, existing ones keep theirs.
    EnsureFolders(m_root.TasksDir(), resolved);
}

void TaskStore::DeleteFolder(const TaskPath& asked)
{
    if (asked.IsRoot()) throw ServiceError(E_INVALIDARG, QStringLiteral("The root folder cannot be deleted."));
    WriteLock lock(m_root, m_lockWaitMs);
    // Not journaled: a replay must not bring back a state file of the folder afterwards.
    lock.Journal().Checkpoint();
    const TaskPath folder = ResolveFolder(asked);
    const QString dir = FolderDir(m_root.TasksDir(), folder);
    if (!IsDir(dir)) throw NotFound(folder);
    if (!QDir(dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY),
                           QStringLiteral("The directory is not empty. (\"%1\" still holds tasks or folders.)").arg(folder.ToString()));
    AtomicFile::RemoveDirectory(dir);
    const QString stateDir = FolderDir(m_root.StateDir(), folder);
    if (IsDir(stateDir)) QDir(stateDir).removeRecursively();
}

bool TaskStore::Cached(const TaskPath& task, const QByteArray& name, QByteArray* xml, ListedFacts* facts, const FileAt* at, quint64* reading,
                       PackedDocument* packed) const
{
    // A file the cache holds nothing for is opened at once: examining it first would cost a
    // call for each task when the service starts.
    if (!DocumentCache::Instance().Holds(name)) return false;
    struct stat st {};
    const int statted = at && at->dir >= 0 ? ::fstatat(at->dir, at->leaf.constData(), &st, 0) : ::stat(name.constData(), &st);
    if (statted != 0) {
        if (errno == ENOENT || errno == ENOTDIR) throw NotFound(task);
        throw Damaged(task, QString::fromLocal8Bit(std::strerror(errno)));
    }
    return DocumentCache::Instance().Find(name, SignatureOf(st), xml, facts, reading, packed);
}

quint64 TaskStore::ReadFile(const QByteArray& name, StoredTask* stored, const FileAt* at) const
{
    const TaskPath& task = stored->path;
    // Not blocking: a pipe put in a task's place must not stop the service, which reads only
    // regular files anyway.
    // Opened as itself first, so that whether the name is a link is known without another
    // call: a link is read as what it points to. Within a listing, by its name in the folder's
    // directory: the system does not walk the whole path again for every task.
    const int dir = at && at->dir >= 0 ? at->dir : AT_FDCWD;
    const char* const file = at && at->dir >= 0 ? at->leaf.constData() : name.constData();
    constexpr qsizetype maxBytes = TaskDocumentCodec::MaxDocumentBytes;
    FileReading reading = at && at->reading ? std::move(*at->reading) : ReadFileAlone(dir, file, O_NOFOLLOW, maxBytes);
    bool link = false;
    if (reading.openError == ELOOP) {
        link = true;
        reading = ReadFileAlone(dir, file, 0, maxBytes);
    }
    if (reading.openError) {
        if (reading.openError == ENOENT || reading.openError == ENOTDIR) throw NotFound(task);
        throw Damaged(task, QString::fromLocal8Bit(std::strerror(reading.openError)));
    }
    // The signature of the open file is the signature of what is read from it.
    const struct stat& st = reading.facts;
    if (reading.statted) stored->facts = StoredFile{true, link, bool(S_ISREG(st.st_mode)), st.st_uid, st.st_mode};
    if (reading.statted && !S_ISREG(st.st_mode)) throw NotFound(task);
    if (reading.statted && st.st_size > maxBytes) throw Damaged(task, QStringLiteral("its file is too large"));
    if (!reading.statted || reading.readError)
        throw Damaged(task, QString::fromLocal8Bit(std::strerror(reading.readError ? reading.readError : EIO)));
    QByteArray& xml = stored->xml;
    xml = std::move(reading.bytes);

    ValueProblem problem;
    auto doc = TaskDocumentCodec::Load(xml, &problem);
    if (!doc) throw Damaged(task, QStringLiteral("%1: %2").arg(stored->file, problem.message));
    stored->doc = std::move(*doc);
    return DocumentCache::Instance().Insert(name, SignatureOf(st), xml, stored->doc);
}

StoredTask TaskStore::Read(const TaskPath& task, const QString& file, const FileAt* at) const
{
    StoredTask stored{task, {}, {}, file, {}};
    const QByteArray name = at ? at->name : QFile::encodeName(file);
    if (Cached(task, name, &stored.xml, nullptr, at)) {
        if (auto doc = TaskDocumentCodec::Decode(stored.xml, nullptr)) {
            stored.doc = std::move(*doc);
            return stored;
        }
    }
    ReadFile(name, &stored, at);
    return stored;
}

void TaskStore::EachTaskFile(const TaskPath& asked, QList<DamagedTask>* damaged,
                             const std::function<void(const TaskPath&, const QString&, const FileAt&)>& read) const
{
    const TaskPath folder = ResolveFolder(asked);
    const QString dir = FolderDir(m_root.TasksDir(), folder);
    if (!IsDir(dir)) throw FolderNotFound(folder);
    QStringList entries = EntriesEndingWith(dir, kTaskSuffix, false);
    std::sort(entries.begin(), entries.end());
    const QByteArray dirName = QFile::encodeName(dir);
    FileAt at;
    // Without it each file is opened by its whole path.
    at.dir = ::open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const struct CloseDir {
        int fd;
        ~CloseDir()
        {
            if (fd >= 0) ::close(fd);
        }
    } closeDir{at.dir};
    // The files the cache holds nothing for (when the service starts: all of them) are read
    // a batch at a time, a little ahead of their turn.
    struct Ahead {
        std::optional<TaskPath> path;
        QByteArray leaf;
        QByteArray name;
        int slot = -1;   ///< its reading in `readings`, if the batch read it
    };
    std::vector<Ahead> ahead(FileBatch::Capacity);
    std::vector<FileReading> readings(FileBatch::Capacity);
    FileBatch* batch = nullptr;
    bool batchMade = false;
    for (qsizetype first = 0; first < entries.size(); first += FileBatch::Capacity) {
        const int count = int(std::min<qsizetype>(FileBatch::Capacity, entries.size() - first));
        const char* names[FileBatch::Capacity];
        int toRead = 0;
        for (int i = 0; i < count; ++i) {
            const QString& entry = entries[first + i];
            Ahead& next = ahead[size_t(i)];
            next.path = folder.Child(entry.chopped(kTaskSuffix.size()));
            next.slot = -1;
            if (!next.path) continue;
            next.leaf = QFile::encodeName(entry);
            next.name = dirName + '/' + next.leaf;
            if (at.dir >= 0 && !DocumentCache::Instance().Holds(next.name)) {
                next.slot = toRead;
                names[toRead++] = next.leaf.constData();
            }
        }
        if (toRead > 1 && !batchMade) {
            batch = FileBatch::ForThisThread();
            batchMade = true;
        }
        if (!batch || toRead < 2) {
            for (int i = 0; i < count; ++i) ahead[size_t(i)].slot = -1;
        } else {
            batch->Read(at.dir, names, toRead, TaskDocumentCodec::MaxDocumentBytes, readings.data());
        }
        for (int i = 0; i < count; ++i) {
            Ahead& next = ahead[size_t(i)];
            if (!next.path) continue;
            const TaskPath& path = *next.path;
            at.leaf = std::move(next.leaf);
            at.name = std::move(next.name);
            at.reading = next.slot >= 0 ? &readings[size_t(next.slot)] : nullptr;
            try {
                read(path, dir + QLatin1Char('/') + entries[first + i], at);
            } catch (const ServiceError& e) {
                qWarning().noquote() << e.Message();
                if (damaged) damaged->append(DamagedTask{path, e.Message()});
            }
        }
    }
}

void TaskStore::ListTasks(const TaskPath& folder, QList<StoredTask>* tasks, QList<DamagedTask>* damaged) const
{
    EachTaskFile(folder, damaged, [&](const TaskPath& path, const QString& file, const FileAt& at) { tasks->append(Read(path, file, &at)); });
}

void TaskStore::EachTask(const TaskPath& folder, const std::function<void(StoredTask&&)>& visit, QList<DamagedTask>* damaged) const
{
    // What `visit` throws ends the walk and reaches the caller; only a task's own read
    // reports the task as damaged.
    std::exception_ptr failed;
    EachTaskFile(folder, damaged, [&](const TaskPath& path, const QString& file, const FileAt& at) {
        if (failed) return;
        StoredTask task = Read(path, file, &at);
        try {
            visit(std::move(task));
        } catch (...) {
            failed = std::current_exception();
        }
    });
    if (failed) std::rethrow_exception(failed);
}

void TaskStore::ListTaskTexts(const TaskPath& folder, QList<ListedTask>* tasks, QList<DamagedTask>* damaged, bool withTexts,
                              bool packed) const
{
    EachTaskFile(folder, damaged, [&](const TaskPath& path, const QString& file, const FileAt& at) {
        ListedTask listed{path, {}, {}, at.name, 0, {}};
        QByteArray* const xml = withTexts && !packed ? &listed.xml : nullptr;
        PackedDocument* const text = withTexts && packed ? &listed.packed : nullptr;
        if (!Cached(path, at.name, xml, &listed.facts, &at, &listed.reading, text)) {
            StoredTask stored{path, {}, {}, file, {}};
            listed.reading = ReadFile(at.name, &stored, &at);
            if (xml) *xml = stored.xml;
            if (text) *text = PackedDocument(stored.xml);
            listed.facts = ListedFacts{stored.doc.settings.hidden, stored.doc.settings.enabled};
        }
        tasks->append(std::move(listed));
    });
}

StoredTask TaskStore::LoadTask(const TaskPath& asked) const
{
    if (asked.IsRoot()) throw NotFound(asked);
    const TaskPath task = ResolveTask(asked);
    return Read(task, TaskFile(task));
}

void TaskStore::Write(WriteLock& lock, const TaskPath& task, const TaskDocument& doc, StoredTask* stored)
{
    EnsureFolders(m_root.TasksDir(), task.Parent());
    stored->path = task;
    stored->doc = doc;
    stored->xml = TaskDocumentCodec::Encode(doc);
    const QString file = TaskFile(task);
    stored->file = file;
    const QByteArray name = QFile::encodeName(file);
    DocumentCache::Instance().Remove(name);
    lock.Journal().Commit({StoreJournal::Change{file, stored->xml}});
    if (const auto signature = Signature(file)) DocumentCache::Instance().Insert(name, *signature, stored->xml, doc);
}

StoredTask TaskStore::StoreTask(const TaskPath& asked, const TaskDocument& doc, Mode mode)
{
    if (asked.IsRoot()) throw ServiceError(E_INVALIDARG, QStringLiteral("A task needs a name."));
    WriteLock lock(m_root, m_lockWaitMs);
    // An existing task of that name in any letter case is the one created or updated. The
    // folder is listed once for both spellings looked for in it, and only when the name
    // is not there as it is spelt.
    const TaskPath parent = ResolveFolder(asked.Parent());
    const QString dir = FolderDir(m_root.TasksDir(), parent);
    const QStringList suffixes{kTaskSuffix, kFolderSuffix};
    std::optional<QStringList> firsts;
    // As StoredSpelling: the name as it is spelt when it is there so, else the first spelling.
    // The task's spelling and the name match each other, and so the same entries.
    const auto spelling = [&](const QString& name, qsizetype which) {
        if (QFileInfo::exists(dir + QLatin1Char('/') + name + suffixes[which])) return name;
        if (!firsts) firsts = FirstSpellings(dir, asked.Name(), suffixes);
        return (*firsts)[which].isNull() ? name : (*firsts)[which];
    };
    const TaskPath task = *parent.Join(*TaskPath::Parse(spelling(asked.Name(), 0)));
    if (IsDir(dir + QLatin1Char('/') + spelling(task.Name(), 1) + kFolderSuffix))
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                           QStringLiteral("\"%1\" is a folder.").arg(task.ToString()));
    const bool exists = QFileInfo::exists(TaskFile(task));
    if (exists && mode == Mode::Create)
        throw ServiceError(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                           QStringLiteral("Cannot create a file when that file already exists. (\"%1\")").arg(task.ToString()));
    if (!exists && mode == Mode::Update) throw NotFound(task);
    if (exists) LoadTask(task);   // throws for a damaged document, which is kept as it is
    StoredTask stored;
    Write(lock, task, doc, &stored);
    stored.replaced = exists;
    return stored;
}

StoredTask TaskStore::ChangeTask(const TaskPath& task, const std::function<void(TaskDocument&)>& change)
{
    WriteLock lock(m_root, m_lockWaitMs);
    StoredTask stored = LoadTask(task);
    change(stored.doc);
    Write(lock, stored.path, stored.doc, &stored);
    return stored;
}

void TaskStore::DeleteTask(const TaskPath& asked)
{
    if (asked.IsRoot()) throw NotFound(asked);
    WriteLock lock(m_root, m_lockWaitMs);
    const TaskPath task = ResolveTask(asked);
    const QString file = TaskFile(task);
    if (!QFileInfo(file).isFile()) throw NotFound(task);
    DocumentCache::Instance().Remove(QFile::encodeName(file));
    QList<StoreJournal::Change> removals{StoreJournal::Change{file, {}, 0, true}};
    const QString stateFile = StateFile(task);
    if (QFileInfo::exists(stateFile) || lock.Journal().IsPending(stateFile)) removals.append(StoreJournal::Change{stateFile, {}, 0, true});
    lock.Journal().Commit(removals);
}

void TaskStore::Recover() { WriteLock lock(m_root, m_lockWaitMs); }

std::optional<TaskRuntimeState> TaskStore::ReadState(const TaskPath& task, QString* error) const
{
    QFile f(StateFile(ResolveTask(task)));
    if (!f.exists()) return TaskRuntimeState{};
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = f.errorString();
        return std::nullopt;
    }
    return TaskStateFile::Decode(f.read(64 * 1024), error);
}

std::optional<TaskRuntimeState> TaskStore::ReadListedState(const ListedTask& task, QString* error) const
{
    // The state file lies where the task's file does, under the state directory: its name
    // is made from the listed file's without spelling the path out again.
    const QByteArray& file = task.file;
    const QByteArray name = file.startsWith(m_tasksDir) && file.endsWith(".task")
        ? m_stateDir + file.mid(m_tasksDir.size(), file.size() - m_tasksDir.size() - 5) + ".state"
        : QFile::encodeName(StateFile(task.path));
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno == ENOENT) return TaskRuntimeState{};
        return ReadState(task.path, error);
    }
    // Anything but a plain file is refused by the reading as ever.
    if (!S_ISREG(st.st_mode)) return ReadState(task.path, error);
    const FileSignature signature = SignatureOf(st);
    TaskRuntimeState state;
    if (DocumentCache::Instance().FindState(task.file, signature, &state)) return state;
    // Read after the examination: what is kept is at least as new as its signature, and a
    // change in between is read again next time, as its signature differs.
    auto read = ReadState(task.path, error);
    if (read) {
        // Kept as a moment: the local time it was written in is converted once, not on
        // every listing.
        if (read->lastRunTime.isValid()) read->lastRunTime = read->lastRunTime.toUTC();
        DocumentCache::Instance().RememberState(task.file, signature, *read);
    }
    return read;
}

std::optional<qint64> TaskStore::NextStart(const ListedTask& task, const QDateTime& now) const
{
    const qint64 nowMs = now.toMSecsSinceEpoch();
    std::optional<qint64> next;
    if (task.reading && DocumentCache::Instance().FindNext(task.file, task.reading, nowMs, &next)) return next;
    // Its checks were passed when the file was read.
    QByteArray xml = task.xml;
    std::optional<TaskDocument> doc;
    if (xml.isEmpty() && !DocumentCache::Instance().Text(task.file, task.reading, &xml)) doc = Read(task.path, QFile::decodeName(task.file)).doc;
    else doc = TaskDocumentCodec::Decode(xml, nullptr);
    const QList<QDateTime> starts = ScheduledRunTimes(doc.value_or(TaskDocument{}), now, {}, 1);
    if (!starts.isEmpty()) next = starts.first().toMSecsSinceEpoch();
    if (task.reading) DocumentCache::Instance().RememberNext(task.file, task.reading, nowMs, next);
    return next;
}

void TaskStore::WriteState(const TaskPath& asked, const TaskRuntimeState& state, bool flush)
{
    WriteLock lock(m_root, m_lockWaitMs);
    const TaskPath task = ResolveTask(asked);
    if (!QFileInfo(TaskFile(task)).isFile()) throw NotFound(task);
    EnsureFolders(m_root.StateDir(), task.Parent());
    const StoreJournal::Change change{StateFile(task), TaskStateFile::Encode(state)};
    if (flush) lock.Journal().Commit({change});
    else lock.Journal().CommitUnflushed(change);
}
