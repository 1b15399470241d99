#pragma once
// The users' sessions as systemd-logind reports them on the system bus.

#include "sources/SessionSource.h"

#include <QHash>
#include <QVariantMap>

class QDBusMessage;

/// Follows logind's sessions through its signals: SessionNew and SessionRemoved of the
/// manager, Lock and Unlock of each session, and the changes of its Active, LockedHint and
/// IdleHint properties. Nothing is polled. Only users' own sessions count; a greeter's or a
/// background session is neither a logon nor a reason to think the computer is in use.
class LogindSessionSource : public SessionSource {
    Q_OBJECT
public:
    explicit LogindSessionSource(QObject* parent = nullptr);

    /// Whether logind runs on the system bus, so that this source can be used.
    static bool IsPresent();

    bool KnowsIdle() const override { return true; }
    bool IsIdle() const override { return m_idle; }
    QDateTime IdleSince() const override { return m_idle ? m_idleSince : QDateTime(); }

private slots:
    void OnSessionNew(const QDBusMessage& message);
    void OnSessionRemoved(const QDBusMessage& message);
    void OnLock(const QDBusMessage& message);
    void OnUnlock(const QDBusMessage& message);
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated, const QDBusMessage& message);

private:
    struct Session {
        QString user;
        bool remote = false;
        bool active = false;
        bool locked = false;
        bool idle = false;
        QDateTime idleSince;
    };

    /// The session at `path` as logind describes it now; nothing when it is gone or not a user's.
    static std::optional<Session> Read(const QString& path);
    static void Apply(const QVariantMap& properties, Session* session);
    void Add(const QString& path, bool announce);
    void SetLocked(const QString& path, bool locked);
    void UpdateIdle();

    QHash<QString, Session> m_sessions;   ///< by object path
    bool m_idle = false;
    QDateTime m_idleSince;
};
