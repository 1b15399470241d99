#include "StaleLockFile.h"

#include <QFile>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr useconds_t kSecondLookDelayUs = 100 * 1000;

// An open descriptor of the lock file whose native lock this process now holds; -1 when
// another process holds it or the file cannot be opened.
int TakeNativeLock(const QByteArray& name, struct stat* st)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool StaleLockFile::RemoveIfStale(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat first {};
    int fd = TakeNativeLock(name, &first);
    if (fd < 0) return false;
    ::close(fd);
    ::usleep(kSecondLookDelayUs);

    struct stat second {};
    fd = TakeNativeLock(name, &second);
    if (fd < 0) return false;
    bool removed = false;
    struct stat now {};
    // Still the same file, still held by nobody: remove it while holding its native lock, so
    // that no other process that also found it stale removes a successor's file instead.
    if (second.st_dev == first.st_dev && second.st_ino == first.st_ino && ::lstat(name.constData(), &now) == 0
        && now.st_dev == second.st_dev && now.st_ino == second.st_ino)
        removed = ::unlink(name.constData()) == 0;
    ::close(fd);
    return removed;
}
