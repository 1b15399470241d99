#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kDirectoryMode = 0700;

[[noreturn]] void Throw(const QString& what, const QString& path)
{
    const int err = errno;
    if (err == ENOSPC || err == EDQUOT) throw AtomicFile::WriteError(path, err);
    throw ServiceError(E_FAIL, QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(err))));
}

} // namespace

bool AtomicFile::WriteAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

ServiceError AtomicFile::WriteError(const QString& path, int err)
{
    switch (err) {
    case ENOSPC:
        return ServiceError(HRESULT_FROM_WIN32(ERROR_DISK_FULL),
                            QStringLiteral("The disk is full: \"%1\" could not be written.").arg(path));
    case EDQUOT:
        return ServiceError(HRESULT_FROM_WIN32(ERROR_DISK_QUOTA_EXCEEDED),
                            QStringLiteral("The disk quota is used up: \"%1\" could not be written.").arg(path));
    case EACCES:
    case EPERM:
    case EROFS:
        return ServiceError(E_ACCESSDENIED, QStringLiteral("\"%1\" could not be written: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
    default:
        return ServiceError(E_FAIL, QStringLiteral("\"%1\" could not be written: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
    }
}

ServiceError AtomicFile::CreateError(const QString& path)
{
    QByteArray probe = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (!WriteAll(fd, QByteArray(64, ' ')) || ::fsync(fd) != 0) err = errno;
        ::close(fd);
        ::unlink(probe.constData());
    }
    return WriteError(path, err ? err : EIO);
}

void AtomicFile::Write(const QString& path, const QByteArray& bytes, mode_t mode)
{
    Replace(path, bytes, mode, true);
    SyncDirectory(QFileInfo(path).absolutePath());
}

void AtomicFile::WriteUnflushed(const QString& path, const QByteArray& bytes, mode_t mode)
{
    Replace(path, bytes, mode, false);
}

void AtomicFile::Replace(const QString& path, const QByteArray& bytes, mode_t mode, bool flush)
{
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw WriteError(path, errno);
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && (!flush || ::fdatasync(fd) == 0);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        throw WriteError(path, err);
    }
}

void AtomicFile::Remove(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) Throw(QStringLiteral("Cannot remove"), path);
    SyncDirectory(QFileInfo(path).absolutePath());
}

void AtomicFile::MakeDirectory(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), kDirectoryMode) != 0) Throw(QStringLiteral("Cannot create"), path);
    // mkdir's mode passes through the umask, which may take the owner's own rights away.
    if (::chmod(name.constData(), kDirectoryMode) != 0) Throw(QStringLiteral("Cannot create"), path);
    SyncDirectory(QFileInfo(path).absolutePath());
}

void AtomicFile::MakePath(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir()) return;
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath()) MakePath(parent);
    if (::mkdir(QFile::encodeName(path).constData(), kDirectoryMode) != 0) {
        if (errno == EEXIST && QFileInfo(path).isDir()) return;
        Throw(QStringLiteral("Cannot create"), path);
    }
    if (::chmod(QFile::encodeName(path).constData(), kDirectoryMode) != 0) Throw(QStringLiteral("Cannot create"), path);
    SyncDirectory(parent);
}

void AtomicFile::RemoveDirectory(const QString& path)
{
    if (::rmdir(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) Throw(QStringLiteral("Cannot remove"), path);
    SyncDirectory(QFileInfo(path).absolutePath());
}

void AtomicFile::SyncDirectory(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Throw(QStringLiteral("Cannot open"), path);
    const int rc = ::fsync(fd);
    ::close(fd);
    if (rc != 0) Throw(QStringLiteral("Cannot flush"), path);
}

bool AtomicFile::IsLeftover(const QString& fileName)
{
    // Write's temporary names, which are also those an earlier version's writer used.
    static const QRegularExpression pattern(QStringLiteral(R"(^.+\.(task|state|job|json|lock)\.[A-Za-z0-9]{6}$)"));
    return pattern.match(fileName).hasMatch();
}

namespace {

// Whether a file name may be a leftover at all: the pattern needs a dot seven characters from
// the end (eight before a final line feed), and its last six are ASCII, so bytes count as
// characters there. Spares a conversion and a match for each of a store's task files.
bool MayBeLeftover(std::string_view name)
{
    if (name.ends_with('\n')) name.remove_suffix(1);
    return name.size() >= 12 && name[name.size() - 7] == '.';
}

// Read with readdir's entry types: QDirIterator stats every name, and the store's directories
// hold a file for each task. Links are neither removed nor followed.
int RemoveLeftoversIn(const QByteArray& dir, bool recursive)
{
    DIR* handle = ::opendir(dir.constData());
    if (!handle) return 0;
    int removed = 0;
    QList<QByteArray> subdirectories;
    while (const dirent* entry = ::readdir(handle)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        bool isDir = entry->d_type == DT_DIR;
        bool isLink = entry->d_type == DT_LNK;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(handle), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            isDir = S_ISDIR(st.st_mode);
            isLink = S_ISLNK(st.st_mode);
        }
        if (isDir) {
            if (recursive) subdirectories.append(dir + '/' + entry->d_name);
            continue;
        }
        if (isLink || !MayBeLeftover(name) || !AtomicFile::IsLeftover(QFile::decodeName(entry->d_name))) continue;
        if (::unlinkat(::dirfd(handle), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(handle);
    for (const QByteArray& subdirectory : subdirectories) removed += RemoveLeftoversIn(subdirectory, true);
    return removed;
}

} // namespace

int AtomicFile::RemoveLeftovers(const QString& dir, bool recursive)
{
    return RemoveLeftoversIn(QFile::encodeName(dir), recursive);
}
