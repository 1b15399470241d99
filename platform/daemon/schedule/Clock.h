#pragma once
// Where the daemon's loop learns the time and is woken at a time, so that tests can drive both.

#include <QDateTime>
#include <QObject>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
    /// The same moment in UTC.
    virtual QDateTime NowUtc() const { return Now().toUTC(); }
};

/// The computer's wall clock.
class SystemClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
    /// Read as it is: no conversion to local time and back, each of which asks the C library,
    /// which looks at the system's zone file every time.
    QDateTime NowUtc() const override { return QDateTime::currentDateTimeUtc(); }
};

/// Where random delays come from, so that tests can choose them.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    /// A uniformly random number from 0 to `bound`, both included.
    virtual qint64 UpTo(qint64 bound) = 0;
};

/// Wakes its owner once at a wall-clock time.
class WakeTimer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    /// Replaces any earlier time; a time already past wakes at once (from the event loop).
    virtual void ArmAt(const QDateTime& when) = 0;
    virtual void Disarm() = 0;

signals:
    /// The time has come, or the wall clock was set and every time must be looked at again.
    void Woken();
};
