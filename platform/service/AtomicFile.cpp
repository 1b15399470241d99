#include "AtomicFile.h"

#include "ServiceError.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Throw(const QString& what, const QString& path)
{
    const int err = errno;
    throw ServiceError(E_FAIL, QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(err))));
}

} // namespace

void AtomicFile::Write(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ServiceError(E_FAIL, QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size() || !file.flush() || ::fdatasync(file.handle()) != 0) {
        file.cancelWriting();
        throw ServiceError(E_FAIL, QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
    }
    if (!file.commit()) throw ServiceError(E_FAIL, QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
    SyncDirectory(QFileInfo(path).absolutePath());
}

void AtomicFile::Remove(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) Throw(QStringLiteral("Cannot remove"), path);
    SyncDirectory(QFileInfo(path).absolutePath());
}

void AtomicFile::MakeDirectory(const QString& path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0) Throw(QStringLiteral("Cannot create"), path);
    SyncDirectory(QFileInfo(path).absolutePath());
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
