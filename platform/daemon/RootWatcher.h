#pragma once
// Notices that the directory a daemon serves is gone, so that the daemon does not outlive it.

#include <QObject>
#include <QString>
#include <sys/types.h>

class QSocketNotifier;

/// Watches a root directory with inotify on the event loop (no polling): the directory
/// itself for its deletion or a move, and its parent for another entry taking its name.
/// After any such event the path is looked at again, and `Lost` tells why when it no longer
/// names the directory that was there at the start.
class RootWatcher : public QObject {
    Q_OBJECT
public:
    /// Starts watching `path`, which must exist; `IsValid` is false when it cannot be watched.
    explicit RootWatcher(const QString& path, QObject* parent = nullptr);
    ~RootWatcher() override;
    bool IsValid() const { return m_fd >= 0 && m_rootWatch >= 0; }

    /// Why `path` no longer names the watched directory, or empty while it still does.
    QString Check() const;

signals:
    /// The root was deleted, moved away or replaced; `reason` says which, for the log.
    void Lost(const QString& reason);

private:
    void OnEvents();

    QString m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    int m_fd = -1;
    int m_rootWatch = -1;
    int m_parentWatch = -1;
    bool m_lost = false;
    QSocketNotifier* m_notifier = nullptr;
};
