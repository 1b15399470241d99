#include "RootWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

RootWatcher::RootWatcher(const QString& path, QObject* parent) : QObject(parent), m_path(QDir(path).absolutePath())
{
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) return;
    m_rootWatch = ::inotify_add_watch(m_fd, QFile::encodeName(m_path).constData(),
                                      IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    const QString parentDir = QFileInfo(m_path).absolutePath();
    if (parentDir != m_path)
        m_parentWatch = ::inotify_add_watch(m_fd, QFile::encodeName(parentDir).constData(),
                                            IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &RootWatcher::OnEvents);
}

RootWatcher::~RootWatcher()
{
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

QString RootWatcher::Check() const
{
    struct stat st {};
    if (::lstat(QFile::encodeName(m_path).constData(), &st) != 0)
        return QStringLiteral("the root directory \"%1\" was deleted or moved away").arg(m_path);
    if (!S_ISDIR(st.st_mode) || st.st_dev != m_device || st.st_ino != m_inode)
        return QStringLiteral("the root directory \"%1\" was replaced by another").arg(m_path);
    return QString();
}

void RootWatcher::OnEvents()
{
    // The events only say that something happened near the root; the path itself says what.
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
    }
    if (m_lost) return;
    const QString reason = Check();
    if (reason.isEmpty()) return;
    m_lost = true;
    emit Lost(reason);
}
