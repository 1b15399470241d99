#pragma once
// Tells when a user logs on, from the sessions the system's login manager publishes.

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class QFileSystemWatcher;

/// Watches systemd-logind's session directory (/run/systemd/sessions) through inotify and
/// reports every new user session. Where the directory does not exist (no systemd-logind), no
/// logon is ever reported and IsAvailable() is false.
class SessionWatcher : public QObject {
    Q_OBJECT
public:
    explicit SessionWatcher(QString sessionsDir = QStringLiteral("/run/systemd/sessions"), QObject* parent = nullptr);

    bool IsAvailable() const { return m_available; }

signals:
    /// A new session of `user` (a user session, not a greeter's or a lock screen's).
    void LoggedOn(const QString& user);

private:
    void Scan(bool report);

    QString m_dir;
    QFileSystemWatcher* m_watcher = nullptr;
    QSet<QString> m_sessions;
    bool m_available = false;
};
