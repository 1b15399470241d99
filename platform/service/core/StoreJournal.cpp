#include "StoreJournal.h"

#include "AtomicFile.h"
#include "ServiceError.h"
#include "ServiceRoot.h"
#include "StoreLock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QtDebug>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint32 kMagic = 0x314A5354;   // "TSJ1"
constexpr quint32 kWrite = 1;
constexpr quint32 kRemove = 2;
// How long the journal waits after the last change before it checkpoints, and how long
// that checkpoint waits for the store lock.
constexpr auto kIdle = std::chrono::milliseconds(500);
constexpr int kLockWaitMs = 10000;
constexpr qint64 kRetryCreateMs = 30000;

// Each record: this header, then its path and its content.
struct Header {
    quint32 magic = 0;
    quint32 kind = 0;
    quint64 chain = 0;
    quint64 place = 0;
    quint32 mode = 0;
    quint32 pathSize = 0;
    quint32 size = 0;
    quint32 checksum = 0;
};
static_assert(sizeof(Header) == 40);

// CRC-32C: a torn or damaged record is told from a whole one.
quint32 Crc32c(quint32 crc, const char* data, size_t size)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

quint32 ChecksumOf(Header header, const char* rest, size_t restSize)
{
    header.checksum = 0;
    return Crc32c(Crc32c(0, reinterpret_cast<const char*>(&header), sizeof header), rest, restSize);
}

[[noreturn]] void Fail(const QString& what, const QString& path, int err)
{
    if (err == ENOSPC || err == EDQUOT) throw AtomicFile::WriteError(path, err);
    throw ServiceError(E_FAIL, QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(err))));
}

bool PreadAll(int fd, char* data, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

bool PwriteAll(int fd, const char* data, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

// A record's path names a file of the store's two trees, and nothing outside them.
bool IsStorePath(const QByteArray& path)
{
    if (!path.startsWith("tasks/") && !path.startsWith("state/")) return false;
    for (const QByteArray& part : path.split('/'))
        if (part.isEmpty() || part == "." || part == "..") return false;
    return true;
}

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

struct Registry {
    std::mutex mutex;
    QHash<QString, std::shared_ptr<StoreJournal>> journals;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

} // namespace

std::shared_ptr<StoreJournal> StoreJournal::For(const QString& rootPath)
{
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.mutex);
    auto& journal = registry.journals[rootPath];
    if (!journal) journal = std::make_shared<StoreJournal>(rootPath, true);
    return journal;
}

void StoreJournal::Close(const QString& rootPath)
{
    std::shared_ptr<StoreJournal> journal;
    {
        Registry& registry = TheRegistry();
        std::lock_guard guard(registry.mutex);
        journal = registry.journals.value(rootPath);
    }
    if (!journal) return;
    journal->StopIdleCheckpoints();
    std::lock_guard guard(journal->m_mutex);
    if (journal->m_fd < 0) return;
    StoreLock lock(ServiceRoot(journal->m_root).StoreLockPath());
    HRESULT code = E_FAIL;
    QString error;
    if (!lock.Acquire(kLockWaitMs, &code, &error)) {
        qWarning().noquote() << "the store journal is left for the next writer to replay:" << error;
        return;
    }
    try {
        journal->Sync();
        journal->Checkpoint();
    } catch (const std::exception& e) {
        qWarning().noquote() << "the store journal is left for the next writer to replay:" << e.what();
    }
}

StoreJournal::StoreJournal(QString rootPath, bool background)
    : m_root(QFileInfo(rootPath).absoluteFilePath()), m_file(FileOf(m_root)), m_background(background)
{
}

StoreJournal::~StoreJournal()
{
    StopIdleCheckpoints();
    CloseFile();
}

QString StoreJournal::FileOf(const QString& rootPath) { return rootPath + QStringLiteral("/store.journal"); }

QByteArray StoreJournal::Relative(const QString& file) const
{
    const QString absolute = QFileInfo(file).absoluteFilePath();
    if (!absolute.startsWith(m_root + QLatin1Char('/')))
        throw ServiceError(E_FAIL, QStringLiteral("\"%1\" lies outside the store of \"%2\".").arg(file, m_root));
    return QFile::encodeName(absolute.mid(m_root.size() + 1));
}

QString StoreJournal::Absolute(const QByteArray& relative) const { return m_root + QLatin1Char('/') + QFile::decodeName(relative); }

bool StoreJournal::IsPending(const QString& file) const { return !m_pending.isEmpty() && m_pending.contains(Relative(file)); }

void StoreJournal::CloseFile()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_end = 0;
    m_next = 0;
}

bool StoreJournal::OpenFile(bool create)
{
    if (m_fd >= 0) return true;
    const QByteArray name = QFile::encodeName(m_file);
    int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno != ENOENT) Fail(QStringLiteral("Cannot open"), m_file, errno);
    if (fd < 0) {
        // Made whole before it is put in place, so that a journal is never short; a disk too
        // full for one is tried again later, the changes meanwhile written the slow way.
        if (!create || (m_createFailedMs >= 0 && NowMs() - m_createFailedMs < kRetryCreateMs)) return false;
        const QByteArray temporary = name + ".new";
        const int out = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        bool ok = out >= 0 && ::fchmod(out, 0600) == 0;
        const QByteArray zeros(64 * 1024, '\0');
        for (qint64 done = 0; ok && done < kCapacity; done += zeros.size()) ok = AtomicFile::WriteAll(out, zeros);
        ok = ok && ::fsync(out) == 0;
        if (out >= 0 && ::close(out) != 0) ok = false;
        ok = ok && ::rename(temporary.constData(), name.constData()) == 0;
        if (ok) {
            try {
                AtomicFile::SyncDirectory(m_root);
            } catch (const ServiceError&) {
                ok = false;
            }
        }
        if (!ok) {
            ::unlink(temporary.constData());
            m_createFailedMs = NowMs();
            return false;
        }
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) Fail(QStringLiteral("Cannot open"), m_file, errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 4096) {
        ::close(fd);
        throw ServiceError(E_FAIL, QStringLiteral("The store journal \"%1\" is not a journal.").arg(m_file));
    }
    // Its records are written into the store as they are: only one that no one else could
    // have written is believed. Root's is, as root can write the store's files anyway.
    if ((st.st_uid != ::geteuid() && st.st_uid != 0) || (st.st_mode & 0022) != 0) {
        ::close(fd);
        throw ServiceError(E_ACCESSDENIED, QStringLiteral("The store journal \"%1\" may have been written by another account: it is "
                                                          "not replayed, and the store is not changed until it is removed.")
                                               .arg(m_file));
    }
    m_fd = fd;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_capacity = st.st_size;
    m_end = 0;
    m_next = 0;
    return true;
}

void StoreJournal::Sync()
{
    if (m_fd >= 0) {
        // A journal put in place of the one this process has open (or removed) is not the
        // one the next writer replays: what is pending here is flushed the direct way.
        struct stat st {};
        if (::stat(QFile::encodeName(m_file).constData(), &st) != 0 || st.st_dev != m_device || st.st_ino != m_inode) {
            Checkpoint();
            CloseFile();
        }
    }
    if (!OpenFile(false)) {
        m_pending.clear();
        m_chainPaths.clear();
        return;
    }
    Header first;
    const bool started = PreadAll(m_fd, reinterpret_cast<char*>(&first), sizeof first, 0) && first.magic == kMagic && first.place == 0;
    if (m_end > 0 && started && first.chain == m_chain) {
        // Our own chain: as this process left it unless another writer appended to it.
        Header next;
        const bool appended = qint64(m_end + sizeof next) <= m_capacity
                              && PreadAll(m_fd, reinterpret_cast<char*>(&next), sizeof next, off_t(m_end)) && next.magic == kMagic
                              && next.chain == m_chain && next.place == m_next;
        if (!appended) return;
    } else if (!started) {
        // No chain at all: empty, or checkpointed by another writer since (which flushed ours).
        m_end = 0;
        m_next = 0;
        m_pending.clear();
        m_chainPaths.clear();
        return;
    }
    const QList<Record> records = ReadChain();
    if (m_next == 0) {
        // A record torn at the start: never acknowledged, and not to be read again.
        Cut(0);
        m_pending.clear();
        m_chainPaths.clear();
        return;
    }
    Replay(records);
}

QList<StoreJournal::Record> StoreJournal::ReadChain()
{
    QList<Record> records;
    m_end = 0;
    m_next = 0;
    m_chainPaths.clear();
    QByteArray all(m_capacity, Qt::Uninitialized);
    if (!PreadAll(m_fd, all.data(), size_t(all.size()), 0)) Fail(QStringLiteral("Cannot read"), m_file, errno ? errno : EIO);
    qint64 at = 0;
    Header header;
    for (quint64 place = 0;; ++place) {
        if (at + qint64(sizeof header) > all.size()) break;
        std::memcpy(&header, all.constData() + at, sizeof header);
        if (header.magic != kMagic || header.place != place) break;
        if (place == 0) m_chain = header.chain;
        if (header.chain != m_chain || (header.kind != kWrite && header.kind != kRemove)) break;
        const qint64 restSize = qint64(header.pathSize) + header.size;
        if (at + qint64(sizeof header) + restSize > all.size()) break;
        const char* rest = all.constData() + at + sizeof header;
        if (ChecksumOf(header, rest, size_t(restSize)) != header.checksum) break;
        Record record{header.kind, mode_t(header.mode), QByteArray(rest, header.pathSize), QByteArray(rest + header.pathSize, header.size)};
        at += qint64(sizeof header) + restSize;
        m_end = at;
        m_next = place + 1;
        if (!IsStorePath(record.path)) {
            qWarning().noquote() << "the store journal names a file outside the store, which is left alone:" << record.path;
            m_chainPaths.append(QByteArray());
            continue;
        }
        m_chainPaths.append(record.path);
        records.append(std::move(record));
    }
    return records;
}

void StoreJournal::Replay(const QList<Record>& records)
{
    // The last record of each file says what it is now; earlier ones were overtaken. A file
    // that already is what it says is left alone: a replay that is cut off and done again,
    // or one of records that their writer applied, changes nothing.
    QHash<QByteArray, qsizetype> last;
    for (qsizetype i = 0; i < records.size(); ++i) last.insert(records[i].path, i);
    for (qsizetype i = 0; i < records.size(); ++i) {
        const Record& record = records[i];
        if (last.value(record.path) != i) continue;
        m_pending.insert(record.path);
        const QString file = Absolute(record.path);
        const QByteArray name = QFile::encodeName(file);
        if (record.kind == kRemove) {
            if (::unlink(name.constData()) != 0 && errno != ENOENT && errno != ENOTDIR) Fail(QStringLiteral("Cannot remove"), file, errno);
            continue;
        }
        QFile current(file);
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) == (record.mode & 07777)
            && st.st_size == record.bytes.size() && current.open(QIODevice::ReadOnly) && current.readAll() == record.bytes)
            continue;
        AtomicFile::MakePath(QFileInfo(file).absolutePath());
        AtomicFile::WriteUnflushed(file, record.bytes, record.mode);
    }
    Checkpoint();
}

QByteArray StoreJournal::Encode(const QList<Change>& changes, QList<qint64>* offsets, QList<QByteArray>* paths)
{
    QByteArray out;
    quint64 place = m_next;
    for (const Change& change : changes) {
        const QByteArray path = Relative(change.file);
        Header header;
        header.magic = kMagic;
        header.kind = change.remove ? kRemove : kWrite;
        header.chain = m_chain;
        header.place = place++;
        header.mode = quint32(change.mode & 07777);
        header.pathSize = quint32(path.size());
        header.size = change.remove ? 0 : quint32(change.bytes.size());
        const QByteArray rest = change.remove ? path : path + change.bytes;
        header.checksum = ChecksumOf(header, rest.constData(), size_t(rest.size()));
        offsets->append(m_end + out.size());
        paths->append(path);
        out.append(reinterpret_cast<const char*>(&header), sizeof header);
        out.append(rest);
    }
    return out;
}

bool StoreJournal::Append(const QList<Change>& changes) { return Append(changes, nullptr, true); }

bool StoreJournal::Append(const QList<Change>& changes, QList<qint64>* offsets, bool flush)
{
    qint64 size = 0;
    for (const Change& change : changes)
        size += qint64(sizeof(Header)) + Relative(change.file).size() + (change.remove ? 0 : change.bytes.size());
    if (!OpenFile(flush) || size > m_capacity) return false;
    if (m_end + size > m_capacity) Checkpoint();
    if (!flush && m_end == 0) return false;
    if (m_end == 0) {
        // A chain of its own number: records of an earlier chain further on are not taken
        // for its continuation.
        do m_chain = QRandomGenerator::system()->generate64();
        while (m_chain == 0);
        m_next = 0;
    }
    QList<qint64> at;
    QList<QByteArray> paths;
    const QByteArray records = Encode(changes, &at, &paths);
    if (!PwriteAll(m_fd, records.constData(), size_t(records.size()), off_t(m_end)) || (flush && ::fdatasync(m_fd) != 0)) {
        const int err = errno;
        // What may have reached the disk must not be replayed as a change reported failed.
        try {
            Cut(m_end);
        } catch (const ServiceError&) {
        }
        Fail(QStringLiteral("Cannot write"), m_file, err);
    }
    m_end += records.size();
    m_next += quint64(changes.size());
    for (const QByteArray& path : std::as_const(paths)) m_pending.insert(path);
    m_chainPaths.append(paths);
    if (offsets) *offsets = at;
    NoteAppended();
    return true;
}

void StoreJournal::Apply(const QList<Change>& changes, const QList<qint64>& offsets)
{
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const Change& change = changes[i];
        try {
            if (!change.remove) {
                AtomicFile::WriteUnflushed(change.file, change.bytes, change.mode);
            } else if (::unlink(QFile::encodeName(change.file).constData()) != 0 && errno != ENOENT) {
                Fail(QStringLiteral("Cannot remove"), change.file, errno);
            }
        } catch (...) {
            // Refused from here on: its record and those after it are cut off, so that no
            // replay makes what the caller is told failed.
            Cut(offsets[i]);
            m_end = offsets[i];
            m_next -= quint64(changes.size() - i);
            m_chainPaths.resize(qsizetype(m_next));
            m_pending = QSet<QByteArray>(m_chainPaths.cbegin(), m_chainPaths.cend());
            throw;
        }
    }
}

void StoreJournal::Commit(const QList<Change>& changes)
{
    QList<qint64> offsets;
    if (Append(changes, &offsets, true)) {
        Apply(changes, offsets);
        return;
    }
    Checkpoint();
    for (const Change& change : changes) {
        if (change.remove) AtomicFile::Remove(change.file);
        else AtomicFile::Write(change.file, change.bytes, change.mode);
    }
}

void StoreJournal::CommitUnflushed(const Change& change)
{
    // In order with the records before it; the flush of the next durable change, or the
    // checkpoint, takes it to the disk.
    QList<qint64> offsets;
    if (!change.remove && m_fd >= 0 && IsPending(change.file) && Append({change}, &offsets, false)) {
        Apply({change}, offsets);
        return;
    }
    if (change.remove) AtomicFile::Remove(change.file);
    else AtomicFile::WriteUnflushed(change.file, change.bytes, change.mode);
}

void StoreJournal::Cut(qint64 offset)
{
    const Header none;
    if (!PwriteAll(m_fd, reinterpret_cast<const char*>(&none), sizeof none, off_t(offset)) || ::fdatasync(m_fd) != 0)
        Fail(QStringLiteral("Cannot write"), m_file, errno);
}

void StoreJournal::Checkpoint()
{
    if (m_fd < 0 || (m_end == 0 && m_pending.isEmpty())) return;
    QSet<QString> directories;
    QList<QString> pending;
    for (const QByteArray& path : std::as_const(m_pending))
        if (!path.isEmpty()) pending.append(Absolute(path));
    // A group's writing is all started before the first of it is waited for.
    constexpr qsizetype kGroup = 64;
    for (qsizetype from = 0; from < pending.size(); from += kGroup) {
        QList<std::pair<QString, int>> open;
        const auto closeAll = qScopeGuard([&] {
            for (const auto& [file, fd] : std::as_const(open)) ::close(fd);
        });
        for (qsizetype i = from; i < std::min(pending.size(), from + kGroup); ++i) {
            const QString& file = pending[i];
            directories.insert(QFileInfo(file).absolutePath());
            const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            if (fd < 0) {
                if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) continue;
                Fail(QStringLiteral("Cannot open"), file, errno);
            }
            open.append({file, fd});
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        }
        for (const auto& [file, fd] : std::as_const(open))
            if (::fsync(fd) != 0) Fail(QStringLiteral("Cannot flush"), file, errno);
    }
    for (const QString& directory : std::as_const(directories)) {
        if (!QFileInfo(directory).isDir()) continue;
        AtomicFile::SyncDirectory(directory);
    }
    // Only now may the records go: what they hold is on disk without them.
    Cut(0);
    m_end = 0;
    m_next = 0;
    m_pending.clear();
    m_chainPaths.clear();
    std::lock_guard wake(m_wakeMutex);
    m_due = false;
    m_full = false;
}

void StoreJournal::NoteAppended()
{
    if (!m_background) return;
    std::lock_guard wake(m_wakeMutex);
    ++m_appends;
    const bool wasFull = m_full;
    m_full = m_end > m_capacity / 2;
    if (!m_thread.joinable()) {
        m_stop = false;
        m_thread = std::thread([this] { RunIdleCheckpoints(); });
    }
    // A thread already waiting for a pause finds the newer append when its wait ends, and
    // waits again: woken only to begin waiting, or to stop waiting for a full journal.
    if (!m_due || m_full != wasFull) m_wake.notify_all();
    m_due = true;
}

void StoreJournal::RunIdleCheckpoints()
{
    std::unique_lock wake(m_wakeMutex);
    while (!m_stop) {
        if (!m_due) {
            m_wake.wait(wake);
            continue;
        }
        // Until the changes pause (or the journal is half full).
        const quint64 seen = m_appends;
        if (!m_full && (m_wake.wait_for(wake, kIdle, [&] { return m_stop || m_full; }) || m_appends != seen)) continue;
        wake.unlock();
        bool retry = false;
        bool pending = false;
        {
            std::lock_guard guard(m_mutex);
            StoreLock lock(ServiceRoot(m_root).StoreLockPath());
            HRESULT code = E_FAIL;
            QString error;
            if (lock.Acquire(kLockWaitMs, &code, &error)) {
                try {
                    Sync();
                    Checkpoint();
                } catch (const std::exception& e) {
                    qWarning().noquote() << "the store journal could not be checkpointed:" << e.what();
                    retry = true;
                }
                pending = HasPending();
            } else if (!QFileInfo(m_root).isDir()) {
                // The root is gone, and with it everything the records were to keep.
                m_pending.clear();
                m_chainPaths.clear();
                CloseFile();
            } else {
                retry = true;
            }
        }
        wake.lock();
        if (retry) m_wake.wait_for(wake, kIdle * 4, [&] { return m_stop; });
        else m_due = pending;
    }
}

void StoreJournal::StopIdleCheckpoints()
{
    {
        std::lock_guard wake(m_wakeMutex);
        m_stop = true;
        m_wake.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard wake(m_wakeMutex);
    m_stop = false;
}
