#pragma once
// Tells when a user logs on, from the sessions the system's login manager publishes.

#include "sources/SessionSource.h"

#include <QHash>
#include <QSet>
#include <QString>

class QFileSystemWatcher;

/// Watches systemd-logind's session directory (/run/systemd/sessions) through inotify and
/// reports every new user session: the daemon's way when logind cannot be asked on the system
/// bus. It tells logons only, never a session's state or idleness. Where the directory does
/// not exist (no systemd-logind), no logon is ever reported and IsAvailable() is false.
class SessionWatcher : public SessionSource {
    Q_OBJECT
public:
    explicit SessionWatcher(QString sessionsDir = QStringLiteral("/run/systemd/sessions"), QObject* parent = nullptr);

    bool IsAvailable() const { return m_available; }
    bool KnowsIdle() const override { return false; }
    bool IsIdle() const override { return false; }
    QDateTime IdleSince() const override { return {}; }

private:
    void Scan(bool report);

    QString m_dir;
    QFileSystemWatcher* m_watcher = nullptr;
    QSet<QString> m_sessions;
    bool m_available = false;
};
