#pragma once
// Where the daemon learns of users' sessions: logons, locks, connections and idleness.

#include <QDateTime>
#include <QObject>
#include <QString>

/// A change of a session's state, numbered as session state triggers store it.
enum class SessionChange : quint8 {
    ConsoleConnect = 1,
    ConsoleDisconnect = 2,
    RemoteConnect = 3,
    RemoteDisconnect = 4,
    Lock = 7,
    Unlock = 8,
};

/// The users' sessions on this computer. Tests replace the system's with their own.
class SessionSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Whether this source can tell when the computer is idle.
    virtual bool KnowsIdle() const = 0;
    /// Whether the computer is idle now: no local session has seen its user lately.
    virtual bool IsIdle() const = 0;
    /// Since when the computer has been idle; invalid while it is not.
    virtual QDateTime IdleSince() const = 0;

signals:
    /// A new session of `user` (a user's own session, not a greeter's or a lock screen's).
    void LoggedOn(const QString& user);
    /// A session of `user` changed its state.
    void StateChanged(SessionChange change, const QString& user);
    /// The computer became idle (true), a user came back (false), or the idle time began anew.
    void IdleChanged(bool idle);
};
